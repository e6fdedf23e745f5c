// What the web server asks of the page code: the status page plugs in here.
#pragma once

#include <string>

namespace corvane {

class Request;
class Response;

class StatusPageHandler {
 public:
  virtual ~StatusPageHandler() = default;
  // Serves a request whose path begins with "/stat" (letter case ignored),
  // form posts included: acts on the request and returns the complete HTML
  // of the page, which the server sends with Response::SendTextString (an
  // empty text is sent as an empty page). A handler that answers through
  // `response` itself (Response::Redirect) has its returned text ignored.
  // Exceptions are reported and answered with the not-found page.
  virtual std::string StatusPage(Request& request, Response& response) = 0;
};

// A page the program adds beside the status page (the live echo page),
// routed by the beginning of its path. It answers through `response` for
// connection `index`, or keeps the connection as a stream (TCPServer::BeginStream).
class PageHandler {
 public:
  virtual ~PageHandler() = default;
  virtual void ServePage(Request& request, Response& response, int index) = 0;
};

}  // namespace corvane
