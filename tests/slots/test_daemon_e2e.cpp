// The real daemon on the simulated board, driven by a controller, with the
// board read and played through the simulator's control socket: every slot
// kind created, switched with trunk timeslots, carrying data, reporting and
// destroyed; stand-in helper programs under the daemon's root folder.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <set>
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
  static Fill Mcc(LGCP::MccType::NamedNumber type, LGCP::MccMode::NamedNumber mode = LGCP::MccMode::standard) {
    return [=](LGCP::Command& c) {
      LGCP::MccParams& p = c.select_create().select_mcc();
      p.set_type(type);
      p.set_mode(mode);
    };
  }
};

TEST_F(Daemon, TimeslotsAreSwitchedReleasedRefusedAndLeaveWithTheController) {
  ASSERT_EQ(Ask(1, Timeslot(0, 3)), kOk);
  ASSERT_EQ(Ask(2, Timeslot(1, 8)), kOk);
  ASSERT_EQ(Ask(1, ConnectTo(2)), kOk);
  EXPECT_TRUE(Xpoint(40, 3)) << d.Sim("xpoints");
  EXPECT_TRUE(LogHas("mux: slot 01:trunk [3] -> 02:trunk [40]"));
  ASSERT_EQ(Ask(2, Unlink), kOk);
  EXPECT_FALSE(Xpoint(40, 3));
  ASSERT_EQ(Ask(1, ConnectTo(2)), kOk);
  EXPECT_EQ(Ask(1, Destroy), kOk);  // a connected transmitter takes its crosspoint along
  EXPECT_FALSE(Xpoint(40, 3)) << d.Sim("xpoints");
  EXPECT_EQ(Ask(2, Destroy), kOk);
  EXPECT_EQ(Ask(2, Destroy), kNotExists);
  EXPECT_EQ(Ask(5, Timeslot(4, 0)), kRefused);
  EXPECT_EQ(Ask(5, Timeslot(0, 4, true)), kRefused);
  EXPECT_EQ(Ask(5, Destroy), kNotExists);

  ASSERT_EQ(Ask(3, Timeslot(0, 5)), kOk);
  ASSERT_EQ(Ask(4, Timeslot(0, 6)), kOk);
  ASSERT_EQ(Ask(7, Timeslot(2, 1)), kOk);
  ASSERT_EQ(Ask(3, ConnectTo(4)), kOk);
  ASSERT_EQ(Ask(4, ConnectTo(7)), kOk);
  ASSERT_TRUE(Xpoint(6, 5) && Xpoint(65, 6));
  d.ctl.Close();
  EXPECT_TRUE(waitFor([&] { return !Xpoint(6, 5) && !Xpoint(65, 6); })) << d.Sim("xpoints");
  ASSERT_TRUE(d.Attach()) << d.log();
  EXPECT_EQ(Ask(3, ConnectTo(4)), kNotExists);
  ASSERT_EQ(Ask(8, Timeslot(0, 5)), kOk);  // free: no old holder replaced
  EXPECT_EQ(d.log().find("two slots require the same timeslot"), std::string::npos);
}

