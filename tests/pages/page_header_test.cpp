// The page header: include files and switches, the weather line, appliance
// browsers, basic and enhanced security, the menu database, and the small
// helpers (SHA-256, Base64, StripHTML, the server address).
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sqlite3.h>

#include <memory>

#include "page_fixture.h"
#include "pages/crypto.h"
#include "pages/html_text.h"

namespace corvane::testing {
namespace {

using Header = PageFixture;

// The menu database's user and menu tables with user anna (level 5 at
// 127.0.0.1), then `sql`.
void MakeDatabase(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  const std::string tables =
      "CREATE TABLE IF NOT EXISTS MenuUsers (UserID, SecureLevel, SecID, LastSessTime);"
      "CREATE TABLE IF NOT EXISTS Menus (MenuID, MenuItem, MenuURL, ParentID, LevelID, "
      "SecureLevel, MenuImage, SortOrder);"
      "INSERT INTO MenuUsers SELECT 'anna', 5, '127.0.0.1', NULL WHERE NOT EXISTS "
      "(SELECT 1 FROM MenuUsers);";
  EXPECT_EQ(sqlite3_exec(db, (tables + sql).c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
  sqlite3_close(db);
}

std::string Basic(const std::string& user_password) {
  std::string out(4 * ((user_password.size() + 2) / 3) + 1, '\0');
  EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                  reinterpret_cast<const unsigned char*>(user_password.data()),
                  static_cast<int>(user_password.size()));
  return "Authorization: Basic " + out.substr(0, out.size() - 1) + "\r\n";
}

TEST(HeaderText, DigestsBase64AndStripHtml) {
  EXPECT_EQ(Pbkdf2Sha256Hex("passwd", "salt", 1),
            "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc");
  EXPECT_EQ(Base64Decode("YW5uYTpzZWNyZXQ"), "anna:secret");  // padded: the Basic logins
  EXPECT_FALSE(Base64Decode("YW5u*"));
  EXPECT_FALSE(Base64Decode("Y"));
  EXPECT_EQ(StripHTML("Vaux&nbsp;&NBSP Status<small><font size='1'></b> V1</font></small>"),
            "Vaux Status V1");
  EXPECT_EQ(StripHTML("a <b"), "a ");
  EXPECT_EQ(JsString("it's <b>\\"), "it\\x27s \\x3cb\\x3e\\x5c");
}

TEST_F(Header, WithoutSecurityEveryPieceIsOptional) {
  std::string page = Page();
  ExpectHas(page, {"<title>Vaux Aris 700 Status V1.2.3</title>",
                   "<link rel=\"stylesheet\" type=\"text/css\" href=\"/StyleNoBody.css\">",
                   "<body bgcolor=\"Black\">", "<a class=\"linkrow\" href=\"/help\">Help</a>",
                   "summary=\"Logo Bar\"><tr class=\"logobar\">",
                   "<a name=\"pagecontent\"></a><div><center><small>"});
  EXPECT_FALSE(Has(page, "HTTP-EQUIV=\"refresh\""));
  // The two defaults a new includes.ini is given are on disk; the weather
  // file is never created.
  const std::string includes = ReadFile(dir_.File("Config/includes.ini"));
  ExpectHas(includes, {"[HEADER.ASP]\r\n", "strPageTitle=n/a\r\n", "strShowLinks=OldStyle\r\n"});
  EXPECT_FALSE(FileExists(dir_.File("Config/WeatherData.ini")));

  // Include files, switches and the program's own links.
  WebFile("meta.htm", "<meta name='m'>");
  WebFile("HEAD.htm", "<div id='head'></div>");
  WebFile("links/status.htm", "<div id='links'></div>");
  WebFile("corvane/Corvane_links.htm", "<a href=\"/help\">h</a><img src='/img/x.gif'>");
  WebFile("javascript/page_scroll.js", "var wcontent=[];(******REPLACE_PAGESCROLL******)go();");
  WriteFile(dir_.File("Config/WeatherData.ini"),
            "[WeatherCom_CurrentData]\r\nTemp=45\r\nReport_City=Oslo\r\nCondition=<Snow>\r\n"
            "AlertIDs=7\r\n[AccuWeather_HighLowData]\r\nHigh_Temp=47\r\nLow_Temp=30\r\n");
  WriteFile(dir_.File("Config/settings.ini"), "[Settings]\r\ngWebPageTitle=Home\r\n");
  ini_.SaveIniSetting("header.asp", "strRefresh", "30", "includes.ini");
  ini_.SaveIniSetting("header.asp", "HideTitle", "Yes", "includes.ini");
  ini_.SaveIniSetting("header.asp", "logoShowSunrise", "Yes", "includes.ini");
  ini_.SaveIniSetting("header.asp", "logoShowWeatherManTemp", "1", "includes.ini");
  page = Page();
  ExpectHas(page, {"<title>Home - Vaux Aris 700 Status V1.2.3</title>",
                   "<meta HTTP-EQUIV=\"refresh\" CONTENT=\"30\">", "<meta name='m'></head>",
                   "<div id='head'></div><div id='links'></div>"});
  EXPECT_FALSE(Has(page, "class=\"titlebar\""));
  ExpectHas(page, {"alt=\"Sunrise\"> 7:01 AM</td>", "alt=\"Outside\"> 45&deg;F</td>",
                   "<a href=\"http://127.0.0.1:8018/help\">h</a>"
                   "<img src='http://127.0.0.1:8018/img/x.gif'>",
                   "wcontent[0]='<font class=\"pagescrolltext\">Oslo \\x26lt;Snow\\x26gt;",
                   "wcontent[3]='<font class=\"pagescrolltext\">\\x3cfont color=",
                   ";\ngo();</script>"});
}

TEST_F(Header, ApplianceBrowsersGetTouchScreenFiles) {
  WebFile("meta.htm", "<meta name='desk'>");
  WebFile("meta_touchscreen.htm", "<meta name='touch'>");
  std::string page = Page({}, "User-Agent: Mozilla/4.0 (QNX)\r\n");
  ExpectHas(page, {"<meta name='touch'>", "<center><table class=\"linkrow\"",
                   "<body style=\"background-color: Black\">"});

  ini_.SaveIniSetting("Settings", "touchscreenips", "10.0.0.9, 127.0.0.1", "Corvane.ini");
  EXPECT_TRUE(Has(Page(), "<meta name='touch'>"));
  ini_.SaveIniSetting("Settings", "touchscreenips", "10.0.0.9", "Corvane.ini");
  EXPECT_TRUE(Has(Page(), "<meta name='desk'>"));
}

TEST_F(Header, BasicSecurityAsksForALoginAndSlowsGuessing) {
  ini_.SaveIniSetting("Settings", "usesecurity", "basic", "Corvane.ini");
  ini_.SaveIniSetting("WebUsers", "anna", "x7Qk2:" + Sha256Hex("x7Qk2secret"), "Corvane.ini");
  ini_.SaveIniSetting("header.asp", "logoShowUsername", "Yes", "includes.ini");
  token_user_ = "anna";

  // No login, or a wrong one: a login request, logged, and the post is not
  // acted on.
  for (const std::string& login : {std::string(), Basic("anna:wrong"), Basic("bob:secret"),
                                   std::string("Authorization: Basic !!!\r\n")}) {
    const std::string answer = Answer({{"clientinput", "V13"}, {"clientvalue", "Up"}}, login);
    ExpectHas(answer, {"HTTP/1.1 401 Unauthorized\r\n",
                       "WWW-Authenticate: Basic realm=\"Corvane\"\r\n",
                       "\r\n\r\n<HTML>Unauthorized Access<HTML>"});
  }
  EXPECT_TRUE(bridge_.cmds.empty());
  EXPECT_TRUE(Logged("Anonymous Guest at 127.0.0.1 attempted to access status. "));

  // The older salt:sha256 line logs in and is stored anew as PBKDF2.
  const std::string page =
      Page({{"clientinput", "V13"}, {"clientvalue", "Up"}}, Basic("anna:secret"));
  EXPECT_TRUE(Has(page, "<td class=\"logobar\">User: ANNA</td>"));
  EXPECT_EQ(bridge_.cmds.size(), 1u);
  EXPECT_EQ(page_.header().level(), 10);
  const std::string stored = Ini("WebUsers", "anna");
  EXPECT_EQ(stored.rfind("pbkdf2-sha256$200000$", 0), 0u) << stored;
  EXPECT_EQ(WebSecurity::CheckPassword(stored, "secret"), WebSecurity::Match::kYes);
  EXPECT_TRUE(Has(Page({}, Basic("anna:secret")), "User: ANNA"));

  // After five failures in a row each attempt waits (how long: the
  // throttle's table below).
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(Has(Answer({}, Basic("anna:guess")), " 401 "));
  std::string answer = Answer({}, Basic("anna:secret"));
  ExpectHas(answer, {"HTTP/1.1 429 Too Many Requests\r\nServer: zyn\r\n", "Retry-After: 1\r\n",
                     "Content-Type: application/problem+json\r\n"});
  EXPECT_TRUE(Logged("5 failed logins from 127.0.0.1; its next attempt must wait 1 s"));
  Run(1000);
  EXPECT_TRUE(Has(Page({}, Basic("anna:secret")), "User: ANNA"));

  // With HTTPS set up, plain HTTP logins come only from this computer.
  Set("HTTPSPort", "8443");
  Set("TLSCertificate", "cert.pem");
  Set("TLSKey", "key.pem");
  answer = Get("GET /status HTTP/1.1\r\n" + Basic("anna:secret") + "\r\n", "10.0.0.7");
  ExpectHas(answer, {"HTTP/1.1 403 Forbidden\r\n", "Log in over HTTPS (port 8443)"});
  EXPECT_TRUE(Has(Page({}, Basic("anna:secret")), "User: ANNA"));
}

TEST_F(Header, StoredLoginsAndTheGuessingThrottle) {
  const std::string legacy = "s:" + Sha256Hex("spw");
  const struct {
    std::string stored, password;
    WebSecurity::Match match;
  } cases[] = {
      {WebSecurity::HashPassword("pw"), "pw", WebSecurity::Match::kYes},
      {WebSecurity::HashPassword("pw"), "pW", WebSecurity::Match::kNo},
      {WebSecurity::HashPassword("pw", 1000), "pw", WebSecurity::Match::kYesOutdated},
      {legacy, "pw", WebSecurity::Match::kYesOutdated},
      {legacy, "px", WebSecurity::Match::kNo},
      {"pbkdf2-sha256$x$ab$cd", "pw", WebSecurity::Match::kNo},
      {"", "", WebSecurity::Match::kNo},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WebSecurity::CheckPassword(c.stored, c.password), c.match) << c.stored;
  }
  EXPECT_NE(WebSecurity::HashPassword("pw"), WebSecurity::HashPassword("pw"));  // salted

  LoginThrottle throttle(log_);
  const int waits[] = {0, 0, 0, 0, 1, 2, 4, 8, 16, 32, 60, 60};
  double now = 0;
  for (int wait : waits) {
    throttle.Failed("10.0.0.2", now);
    EXPECT_EQ(throttle.RetryAfter("10.0.0.2", now), wait);
    now += 100;
  }
  EXPECT_EQ(throttle.RetryAfter("10.0.0.3", now), 0);
  throttle.Failed("10.0.0.2", now + LoginThrottle::kForgetS + 1);  // quiet long enough: afresh
  EXPECT_EQ(throttle.RetryAfter("10.0.0.2", now + LoginThrottle::kForgetS + 1), 0);
}

TEST_F(Header, EnhancedSecurityAndMenusFromTheDatabase) {
  const std::string db = dir_.File("menus.db");
  MakeDatabase(db,
               "INSERT INTO Menus VALUES (1, 'Audio', '/status', 0, 1, 1, '', 2),"
               "(2, 'Lights ''n <more>', '/lights', 0, 1, 3, '', 1),"
               "(3, 'Secret', '/secret', 0, 1, 9, '', 3), (4, 'Zones', '/zones', 1, 2, 1, '', 1);");
  ini_.SaveIniSetting("Settings", "usesecurity", "Enhanced", "Corvane.ini");
  ini_.SaveIniSetting("Settings", "dbpath", "Data Source=menus.db;Version=3", "Corvane.ini");
  ini_.SaveIniSetting("Settings", "rowstyle", "LINK", "Corvane.ini");
  ini_.SaveIniSetting("header.asp", "useMenuRow", "1", "includes.ini");
  ini_.SaveIniSetting("header.asp", "logpagehits", "1", "includes.ini");
  token_user_ = "anna";

  std::string page = Page();
  EXPECT_EQ(page_.header().user(), "anna");
  EXPECT_EQ(page_.header().level(), 5);
  // Items up to the user's level in their order, then the page's section.
  ExpectHas(page, {"<td class=\"linkrow\"><a href=\"/lights\">Lights &#39;n &lt;more&gt;</a>"
                   "</td><td class=\"linkrow\"><a href=\"/status\">Audio</a></td></tr>",
                   "<a href=\"/zones\">Zones</a>"});
  EXPECT_FALSE(Has(page, "Secret"));
  EXPECT_TRUE(Logged("status was accessed by 127.0.0.1 the user: anna"));
  // Buttons carry the address as a script string.
  ini_.SaveIniSetting("Settings", "rowstyle", "", "Corvane.ini");
  EXPECT_TRUE(Has(Page(),
                  "<input type=\"button\" class=\"linkrowbutton\" value=\"Audio\""
                  "onClick=\"window.parent.location.href='/status'\">"));

  // The session time was written with SQLite's clock.
  const auto rows = MenuDatabase::Open(db, nullptr)->Query("SELECT LastSessTime FROM MenuUsers");
  EXPECT_NE(rows.at(0).at(0), "");

  // A page that asks for more than the user's level is refused before the
  // post is acted on; a client address cannot change the queries.
  MakeDatabase(db, "UPDATE Menus SET SecureLevel = 7 WHERE MenuID = 1;");
  std::string answer = Answer({{"clientinput", "V13"}, {"clientvalue", "Up"}});
  EXPECT_TRUE(Has(answer, "\r\n\r\n<HTML>Unauthorized Access<HTML>"));
  EXPECT_TRUE(bridge_.cmds.empty());
  EXPECT_TRUE(Logged("anna at 127.0.0.1 attempted to access status. "));
  // The user is found by the connection's own address, never by Host.
  Get("GET /status HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", "10.0.0.5");
  EXPECT_EQ(page_.header().user(), "None");
  EXPECT_EQ(page_.header().level(), 0);
  // Such a Host is not one of the server's names: the server's gate answers
  // it before the page code runs.
  EXPECT_TRUE(Has(Get("GET /status HTTP/1.1\r\nHost: x' OR '1'='1\r\n\r\n"),
                  "HTTP/1.1 421 Misdirected Request"));

  // A missing table or file only leaves its piece out.
  MakeDatabase(db, "DROP TABLE Menus;");
  page = Page();
  EXPECT_TRUE(Has(page, "</body></html>"));
  EXPECT_EQ(page_.header().user(), "anna");
  ini_.SaveIniSetting("Settings", "dbpath", "gone.db", "Corvane.ini");
  EXPECT_TRUE(Has(Page(), "</body></html>"));
  EXPECT_EQ(page_.header().user(), "None");
  EXPECT_FALSE(FileExists(dir_.File("gone.db")));
}

TEST_F(Header, SlideInMenuFromTemplateAndDatabase) {
  WebFile("includes/ssmitems.txt",
          "<script>(******REPLACE_SSMPREFS******)|(******REPLACE_SSMITEMS******)</script>");
  ini_.SaveIniSetting("Settings", "useslideinmenu", "yes", "Corvane.ini");
  std::string page = Page();
  ExpectHas(page, {"<script>YOffset=100;\nXOffset=0;\n", "barText=\"HomeSeer Forums\";\n"});

  MakeDatabase(dir_.File("m.db"),
               "INSERT INTO Menus VALUES (1, 'Audio', '/status', 0, 1, 1, '', 1);"
               "CREATE TABLE MenuPOP (MenuID, MenuText, MenuURL, IsHeader, IsActive, UserID, "
               "SortOrder);"
               "INSERT INTO MenuPOP VALUES (1, '', '', 0, 1, 'anna', 2),"
               "(0, 'Say \"hi\"', '/x', 0, 1, 'anna', 1);"
               "CREATE TABLE MenuPOPPref (UserID, yoffset, xoffset, staticyoffset, slidespeed, "
               "waittime, menuIsStatic, menuwidth, barlink, bartext, barwidth, mouseovercolor, "
               "mouseoutcolor, targetwindow);"
               "INSERT INTO MenuPOPPref VALUES ('anna', '5', 'x;alert(1)', '', '', '', 'no', '', "
               "'', 'My bar', '', '', '', '');");
  ini_.SaveIniSetting("Settings", "usesecurity", "ENHANCED", "Corvane.ini");
  ini_.SaveIniSetting("Settings", "dbpath", dir_.File("m.db"), "Corvane.ini");
  page = Page();
  ExpectHas(page, {"YOffset=5;\nXOffset=0;\n", "menuIsStatic=\"no\";\n", "barText=\"My bar\";\n",
                   "|ssmItems[0]=[\"Say \\x22hi\\x22\",\"/x\",\"\"]\n"
                   "ssmItems[1]=[\"Audio\",\"/status\",\"\"]\n</script>"});
}

TEST_F(Header, ServerAddressFromHostOrReferer) {
  PageHeader& header = page_.header();
  Response response(server_);
  std::unique_ptr<Request> request;
  auto ip = [&](const std::string& raw) {
    request = std::make_unique<Request>();
    request->ParsePage(raw);
    header.Begin(*request, response);
    return header.GetServerIP();
  };
  EXPECT_EQ(ip("GET /status HTTP/1.1\r\nHost: 192.168.1.5:8018\r\n\r\n"),
            "http://192.168.1.5:8018/");
  EXPECT_EQ(ip("GET /status HTTP/1.1\r\nReferer: http://box:8018/status\r\n\r\n"),
            "http://box:8018/");
  EXPECT_EQ(ip("GET /status HTTP/1.1\r\nHost: a\"><script>\r\n\r\n"), "http://a/");
  EXPECT_EQ(header.fnPageName(), "status");
  EXPECT_FALSE(header.FileContents("nothing.htm"));
}

}  // namespace
}  // namespace corvane::testing
