// The writers of one answer: pages, text and binary files, redirects and the
// not-found answer, each built in one FastString and sent on its connection.
// Routine names in error reports ("TCPSever_SendTextString ", ...) keep their
// spelling: users' log filters and scripts that watch the event log match them.
// The listener puts the security headers into every answer's head
// (WithSecurityHeaders), streams and pages' own answers included.
#include "web/response.h"

#include <algorithm>
#include <cmath>
#include <fstream>

#include "core/datetime.h"
#include "core/event_log.h"
#include "core/fast_string.h"
#include "core/folders.h"
#include "core/guard.h"
#include "core/text.h"
#include "web/request.h"
#include "web/tcp_server.h"
#include "web/web_files.h"

namespace corvane {

namespace {

constexpr std::string_view kCrLf = "\r\n";
// Every answer ends with the connection closed; saying so lets HTTP/1.1
// clients take the answer as complete instead of as a broken keep-alive.
constexpr std::string_view kConnectionClose = "Connection: close\r\n";
constexpr std::string_view kNotFoundBody = "<html><h1>404 File Not Found</h1></html>";

// Request text that goes into a header line must not end the line.
std::string HeaderSafe(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (c != '\r' && c != '\n') out.push_back(c);
  }
  return out;
}

// Text for a single-quoted HTML attribute.
std::string AttributeText(std::string_view s) {
  return HtmlEscape(s);
}

}  // namespace

std::string ContentTypeFor(std::string_view name) {
  static constexpr std::pair<std::string_view, std::string_view> kTypes[] = {
      {".txt", "text/plain"},
      {".htm", "text/html"},
      {".jpg", "image/jpg"},
      {".gif", "image/gif"},
      {".bmp", "image/bmp"},
      {".php", "text/html"},
      // Browsers refuse a style sheet of another type once told not to sniff.
      {".css", "text/css"},
  };
  for (const auto& [part, type] : kTypes) {
    if (name.find(part) != std::string_view::npos) return std::string(type);
  }
  return "unknown/binary";
}

std::string WithSecurityHeaders(std::string_view answer_start) {
  const size_t line_end = answer_start.find("\r\n");
  if (!answer_start.starts_with("HTTP/") || line_end == std::string_view::npos) {
    return std::string(answer_start);
  }
  std::string out;
  out.reserve(answer_start.size() + kSecurityHeaders.size());
  out.append(answer_start.substr(0, line_end + 2));
  out.append(kSecurityHeaders);
  out.append(answer_start.substr(line_end + 2));
  return out;
}

std::string Response::DateText() const {
  return FormatMediumDate(std::floor(server_.wall().Now()));
}

void Response::Report(std::string_view routine, std::string_view what) {
  server_.log().LogError("Corvane", routine, what);
}

bool Response::SendNow(int index, std::string_view bytes) {
  answered_ = true;
  if (!server_.SocketConnected(index)) return false;
  server_.SocketSend(index, bytes);
  server_.loop().Pump();
  return true;
}

bool Response::SendText(int index, const std::string& text) {
  server_.SetSocketTag(index, "0");
  return SendNow(index, text);
}

void Response::Send(std::string_view text) {
  SendTextString(text, index_);
}

void Response::Redirect(std::string_view /*text*/) {
  SendTextString("<HTML>Unauthorized Access<HTML>", index_);
}

void Response::SendTextString(std::string_view text, int index) {
  Guard(server_.log(), "TCPSever_SendTextString ", [&] {
    FastString s;
    s.Add("HTTP/1.1 200 OK\r\n");
    s.Add("Server: zyn\r\n");
    s.Add("Date: " + DateText() + "\r\n");
    // A fixed date in the past: browsers and proxies then never cache a page.
    s.Add("Expires: Tue, 04 Dec 1993 21:29:02 GMT\r\n");
    s.Add("Accept-Ranges: bytes\r\n");
    s.Add("Content-Type: text/html\r\n");
    s.Add("Content-Length: " + std::to_string(text.size()) + "\r\n");
    s.Add("Cache-Control: no-cache\r\n");
    s.Add(kConnectionClose);
    s.Add(kCrLf);
    s.Add(text);
    if (!SendText(index, s.Value())) {
      Report("TCPSever_SendTextString ", "socket " + std::to_string(index) +
                                             " is not connected (State is " +
                                             std::to_string(server_.SocketState(index)) + ")");
    }
  });
}

