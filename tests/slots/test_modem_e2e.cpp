// The real daemon on the simulated board with a stand-in PPP daemon: a
// modem slot switched to a timeslot allocates a DSP modem and starts pppd
// on it; the plug-in's auth request reaches the controller, the controller's
// activation reaches the plug-in; destroy hangs pppd up and frees the modem.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>

#include <fstream>

#include "hardware/board/record.h"
#include "slots/modem_auth.h"
#include "support/e1board_harness.h"
#include "support/modem_standin.h"
#include "test_modem_support.h"

namespace {

using e1test::Answer;
using e1test::Msgs;
using Fill = std::function<void(LGCP::Command&)>;
using Strings = std::vector<std::string>;

constexpr int kOk = -1;

class ModemDaemon : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(d.Ready()) << d.log();
    std::ifstream in("/proc/" + std::to_string(d.daemon().pid()) + "/environ", std::ios::binary);
    for (std::string var; std::getline(in, var, '\0');)
      if (var.rfind("TESSAROD_ROOT=", 0) == 0) root_ = var.substr(14);
    ASSERT_FALSE(root_.empty());
    modemtest::InstallAll(root_);
    ASSERT_TRUE(d.Attach()) << d.log();
  }
  void TearDown() override {
    if (plugin_ >= 0) ::close(plugin_);
  }
  int Ask(unsigned slot, const Fill& fill) {
    LGCP::Message m = e1test::CommandMsg(++seq_, fill);
    m.set_slot(slot);
    d.Clear();
    EXPECT_TRUE(e1test::Send(d.ctl, m));
    d.Wait([](const Msgs& ms) { return Answer(ms) != -2; });
    return Answer(d.Received());
  }
  static Strings Signals(const Msgs& ms) {
    Strings v;
    for (const auto& m : ms)
      if (m.get_pdu().signal_isSelected())
        v.push_back((m.slot_isPresent() ? std::to_string(m.get_slot().getValue()) : "-") + " " +
                    modemtest::Describe(m.get_pdu().get_signal()));
    return v;
  }
  // Connects as the PPP daemon's plug-in; false when another process holds
  // the port (this daemon then has no auth server).
  bool ConnectPlugin() {
    if (d.log().find("fail to bind auth socket") != std::string::npos) return false;
    plugin_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(ModemFactory::kAuthPort);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::connect(plugin_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
  }
  // Reads `bytes` from the plug-in connection as 32-bit words.
  std::vector<uint32_t> ReadWords(std::size_t bytes) {
    timeval tv{3, 0};
    ::setsockopt(plugin_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    std::vector<uint8_t> buf(bytes);
    std::size_t got = 0;
    while (got < bytes) {
      ssize_t n = ::read(plugin_, buf.data() + got, bytes - got);
      if (n <= 0) break;
      got += std::size_t(n);
    }
    std::vector<uint32_t> words;
    for (std::size_t i = 0; i + 4 <= got; i += 4) words.push_back(Board::getBE32(&buf[i]));
    return words;
  }

  e1test::DaemonBench d;
  std::string root_;
  int seq_ = 0;
  int plugin_ = -1;
};

TEST_F(ModemDaemon, DialInCallRunsPppdAndCarriesTheAuthExchange) {
  ASSERT_EQ(Ask(9, [](LGCP::Command& c) {
              TERM::ModemParams& p = c.select_create().select_modem();
              p.set_cid("5550100");
              p.set_cdid("200");
            }), kOk);
  ASSERT_EQ(Ask(4, [](LGCP::Command& c) {
              LGCP::TrunkParams& p = c.select_create().select_trunk();
              p.set_trunk(0);
              p.set_timeslot(5);
            }), kOk);
  ASSERT_EQ(Ask(4, [](LGCP::Command& c) { c.select_connect(9); }), kOk);
  auto modem = [](const Msgs& ms) {
    Strings v;
    for (const auto& s : Signals(ms))
      if (s.rfind("9 ", 0) == 0) v.push_back(s);
    return v;
  };
  d.Wait([&](const Msgs& ms) { return modem(ms).size() >= 2; });
  EXPECT_EQ(modem(d.Received()), Strings({"9 transmitter active 96", "9 receiver active 96"}));
  EXPECT_NE(d.Sim("modems").find("0 ts 96 busy ddm -1 call 0xbb03"), std::string::npos) << d.Sim("modems");
  ASSERT_TRUE(startup_test::waitFor([&] { return !modemtest::Args(root_, "pppd").empty(); }));
  EXPECT_EQ(modemtest::Args(root_, "pppd"),
            Strings({"file", "/usr/local/etc/ppp/aoptions", "/dev/mdm0", "remotenumber", "5550100"}));

  if (ConnectPlugin()) {
    attr auth(attr::kAuthRequestSize, attr::AuthRequest, 0);
    auth.setText(attr::kUserOffset, attr::kTextField, "dialer");
    auth.setText(attr::kPasswordOffset, attr::kTextField, "pw1");
    d.Clear();
    ASSERT_EQ(::write(plugin_, auth.data(), auth.length()), ssize_t(auth.length()));
    d.Wait([](const Msgs& ms) { return !Signals(ms).empty(); });
    EXPECT_EQ(Signals(d.Received()), Strings({"9 auth dialer pw1"}));

    ASSERT_EQ(Ask(9, [](LGCP::Command& c) {
                TERM::ModemUserParameters& u = c.select_activate().select_modem();
                u.set_remoteAddr("192.168.5.20");
                u.set_netmask("255.255.255.255");
                u.set_gateway("192.168.5.1");
                u.set_dns("192.168.5.2");
                u.set_mtu(1492);
              }), kOk);
    EXPECT_EQ(ReadWords(16 + 36), (std::vector<uint32_t>{16, 2, 0, 1, 36, 3, 0, 0, 0xC0A80514, 0xFFFFFFFF,
                                                         0xC0A80501, 0xC0A80502, 1492}));
  } else {
    std::cout << "[   NOTE   ] port 52000 held by another process: auth exchange not checked" << std::endl;
  }

  const std::string log = d.log();
  const std::size_t at = log.find("pid=", log.find("pppd executed"));
  ASSERT_NE(at, std::string::npos) << log;
  const int pid = std::atoi(log.c_str() + at + 4);
  ASSERT_EQ(Ask(9, [](LGCP::Command& c) { c.select_destroy(); }), kOk);
  EXPECT_TRUE(startup_test::waitFor([&] { return ::kill(pid, 0) != 0; })) << "pppd still running";
  EXPECT_NE(d.log().find("09:dsp-modem: pppd terminated with code 1"), std::string::npos) << d.log();
  EXPECT_NE(d.Sim("modems").find("0 ts 96 free"), std::string::npos) << d.Sim("modems");
}

}  // namespace
