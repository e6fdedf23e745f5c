// Routing: which answer a request gets, decided by ONE table of routes
// matched in order on the request's key (its path lower-cased, "/" turned
// into "\"): static files by extension, the status page, the help pages,
// the root, then the pages the program adds (AddPage). Every request first
// passes the gate (request_gate.h); what no route takes gets the not-found
// page.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "web/page_handler.h"
#include "web/request_gate.h"

namespace corvane {

class EventLog;
class Request;
class Response;

class Router {
 public:
  using Serve = std::function<void(Request&, Response&, int index)>;
  enum class Match { kExtension, kPrefix, kExact };
  struct Route {
    Match match;
    std::string key;  // lower case, "\" separated
    Serve serve;
  };

  Router(EventLog& log, std::string program_folder);

  void SetStatusPage(StatusPageHandler* handler) { status_page_ = handler; }
  // Requests whose path begins with `prefix` ("/echo", letter case
  // ignored), any method, go to `handler`; added routes come after the
  // built-in ones.
  void AddPage(std::string prefix, PageHandler* handler);
  void AddRoute(Match match, std::string_view path, Serve serve);

  RequestGate& Gate() { return gate_; }
  // The gate, then the first route that matches.
  void Dispatch(Request& request, Response& response, int index);
  // The route for a key; nothing when none matches.
  const Route* Find(std::string_view key) const;

  // The help page: the program's help file with its picture folder made
  // reachable through /help/Corvane/Corvane_files/, or a "not available" text.
  std::string HelpPage() const;
  // A further help page: "/help/<name>" is HTML/Help/Corvane/<name>.htm
  // (letters only, any case); nothing when there is no such page.
  std::optional<std::string> HelpSubPage(std::string_view name) const;

 private:
  // Refuses a request the gate stops; false when it may go on.
  bool Refused(const Request& request, Response& response, int index);
  void StatusPage(Request& request, Response& response, int index);
  void Help(std::string_view key, Response& response, int index);

  EventLog& log_;
  std::string program_folder_;
  StatusPageHandler* status_page_ = nullptr;
  RequestGate gate_;
  std::vector<Route> routes_;
};

// A request path as a route key: lower case, "/" turned into "\".
std::string RouteKey(std::string_view path);

}  // namespace corvane
