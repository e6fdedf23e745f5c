#include "device/vaux_port.h"

#include "link_fixture.h"

namespace corvane {
namespace {

using ::testing::ElementsAre;

class PortTest : public LinkTest {
 protected:
  PortTest() {
    port_.SetLineHandler([this](const std::string& line) { lines_.push_back(line); });
  }
  std::vector<std::string> lines_;
};

TEST_F(PortTest, FramingCutsLinesAtCrLf) {
  port_.CommReceive("VS00\r\nVI", 2);
  EXPECT_THAT(lines_, ElementsAre("VS00"));
  EXPECT_EQ(port_.ReceiveBuffer(), "VI");
  port_.CommReceive("80\r\nVX\r\n", 2);
  EXPECT_THAT(lines_, ElementsAre("VS00", "VI80"));
  EXPECT_EQ(port_.ReceiveBuffer(), "VX");
  port_.CommReceive("0101\r\nVI 80\r\nVS\r12\r\n", 2);  // a VX line joins the next one
  EXPECT_THAT(lines_, ElementsAre("VS00", "VI80", "VX0101", "VI80", "VS\r12"));
  // While a line is being decoded (or during start-up) lines wait.
  port_.SetResponseBusy(true);
  port_.CommReceive("VI81\r\n", 2);
  EXPECT_EQ(lines_.size(), 5u);
  port_.SetResponseBusy(false);
  port_.CommReceive("VI82\r\n", 2);
  EXPECT_THAT(lines_, ElementsAre("VS00", "VI80", "VX0101", "VI80", "VS\r12", "VI81", "VI82"));
  // Other event codes carry no data.
  port_.CommReceive("", 1006);
  EXPECT_TRUE(Logged("Vaux Comm Event Code=1006"));
}

TEST_F(PortTest, AFullBufferWithoutLineEndIsDiscarded) {
  port_.CommReceive(std::string(2500, 'Z'), 2);
  EXPECT_EQ(port_.ReceiveBuffer().size(), 2500u);
  port_.CommReceive("VI80\r\n", 2);
  EXPECT_THAT(lines_, ElementsAre("VI80"));
  EXPECT_TRUE(Logged("Vaux receive buffer discarded: 2500 characters without a line end"));
  // A full buffer whose lines wait (decoding busy) keeps them and drops the new data.
  port_.SetResponseBusy(true);
  port_.CommReceive(std::string(1990, 'A') + "\r\n" + std::string(20, 'B'), 2);
  port_.CommReceive("lost\r\n", 2);
  port_.SetResponseBusy(false);
  port_.CommReceive("dropped too\r\n", 2);  // still full: dropped, but the lines are decoded
  ASSERT_EQ(lines_.size(), 2u);
  EXPECT_EQ(lines_[1].size(), 1990u);
  EXPECT_EQ(port_.ReceiveBuffer(), std::string(20, 'B'));
  port_.CommReceive("\r\n", 2);
  EXPECT_EQ(lines_.back(), std::string(20, 'B'));
}

TEST_F(PortTest, EchoOfSentAndReceivedText) {
  EXPECT_EQ(VauxPort::EchoHex("VPFE520100"), "VP FE 52 01 00 ");
  EXPECT_EQ(VauxPort::EchoHex("V\rPX;"), "V<0D>PX ;");
  echo_.EchoMessage(VauxPort::EchoHex("VPFE520100"));
  EXPECT_EQ(echo_.CommData(),
            "\r\nSent to Vaux VP FE 52 01 00     <2026-06-12 08:05:09 29109>\r\n");
  echo_.InsertBeforeLastLineEnd("<try 2>");
  EXPECT_EQ(echo_.CommData().substr(echo_.CommData().size() - 10), ">\x3ctry 2>\r\n");
  const std::string long_line(100, 'X');
  port_.CommReceive(long_line + "\r\nVS 01", 2);
  const std::string& text = echo_.CommData();
  EXPECT_NE(text.find(std::string(92, 'X') + "<08:05:09 29109>\r\nVS01"), std::string::npos);
  EXPECT_EQ(text.find(std::string(93, 'X')), std::string::npos);
  // Frozen: nothing is echoed, but the data is still framed.
  echo_.SetFreeze(true);
  port_.CommReceive("\r\n", 2);
  EXPECT_EQ(echo_.CommData(), text);
  EXPECT_EQ(lines_.back(), "VS01");
  // The text keeps its last 10,000 characters.
  echo_.SetFreeze(false);
  for (int i = 0; i < 200; ++i) echo_.EchoMessage(std::string(60, 'a' + i % 26));
  EXPECT_EQ(echo_.CommData().size(), EchoWindow::kMaxText);
  EXPECT_NE(echo_.CommData().find(std::string(60, 'a' + 199 % 26) + "    <"), std::string::npos);
}

TEST_F(PortTest, TcpOpenRetriesForTwelveSecondsThenGivesUp) {
  tcp_.peer = FakeTcpClient::Peer::kRefuse;
  const int64_t start = clock_.NowMs();
  EXPECT_FALSE(port_.OpenCommPort("4001"));
  EXPECT_EQ(clock_.NowMs() - start, 12000);
  EXPECT_EQ(tcp_.connect_count, 6);
  EXPECT_EQ(tcp_.host, "127.0.0.1");
  EXPECT_EQ(tcp_.port, 4001);
  EXPECT_EQ(echo_.aOpenStatus(), "Port Not Connected");
  EXPECT_TRUE(Logged("Unable to connect to Vaux Aris 700 via TCP 4001"));
  EXPECT_TRUE(Logged("Vaux Winsock1_Error at State 9, 111 Connection refused"));
  // A peer that answers the third connect.
  tcp_.connect_count = 0;
  tcp_.peer = FakeTcpClient::Peer::kSilent;
  loop_.Defer([] {});
  int ticks = 0;
  tcp_.on_send = nullptr;
  Timer accept_later(loop_, [&] {
    if (++ticks == 2) tcp_.peer = FakeTcpClient::Peer::kAccept;
  });
  accept_later.SetInterval(2000);
  accept_later.Start();
  EXPECT_TRUE(port_.OpenCommPort("4001"));
  EXPECT_EQ(tcp_.connect_count, 4);
  EXPECT_EQ(echo_.aOpenStatus(), "Port Open / 3 tries");
}

TEST_F(PortTest, TcpLinkDroppedByThePeerIsOpenedAgain) {
  Open();
  EXPECT_EQ(tcp_.connect_count, 1);
  tcp_.Drop();
  loop_.PumpUntil([] { return false; }, clock_.NowMs() + 10);
  EXPECT_EQ(tcp_.connect_count, 2);
  EXPECT_TRUE(Logged("Vaux IP Connection Closed 8"));
  EXPECT_TRUE(port_.IsOpen());
  // A send finds the link down and reopens it first.
  tcp_.Close();
  EXPECT_TRUE(port_.PortSend("VPFE520100"));
  EXPECT_EQ(tcp_.connect_count, 3);
  EXPECT_THAT(tcp_.sent, ElementsAre("VPFE520100"));
  // While the program is closing a lost link stays closed, silently.
  exiting_ = true;
  err_.str("");
  tcp_.Drop();
  loop_.PumpUntil([] { return false; }, clock_.NowMs() + 60000);
  EXPECT_EQ(tcp_.connect_count, 3);
  EXPECT_EQ(err_.str(), "");
}

TEST_F(PortTest, AnAdapterThatClosesEveryConnectionIsReopenedWithGrowingPauses) {
  settings_.debug_log = false;
  Open();
  tcp_.peer = FakeTcpClient::Peer::kAcceptThenClose;
  tcp_.Drop();
  // Every connect, for ten minutes.
  const int64_t start = clock_.NowMs();
  const int64_t end = start + 10 * 60000;
  std::vector<int64_t> pauses;
  int64_t last = start;
  for (int seen = tcp_.connect_count; clock_.NowMs() < end;) {
    loop_.PumpUntil([&] { return tcp_.connect_count != seen; }, end);
    if (tcp_.connect_count == seen) break;
    seen = tcp_.connect_count;
    pauses.push_back(clock_.NowMs() - last);
    last = clock_.NowMs();
    // A send while the next reopen waits fails at once, without a connect.
    if (pauses.size() == 4) {
      loop_.PumpUntil([] { return false; }, clock_.NowMs() + 10);
      EXPECT_TRUE(port_.ReconnectPending());
      const int64_t before = clock_.NowMs();
      EXPECT_FALSE(port_.PortSend("VPFE520100"));
      EXPECT_EQ(clock_.NowMs(), before);
      EXPECT_EQ(tcp_.connect_count, seen);
    }
  }
  ASSERT_GE(pauses.size(), 10u);
  const std::vector<int64_t> expected = {2000, 4000, 8000, 16000, 30000, 30000, 30000};
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_GE(pauses[i + 1], expected[i]) << i;
    EXPECT_LE(pauses[i + 1], expected[i] + 10) << i;
  }
  EXPECT_LE(pauses[0], 10);           // the first reopen comes at once
  EXPECT_LE(pauses.size(), 5u + 600u / 30u);  // at most two a minute after the first
  // One report for the loss, not one per attempt.
  EXPECT_EQ(Reported("Vaux IP Connection Closed"), 1u);
  EXPECT_EQ(Reported("Unable to connect"), 0u);

