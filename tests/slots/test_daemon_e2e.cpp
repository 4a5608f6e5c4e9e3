// The real daemon on the simulated board, driven by a controller, with the
// board read and played through the simulator's control socket: slot kinds
// that carry data, reports or helper programs, switched with trunk
// timeslots and destroyed; stand-in helper programs under the daemon's root.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <map>
#include <sstream>

#include "hardware/board/record.h"
#include "slots/modem_auth.h"
#include "slots_test_support.h"
#include "support/e1board_harness.h"
#include "support/loopback.h"
#include "modem_standin.h"
#include "support/rtp_peer.h"
#include "t38_standin.h"

namespace {

using namespace slottest::fills;
using e1test::Msgs;
using Strings = std::vector<std::string>;
using startup_test::waitFor;

constexpr int kOk = -1;
constexpr int kRefused = LGCP::ErrorCause::insufficientResources;
constexpr int kNotExists = LGCP::ErrorCause::slotNotExists;
constexpr int kConnectFail = LGCP::ErrorCause::connectFail;

class Daemon : public e1test::DaemonTest {
 protected:
  void Prepare(const std::string& root) override {
    modemtest::InstallAll(root);
    t38test::InstallEngine(root);
  }
  // "<slot> <signal>" for the signals of a slot received since the last
  // command (trunk reports come at any time and are left out).
  Strings Signals(int slot) const {
    Strings v;
    for (const auto& m : d.Received())
      if (m.get_pdu().signal_isSelected() && m.slot_isPresent() && int(m.get_slot().getValue()) == slot)
        v.push_back(std::to_string(slot) + " " + slottest::Describe(m.get_pdu().get_signal()));
    return v;
  }
  bool AwaitSignals(std::size_t n, int slot) {
    return d.Wait([&](const Msgs&) { return Signals(slot).size() >= n; });
  }
  bool Xpoint(int output, int source) {
    return d.SimHas("xpoints", std::to_string(output) + " " + std::to_string(source));
  }
  // A frame ending with `tail` (lower-case hex) left towards the far end.
  bool FrameOut(int output, const std::string& tail) {
    return waitFor([&] {
      std::istringstream in(d.Sim("frames " + std::to_string(output)));
      for (std::string f; std::getline(in, f);)
        if (f.size() >= tail.size() && f.compare(f.size() - tail.size(), tail.size(), tail) == 0) return true;
      return false;
    }, 5000);
  }
  bool LogHas(const std::string& text) {
    return waitFor([&] { return d.log().find(text) != std::string::npos; }, 5000);
  }
  // The controller channels the board holds: channel -> type.
  std::map<int, int> Channels() {
    std::map<int, int> m;
    std::istringstream in(d.Sim("channels"));
    int ch, type;
    for (std::string word; in >> ch >> word >> type; std::getline(in, word)) m[ch] = type;
    return m;
  }
};

TEST_F(Daemon, RtpSlotIsSwitchedReportsAndEnds) {
  rtptest::UdpPort peer;
  const unsigned local = rtptest::FreeRtpPort();
  ASSERT_EQ(Ask(10, Rtp(peer.port - 1, int(local))), kOk) << d.log();
  ASSERT_TRUE(AwaitSignals(1, 10));
  const std::string first = Signals(10)[0], chs = first.substr(first.rfind(' ') + 1);
  ASSERT_EQ(first.rfind("10 transmitter active ", 0), 0u) << first;

  ASSERT_EQ(Ask(11, Timeslot(0, 5)), kOk);
  ASSERT_EQ(Ask(10, ConnectTo(11)), kOk);
  ASSERT_EQ(Ask(11, ConnectTo(10)), kOk);
  EXPECT_TRUE(d.SimHas("xpoints", "5 " + chs) && d.SimHas("xpoints", chs + " 5")) << d.Sim("xpoints");
  std::string sessions = d.Sim("rtp-sessions");
  EXPECT_NE(sessions.find("channel " + chs + " begun rx=8 tx=8"), std::string::npos) << sessions;
  EXPECT_NE(sessions.find("input=on begins=1"), std::string::npos) << sessions;
  // Detector events on the channel reach the controller.
  ASSERT_EQ(Ask(10, [](LGCP::Command& c) { c.select_ioctl().select_dtmf_enable(true); }), kOk);
  ASSERT_EQ(Ask(10, [](LGCP::Command& c) { c.select_ioctl().select_vad_enable(true); }), kOk);
  d.Clear();
  EXPECT_NE(d.Sim("dtmf-event " + chs + " 9").find("ok"), std::string::npos);
  EXPECT_NE(d.Sim("dsp-vad " + chs + " 1 1 0").find("ok"), std::string::npos);
  EXPECT_TRUE(AwaitSignals(2, 10));
  EXPECT_EQ(Signals(10).size(), 2u);
  EXPECT_NE(Signals(10)[0].find(" dtmf 9"), std::string::npos) << Signals(10)[0];
  EXPECT_EQ(Signals(10)[1].rfind("10 vad rx=1", 0), 0u) << Signals(10)[1];

  ASSERT_EQ(Ask(10, Destroy), kOk);
  EXPECT_TRUE(waitFor([&] { return d.Sim("rtp-sessions") == "ok\n"; })) << d.Sim("rtp-sessions");
  EXPECT_FALSE(d.SimHas("xpoints", "5 " + chs));
}

TEST_F(Daemon, MultichannelSlotsCarryDataAndGiveTheirChannelBack) {
  ASSERT_EQ(d.Sim("mcc-next 1100"), "ok\n");
  ASSERT_EQ(Ask(1, Create(Mcc())), kOk);
  ASSERT_EQ(Ask(2, Create(Mcc(LGCP::MccType::bri))), kOk);
  ASSERT_EQ(Ask(3, Create(Mcc(LGCP::MccType::transparent, LGCP::MccMode::ss7))), kOk);
  std::map<int, int> held = Channels();
  ASSERT_EQ(held.size(), 3u) << d.Sim("channels");
  EXPECT_EQ(held[1100], 0);

  ASSERT_EQ(Ask(4, Timeslot(0, 5)), kOk);
  ASSERT_EQ(Ask(4, ConnectTo(1)), kOk);
  ASSERT_EQ(Ask(1, ConnectTo(4)), kOk);
  d.Clear();
  EXPECT_EQ(d.Sim("inject 5 68656c6c6f"), "outputs 1\nok\n");
  EXPECT_EQ(d.Sim("inject 5 776f726c64"), "outputs 1\nok\n");
  EXPECT_TRUE(AwaitSignals(2, 1));
  EXPECT_EQ(Signals(1), Strings({"1 data hello", "1 data world"}));
  ASSERT_EQ(Ask(1, [](LGCP::Command& c) { c.select_userData(std::vector<char>{'a', 'b', 'c'}); }), kOk);
  EXPECT_TRUE(waitFor([&] { return d.Sim("frames 5") == "616263\nok\n"; }));

  ASSERT_EQ(Ask(1, Destroy), kOk);
  EXPECT_TRUE(waitFor([&] { return Channels().count(1100) == 0; })) << d.Sim("channels");
  EXPECT_EQ(Channels().size(), 2u);
}

TEST_F(Daemon, Ss7LinkAlignsCarriesDataReportsAndFailsWithItsTrunk) {
  ASSERT_NE(d.Sim("e1 0 normal").find("ok"), std::string::npos);
  ASSERT_EQ(Ask(1, Timeslot(0, 16)), kOk);
  ASSERT_EQ(Ask(2, Create(Ss7(1, 0, 11, 22))), kOk);  // the board's trunk 0
  ASSERT_EQ(Ask(1, ConnectTo(2)), kOk);
  ASSERT_TRUE(FrameOut(16, "ffff0100")) << d.log();  // out of alignment first
  // The far end: normal alignment, proving on the driven clock, a fill-in.
  d.Clear();
  ASSERT_NE(d.Sim("inject 16 ffff0101").find("outputs 1"), std::string::npos) << d.Sim("xpoints");
  ASSERT_TRUE(FrameOut(16, "ffff0101"));
  ASSERT_NE(d.Sim("clock 8200").find("ok"), std::string::npos);
  ASSERT_TRUE(FrameOut(16, "ffff00"));
  d.Sim("inject 16 ffff00");
  ASSERT_TRUE(d.SignalCame(2, [](const LGCP::Signal& s) { return s.activated_isSelected(); })) << d.log();
  d.Clear();
  ASSERT_EQ(Ask(2, [](LGCP::Command& c) { c.select_userData(std::vector<char>{char(0x83), 1, 2, 3}); }), kOk);
  ASSERT_TRUE(FrameOut(16, "ff800483010203")) << d.log();
  d.Clear();
  d.Sim("inject 16 80800403090807");
  ASSERT_TRUE(d.SignalCame(2, [](const LGCP::Signal& s) {
    return s.userData_isSelected() && s.get_userData() == std::vector<char>{3, 9, 8, 7};
  })) << d.log();
  // Statistics every 3000 ms of the loop clock.
  d.Clear();
  ASSERT_NE(d.Sim("clock 3000").find("ok"), std::string::npos);
  EXPECT_TRUE(d.SignalCame(2, [](const LGCP::Signal& s) {
    return s.ioctl_isSelected() && s.get_ioctl().hdlcLinkInfo_isSelected() &&
           s.get_ioctl().get_hdlcLinkInfo().get_rxSU().getValue() == 3;
  })) << d.log();
  EXPECT_TRUE(d.SignalCame(2, [](const LGCP::Signal& s) {
    return s.ioctl_isSelected() && s.get_ioctl().ss7LinkInfo_isSelected() &&
           s.get_ioctl().get_ss7LinkInfo().get_ss7state().is_worked();
  })) << d.log();
  d.Clear();
  ASSERT_NE(d.Sim("e1 0 lossCarrier").find("ok"), std::string::npos);
  ASSERT_NE(d.Sim("clock 1000").find("ok"), std::string::npos);
  EXPECT_TRUE(d.SignalCame(2, [](const LGCP::Signal& s) { return s.deactivated_isSelected(); })) << d.log();
  EXPECT_TRUE(LogHas("SS7/L2 [dpc=11, slc=0, trunk=1]"));
}

TEST_F(Daemon, IsdnSlotEstablishesItsDataLink) {
  ASSERT_EQ(Ask(4, Timeslot(0, 20)), kOk);
  ASSERT_EQ(Ask(3, Create(Isdn(false, false))), kOk);
  ASSERT_EQ(Ask(3, ConnectTo(4)), kOk);
  ASSERT_EQ(Ask(4, ConnectTo(3)), kOk);
  ASSERT_EQ(Ask(3, Activate), kOk);
  ASSERT_TRUE(FrameOut(20, "00017f")) << d.log();  // SABME, poll bit, TEI 0
  d.Clear();
  d.Sim("inject 20 000173");  // UA
  EXPECT_TRUE(d.SignalCame(3, [](const LGCP::Signal& s) { return s.activated_isSelected(); })) << d.log();
}

TEST_F(Daemon, MixerSlotsAreFoundSwitchedAndReleased) {
  EXPECT_EQ(Ask(2, Create(In(0, 4))), kRefused);  // no unit known before the first query
  std::vector<std::pair<int, int>> units;
  const LGCP::Resources resources = d.Query();
  for (const auto& u : resources.get_mixer()) units.emplace_back(u.get_unit().getValue(), u.get_tdm_inputs().getValue());
  EXPECT_EQ(units, (std::vector<std::pair<int, int>>{{0, 32}, {1, 32}}));
  ASSERT_EQ(Ask(1, Timeslot(0, 3)), kOk);
  ASSERT_EQ(Ask(2, Create(In(0, 4, [](LGCP::MixerInParams& p) { p.set_summator(Ch(20)); }))), kOk);
  ASSERT_EQ(Ask(3, Create(Out(0, Ch(5), {{Ch(4), 100}}))), kOk);
  EXPECT_EQ(Ask(4, Create(In(0, 40))), kRefused);
  EXPECT_TRUE(d.SimHas("mixer-routes", "0 20 4 32767") && d.SimHas("mixer-routes", "0 5 4 100"))
      << d.Sim("mixer-routes");
  ASSERT_EQ(Ask(1, ConnectTo(2)), kOk);
  ASSERT_EQ(Ask(3, ConnectTo(1)), kOk);
  EXPECT_TRUE(Xpoint(516, 3) && Xpoint(3, 517)) << d.Sim("xpoints");  // unit 0 from timeslot 512 on
  EXPECT_EQ(Ask(2, ConnectTo(3)), kConnectFail);  // an input transmits nothing
  ASSERT_EQ(Ask(2, Destroy), kOk);
  EXPECT_FALSE(d.SimHas("mixer-routes", "0 20 4 32767") || Xpoint(516, 3)) << d.Sim("mixer-routes");
  ASSERT_EQ(Ask(3, Destroy), kOk);
  EXPECT_EQ(d.Sim("mixer-routes"), "ok\n");
  EXPECT_FALSE(Xpoint(3, 517));
  EXPECT_TRUE(LogHas("mixer [0]: clear tdm output 5"));
}

TEST_F(Daemon, DialInModemRunsPppdAndCarriesTheAuthExchange) {
  ASSERT_EQ(Ask(9, Create(Modem())), kOk);
  ASSERT_EQ(Ask(4, Timeslot(0, 5)), kOk);
  ASSERT_EQ(Ask(4, ConnectTo(9)), kOk);
  AwaitSignals(2, 9);
  EXPECT_EQ(Signals(9), Strings({"9 transmitter active 96", "9 receiver active 96"}));
  EXPECT_NE(d.Sim("modems").find("0 ts 96 busy ddm -1 call 0xbb03"), std::string::npos) << d.Sim("modems");
  ASSERT_TRUE(waitFor([&] { return !modemtest::Args(d.root(), "pppd").empty(); }));

  // The PPP daemon's plug-in on the fixed authentication port.
  const int plugin = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(52000);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(plugin, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0) << d.log();
  attr auth(attr::kAuthRequestSize, attr::AuthRequest, 0);
  auth.setText(attr::kUserOffset, attr::kTextField, "dialer");
  auth.setText(attr::kPasswordOffset, attr::kTextField, "pw1");
  d.Clear();
  ASSERT_EQ(::write(plugin, auth.data(), auth.length()), ssize_t(auth.length()));
  AwaitSignals(1, 9);
  EXPECT_EQ(Signals(9), Strings({"9 auth dialer pw1"}));
  ASSERT_EQ(Ask(9, ModemActivate("192.168.5.20", "192.168.5.2")), kOk);
  timeval tv{3, 0};
  ::setsockopt(plugin, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  std::vector<uint8_t> buf(16 + 36);
  std::size_t got = 0;
  for (ssize_t n; got < buf.size() && (n = ::read(plugin, &buf[got], buf.size() - got)) > 0;) got += std::size_t(n);
  std::vector<uint32_t> words;
  for (std::size_t i = 0; i + 4 <= got; i += 4) words.push_back(Board::getBE32(&buf[i]));
  EXPECT_EQ(words, (std::vector<uint32_t>{16, 2, 0, 1, 36, 3, 0, 0, 0xC0A80514, 0xFFFFFF00, 0x0A000001, 0xC0A80502, 1500}));
  ::close(plugin);

  const std::string log = d.log();
  const std::size_t at = log.find("pid=", log.find("pppd executed"));
  ASSERT_NE(at, std::string::npos) << log;
  const int pid = std::atoi(log.c_str() + at + 4);
  ASSERT_EQ(Ask(9, Destroy), kOk);
  EXPECT_TRUE(waitFor([&] { return ::kill(pid, 0) != 0; })) << "pppd still running";
  EXPECT_TRUE(LogHas("09:dsp-modem: pppd terminated with code 1"));
  EXPECT_NE(d.Sim("modems").find("0 ts 96 free"), std::string::npos) << d.Sim("modems");
}

TEST_F(Daemon, RecorderStreamsTheTimeslotToThePeer) {
  unsigned short peerPort = 0;
  const int server = looptest::listenLoopback(peerPort);
  ASSERT_GE(server, 0);
  ASSERT_EQ(Ask(2, Timeslot(0, 5)), kOk);
  ASSERT_EQ(Ask(3, Create(Recorder(peerPort))), kOk);
  AwaitSignals(1, 3);
  EXPECT_EQ(Signals(3), Strings({"3 receiver active 1024"}));
  ASSERT_EQ(Ask(2, ConnectTo(3)), kOk);
  pollfd p{server, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 5000), 1);
  const int peer = ::accept(server, nullptr, nullptr);
  ASSERT_TRUE(LogHas("]: connected to 127.0.0.1:"));
  EXPECT_EQ(d.Sim("inject 5 766f696365"), "outputs 1\nok\n");
  EXPECT_EQ(startup_test::receive(peer, 5), "voice");
  ASSERT_EQ(Ask(3, Destroy), kOk);
  EXPECT_TRUE(waitFor([&] { return Channels().empty(); })) << d.Sim("channels");
  char c;
  p = pollfd{peer, POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 3000), 1);
  EXPECT_EQ(::read(peer, &c, 1), 0);  // the peer sees the end
  ::close(peer);
  ::close(server);
}

