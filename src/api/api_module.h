// The JSON API under /api/v1: the zones (list, one, PATCH through the
// controller request queue), the live event stream, saved scenes and the
// OpenAPI document. Every answer is JSON; every refusal is problem+json and
// sends nothing to the controller. The same login as the pages guards it.
//
// Main data: `streams_`, the open event streams (each told every change of
// a used zone record and of the link state), and the route table.
#pragma once

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "devicetable/device_table.h"
#include "platform/event_loop.h"
#include "web/page_handler.h"

namespace corvane {

class ControllerRequests;
class EventLog;
class Request;
class SceneStore;
class TCPServer;

// What the page security says of a request.
struct ApiAccess {
  bool allowed = true;
  bool basic = false;  // BASIC security: a refusal asks for a login
};
using ApiAccessCheck = std::function<ApiAccess(Request&)>;

class ApiModule final : public PageHandler, public ZoneChangeObserver {
 public:
  static constexpr std::string_view kPrefix = "/api/v1";
  static constexpr int64_t kKeepAliveMs = 15000;
  // The link state is looked at this often while streams are open.
  static constexpr int64_t kLinkPollMs = 200;
  static constexpr size_t kMaxBodyBytes = 64 * 1024;

  ApiModule(EventLoop& loop, TCPServer& server, DeviceTable& table,
            ControllerRequests& requests, SceneStore& scenes, EventLog& log);
  ~ApiModule() override;

  // Without one every request is allowed (no page security).
  void SetAccessCheck(ApiAccessCheck check) { access_ = std::move(check); }
  // Shared with the remote page, which answers its refusals the same way.
  ApiAccess Access(Request& request) const { return access_ ? access_(request) : ApiAccess{}; }
  // Sends one whole answer and lets the server close the connection.
  void Send(int index, int status, std::string_view type, std::string_view body,
            std::string_view headers = {});
  void SendProblem(int index, int status, std::string_view detail,
                   std::string_view headers = {});

  void ServePage(Request& request, Response& response, int index) override;
  // A used record's value changed: a "zone" event on every stream.
  void NotifyUPBState(const ZoneRecord& record) override;
  size_t StreamCount() const { return streams_.size(); }

 private:
  struct Call {
    Request& request;
    int index;
    std::string method;
    std::vector<std::string> params;
  };
  struct Route {
    std::vector<std::string_view> pattern;  // "*" takes one path piece
    std::vector<std::string_view> methods;
    void (ApiModule::*handler)(Call&);
  };
  static const std::vector<Route>& Routes();

  void Serve(Call& call, std::string_view path);
  // A write's Origin, media type and body checks; false once refused.
  bool WriteAllowed(Call& call);
  // The body as a JSON value; false once refused (400, 413).
  bool ReadBody(Call& call, nlohmann::ordered_json& body);
  int ZoneParam(Call& call);

  void GetZones(Call& call);
  void GetZone(Call& call);
  void PatchZone(Call& call);
  void GetEvents(Call& call);
  void GetScenes(Call& call);
  void GetScene(Call& call);
  void PutScene(Call& call);
  void DeleteScene(Call& call);
  void RecallScene(Call& call);
  void GetOpenApi(Call& call);

  void Broadcast(const std::string& event);
  void PollLink();

  TCPServer& server_;
  DeviceTable& table_;
  ControllerRequests& requests_;
  SceneStore& scenes_;
  EventLog& log_;
  ApiAccessCheck access_;
  std::vector<uint64_t> streams_;
  bool link_down_ = false;
  Timer keep_alive_;
  Timer link_poll_;
};

// The OpenAPI 3.1 document of the API.
std::string_view OpenApiDocument();

}  // namespace corvane