TEST_F(Daemon, MapExternalAndHdlcSlotsWithTrunks) {
  ASSERT_EQ(Ask(1, Timeslot(0, 3)), kOk);
  ASSERT_EQ(Ask(4, Timeslot(0, 4)), kOk);
  ASSERT_EQ(Ask(2, Map(1, 5, 1, 6)), kOk);
  ASSERT_EQ(Ask(2, ConnectTo(1)), kOk);
  ASSERT_EQ(Ask(1, ConnectTo(2)), kOk);
  EXPECT_TRUE(Xpoint(3, 8325) && Xpoint(8326, 3)) << d.Sim("xpoints");
  ASSERT_EQ(Ask(3, Ext(4, 5)), kOk);
  EXPECT_EQ(Ask(4, ConnectTo(3)), kConnectFail);
  ASSERT_EQ(Ask(3, Activate), kOk);
  ASSERT_EQ(Ask(4, ConnectTo(3)), kOk);
  ASSERT_EQ(Ask(3, ConnectTo(4)), kOk);
  EXPECT_TRUE(Xpoint(8197, 4) && Xpoint(4, 8196)) << d.Sim("xpoints");
  EXPECT_TRUE(LogHas("mux: slot 04:trunk [4] -> 03:bri [8197]"));
  ASSERT_EQ(Ask(2, Destroy), kOk);  // frees the trunk, disables its receiver
  EXPECT_FALSE(Xpoint(3, 8325) || Xpoint(8326, 3)) << d.Sim("xpoints");
  EXPECT_TRUE(LogHas("map: disable map channel 134"));
  ASSERT_EQ(Ask(3, Deactivate), kOk);
  EXPECT_FALSE(Xpoint(8197, 4));

  ASSERT_EQ(Ask(5, Timeslot(0, 16)), kOk);
  ASSERT_EQ(Ask(6, Hdlc(1, 0x1234)), kOk);
  ASSERT_EQ(Ask(6, ConnectTo(5)), kOk);
  ASSERT_EQ(Ask(6, Packages({"hi", "yo"})), kOk);
  std::string frames;
  EXPECT_TRUE(waitFor([&] { return (frames += d.Sim("frames 16")).find("12342079") != std::string::npos; })) << frames;
  EXPECT_EQ(frames.find("1234006869\n"), 0u) << frames;
  d.Clear();
  EXPECT_NE(d.Sim("inject 16 1234e0 aa00").find("ok"), std::string::npos);  // continuation bit clear
  EXPECT_TRUE(AwaitSignals(1, 6));
  EXPECT_EQ(Signals(6), Strings({"6 packages aa00"}));
}

TEST_F(Daemon, RtpSlotIsSwitchedRecodedReportsAndEndsWithBye) {
  rtptest::UdpPort peer;
  const unsigned local = rtptest::FreeRtpPort();
  ASSERT_EQ(Ask(10, [&](LGCP::Command& c) {
              LGCP::CreateRtpParams& p = c.select_create().select_rtp();
              TERM::RtpParams& r = p.set_codecRTP();
              r.set_payload(TERM::Payload::ptG711_Alaw);
              r.set_dhost().set_iaddr("127.0.0.1");
              r.set_dhost().set_port(peer.port - 1);
              r.set_shost().set_iaddr("127.0.0.1");
              r.set_shost().set_port(local);
              p.set_txPayload(TERM::Payload::ptG711_Alaw);
              p.set_rxPayload(TERM::Payload::ptG711_Alaw);
            }), kOk) << d.log();
  ASSERT_TRUE(AwaitSignals(1, 10));
  const std::string first = Signals(10)[0], chs = first.substr(first.rfind(' ') + 1);
  ASSERT_EQ(first.rfind("10 transmitter active ", 0), 0u) << first;
  const std::string sdes = peer.Receive();
  ASSERT_GE(sdes.size(), 8u);
  EXPECT_EQ(uint8_t(sdes[1]), 202);

  ASSERT_EQ(Ask(11, Timeslot(0, 5)), kOk);
  ASSERT_EQ(Ask(10, ConnectTo(11)), kOk);
  ASSERT_EQ(Ask(11, ConnectTo(10)), kOk);
  EXPECT_TRUE(d.SimHas("xpoints", "5 " + chs) && d.SimHas("xpoints", chs + " 5")) << d.Sim("xpoints");
  std::string sessions = d.Sim("rtp-sessions");
  EXPECT_NE(sessions.find("channel " + chs + " begun rx=8 tx=8"), std::string::npos) << sessions;
  EXPECT_NE(sessions.find("input=on begins=1"), std::string::npos) << sessions;
  // A codec change begins the session anew on the same channel.
  ASSERT_EQ(Ask(10, [](LGCP::Command& c) { c.select_ioctl().select_encoder_mode(LGCP::CodecMode::ulaw); }), kOk);
  sessions = d.Sim("rtp-sessions");
  EXPECT_NE(sessions.find("channel " + chs + " begun rx=8 tx=0"), std::string::npos) << sessions;
  EXPECT_TRUE(LogHas(" - OK"));
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
  const std::string bye = peer.Receive();
  ASSERT_GE(bye.size(), 8u);
  EXPECT_EQ(uint8_t(bye[1]), 203);
  EXPECT_EQ(bye.substr(4, 4), sdes.substr(4, 4));  // the same source throughout
  EXPECT_TRUE(waitFor([&] { return d.Sim("rtp-sessions") == "ok\n"; })) << d.Sim("rtp-sessions");
  EXPECT_FALSE(d.SimHas("xpoints", "5 " + chs));
}