TEST_F(Daemon, T38EngineRelaysItsChannelAndStopsOnDestroy) {
  const Fill t38 = Create(T38());
  ASSERT_EQ(d.Sim("mcc-next 1500"), "ok\n");
  t38test::Set(d.root(), "mode", "echo");
  ASSERT_EQ(Ask(9, t38), kOk);
  AwaitSignals(2, 9);
  EXPECT_EQ(Signals(9), Strings({"9 transmitter active 1500", "9 receiver active 1500"}));
  ASSERT_TRUE(waitFor([&] { return !t38test::Args(d.root()).empty(); }));
  EXPECT_EQ(t38test::Args(d.root()), Strings({"--child", "--remote", "10.1.2.3/4000/5002"}));
  EXPECT_NE(d.Sim("channels").find("1500 type 2 "), std::string::npos) << d.Sim("channels");
  ASSERT_EQ(Ask(4, Timeslot(0, 5)), kOk);
  ASSERT_EQ(Ask(4, ConnectTo(9)), kOk);
  ASSERT_EQ(Ask(9, ConnectTo(4)), kOk);
  EXPECT_EQ(d.Sim("inject 5 6661782070616765"), "outputs 1\nok\n");
  EXPECT_TRUE(waitFor([&] { return d.Sim("frames 5") == "6661782070616765\nok\n"; }));  // echoed by the engine
  const std::string log = d.log();
  const int pid = std::atoi(log.c_str() + log.rfind("t38 daemon[") + 11);
  ASSERT_GT(pid, 0);
  ASSERT_EQ(Ask(9, Destroy), kOk);
  EXPECT_TRUE(waitFor([&] { return ::kill(pid, 0) != 0; })) << "engine still running";
  EXPECT_TRUE(waitFor([&] { return d.Sim("channels").find("1500 ") == std::string::npos; })) << d.Sim("channels");
  // The slot is gone: the loop reaps the engine and nobody reports it.
  EXPECT_TRUE(LogHas("terminate child process, pid=" + std::to_string(pid) + " status=15"));
  EXPECT_EQ(d.log().find("t38 daemon terminated by signal"), std::string::npos);

}

}  // namespace