void Response::SendTextFile(std::string_view file, int index) {
  Guard(server_.log(), "TCPServer_SendTextFile ", [&] {
    const auto found = FindWebFile(server_.HtmlFolder(), file);
    const auto text = found ? ReadWholeFile(found->path) : std::nullopt;
    if (!text) return SendErrorResponse(index);
    const std::string type = ContentTypeFor(file);
    FastString s;
    s.Reserve(text->size() + 256);
    s.Add("HTTP/1.0 200 OK\r\n");
    s.Add("Server: zyn\r\n");
    s.Add("Date: " + DateText() + "\r\n");
    s.Add("Accept-Ranges: bytes\r\n");
    s.Add("Content-Type: " + (type == "unknown/binary" ? "text/html" : type) + "\r\n");
    s.Add("Last-Modified: " + FormatGeneralDate(found->modified) + "\r\n");
    s.Add("Content-Length: " + std::to_string(text->size()) + "\r\n");
    s.Add(kConnectionClose);
    s.Add(kCrLf);
    s.Add(*text);
    if (!SendText(index, s.Value())) {
      server_.log().LogEvent("Corvane",
                             "TCPServer Unable to send TextFile " + server_.HtmlFolder() +
                                 std::string(file) + " to socket " + std::to_string(index) +
                                 " because State is " + std::to_string(server_.SocketState(index)));
    }
  });
}

void Response::SendErrorResponse(int index) {
  Guard(server_.log(), "TCPServer_SendError_Response ", [&] {
    FastString s;
    // Status 200 with this reason: xAP web tools that fetch our pages read a
    // missing page from the text and treat other status codes as a dead server.
    s.Add("HTTP/1.1 200 Object Not Found\r\n");
    s.Add("Server: zyn\r\n");
    s.Add("Date: " + DateText() + "\r\n");
    s.Add("Connection: Close\r\n");
    s.Add("Content-Type: text/html\r\n");
    s.Add("Content-Length: " + std::to_string(kNotFoundBody.size()) + "\r\n");
    s.Add(kCrLf);
    s.Add(kNotFoundBody);
    if (!SendText(index, s.Value())) {
      Report("TCPServer_SendError_Response ", "socket " + std::to_string(index) +
                                                  " is not connected (State is " +
                                                  std::to_string(server_.SocketState(index)) + ")");
    }
  });
}

void Response::SendRedirect(std::string_view path, int index) {
  const std::string target = HeaderSafe(path);
  SendClosingAnswer(
      "HTTP/1.1 302 Found", "Location: " + target + "\r\n",
      "<html><a href='" + AttributeText(target) + "'>" + AttributeText(target) + "</a></html>",
      index);
}

void Response::Challenge(std::string_view realm) {
  SendClosingAnswer(
      "HTTP/1.1 401 Unauthorized",
      "WWW-Authenticate: Basic realm=\"" + RemoveChar(HeaderSafe(realm), '"') + "\"\r\n",
      "<HTML>Unauthorized Access<HTML>", index_);
}

namespace {

std::string ProblemBody(std::string_view code, std::string_view title, std::string_view detail) {
  return "{\"type\":\"about:blank\",\"title\":" + JsonString(title) + ",\"status\":" +
         std::string(code) + ",\"detail\":" + JsonString(detail) + "}";
}

}  // namespace

void Response::SendProblem(std::string_view status, std::string_view detail,
                           std::string_view headers) {
  const std::string_view code = status.substr(0, status.find(' '));
  const std::string_view title = status.substr(std::min(status.size(), code.size() + 1));
  SendClosingAnswer("HTTP/1.1 " + std::string(status), headers, ProblemBody(code, title, detail),
                    index_, "application/problem+json");
}

void Response::SendProblem(int status, std::string_view title, std::string_view detail, int index) {
  const std::string code = std::to_string(status);
  SendClosingAnswer("HTTP/1.1 " + code + " " + std::string(title), "Cache-Control: no-store\r\n",
                    ProblemBody(code, title, detail), index, "application/problem+json");
}

void Response::SendClosingAnswer(std::string_view status, std::string_view headers,
                                 std::string_view body, int index, std::string_view content_type) {
  Guard(server_.log(), "TCPSever_SendTextString ", [&] {
    FastString s;
    s.Add(status);
    s.Add(kCrLf);
    s.Add("Server: zyn\r\n");
    s.Add("Date: " + DateText() + "\r\n");
    s.Add(headers);
    s.Add("Connection: Close\r\n");
    s.Add("Content-Type: " + std::string(content_type) + "\r\n");
    s.Add("Content-Length: " + std::to_string(body.size()) + "\r\n");
    s.Add(kCrLf);
    s.Add(body);
    SendText(index, s.Value());
  });
}

bool Response::WaitForSendDone(int index) {
  server_.ArmSendWatchdog(index, kChunkWatchdogMs);
  EventLoop& loop = server_.loop();
  // The watchdog ends the wait; the deadline is only a backstop.
  loop.PumpUntil([&] { return !server_.SocketConnected(index) || server_.SendDone(index); },
                 loop.NowMs() + 2 * kChunkWatchdogMs);
  server_.SetSendDone(index, false);
  return server_.SocketConnected(index) && !loop.QuitRequested();
}

