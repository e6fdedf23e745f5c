#include "pages/echo_page.h"

#include <cstdio>
#include <exception>

#include "config/settings.h"
#include "core/event_log.h"
#include "core/fast_string.h"
#include "core/guard.h"
#include "core/text.h"
#include "pages/page_header.h"
#include "pages/crypto.h"
#include "platform/instance_lock.h"
#include "web/request.h"
#include "web/response.h"
#include "web/tcp_server.h"

namespace corvane {

namespace {

// The page's script: it keeps its own copy of the text (the last 10,000
// characters, as the window does) and shows it unless Freeze is ticked.
constexpr std::string_view kScript = R"JS(<script>
(function () {
  var kMax = 10000;
  var box = document.getElementById('CommData');
  var freeze = document.getElementById('Freeze');
  var label = document.getElementById('aOpenStatus');
  var text = box.value;
  function clip() { if (text.length > kMax) text = text.slice(text.length - kMax); }
  function show() {
    if (freeze.checked) return;
    box.value = text;
    box.scrollTop = box.scrollHeight;
  }
  var source = new EventSource('/echo/stream');
  source.addEventListener('reset', function (e) {
    var d = JSON.parse(e.data); text = d.text; label.textContent = d.status; show();
  });
  source.addEventListener('append', function (e) { text += JSON.parse(e.data); clip(); show(); });
  source.addEventListener('mark', function (e) {
    var mark = JSON.parse(e.data), at = text.lastIndexOf('\r\n');
    text = at < 0 ? text + mark : text.slice(0, at) + mark + text.slice(at);
    clip(); show();
  });
  source.addEventListener('status', function (e) { label.textContent = JSON.parse(e.data); });
  source.onerror = function () { label.textContent = 'Connection to Corvane lost; retrying'; };
  freeze.addEventListener('change', show);
  window.corvaneEcho = { text: function () { return text; } };
})();
</script>)JS";

std::string_view EventName(EchoWindow::Change change) {
  switch (change) {
    case EchoWindow::Change::kAppend: return "append";
    case EchoWindow::Change::kInsertBeforeLastLineEnd: return "mark";
    case EchoWindow::Change::kStatus: return "status";
  }
  return "append";
}

}  // namespace


std::string SseEvent(std::string_view name, std::string_view data) {
  // JSON text holds no line ends, so one data line carries it.
  std::string out = "event: ";
  out.append(name);
  out += "\ndata: ";
  out.append(data);
  out += "\n\n";
  return out;
}

EchoPageModule::EchoPageModule(EventLoop& loop, TCPServer& server, EchoWindow& echo, IniCache& ini,
                               SettingsStore& settings, EventLog& log, const WallClock& wall,
                               PageBridge& bridge, WebSecurity& security,
                               std::string program_folder)
    : server_(server),
      echo_(echo),
      settings_(settings),
      log_(log),
      header_(std::make_unique<PageHeader>(ini, log, wall, bridge, security,
                                           std::move(program_folder))),
      keep_alive_(loop, [this] { Broadcast(": keep-alive\n\n"); }) {
  keep_alive_.SetInterval(kKeepAliveMs);
}

EchoPageModule::~EchoPageModule() = default;

void EchoPageModule::Report(std::string_view routine, std::string_view what) {
  log_.LogError("Corvane", std::string(routine), what);
}

// The desktop front end's echo token opens the stream and nothing else.
bool EchoPageModule::TokenOpensStream(const Request& request) const {
  if (stream_token_.empty() || ToLower(request.page()).rfind("/echo/stream", 0) != 0) return false;
  const std::string sent(TrimWhite(request.ServerVariables(kEchoTokenHeader)));
  return !sent.empty() && ConstantTimeEquals(sent, stream_token_);
}

void EchoPageModule::ServePage(Request& request, Response& response, int index) {
  const bool served = Guard(log_, "EchoPage ", [&] {
    if (TokenOpensStream(request)) return OpenStream(index);
    header_->Begin(request, response);
    header_->StartMiscFunctionsASP();
    header_->SecurityCheck();
    header_->StartHeaderASP();
    if (!header_->Authorize()) return;
    const std::string path = ToLower(request.page());
    if (path.rfind("/echo/stream", 0) == 0) return OpenStream(index);
    response.SendTextString(Page(), index);
  });
  if (!served && !response.Answered()) response.SendErrorResponse(index);
}

std::string EchoPageModule::Page() {
  const Settings& s = settings_.values();
  FastString out;
  out.Add("<html><head><meta charset='utf-8'>");
  out.Add(header_->CustomHeader({"Vaux Data Monitor Window", "x", s.background, s.style_sheet}));
  out.Add("<div class='echo'><center><table border='0' width='90%'>");
  out.Add("<tr><td class='tablecellmisc'>Data To / From External Interface and Error Reports</td>");
  out.Add("<td class='tablecellmisc' align='right'><label><input type='checkbox' id='Freeze' "
          "name='Freeze'> Freeze</label></td></tr>");
  out.Add("<tr><td class='tablecellmisc' colspan='2'><span id='aOpenStatus'>" +
          HtmlEscape(echo_.aOpenStatus()) + "</span></td></tr>");
  out.Add("<tr><td colspan='2'><textarea id='CommData' readonly wrap='off' rows='30' "
          "style='width:100%;font-family:monospace'>");
  out.Add(HtmlEscape(echo_.CommData()));
  out.Add("</textarea></td></tr></table></center></div>");
  out.Add(kScript);
  out.Add("</body></html>");
  return out.Take();
}

void EchoPageModule::OpenStream(int index) {
  const uint64_t stream = server_.BeginStream(index);
  if (stream == 0) {
    Report("EchoStream ", "too many live echo viewers; connection from " +
                              server_.RemoteAddress(index) + " refused");
    server_.SocketSend(index, "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n");
    return;
  }
  const std::string reset = "{\"text\":" + JsonString(echo_.CommData()) +
                            ",\"status\":" + JsonString(echo_.aOpenStatus()) + "}";
  std::string first(kEventStreamHeader);
  first += SseEvent("reset", reset);
  if (!server_.StreamSend(stream, first)) return;
  streams_.push_back(stream);
  if (!keep_alive_.Enabled()) keep_alive_.Start();
}

void EchoPageModule::OnEchoChange(EchoWindow::Change change, std::string_view text) {
  if (streams_.empty()) return;
  Broadcast(SseEvent(EventName(change), JsonString(text)));
}

void EchoPageModule::Broadcast(const std::string& event) {
  std::vector<uint64_t> alive;
  for (uint64_t stream : streams_) {
    if (server_.StreamSend(stream, event)) alive.push_back(stream);
  }
  streams_ = std::move(alive);
  if (streams_.empty()) keep_alive_.Stop();
}

}  // namespace corvane