TEST_F(Daemon, MultichannelSlotsCarryDataAndGiveTheirChannelBack) {
  auto free = [&] {
    LGCP::Resources r = d.Query();
    return std::to_string(r.get_mcc_data().getValue()) + " " + std::to_string(r.get_mcc_bri().getValue()) + " " +
           std::to_string(r.get_mcc_trans().getValue());
  };
  ASSERT_EQ(d.Sim("mcc-next 1100"), "ok\n");
  ASSERT_EQ(Ask(1, Mcc(LGCP::MccType::data)), kOk);
  ASSERT_EQ(Ask(2, Mcc(LGCP::MccType::bri)), kOk);
  ASSERT_EQ(Ask(3, Mcc(LGCP::MccType::transparent, LGCP::MccMode::ss7)), kOk);
  std::map<int, int> held = Channels();
  ASSERT_EQ(held.size(), 3u) << d.Sim("channels");
  EXPECT_EQ(held[1100], 0);
  std::multiset<int> types;
  for (auto& c : held) types.insert(c.second);
  EXPECT_EQ(types, (std::multiset<int>{0, 1, 3}));
  EXPECT_TRUE(LogHas("mcc: MCC_ALLOCATE type=3"));
  EXPECT_EQ(free(), "30 15 32");  // ss7 channels are counted as data

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
  EXPECT_EQ(free(), "31 15 32");
}

TEST_F(Daemon, Ss7LinkAlignsCarriesDataReportsAndFailsWithItsTrunk) {
  ASSERT_NE(d.Sim("e1 0 normal").find("ok"), std::string::npos);
  ASSERT_EQ(Ask(1, Timeslot(0, 16)), kOk);
  ASSERT_EQ(Ask(2, [](LGCP::Command& c) {
              LGCP::SS7Params& p = c.select_create().select_pstn().select_ss7();
              p.set_trunk(1);  // the board's trunk 0
              p.set_slc(0);
              p.set_dpc(11);
              p.set_opc(22);
              p.set_emergency(false);
            }), kOk);
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
  ASSERT_EQ(Ask(3, [](LGCP::Command& c) {
              LGCP::IsdnParams& p = c.select_create().select_isdn();
              p.set_type(LGCP::IsdnType::pri);
              p.set_trunk(1);
              p.set_log(0);
              p.set_side().select_user();
            }), kOk);
  ASSERT_EQ(Ask(3, ConnectTo(4)), kOk);
  ASSERT_EQ(Ask(4, ConnectTo(3)), kOk);
  ASSERT_EQ(Ask(3, Activate), kOk);
  ASSERT_TRUE(FrameOut(20, "00017f")) << d.log();  // SABME, poll bit, TEI 0
  d.Clear();
  d.Sim("inject 20 000173");  // UA
  EXPECT_TRUE(d.SignalCame(3, [](const LGCP::Signal& s) { return s.activated_isSelected(); })) << d.log();
}

