// Order of the checks on every request, so that nothing reaches the
// controller on any refusal: the login (401), the route (404, 405 with
// Allow), for writes the Origin (403) and the media type (415), then the
// body and its values (400), and only then the request queue.
#include "api/api_module.h"

#include <nlohmann/json.hpp>

#include "api/api_json.h"
#include "core/event_log.h"
#include "core/guard.h"
#include "core/text.h"
#include "devicetable/levels.h"
#include "scenes/controller_requests.h"
#include "scenes/scene_store.h"
#include "scenes/zone_attributes.h"
#include "web/request.h"
#include "web/tcp_server.h"

namespace corvane {

namespace {

constexpr std::string_view kJson = "application/json";
constexpr std::string_view kProblem = "application/problem+json";

std::string Event(std::string_view name, const nlohmann::ordered_json& data) {
  return "event: " + std::string(name) + "\ndata: " + data.dump() + "\n\n";
}

nlohmann::ordered_json LinkJson(bool down) {
  return {{"up", !down}};
}

bool IsWrite(std::string_view method) {
  return method != "GET" && method != "HEAD";
}

// "application/json" or "application/json; charset=utf-8", any case.
bool JsonMediaType(std::string_view type) {
  const std::string_view bare = TrimWhite(type.substr(0, type.find(';')));
  return EqualsIgnoreCase(bare, kJson);
}

}  // namespace

ApiModule::ApiModule(EventLoop& loop, TCPServer& server, DeviceTable& table,
                     ControllerRequests& requests, SceneStore& scenes, EventLog& log)
    : server_(server),
      table_(table),
      requests_(requests),
      scenes_(scenes),
      log_(log),
      keep_alive_(loop, [this] { Broadcast(": keep-alive\n\n"); }),
      link_poll_(loop, [this] { PollLink(); }) {
  keep_alive_.SetInterval(kKeepAliveMs);
  link_poll_.SetInterval(kLinkPollMs);
  table_.AddObserver(this);
}

ApiModule::~ApiModule() {
  table_.RemoveObserver(this);
}

const std::vector<ApiModule::Route>& ApiModule::Routes() {
  static const std::vector<Route> routes = {
      {{"zones"}, {"GET"}, &ApiModule::GetZones},
      {{"zones", "*"}, {"GET", "PATCH"}, &ApiModule::GetZone},
      {{"events"}, {"GET"}, &ApiModule::GetEvents},
      {{"scenes"}, {"GET"}, &ApiModule::GetScenes},
      {{"scenes", "*"}, {"GET", "PUT", "DELETE"}, &ApiModule::GetScene},
      {{"scenes", "*", "recall"}, {"POST"}, &ApiModule::RecallScene},
      {{"openapi.json"}, {"GET"}, &ApiModule::GetOpenApi},
  };
  return routes;
}

void ApiModule::Send(int index, int status, std::string_view type, std::string_view body,
                     std::string_view headers) {
  std::string text = "HTTP/1.1 " + std::to_string(status) + " " +
                     std::string(StatusText(status)) + "\r\nServer: zyn\r\n";
  text.append(headers);
  if (!type.empty()) text.append("Content-Type: ").append(type).append("\r\n");
  text.append("Content-Length: " + std::to_string(body.size()) + "\r\n");
  text.append("Cache-Control: no-store\r\nConnection: close\r\n\r\n");
  text.append(body);
  server_.SetSocketTag(index, "0");
  server_.SocketSend(index, text);
}

void ApiModule::SendProblem(int index, int status, std::string_view detail,
                            std::string_view headers) {
  Send(index, status, kProblem, ProblemJson(status, detail), headers);
}

bool ApiModule::Refused(Request& request, int index) {
  if (!authorizer_) return false;
  using V = Authorization::Verdict;
  const Authorization a = authorizer_->Authorize(request);
  switch (a.verdict) {
    case V::kAllowed:
      // An ENHANCED client the menu database does not know is "None".
      if (a.user != "None") return false;
      SendProblem(index, 401, "this computer has no login here");
      return true;
    case V::kLoginRequired:
      SendProblem(index, 401, "a login is needed", "WWW-Authenticate: Basic realm=\"Corvane\"\r\n");
      return true;
    case V::kThrottled:
      SendProblem(index, 429, a.detail, "Retry-After: " + std::to_string(a.retry_after) + "\r\n");
      return true;
    case V::kInsecure:
      SendProblem(index, 403, a.detail);
      return true;
  }
  return false;
}

void ApiModule::ServePage(Request& request, Response& /*response*/, int index) {
  const bool done = Guard(log_, "ApiRequest", [&] {
    if (Refused(request, index)) return;
    std::string method = request.Method();
    if (method == "POSTx") method = "POST";  // a POST whose body came with its headers
    Call call{request, index, method, {}};
    std::string_view path = request.page();
    path.remove_prefix(std::min(path.size(), kPrefix.size()));
    Serve(call, path);
  });
  if (!done) SendProblem(index, 500, "the request failed; see the event log");
}

void ApiModule::Serve(Call& call, std::string_view path) {
  std::vector<std::string> pieces;
  for (const std::string& piece : Split(path, '/')) {
    if (!piece.empty()) pieces.push_back(piece);
  }
  for (const Route& route : Routes()) {
    if (route.pattern.size() != pieces.size()) continue;
    bool match = true;
    std::vector<std::string> params;
    for (size_t i = 0; i < pieces.size() && match; ++i) {
      if (route.pattern[i] == "*") params.push_back(pieces[i]);
      else match = pieces[i] == route.pattern[i];
    }
    if (!match) continue;
    if (std::find(route.methods.begin(), route.methods.end(), call.method) ==
        route.methods.end()) {
      std::vector<std::string> allowed(route.methods.begin(), route.methods.end());
      return SendProblem(call.index, 405, call.method + " is not allowed here",
                         "Allow: " + Join(allowed, ", ") + "\r\n");
    }
    call.params = std::move(params);
    if (IsWrite(call.method) && !WriteAllowed(call)) return;
    return (this->*route.handler)(call);
  }
  SendProblem(call.index, 404, "path: no such resource under /api/v1");
}

bool ApiModule::WriteAllowed(Call& call) {
  // A page of another site may post to us from the user's browser; only our
  // own pages (and clients that send no Origin, like curl) may write.
  const std::string origin = call.request.ServerVariables("Origin");
  const std::string host = call.request.ServerVariables("Host");
  if (!origin.empty() && origin != "http://" + host && origin != "https://" + host) {
    SendProblem(call.index, 403, "Origin: " + origin + " is not this server");
    return false;
  }
  // A form of another site cannot send application/json without asking first.
  const std::string type = call.request.ServerVariables("Content-Type");
  const bool has_body = !call.request.Body().empty();
  if ((has_body || !type.empty() || call.method == "PATCH" || call.method == "PUT") &&
      !JsonMediaType(type)) {
    SendProblem(call.index, 415,
                "Content-Type: expected application/json, got '" + type + "'");
    return false;
  }
  return true;
}

bool ApiModule::ReadBody(Call& call, nlohmann::ordered_json& body) {
  const std::string& text = call.request.Body();
  if (text.size() > kMaxBodyBytes) {
    SendProblem(call.index, 413, "body: larger than 64 KB");
    return false;
  }
  body = nlohmann::ordered_json::parse(text, nullptr, false);
  if (body.is_discarded() || !body.is_object()) {
    SendProblem(call.index, 400, "body: expected a JSON object");
    return false;
  }
  return true;
}

int ApiModule::ZoneParam(Call& call) {
  const std::string& n = call.params.at(0);
  if (n.size() == 1 && n[0] >= '1' && n[0] <= '0' + kZoneCount) return n[0] - '0';
  SendProblem(call.index, 404, "zone: '" + n + "' is no zone (1 to 6)");
  return 0;
}

// --- zones -----------------------------------------------------------------------

void ApiModule::GetZones(Call& call) {
  Send(call.index, 200, kJson, ZonesJson(table_).dump());
}

void ApiModule::GetZone(Call& call) {
  if (call.method == "PATCH") return PatchZone(call);
  const int zone = ZoneParam(call);
  if (zone != 0) Send(call.index, 200, kJson, ZoneJson(table_, zone).dump());
}

void ApiModule::PatchZone(Call& call) {
  const int zone = ZoneParam(call);
  nlohmann::ordered_json body;
  if (zone == 0 || !ReadBody(call, body)) return;
  const ZoneRequests requests = ParseZonePatch(table_, zone, body);
  if (!requests.error.empty()) return SendProblem(call.index, 400, requests.error);
  for (const auto& [kind, position] : requests.positions) {
    requests_.Queue(table_.ZoneRecordOf(kind, zone), position);
  }
  // Carried out now, the answer holds the controller's read-back; while the
  // link is down the requests wait in the queue and the answer says so.
  const bool done = requests_.CarryOutNow();
  Send(call.index, done ? 200 : 202, kJson, ZoneJson(table_, zone).dump());
}

// --- events ----------------------------------------------------------------------

void ApiModule::GetEvents(Call& call) {
  const uint64_t stream = server_.BeginStream(call.index);
  if (stream == 0) return SendProblem(call.index, 503, "too many open event streams");
  link_down_ = requests_.LinkDown();
  nlohmann::ordered_json snapshot = ZonesJson(table_);
  snapshot["link"] = LinkJson(link_down_);
  if (!server_.StreamSend(stream, std::string(kEventStreamHeader) + Event("snapshot", snapshot))) {
    return;
  }
  streams_.push_back(stream);
  if (!keep_alive_.Enabled()) keep_alive_.Start();
  if (!link_poll_.Enabled()) link_poll_.Start();
}

void ApiModule::NotifyUPBState(const ZoneRecord& record) {
  if (streams_.empty() || !record) return;
  const ZoneAttribute* attribute = AttributeOfKind(record->Componentindex);
  if (!attribute) return;
  Broadcast(Event("zone", {{"zone", ZoneOfRecord(record->UIDindex)},
                           {"attribute", attribute->topic},
                           {"value", AttributeValue(attribute->kind, StatePayload(*record))}}));
}

void ApiModule::PollLink() {
  const bool down = requests_.LinkDown();
  if (down == link_down_) return;
  link_down_ = down;
  Broadcast(Event("link", LinkJson(down)));
}

void ApiModule::Broadcast(const std::string& event) {
  std::vector<uint64_t> alive;
  for (uint64_t stream : streams_) {
    if (server_.StreamSend(stream, event)) alive.push_back(stream);
  }
  streams_ = std::move(alive);
  if (streams_.empty()) {
    keep_alive_.Stop();
    link_poll_.Stop();
  }
}

// --- scenes ----------------------------------------------------------------------

void ApiModule::GetScenes(Call& call) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const Scene& scene : scenes_.All()) list.push_back(SceneJson(scene));
  Send(call.index, 200, kJson, nlohmann::ordered_json{{"scenes", list}}.dump());
}

