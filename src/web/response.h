// The writer of one HTTP answer to one connection socket of the listener.
// Each writer builds the status line, headers and body in one text and hands
// it to the socket in one send; the listener closes the connection when the
// send completes, and every answer says so ("Connection: close"). Binary
// files go out in 1000-byte chunks instead.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace corvane {

class Request;
class TCPServer;

// The Content-Type for a file name: the first of ".txt", ".htm", ".jpg",
// ".gif", ".bmp", ".php" that the name contains (exact letter case), else
// "unknown/binary"; ".css" is "text/css".
std::string ContentTypeFor(std::string_view name);

// Headers every answer carries: no framing by other sites, no type sniffing,
// no full addresses of our pages in other sites' logs.
inline constexpr std::string_view kSecurityHeaders =
    "X-Frame-Options: DENY\r\n"
    "Content-Security-Policy: frame-ancestors 'none'\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "Referrer-Policy: same-origin\r\n";
// The start of an answer ("HTTP/... status line" and more) with
// kSecurityHeaders after its status line; other text unchanged.
std::string WithSecurityHeaders(std::string_view answer_start);

class Response {
 public:
  static constexpr size_t kChunkBytes = 1000;
  static constexpr int64_t kChunkWatchdogMs = 5000;

  explicit Response(TCPServer& server) : server_(server) {}

  // The socket index that Send and Redirect write to.
  void index(int16_t socket_index) { index_ = socket_index; }

  void Send(std::string_view text);
  // The "Unauthorized Access" page; the argument is not used.
  void Redirect(std::string_view text);

  // A generated page.
  void SendTextString(std::string_view text, int index);
  // A text file of the web folder ("\" separated name below it), sent whole.
  void SendTextFile(std::string_view file, int index);
  // The not-found page.
  void SendErrorResponse(int index);
  // A binary file of the web folder, sent in chunks.
  void SendBinaryFile(std::string_view file, int index);
  // Sends the browser on to `location` (host, optionally ":port") with the
  // same page, query and form data.
  void RedirectToHS(std::string_view location, const Request& request, int index);
  // Asks the browser for an HTTP Basic login ("401 Unauthorized").
  void Challenge(std::string_view realm);
  // A refusal as problem+json (RFC 9457) to the socket of `index(...)`:
  // `status` is the status code and reason ("403 Forbidden"), `detail` one
  // line for the reader, `headers` extra header lines each ending in CR LF.
  void SendProblem(std::string_view status, std::string_view detail, std::string_view headers = {});
  // A plain redirect to another path of this server.
  void SendRedirect(std::string_view path, int index);
  // An error answer as problem+json: `status` (403, 421, ...) with its
  // reason `title` and a `detail` for people.
  void SendProblem(int status, std::string_view title, std::string_view detail, int index);

  // True once a writer has answered (or tried to) through this response.
  bool Answered() const { return answered_; }

 private:
  // Sets the tag to "0" and sends; false when the socket is not connected.
  bool SendText(int index, const std::string& text);
  // Sends when connected and lets pending events run once.
  bool SendNow(int index, std::string_view bytes);
  void Report(std::string_view routine, std::string_view what);
  std::string DateText() const;
  bool WaitForSendDone(int index);
  // A short answer that closes the connection: status line, Server, Date,
  // `headers` (each ending in CR LF), Connection, Content-Type, the body.
  void SendClosingAnswer(std::string_view status, std::string_view headers, std::string_view body,
                         int index, std::string_view content_type = "text/html");

  TCPServer& server_;
  int16_t index_ = 0;
  bool answered_ = false;
};

}  // namespace corvane