void Response::SendBinaryFile(std::string_view file, int index) {
  Guard(server_.log(), "TCPServer_SendBinaryFile ", [&] {
    answered_ = true;
    const std::string type = ContentTypeFor(file);
    auto found = FindWebFile(server_.HtmlFolder(), file);
    std::ifstream in;
    if (found) {
      in.open(found->path, std::ios::binary);
      if (!in) found.reset();
    }
    if (!found) {
      // The tag stays as it is, so the send completion closes the connection.
      SendNow(index, "HTTP/1.1 404 Not Found\r\nServer: zyn\r\nDate:" + DateText() + "\r\n" +
                         std::string(kConnectionClose) + "\r\n");
      return;
    }
    server_.SetSocketTag(index, "1");
    FastString s;
    s.Add("HTTP/1.1 200 OK\r\n");
    s.Add("Server: zyn\r\n");
    s.Add("Date:" + DateText() + "\r\n");
    s.Add("Last-Modified: " + FormatGeneralDate(found->modified) + "\r\n");
    s.Add("Accept-Ranges: bytes\r\n");
    s.Add("Content-Length: " + std::to_string(found->size) + "\r\n");
    s.Add("Connection: Close\r\n");
    s.Add("Content-Type: " + type + "\r\n");
    s.Add(kCrLf);
    SendNow(index, s.Value());

    server_.SetSendDone(index, true);
    uint64_t left = found->size;
    char chunk[kChunkBytes];
    bool sent_any = false;
    while (server_.SocketConnected(index) && left > 0) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(left, kChunkBytes));
      in.read(chunk, static_cast<std::streamsize>(n));
      if (static_cast<size_t>(in.gcount()) != n) break;  // the file shrank meanwhile
      left -= n;
      // Each chunk waits for the previous one's completion or the watchdog.
      if (!WaitForSendDone(index)) break;
      SendNow(index, std::string_view(chunk, n));
      sent_any = true;
    }
    // The last chunk goes out before the connection is closed.
    if (sent_any && server_.SocketConnected(index)) WaitForSendDone(index);
    in.close();
    server_.SetSocketTag(index, "0");
    server_.SendComplete(index);
  });
}

void Response::RedirectToHS(std::string_view location, const Request& request, int index) {
  Guard(server_.log(), "TCPSever_RedirectToHS ", [&] {
    const std::string path = ReplaceAll(request.page(), "\\", "/");
    const std::string target =
        HeaderSafe("http://" + std::string(location) + path + request.Query());
    FastString s;
    if (FindIgnoreCase(request.ServerVariables("http_user_agent"), "audrey") ==
        std::string_view::npos) {
      s.Add("HTTP/1.0 307 NoSupport\r\n");
      s.Add("Server: zyn\r\n");
      s.Add("Date: " + DateText() + "\r\n");
      s.Add("Connection: close\r\n");
      s.Add("Content-Type: text/html\r\n");
      s.Add("Location: " + target + "\r\n");
      if (!TrimWhite(request.Payload()).empty()) {
        s.Add("Content-Length: " + std::to_string(request.Payload().size()) + "\r\n");
        s.Add(kCrLf);
        s.Add(request.Payload());
      } else {
        s.Add(kCrLf);
      }
    } else {
      // An appliance browser that does not follow 307: a page that posts
      // itself to the new place. "POSTx" is the listener's own mark.
      const std::string method = request.Method() == "POSTx" ? "POST" : request.Method();
      FastString body;
      body.Add("<HTML><HEAD><SCRIPT LANGUAGE=\"JavaScript\">");
      body.Add("function initialize() {document.redo.submit();}");
      body.Add("</script></HEAD><body onLoad='initialize()'>");
      body.Add("<form name='redo' action='" +
               AttributeText("http://" + std::string(location) + path) + "' method='" +
               AttributeText(method) + "'>");
      for (const auto* col : {&request.QueryStringCol(), &request.FormCol()}) {
        for (const auto& pair : *col) {
          body.Add("<input type='hidden' name='" + AttributeText(pair.KEY) + "' value='" +
                   AttributeText(pair.Value) + "'>");
        }
      }
      body.Add("</form></HTML>");
      s.Add("HTTP/1.0 200 OK\r\n");
      s.Add("Server: zyn\r\n");
      s.Add("Date: " + DateText() + "\r\n");
      s.Add("Connection: close\r\n");
      s.Add("Content-Type: text/html\r\n");
      s.Add("Location: " + target + "\r\n");
      s.Add("Content-Length: " + std::to_string(body.size()) + "\r\n");
      s.Add(kCrLf);
      s.Add(body.Value());
    }
    if (!SendText(index, s.Value())) {
      Report("TCPSever_RedirectToHS ", "socket " + std::to_string(index) + " is not connected");
    }
  });
}

}  // namespace corvane