  // The adapter mends: the link that stays up is reported once, and its
  // next loss is reported again and reopened at once.
  tcp_.peer = FakeTcpClient::Peer::kAccept;
  loop_.PumpUntil([&] { return port_.IsOpen(); }, clock_.NowMs() + 31000);
  ASSERT_TRUE(port_.IsOpen());
  loop_.PumpUntil([] { return false; }, clock_.NowMs() + VauxPort::kLinkStableMs);
  EXPECT_EQ(Reported("Vaux Aris 700 Comm Port 4001 Opened"), 1u);
  const int before = tcp_.connect_count;
  tcp_.Drop();
  loop_.PumpUntil([&] { return tcp_.connect_count > before; }, clock_.NowMs() + 100);
  EXPECT_EQ(tcp_.connect_count, before + 1);
  EXPECT_TRUE(port_.IsOpen());
  EXPECT_EQ(Reported("Vaux IP Connection Closed"), 2u);
}

TEST_F(PortTest, PortTextsAndSerialLines) {
  // No number, no port: nothing is touched.
  EXPECT_FALSE(port_.OpenCommPort("COM1"));
  EXPECT_FALSE(port_.OpenCommPort(""));
  EXPECT_EQ(tcp_.connect_count, 0);
  settings_.serial_ip = "";
  EXPECT_FALSE(port_.OpenCommPort("COM1"));
  EXPECT_EQ(serial_.open_count, 0);

  EXPECT_TRUE(port_.InitCommPort("3"));
  EXPECT_EQ(serial_.opened_device, "/dev/ttyS2");
  EXPECT_EQ(serial_.opened_line.baud, 9600);
  EXPECT_EQ(serial_.opened_line.parity, 'n');
  EXPECT_TRUE(Logged("Vaux Aris 700 Comm Port 3 Opened"));
  EXPECT_TRUE(port_.PortSend("VPFE520100"));
  EXPECT_THAT(serial_.written, ElementsAre("VPFE520100"));

  serial_.Close();
  settings_.serial_settings = "19200,E,7,2";
  EXPECT_TRUE(port_.OpenCommPort("/dev/serial/by-id/usb-vaux"));
  EXPECT_EQ(serial_.opened_device, "/dev/serial/by-id/usb-vaux");
  EXPECT_EQ(serial_.opened_line.baud, 19200);
  EXPECT_EQ(serial_.opened_line.parity, 'e');
  EXPECT_EQ(serial_.opened_line.data_bits, 7);
  EXPECT_EQ(serial_.opened_line.stop_bits, 2);

  // The device goes away: reported, sends find it closed, and it is
  // reopened in the background.
  const int opens = serial_.open_count;
  serial_.Arrive("Input/output error", SerialPort::kDeviceLostEvent);
  loop_.Pump();
  EXPECT_TRUE(Logged("Vaux Aris 700 Comm Port 4001 closed: Input/output error"));
  EXPECT_FALSE(port_.PortSend("VPFE520100"));
  EXPECT_TRUE(Logged("Unable to Send to Vaux Aris 700, Port 4001 not open"));
  loop_.WaitMs(10);
  EXPECT_TRUE(serial_.IsOpen());
  EXPECT_EQ(serial_.open_count, opens + 1);

  serial_.Close();
  settings_.serial_settings = "fast";
  serial_.open_result = false;
  EXPECT_FALSE(port_.InitCommPort("2"));
  EXPECT_TRUE(Logged("SerialSettings 'fast' is not baud,parity,data bits,stop bits"));
  EXPECT_TRUE(Logged("Error Opening Vaux Arix 700 Comm Port number  2"));
  EXPECT_FALSE(ParseSerialSettings("9600,x,8,1"));
  EXPECT_FALSE(ParseSerialSettings("9601,n,8,1"));
  EXPECT_TRUE(ParseSerialSettings(" 115200 , O , 8 , 1.5 "));
}

TEST_F(PortTest, AVanishedSerialDeviceIsReopenedSoonAfterItReappears) {
  // A device path (a by-id link, say) that is gone: the back-off grows, but
  // the path's return is noticed within a second.
  settings_.serial_ip = "";
  settings_.upb_comm_port = dir_.File("usb-vaux");
  serial_.open_result = false;
  EXPECT_FALSE(port_.InitCommPort(settings_.upb_comm_port));
  loop_.WaitMs(40000);  // pauses of 2, 4, 8, 16, 30 s: the next try is far off
  const int opens = serial_.open_count;
  testing::WriteFile(dir_.File("usb-vaux"), "");
  serial_.open_result = true;
  const int64_t back = clock_.NowMs();
  loop_.PumpUntil([&] { return serial_.IsOpen(); }, back + 5000);
  EXPECT_TRUE(serial_.IsOpen());
  EXPECT_LE(clock_.NowMs() - back, VauxPort::kDeviceLookMs + 10);
  EXPECT_EQ(serial_.open_count, opens + 1);
}

}  // namespace
}  // namespace corvane