TEST_F(Daemon, MixerSlotsAreFoundSwitchedAndReleased) {
  auto mixIn = [](int channel, int summator) {
    return [=](LGCP::Command& c) {
      LGCP::MixerInParams& p = c.select_create().select_mixerIn();
      p.set_unit(0);
      p.set_channel().select_tdm(channel);
      if (summator >= 0) p.set_summator().select_tdm(summator);
    };
  };
  EXPECT_EQ(Ask(2, mixIn(4, -1)), kRefused);  // no unit known before the first query
  std::vector<std::pair<int, int>> units;
  const LGCP::Resources resources = d.Query();
  for (const auto& u : resources.get_mixer()) units.emplace_back(u.get_unit().getValue(), u.get_tdm_inputs().getValue());
  EXPECT_EQ(units, (std::vector<std::pair<int, int>>{{0, 32}, {1, 32}}));
  ASSERT_EQ(Ask(1, Timeslot(0, 3)), kOk);
  ASSERT_EQ(Ask(2, mixIn(4, 20)), kOk);
  ASSERT_EQ(Ask(3, [](LGCP::Command& c) {
              LGCP::MixerOutParams& p = c.select_create().select_mixerOut();
              p.set_unit(0);
              p.set_channel().select_tdm(5);
              LGCP::MixerInput in;
              in.set_channel().select_tdm(4);
              in.set_gain(100);
              p.set_inputs().push_back(in);
            }), kOk);
  EXPECT_EQ(Ask(4, mixIn(40, -1)), kRefused);
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
  ASSERT_EQ(Ask(9, [](LGCP::Command& c) {
              TERM::ModemParams& p = c.select_create().select_modem();
              p.set_cid("5550100");
              p.set_cdid("200");
            }), kOk);
  ASSERT_EQ(Ask(4, Timeslot(0, 5)), kOk);
  ASSERT_EQ(Ask(4, ConnectTo(9)), kOk);
  AwaitSignals(2, 9);
  EXPECT_EQ(Signals(9), Strings({"9 transmitter active 96", "9 receiver active 96"}));
  EXPECT_NE(d.Sim("modems").find("0 ts 96 busy ddm -1 call 0xbb03"), std::string::npos) << d.Sim("modems");
  ASSERT_TRUE(waitFor([&] { return !modemtest::Args(d.root(), "pppd").empty(); }));
  EXPECT_EQ(modemtest::Args(d.root(), "pppd"),
            Strings({"file", "/usr/local/etc/ppp/aoptions", "/dev/mdm0", "remotenumber", "5550100"}));

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
  ASSERT_EQ(Ask(9, [](LGCP::Command& c) {
              TERM::ModemUserParameters& u = c.select_activate().select_modem();
              u.set_remoteAddr("192.168.5.20");
              u.set_netmask("255.255.255.255");
              u.set_gateway("192.168.5.1");
              u.set_dns("192.168.5.2");
              u.set_mtu(1492);
            }), kOk);
  timeval tv{3, 0};
  ::setsockopt(plugin, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  std::vector<uint8_t> buf(16 + 36);
  std::size_t got = 0;
  for (ssize_t n; got < buf.size() && (n = ::read(plugin, &buf[got], buf.size() - got)) > 0;) got += std::size_t(n);
  std::vector<uint32_t> words;
  for (std::size_t i = 0; i + 4 <= got; i += 4) words.push_back(Board::getBE32(&buf[i]));
  EXPECT_EQ(words, (std::vector<uint32_t>{16, 2, 0, 1, 36, 3, 0, 0, 0xC0A80514, 0xFFFFFFFF, 0xC0A80501, 0xC0A80502,
                                          1492}));
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

TEST_F(Daemon, PlayerAndRecorderReachTheTimeslotAndThePeer) {
  std::ofstream(d.root() + "/usr/local/voice/hello") << "hello";
  unsigned short peerPort = 0;
  const int server = looptest::listenLoopback(peerPort);
  ASSERT_GE(server, 0);
  ASSERT_EQ(Ask(2, Timeslot(0, 5)), kOk);
  ASSERT_EQ(Ask(1, [](LGCP::Command& c) {
              LGCP::PlayerParams_file& f = c.select_create().select_voice().select_player().select_file();
              f.set_name().push_back(ASN1::IA5String("absent"));  // skipped
              f.set_name().push_back(ASN1::IA5String("hello"));
              f.set_repeat(1);
            }), kOk);
  ASSERT_EQ(Ask(3, [&](LGCP::Command& c) {
              TERM::HostAddress& h = c.select_create().select_voice().select_record();
              h.set_iaddr("127.0.0.1");
              h.set_port(peerPort);
            }), kOk);
  AwaitSignals(1, 3);
  EXPECT_EQ(Signals(3), Strings({"3 receiver active 1025"}));
  EXPECT_EQ(Channels().size(), 2u) << d.Sim("channels");
  ASSERT_EQ(Ask(1, ConnectTo(2)), kOk);
  EXPECT_TRUE(waitFor([&] { return d.Sim("frames 5") == "68656c6c6f\nok\n"; })) << d.Sim("frames 5");
  AwaitSignals(3, 1);
  EXPECT_EQ(Signals(1), Strings({"1 transmitter active 1024", "1 transmitter inactive", "1 abort 0"})) << d.log();

  ASSERT_EQ(Ask(2, ConnectTo(3)), kOk);
  pollfd p{server, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 5000), 1);
  const int peer = ::accept(server, nullptr, nullptr);
  ASSERT_TRUE(LogHas("]: connected to 127.0.0.1:"));
  EXPECT_EQ(d.Sim("inject 5 766f696365"), "outputs 1\nok\n");
  EXPECT_EQ(startup_test::receive(peer, 5), "voice");
  ASSERT_EQ(Ask(3, Destroy), kOk);
  ASSERT_EQ(Ask(1, Destroy), kOk);
  EXPECT_TRUE(waitFor([&] { return Channels().empty(); })) << d.Sim("channels");
  char c;
  p = pollfd{peer, POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 3000), 1);
  EXPECT_EQ(::read(peer, &c, 1), 0);  // the peer sees the end
  ::close(peer);
  ::close(server);
}

