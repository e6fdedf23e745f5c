// The real program's web server on loopback, plain and HTTPS (a certificate
// made at run time, curl as the client): the gate and the security headers
// seen from outside, and abuse that must leave it serving without leaking
// connections. The writers' exact answers, half-closed clients and the help
// files are pinned on the fake transport (tcp_server_test, response_test)
// and the real socket (posix_tcp_test).
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "support/loopback.h"
#include "support/process.h"
#include "support/temp_dir.h"
#include "web/response.h"

namespace corvane::testing {
namespace {

using namespace std::chrono_literals;

// Reads until the server closes (or `timeout` passes).
std::string ReadAll(int fd, std::chrono::milliseconds timeout = 5s) {
  std::string out;
  auto end = std::chrono::steady_clock::now() + timeout;
  char buf[65536];
  while (std::chrono::steady_clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

// Sends each packet (a short pause between them) and reads the answer.
std::string Exchange(uint16_t port, const std::vector<std::string>& packets) {
  int fd = testing::ConnectLoopbackTcp(port);
  if (fd < 0) return "<no connection>";
  for (size_t i = 0; i < packets.size(); ++i) {
    if (i > 0) std::this_thread::sleep_for(20ms);
    ::send(fd, packets[i].data(), packets[i].size(), MSG_NOSIGNAL);
  }
  std::string answer = ReadAll(fd);
  ::close(fd);
  return answer;
}

size_t OpenDescriptors(pid_t pid) {
  size_t n = 0;
  std::filesystem::directory_iterator it("/proc/" + std::to_string(pid) + "/fd"), end;
  for (; it != end; ++it) ++n;
  return n;
}

class WebServerProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    port_ = testing::FreeTcpPort();
    std::filesystem::create_directories(home_.File("Config"));
    std::filesystem::create_directories(home_.File("HTML/img"));
    secure_port_ = testing::FreeTcpPort();
    ASSERT_EQ(std::system(("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 "
                           "-nodes -days 1 -subj /CN=localhost -keyout " +
                           home_.File("Config/key.pem") + " -out " + home_.File("Config/cert.pem") +
                           " 2>/dev/null")
                              .c_str()),
              0);
    WriteFile(home_.File("Config/Corvane.ini"),
              "[Vaux]\r\nHTTPPort=" + std::to_string(port_) +
                  "\r\nHTTPBindAddress=127.0.0.1\r\nHTTPSPort=" + std::to_string(secure_port_) +
                  "\r\nTLSCertificate=Config/cert.pem\r\nTLSKey=Config/key.pem\r\n");
    WriteLoopbackXapConfig(home_.path(), "127.0.0.1");
    WriteFile(home_.File("HTML/StyleNoBody.css"), "body { color: black; }\n");
    WriteFile(home_.File("HTML/img/big.gif"), std::string(4 * 1024 * 1024, 'b'));
    // Start-up has ended (every socket of the program is open) once it says so.
    ASSERT_TRUE(StartCorvane(program_, home_.path())) << program_.Stderr();
  }
  void TearDown() override { EXPECT_EQ(program_.Stop(SIGTERM), 0) << program_.Stderr(); }

  TempDir home_;
  Subprocess program_;
  uint16_t port_ = 0;
  uint16_t secure_port_ = 0;
};

// What curl prints: by default the status code, then each answer's headers.
std::string Curl(const std::string& args, const std::string& what = "-o /dev/null -D - ") {
  std::string out;
  if (FILE* p = ::popen(("curl -sk -m 5 " + what + args).c_str(), "r")) {
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

// The gate's verdicts are pinned on the fake transport (tcp_server_test);
// here HTTPS, whose scheme is part of the origin a write must come from.
TEST_F(WebServerProgram, HttpsServesThePagesAndTakesWritesFromItsOwnOrigin) {
  const std::string plain = "http://127.0.0.1:" + std::to_string(port_);
  const std::string secure = "https://127.0.0.1:" + std::to_string(secure_port_);
  // The page's own form token: a save without it is refused by the page.
  const std::string page = Curl(secure + "/status", "");
  const size_t at = page.find("name='FormToken' value='");
  ASSERT_NE(at, std::string::npos);
  const std::string token = page.substr(at + 24, page.find('\'', at + 24) - at - 24);
  const std::string save =
      " -d clientinput=yes -d UpdateButton=Save+Changes -d ShowSetup=1 -d FormToken=" + token + " ";
  EXPECT_EQ(Curl(save + "-H 'Origin: " + plain + "' " + secure + "/status").substr(0, 12),
            "HTTP/1.1 403");
  EXPECT_FALSE(Has(ReadFile(home_.File("Config/Corvane.ini")), "ShowSetup"));
  EXPECT_EQ(Curl(save + "-H 'Origin: " + secure + "' " + secure + "/status").substr(0, 12),
            "HTTP/1.1 200");
  EXPECT_TRUE(Has(ReadFile(home_.File("Config/Corvane.ini")), "ShowSetup=True"));
  const std::string css = Curl(secure + "/stylenobody.css");
  EXPECT_TRUE(Has(css, std::string(kSecurityHeaders)));
  EXPECT_TRUE(Has(css, "Content-Type: text/css\r\n"));
}

TEST_F(WebServerProgram, AbuseLeavesTheServerServingWithoutLeakingConnections) {
  const size_t descriptors = OpenDescriptors(program_.pid());
  std::string fields;
  for (int i = 0; i < 5000; ++i) {
    const std::string n = std::to_string(i);
    fields.append("f").append(n).append("=").append(n).append("&");
  }
  const std::vector<std::vector<std::string>> abuse = {
      {"GET\r\n\r\n"},
      {"GET /status\r\n\r\n"},
      {std::string("\x01\x02\x00\xff\xfe \x80/\x00 HTTP\r\n\r\n", 18)},
      {"GET /stylenobody.css HTTP/1.1\r\nNo colon here\r\n: \r\nA: b: c\r\n\r\n"},
      {"GET /" + std::string(100 * 1024, 'x') + " HTTP/1.1\r\n\r\n"},
      {"GET /status?a=% HTTP/1.1\r\n\r\n"},
      {"GET /status?a=1&a=2&A=3&a=4 HTTP/1.1\r\n\r\n"},
      {"POST /status HTTP/1.1\r\nContent-Length: " + std::to_string(fields.size()) + "\r\n\r\n",
       fields},
      {"POST /status HTTP/1.1\r\nContent-Length: 3\r\n\r\n", "a=1", "&b=2&c=3"},
      {"POST /status HTTP/1.1\r\nContent-Length: -5\r\n\r\nx=1"},
      {"POST /status HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\nx=1"},
  };
  for (const auto& packets : abuse) {
    EXPECT_NE(Exchange(port_, packets), "<no connection>");
  }
  // Plain text on the HTTPS port fails its handshake and is closed.
  EXPECT_EQ(Exchange(secure_port_, {"GET / HTTP/1.1\r\n\r\n"}), "");

  // 25 idle connections, then a client that leaves in the middle of a
  // chunked file.
  std::vector<int> idle;
  for (int i = 0; i < 25; ++i) idle.push_back(testing::ConnectLoopbackTcp(port_));
  std::this_thread::sleep_for(100ms);
  int leaver = testing::ConnectLoopbackTcp(port_);
  const std::string get_big = "GET /img/big.gif HTTP/1.1\r\nHost: a\r\n\r\n";
  ::send(leaver, get_big.data(), get_big.size(), MSG_NOSIGNAL);
  char buf[4096];
  ASSERT_GT(::recv(leaver, buf, sizeof buf, 0), 0);
  ::close(leaver);
  for (int fd : idle) ::close(fd);

  const std::string css = Exchange(port_, {"GET /StyleNoBody.css HTTP/1.1\r\n\r\n"});
  EXPECT_EQ(css.substr(0, 17), "HTTP/1.0 200 OK\r\n");
  EXPECT_TRUE(Has(css, "body { color: black; }"));
  EXPECT_TRUE(Eventually([&] { return OpenDescriptors(program_.pid()) == descriptors; }, 10s))
      << OpenDescriptors(program_.pid()) << " descriptors, " << descriptors << " at start";
  EXPECT_TRUE(program_.Running());
}

}  // namespace
}  // namespace corvane::testing
