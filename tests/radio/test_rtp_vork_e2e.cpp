// The real daemon on the simulated board: a radio RTP slot created by the
// controller, its extension session attached, a radio packet from the
// channel arriving as an rtpExt signal, an rtpExt ioctl leaving as a radio
// packet, the periodic reports on the driven clock, and the destroy.
#include <gtest/gtest.h>

#include <sstream>

#include "hardware/sim/sim.h"
#include "radio_test_support.h"
#include "support/e1board_harness.h"
#include "support/rtp_peer.h"

namespace {

using e1test::Msgs;

constexpr int kOk = -1;

class RadioDaemon : public e1test::DaemonTest {
 protected:
  // Lines of "rtp-ext-written 0" (the reply's last line "ok" left out).
  std::vector<std::string> Written() {
    std::vector<std::string> v;
    std::istringstream in(d.Sim("rtp-ext-written 0"));
    for (std::string line; std::getline(in, line);)
      if (line != "ok") v.push_back(line);
    return v;
  }
};

TEST_F(RadioDaemon, RadioSlotCarriesTheChannelSignalling) {
  rtptest::UdpPort peer;
  const unsigned local = rtptest::FreeRtpPort();
  ASSERT_EQ(Ask(12, radiotest::RadioCreate(peer.port - 1, local)), kOk) << d.log();
  const std::string sessions = d.Sim("rtp-ext-sessions");
  EXPECT_NE(sessions.find("0 init=4919 attached="), std::string::npos) << sessions;
  EXPECT_TRUE(Written().empty());

  // A radio packet from workstation 10.1.1.9 reaches the controller.
  d.Clear();
  const std::string reply = d.Sim("rtp-ext-packet 0 10.1.1.9 77 " + Sim::hex(radiotest::Packed(SIG_PROTO_GW_FLAG, 3, 1)));
  ASSERT_NE(reply.find("delivered 1"), std::string::npos) << reply;
  TERM::RtpRadioRequest got;
  ASSERT_TRUE(d.SignalCame(12, [&](const LGCP::Signal& s) {
    if (s.rtpExt_isSelected()) got = s.get_rtpExt();
    return s.rtpExt_isSelected();
  })) << d.log();
  EXPECT_EQ(got.get_status().get_vork().get_freq().get_frequency(), "145.500000");
  EXPECT_TRUE(got.get_request().get_vork().get_params().gw_set_flags_isSelected());
  EXPECT_EQ(got.get_request().get_vork().get_addr().get_session_addr(), "10.1.1.9");

  // A radio ioctl leaves as one packet of the channel report.
  ASSERT_EQ(Ask(12,
                [](LGCP::Command& c) {
                  auto& m = c.select_ioctl().select_rtpExt().select_vork();
                  m.set_addr().set_session_addr("10.1.1.9");
                  m.set_params().select_wm_remote().set_remote().set_no(5);
                }),
            kOk);
  ASSERT_TRUE(startup_test::waitFor([&] { return Written().size() == 1; })) << d.Sim("rtp-ext-written 0");
  EXPECT_EQ(Written()[0].substr(0, 2), "86");  // 134

  // Every second of the loop's clock: flags, channel and remote reports.
  d.Sim("clock 1000");
  ASSERT_TRUE(startup_test::waitFor([&] { return Written().size() >= 4; })) << d.Sim("rtp-ext-written 0");
  EXPECT_EQ(Written()[1].substr(0, 2), "81");  // 129: push-to-talk off
  EXPECT_EQ(Written()[2].substr(0, 2), "84");  // 132

  ASSERT_EQ(Ask(12, [](LGCP::Command& c) { c.select_destroy(); }), kOk);
  EXPECT_TRUE(startup_test::waitFor([&] { return d.Sim("rtp-ext-sessions") == "ok\n"; }))
      << d.Sim("rtp-ext-sessions");
}

}  // namespace
