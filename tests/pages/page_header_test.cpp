// The page header: include files and switches, the weather line, appliance
// browsers, basic and enhanced security, the menu database, and the small
// helpers (SHA-256, Base64, StripHTML, the server address).
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>

#include "page_fixture.h"
#include "pages/html_text.h"
#include "pages/sha256.h"

namespace corvane::testing {
namespace {

using Header = PageFixture;

// A menu database with the tables of the header, filled by `sql`.
void MakeDatabase(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
  EXPECT_EQ(rc, SQLITE_OK) << (error ? error : "");
  sqlite3_free(error);
  sqlite3_close(db);
}

std::string Basic(const std::string& user_password) {
  static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < user_password.size(); i += 3) {
    uint32_t v = static_cast<uint8_t>(user_password[i]) << 16;
    if (i + 1 < user_password.size()) v |= static_cast<uint8_t>(user_password[i + 1]) << 8;
    if (i + 2 < user_password.size()) v |= static_cast<uint8_t>(user_password[i + 2]);
    out += digits[(v >> 18) & 63];
    out += digits[(v >> 12) & 63];
    out += i + 1 < user_password.size() ? digits[(v >> 6) & 63] : '=';
    out += i + 2 < user_password.size() ? digits[v & 63] : '=';
  }
  return "Authorization: Basic " + out + "\r\n";
}

TEST(HeaderText, Sha256Base64AndStripHtml) {
  EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // 56 and 64 bytes: the padding spills into a second block.
  EXPECT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(Sha256Hex(std::string(64, 'a')),
            "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb");
  EXPECT_EQ(Base64Decode("YW5uYTpzZWNyZXQ="), "anna:secret");
  EXPECT_EQ(Base64Decode("YW5uYTpzZWNyZXQ"), "anna:secret");
  EXPECT_FALSE(Base64Decode("YW5u*"));
  EXPECT_FALSE(Base64Decode("Y"));
  EXPECT_EQ(StripHTML("Vaux&nbsp;&NBSP Status<small><font size='1'></b> V1</font></small>"),
            "Vaux Status V1");
  EXPECT_EQ(StripHTML("a <b"), "a ");
  EXPECT_EQ(JsString("it's <b>\\"), "it\\x27s \\x3cb\\x3e\\x5c");
}

TEST_F(Header, WithoutSecurityEveryPieceIsOptional) {
  std::string page = Page();
  EXPECT_TRUE(Has(page, "<title>Vaux Aris 700 Status V1.2.3</title>"));
  EXPECT_TRUE(Has(page, "<link rel=\"stylesheet\" type=\"text/css\" href=\"/StyleNoBody.css\">"));
  EXPECT_TRUE(Has(page, "<body bgcolor=\"Black\">"));
  EXPECT_TRUE(Has(page, "<a class=\"linkrow\" href=\"/help\">Help</a>"));
  EXPECT_TRUE(Has(page, "summary=\"Logo Bar\"><tr class=\"logobar\">"));
  EXPECT_TRUE(Has(page, "<a name=\"pagecontent\"></a><div><center><small>"));
  EXPECT_FALSE(Has(page, "HTTP-EQUIV=\"refresh\""));
  // The two defaults a new includes.ini is given are on disk; the weather
  // file is never created.
  const std::string includes = ReadFile(dir_.File("Config/includes.ini"));
  EXPECT_TRUE(Has(includes, "[HEADER.ASP]\r\n"));
  EXPECT_TRUE(Has(includes, "strPageTitle=n/a\r\n"));
  EXPECT_TRUE(Has(includes, "strShowLinks=OldStyle\r\n"));
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
  EXPECT_TRUE(Has(page, "<title>Home - Vaux Aris 700 Status V1.2.3</title>"));
  EXPECT_TRUE(Has(page, "<meta HTTP-EQUIV=\"refresh\" CONTENT=\"30\">"));
  EXPECT_TRUE(Has(page, "<meta name='m'></head>"));
  EXPECT_TRUE(Has(page, "<div id='head'></div><div id='links'></div>"));
  EXPECT_FALSE(Has(page, "class=\"titlebar\""));
  EXPECT_TRUE(Has(page, "alt=\"Sunrise\"> 7:01 AM</td>"));
  EXPECT_TRUE(Has(page, "alt=\"Outside\"> 45&deg;F</td>"));
  EXPECT_TRUE(Has(page,
                  "<a href=\"http://127.0.0.1:8018/help\">h</a>"
                  "<img src='http://127.0.0.1:8018/img/x.gif'>"));
  EXPECT_TRUE(Has(page, "wcontent[0]='<font class=\"pagescrolltext\">Oslo \\x26lt;Snow\\x26gt;"));
  EXPECT_TRUE(Has(page, "wcontent[3]='<font class=\"pagescrolltext\">\\x3cfont color="));
  EXPECT_TRUE(Has(page, ";\ngo();</script>")) << page.substr(0, 3000);
}

TEST_F(Header, ApplianceBrowsersGetTouchScreenFiles) {
  WebFile("meta.htm", "<meta name='desk'>");
  WebFile("meta_touchscreen.htm", "<meta name='touch'>");
  std::string page = Page({}, "User-Agent: Mozilla/4.0 (QNX)\r\n");
  EXPECT_TRUE(Has(page, "<meta name='touch'>"));
  EXPECT_TRUE(Has(page, "<center><table class=\"linkrow\""));
  EXPECT_TRUE(Has(page, "<body style=\"background-color: Black\">"));

  ini_.SaveIniSetting("Settings", "touchscreenips", "10.0.0.9, 127.0.0.1", "Corvane.ini");
  EXPECT_TRUE(Has(Page(), "<meta name='touch'>"));
  ini_.SaveIniSetting("Settings", "touchscreenips", "10.0.0.9", "Corvane.ini");
  EXPECT_TRUE(Has(Page(), "<meta name='desk'>"));
}

TEST_F(Header, BasicSecurityAsksForALogin) {
  ini_.SaveIniSetting("Settings", "usesecurity", "basic", "Corvane.ini");
  ini_.SaveIniSetting("WebUsers", "anna", "x7Qk2:" + Sha256Hex("x7Qk2secret"), "Corvane.ini");
  ini_.SaveIniSetting("header.asp", "logoShowUsername", "Yes", "includes.ini");

  // No login, or a wrong one: a login request, logged, and the post is not
  // acted on.
  for (const std::string& login : {std::string(), Basic("anna:wrong"), Basic("bob:secret"),
                                   std::string("Authorization: Basic !!!\r\n")}) {
    const std::string answer = Answer({{"clientinput", "V13"}, {"clientvalue", "Up"}}, login);
    EXPECT_TRUE(Has(answer, "HTTP/1.1 401 Unauthorized\r\n")) << login;
    EXPECT_TRUE(Has(answer, "WWW-Authenticate: Basic realm=\"Corvane\"\r\n"));
    EXPECT_TRUE(Has(answer, "\r\n\r\n<HTML>Unauthorized Access<HTML>"));
  }
  EXPECT_TRUE(bridge_.cmds.empty());
  EXPECT_TRUE(Has(log_text_.str(), "Anonymous Guest at 127.0.0.1 attempted to access status. "));

  const std::string page =
      Page({{"clientinput", "V13"}, {"clientvalue", "Up"}}, Basic("anna:secret"));
  EXPECT_TRUE(Has(page, "<td class=\"logobar\">User: ANNA</td>"));
  EXPECT_EQ(bridge_.cmds.size(), 1u);
  EXPECT_EQ(page_.header().level(), 10);
}

TEST_F(Header, EnhancedSecurityAndMenusFromTheDatabase) {
  const std::string db = dir_.File("menus.db");
  MakeDatabase(db,
               "CREATE TABLE MenuUsers (UserID TEXT, SecureLevel INTEGER, SecID TEXT, "
               "LastSessTime TEXT);"
               "INSERT INTO MenuUsers VALUES ('anna', 5, '127.0.0.1', NULL);"
               "CREATE TABLE Menus (MenuID INTEGER, MenuItem TEXT, MenuURL TEXT, ParentID "
               "INTEGER, LevelID INTEGER, SecureLevel INTEGER, MenuImage TEXT, SortOrder INTEGER);"
               "INSERT INTO Menus VALUES (1, 'Audio', '/status', 0, 1, 1, '', 2);"
               "INSERT INTO Menus VALUES (2, 'Lights ''n <more>', '/lights', 0, 1, 3, '', 1);"
               "INSERT INTO Menus VALUES (3, 'Secret', '/secret', 0, 1, 9, '', 3);"
               "INSERT INTO Menus VALUES (4, 'Zones', '/zones', 1, 2, 1, '', 1);");
  ini_.SaveIniSetting("Settings", "usesecurity", "Enhanced", "Corvane.ini");
  ini_.SaveIniSetting("Settings", "dbpath", "Data Source=menus.db;Version=3", "Corvane.ini");
  ini_.SaveIniSetting("Settings", "rowstyle", "LINK", "Corvane.ini");
  ini_.SaveIniSetting("header.asp", "useMenuRow", "1", "includes.ini");
  ini_.SaveIniSetting("header.asp", "logpagehits", "1", "includes.ini");

  std::string page = Page();
  EXPECT_EQ(page_.header().user(), "anna");
  EXPECT_EQ(page_.header().level(), 5);
  // Items up to the user's level in their order, then the page's section.
  EXPECT_TRUE(Has(page,
                  "<td class=\"linkrow\"><a href=\"/lights\">Lights &#39;n &lt;more&gt;</a>"
                  "</td><td class=\"linkrow\"><a href=\"/status\">Audio</a></td></tr>"));
  EXPECT_FALSE(Has(page, "Secret"));
  EXPECT_TRUE(Has(page, "<a href=\"/zones\">Zones</a>"));
  EXPECT_TRUE(Has(log_text_.str(), "status was accessed by 127.0.0.1 the user: anna"));
  // Buttons carry the address as a script string.
  ini_.SaveIniSetting("Settings", "rowstyle", "", "Corvane.ini");
  EXPECT_TRUE(Has(Page(),
                  "<input type=\"button\" class=\"linkrowbutton\" value=\"Audio\""
                  "onClick=\"window.parent.location.href='/status'\">"));

  // The session time was written with SQLite's clock.
  sqlite3* handle = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &handle), SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(handle, "SELECT LastSessTime FROM MenuUsers", -1, &stmt, nullptr);
  ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
  EXPECT_NE(sqlite3_column_text(stmt, 0), nullptr);
  sqlite3_finalize(stmt);
  sqlite3_close(handle);

