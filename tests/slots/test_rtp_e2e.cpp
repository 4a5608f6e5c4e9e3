// The real daemon on the simulated board: an RTP slot towards a UDP peer
// of the test, switched to a timeslot slot, its codec changed, its
// detectors reporting digits and voice activity injected through the
// simulator's control socket, and its destroy releasing the driver session,
// the crosspoints and the RTCP with a BYE.
#include <gtest/gtest.h>

#include "support/e1board_harness.h"
#include "support/rtp_peer.h"

namespace {

using e1test::Answer;
using e1test::Msgs;
using Fill = std::function<void(LGCP::Command&)>;

constexpr int kOk = -1;

class RtpDaemon : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(d.Ready()) << d.log();
    ASSERT_TRUE(d.Attach()) << d.log();
  }
  int Ask(unsigned slot, const Fill& fill) {
    LGCP::Message m = e1test::CommandMsg(++seq_, fill);
    m.set_slot(slot);
    d.Clear();
    EXPECT_TRUE(e1test::Send(d.ctl, m));
    d.Wait([](const Msgs& ms) { return Answer(ms) != -2; });
    return Answer(d.Received());
  }
  // Waits for a signal of the slot that `is` accepts.
  bool SignalCame(unsigned slot, const std::function<bool(const LGCP::Signal&)>& is) {
    return d.Wait([&](const Msgs& ms) {
      for (const auto& m : ms)
        if (m.get_pdu().signal_isSelected() && m.get_slot().getValue() == slot && is(m.get_pdu().get_signal()))
          return true;
      return false;
    });
  }
  bool Has(const std::string& reply, const std::string& line) {
    return ("\n" + reply).find("\n" + line + "\n") != std::string::npos;
  }

  e1test::DaemonBench d;
  int seq_ = 0;
};

TEST_F(RtpDaemon, SwitchedRecodedReportingAndDestroyed) {
  rtptest::UdpPort peer;
  const unsigned local = rtptest::FreeRtpPort();
  ASSERT_EQ(Ask(10,
                [&](LGCP::Command& c) {
                  LGCP::CreateRtpParams& p = c.select_create().select_rtp();
                  TERM::RtpParams& r = p.set_codecRTP();
                  r.set_payload(TERM::Payload::ptG711_Alaw);
                  r.set_dhost().set_iaddr("127.0.0.1");
                  r.set_dhost().set_port(peer.port - 1);
                  r.set_shost().set_iaddr("127.0.0.1");
                  r.set_shost().set_port(local);
                  p.set_txPayload(TERM::Payload::ptG711_Alaw);
                  p.set_rxPayload(TERM::Payload::ptG711_Alaw);
                }),
            kOk)
      << d.log();
  int ch = -1;
  ASSERT_TRUE(SignalCame(10, [&](const LGCP::Signal& s) {
    if (!s.transmitter_isSelected() || !s.get_transmitter().active_isSelected()) return false;
    ch = int(s.get_transmitter().get_active().getValue());
    return true;
  }));
  const std::string sdes = peer.Receive();
  ASSERT_GE(sdes.size(), 8u);
  EXPECT_EQ(uint8_t(sdes[1]), 202);
  const std::string chs = std::to_string(ch);

  // Both directions with timeslot 5 of trunk 0.
  ASSERT_EQ(Ask(11,
                [](LGCP::Command& c) {
                  LGCP::TrunkParams& t = c.select_create().select_trunk();
                  t.set_trunk(0);
                  t.set_timeslot(5);
                }),
            kOk);
  ASSERT_EQ(Ask(10, [](LGCP::Command& c) { c.select_connect(11); }), kOk);
  ASSERT_EQ(Ask(11, [](LGCP::Command& c) { c.select_connect(10); }), kOk);
  std::string xpoints = d.Sim("xpoints");
  EXPECT_TRUE(Has(xpoints, "5 " + chs) && Has(xpoints, chs + " 5")) << xpoints;
  std::string sessions = d.Sim("rtp-sessions");
  EXPECT_NE(sessions.find("channel " + chs + " begun rx=8 tx=8"), std::string::npos) << sessions;
  EXPECT_NE(sessions.find("input=on begins=1"), std::string::npos) << sessions;

  // A codec change begins the session anew on the same channel.
  ASSERT_EQ(Ask(10, [](LGCP::Command& c) { c.select_ioctl().select_encoder_mode(LGCP::CodecMode::ulaw); }), kOk);
  sessions = d.Sim("rtp-sessions");
  EXPECT_NE(sessions.find("channel " + chs + " begun rx=8 tx=0"), std::string::npos) << sessions;
  EXPECT_TRUE(startup_test::waitFor([&] { return d.log().find(" - OK") != std::string::npos; })) << d.log();

  // Detector events on the channel reach the controller as signals.
  ASSERT_EQ(Ask(10, [](LGCP::Command& c) { c.select_ioctl().select_dtmf_enable(true); }), kOk);
  ASSERT_EQ(Ask(10, [](LGCP::Command& c) { c.select_ioctl().select_vad_enable(true); }), kOk);
  d.Clear();
  EXPECT_NE(d.Sim("dtmf-event " + chs + " 9").find("ok"), std::string::npos);
  EXPECT_TRUE(SignalCame(10, [](const LGCP::Signal& s) {
    return s.tonec_isSelected() && s.get_tonec().get_event().dtmf_isSelected() &&
           s.get_tonec().get_event().get_dtmf().getValue() == 9;
  }));
  d.Clear();
  EXPECT_NE(d.Sim("dsp-vad " + chs + " 1 1 0").find("ok"), std::string::npos);
  EXPECT_TRUE(SignalCame(10, [](const LGCP::Signal& s) { return s.vad_isSelected() && s.get_vad().get_vad_rx(); }));

  // The destroy ends the session, the crosspoints and the RTCP.
  ASSERT_EQ(Ask(10, [](LGCP::Command& c) { c.select_destroy(); }), kOk);
  const std::string bye = peer.Receive();
  ASSERT_GE(bye.size(), 8u);
  EXPECT_EQ(uint8_t(bye[1]), 203);
  EXPECT_EQ(bye.substr(4, 4), sdes.substr(4, 4));  // the same source throughout
  EXPECT_TRUE(startup_test::waitFor([&] { return d.Sim("rtp-sessions") == "ok\n"; })) << d.Sim("rtp-sessions");
  xpoints = d.Sim("xpoints");
  EXPECT_FALSE(Has(xpoints, "5 " + chs)) << xpoints;
}

}  // namespace
