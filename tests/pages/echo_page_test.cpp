// The live echo page over the fake transport: the page shows the text and
// the link state, the stream starts with the whole text and then carries
// each change once to every viewer, and the text travels as JSON whatever
// bytes the controller sent.
#include "pages/echo_page.h"

#include "page_fixture.h"
#include "ui/echo_window.h"

namespace corvane::testing {
namespace {

class EchoPage : public PageFixture {
 protected:
  EchoPage() {
    server_.AddPage("/echo", &module_);
    echo_.SetWatcher(
        [this](EchoWindow::Change c, std::string_view t) { module_.OnEchoChange(c, t); });
  }
  EchoWindow echo_{wall_, log_};
  EchoPageModule module_{loop_, server_, echo_,   ini_,      settings_,
                         log_,  wall_,   bridge_, security_, dir_.path()};
};

TEST_F(EchoPage, PageShowsTheTextTheFreezeBoxAndTheLinkState) {
  echo_.EchoMessage("VP <0D>");
  echo_.SetOpenStatus("Port Not Connected");
  const std::string page = Get(GetLine("/echo"));
  ExpectHas(page, {"<title>Vaux Data Monitor Window", "Sent to Vaux VP &lt;0D&gt;", "id='Freeze'",
                   "<span id='aOpenStatus'>Port Not Connected</span>",
                   "Data To / From External Interface and Error Reports",
                   "new EventSource('/echo/stream')"});
}

TEST_F(EchoPage, StreamStartsWholeThenCarriesEachChangeToEveryViewer) {
  echo_.EchoMessage("A");
  auto one = Open("/echo/stream");
  auto two = Open("/echo/stream");
  ExpectHas(one->Received(), {"Content-Type: text/event-stream",
                              "event: reset\ndata: {\"text\":\"\\u000d\\u000aSent to Vaux A"});
  EXPECT_EQ(module_.StreamCount(), 2u);
  const size_t before = one->Received().size();
  echo_.EchoReceived("VS 01\r\n");
  echo_.InsertBeforeLastLineEnd("<try 2>");
  echo_.SetOpenStatus("Port Open / 1 tries");
  const std::string news = one->Received().substr(before);
  EXPECT_EQ(Occurrences(news, "event: append\n"), 1u);
  ExpectHas(news, {"event: mark\ndata: \"<try 2>\"\n\n",
                   "event: status\ndata: \"Port Open / 1 tries\"\n\n"});
  EXPECT_TRUE(Has(two->Received(), "event: status"));
  // A viewer that left is dropped at the next change.
  two->Close();
  Run(100);
  echo_.EchoMessage("B");
  EXPECT_EQ(module_.StreamCount(), 1u);
  Run(EchoPageModule::kKeepAliveMs);
  EXPECT_TRUE(Has(one->Received(), ": keep-alive\n\n"));
}

// Under web security a front end's echo token opens the stream, and only
// the stream; anyone else is asked to log in.
TEST_F(EchoPage, TheEchoTokenOpensTheStreamOnly) {
  ini_.SaveIniSetting("Settings", "usesecurity", "basic", "Corvane.ini");
  module_.SetStreamToken("0123abcd");
  for (const auto& [path, token, opens] : std::vector<std::tuple<std::string, std::string, bool>>{
           {"/echo/stream", "", false}, {"/echo/stream", "0123abcE", false},
           {"/echo/stream", "0123abcd", true}, {"/echo", "0123abcd", false}}) {
    auto c = Connect();
    c->Send("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Corvane-Token: " + token +
            "\r\n\r\n");
    Run(100);
    EXPECT_EQ(Has(c->Received(), "HTTP/1.1 200 OK"), opens) << path << " " << token;
    EXPECT_EQ(Has(c->Received(), "401"), !opens) << path << " " << token;
  }
}

TEST(EchoJson, EveryByteTravelsAsAValidJsonString) {
  EXPECT_EQ(JsonString("a\"b\\c\r\n"), "\"a\\\"b\\\\c\\u000d\\u000a\"");
  EXPECT_EQ(JsonString(std::string("\x00\x7f\xe9", 3)), "\"\\u0000\\u007f\\u00e9\"");
  EXPECT_EQ(SseEvent("append", "\"x\""), "event: append\ndata: \"x\"\n\n");
}

}  // namespace
}  // namespace corvane::testing