  // A page that asks for more than the user's level is refused before the
  // post is acted on; a client address cannot change the queries.
  MakeDatabase(db, "UPDATE Menus SET SecureLevel = 7 WHERE MenuID = 1;");
  std::string answer = Answer({{"clientinput", "V13"}, {"clientvalue", "Up"}});
  EXPECT_TRUE(Has(answer, "\r\n\r\n<HTML>Unauthorized Access<HTML>"));
  EXPECT_TRUE(bridge_.cmds.empty());
  EXPECT_TRUE(Has(log_text_.str(), "anna at 127.0.0.1 attempted to access status. "));
  // Such a Host is not one of the server's names: the server's gate answers
  // it before the page code runs.
  answer = Get("GET /status HTTP/1.1\r\nHost: x' OR '1'='1\r\n\r\n");
  EXPECT_TRUE(Has(answer, "HTTP/1.1 421 Misdirected Request"));

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
  EXPECT_TRUE(Has(page, "<script>YOffset=100;\nXOffset=0;\n"));
  EXPECT_TRUE(Has(page, "barText=\"HomeSeer Forums\";\n"));

  MakeDatabase(dir_.File("m.db"),
               "CREATE TABLE MenuUsers (UserID TEXT, SecureLevel INTEGER, SecID TEXT, "
               "LastSessTime TEXT);"
               "INSERT INTO MenuUsers VALUES ('anna', 5, '127.0.0.1', NULL);"
               "CREATE TABLE Menus (MenuID INTEGER, MenuItem TEXT, MenuURL TEXT, ParentID "
               "INTEGER, LevelID INTEGER, SecureLevel INTEGER, MenuImage TEXT, SortOrder INTEGER);"
               "INSERT INTO Menus VALUES (1, 'Audio', '/status', 0, 1, 1, '', 1);"
               "CREATE TABLE MenuPOP (MenuID INTEGER, MenuText TEXT, MenuURL TEXT, IsHeader "
               "INTEGER, IsActive INTEGER, UserID TEXT, SortOrder INTEGER);"
               "INSERT INTO MenuPOP VALUES (1, '', '', 0, 1, 'anna', 2);"
               "INSERT INTO MenuPOP VALUES (0, 'Say \"hi\"', '/x', 0, 1, 'anna', 1);"
               "CREATE TABLE MenuPOPPref (UserID TEXT, yoffset TEXT, xoffset TEXT, staticyoffset "
               "TEXT, slidespeed TEXT, waittime TEXT, menuIsStatic TEXT, menuwidth TEXT, barlink "
               "TEXT, bartext TEXT, barwidth TEXT, mouseovercolor TEXT, mouseoutcolor TEXT, "
               "targetwindow TEXT);"
               "INSERT INTO MenuPOPPref VALUES ('anna', '5', 'x;alert(1)', '', '', '', 'no', '', "
               "'', 'My bar', '', '', '', '');");
  ini_.SaveIniSetting("Settings", "usesecurity", "ENHANCED", "Corvane.ini");
  ini_.SaveIniSetting("Settings", "dbpath", dir_.File("m.db"), "Corvane.ini");
  page = Page();
  EXPECT_TRUE(Has(page, "YOffset=5;\nXOffset=0;\n"));
  EXPECT_TRUE(Has(page, "menuIsStatic=\"no\";\n"));
  EXPECT_TRUE(Has(page, "barText=\"My bar\";\n"));
  EXPECT_TRUE(Has(page,
                  "|ssmItems[0]=[\"Say \\x22hi\\x22\",\"/x\",\"\"]\n"
                  "ssmItems[1]=[\"Audio\",\"/status\",\"\"]\n</script>"));
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
  EXPECT_EQ(header.FileContents("nothing.htm"), "No File");
}

}  // namespace
}  // namespace corvane::testing