void ApiModule::GetScene(Call& call) {
  if (call.method == "PUT") return PutScene(call);
  if (call.method == "DELETE") return DeleteScene(call);
  const auto scene = scenes_.Find(call.params.at(0));
  if (!scene) return SendProblem(call.index, 404, "name: no scene '" + call.params[0] + "'");
  Send(call.index, 200, kJson, SceneJson(*scene).dump());
}

void ApiModule::PutScene(Call& call) {
  const std::string& name = call.params.at(0);
  if (!SceneStore::ValidName(name)) {
    return SendProblem(call.index, 400,
                       "name: letters, digits, space, _ - . only, 1 to 40 long");
  }
  nlohmann::ordered_json body;
  if (!ReadBody(call, body)) return;
  const auto capture = body.find("capture");
  SceneBody parsed;
  if (capture != body.end() && *capture == true) {
    parsed.scene = scenes_.Capture(name);
  } else {
    parsed = ParseSceneZones(name, body);
  }
  if (parsed.error.empty()) parsed.error = scenes_.Validate(parsed.scene);
  if (!parsed.error.empty()) return SendProblem(call.index, 400, parsed.error);
  const bool existed = scenes_.Find(name).has_value();
  if (!scenes_.Save(parsed.scene)) return SendProblem(call.index, 400, "name: too many scenes");
  Send(call.index, existed ? 200 : 201, kJson, SceneJson(*scenes_.Find(name)).dump());
}

void ApiModule::DeleteScene(Call& call) {
  if (!scenes_.Remove(call.params.at(0))) {
    return SendProblem(call.index, 404, "name: no scene '" + call.params[0] + "'");
  }
  Send(call.index, 204, {}, {});
}

void ApiModule::RecallScene(Call& call) {
  const auto queued = scenes_.Recall(call.params.at(0));
  if (!queued) return SendProblem(call.index, 404, "name: no scene '" + call.params[0] + "'");
  Send(call.index, 202, kJson,
       nlohmann::ordered_json{{"scene", call.params[0]}, {"requests", *queued}}.dump());
}

void ApiModule::GetOpenApi(Call& call) {
  Send(call.index, 200, kJson, OpenApiDocument());
}

}  // namespace corvane