TEST_F(Daemon, T38EngineRelaysItsChannelEndsAsAbortAndStopsOnDestroy) {
  auto t38 = [](LGCP::Command& c) {
    LGCP::T38Soft& p = c.select_create().select_t38soft();
    p.set_dhost().set_iaddr().assign("192.168.7.9");
    p.set_dhost().set_port(6000);
    p.set_shost().set_iaddr().assign("0.0.0.0");
    p.set_shost().set_port(6002);
    p.set_rx_packet_size(120);
    p.set_rx_threshold(2);
    p.set_tx_threshold(2);
    p.set_args().push_back(ASN1::IA5String("--verbose"));
  };
  t38test::Set(d.root(), "instances", "6\n");
  EXPECT_EQ(d.Query().get_t38_instances().getValue(), 6);
  ASSERT_EQ(d.Sim("mcc-next 1500"), "ok\n");
  t38test::Set(d.root(), "mode", "echo");
  ASSERT_EQ(Ask(9, t38), kOk);
  AwaitSignals(2, 9);
  EXPECT_EQ(Signals(9), Strings({"9 transmitter active 1500", "9 receiver active 1500"}));
  ASSERT_TRUE(waitFor([&] { return !t38test::Args(d.root()).empty(); }));
  EXPECT_EQ(t38test::Args(d.root()), Strings({"--child", "--remote", "192.168.7.9/6000/6002", "--verbose"}));
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

  t38test::Set(d.root(), "mode", "exit 4");
  ASSERT_EQ(Ask(3, t38), kOk);
  AwaitSignals(3, 3);
  EXPECT_EQ(Signals(3).back(), "3 abort 1024");
  EXPECT_TRUE(LogHas("t38 daemon terminated with code=4"));
  EXPECT_EQ(Ask(3, Destroy), kOk);  // the slot stays until the controller destroys it
}

}  // namespace
