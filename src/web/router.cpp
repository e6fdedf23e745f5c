#include "web/router.h"

#include <cctype>

#include "core/event_log.h"
#include "core/folders.h"
#include "core/text.h"
#include "web/request.h"
#include "web/response.h"
#include "web/web_files.h"

namespace corvane {

namespace {

std::string ReplaceIgnoreCase(std::string_view text, std::string_view from, std::string_view to) {
  std::string out;
  size_t start = 0;
  for (size_t at = FindIgnoreCase(text, from); at != std::string_view::npos;
       at = FindIgnoreCase(text, from, start)) {
    out.append(text.substr(start, at - start)).append(to);
    start = at + from.size();
  }
  out.append(text.substr(start));
  return out;
}

bool Matches(const Router::Route& route, std::string_view key) {
  switch (route.match) {
    case Router::Match::kExtension:
      return key.ends_with(route.key);
    case Router::Match::kPrefix:
      return key.starts_with(route.key);
    case Router::Match::kExact:
      return key == route.key;
  }
  return false;
}

}  // namespace

std::string RouteKey(std::string_view path) {
  return ReplaceAll(ToLower(path), "/", "\\");
}

Router::Router(EventLog& log, std::string program_folder)
    : log_(log), program_folder_(std::move(program_folder)) {
  using M = Match;
  const auto binary = [](Request& q, Response& r, int i) {
    r.SendBinaryFile(RouteKey(q.page()), i);
  };
  const auto text = [](Request& q, Response& r, int i) { r.SendTextFile(RouteKey(q.page()), i); };
  const struct {
    Match match;
    std::string_view path;
    Serve serve;
  } kBuiltIn[] = {
      {M::kExtension, ".jpg", binary},
      {M::kExtension, ".gif", binary},
      {M::kExtension, ".png", binary},
      {M::kExtension, ".wmz", binary},
      {M::kExtension, ".css", text},
      {M::kPrefix, "/stat", [this](Request& q, Response& r, int i) { StatusPage(q, r, i); }},
      {M::kPrefix, "/help",
       [this](Request& q, Response& r, int i) { Help(RouteKey(q.page()), r, i); }},
      {M::kExact, "/", [](Request&, Response& r, int i) { r.SendRedirect("/status", i); }},
  };
  for (const auto& route : kBuiltIn) AddRoute(route.match, route.path, route.serve);
}

void Router::AddRoute(Match match, std::string_view path, Serve serve) {
  routes_.push_back(Route{match, RouteKey(path), std::move(serve)});
}

void Router::AddPage(std::string prefix, PageHandler* handler) {
  AddRoute(Match::kPrefix, prefix,
           [handler](Request& q, Response& r, int i) { handler->ServePage(q, r, i); });
}

const Router::Route* Router::Find(std::string_view key) const {
  for (const auto& route : routes_) {
    if (Matches(route, key)) return &route;
  }
  return nullptr;
}

void Router::Dispatch(Request& request, Response& response, int index) {
  if (Refused(request, response, index)) return;
  const std::string key = RouteKey(request.page());
  if (const Route* route = Find(key)) return route->serve(request, response, index);
  response.SendErrorResponse(index);
}

bool Router::Refused(const Request& request, Response& response, int index) {
  const auto verdict = gate_.Check(request);
  if (verdict == RequestGate::Verdict::kPass) return false;
  const bool misdirected = verdict == RequestGate::Verdict::kMisdirected;
  const std::string what =
      misdirected ? "Host " + Printable(request.ServerVariables("Host"), 80) +
                        " is not a name of this server"
                  : Printable(request.Method() == "POSTx" ? "POST" : request.Method(), 10) +
                        " from another site (" +
                        Printable(request.ServerVariables("Origin").empty()
                                      ? request.ServerVariables("Referer")
                                      : request.ServerVariables("Origin"),
                                  80) +
                        ")";
  log_.LogEvent("Corvane", "Web request from " + request.PeerAddress() + " for " +
                               Printable(request.page(), 80) + " refused: " + what);
  if (misdirected) {
    response.SendProblem(421, "Misdirected Request",
                         "This server does not answer for that host name.", index);
  } else {
    response.SendProblem(403, "Forbidden",
                         "This request's Origin (or Referer) is another site: requests that "
                         "change something must come from this server's own pages.",
                         index);
  }
  return true;
}

void Router::StatusPage(Request& request, Response& response, int index) {
  if (!status_page_) return response.SendErrorResponse(index);
  std::string page = status_page_->StatusPage(request, response);
  if (!response.Answered()) response.SendTextString(page, index);
}

void Router::Help(std::string_view key, Response& response, int index) {
  auto sub = key.size() > 6 && key[5] == '\\' ? HelpSubPage(key.substr(6)) : std::nullopt;
  response.SendTextString(sub ? *sub : HelpPage(), index);
}

std::optional<std::string> Router::HelpSubPage(std::string_view name) const {
  if (name.empty() || name.size() > 40) return std::nullopt;
  for (char c : name) {
    if (!std::isalpha(static_cast<unsigned char>(c))) return std::nullopt;
  }
  const auto file = FindFileIgnoringCase(
      JoinPath(program_folder_, "HTML/Help/Corvane/" + std::string(name) + ".htm"));
  return file ? ReadWholeFile(file->path) : std::nullopt;
}

std::string Router::HelpPage() const {
  const std::string path = JoinPath(program_folder_, "HTML/Help/Corvane/Corvane.htm");
  const auto file = FindFileIgnoringCase(path);
  if (auto text = file ? ReadWholeFile(file->path) : std::nullopt) {
    return ReplaceIgnoreCase(*text, "Corvane_files", "help/Corvane/Corvane_files");
  }
  return "Sorry, Help from " + path + " is not available";
}

}  // namespace corvane
