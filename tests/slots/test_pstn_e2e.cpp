// The real daemon on the simulated board with a controller: an SS7 link on a
// trunk timeslot aligns with a far end played through the simulator's
// control socket (frames taken at the timeslot, frames injected into it),
// carries user data both ways and reports statistics as the loop clock is
// driven; an ISDN slot's data link establishes the same way.
#include <gtest/gtest.h>

#include <sstream>

#include "support/e1board_harness.h"

namespace {

using e1test::Answer;
using e1test::Msgs;
using Fill = std::function<void(LGCP::Command&)>;

constexpr int kOk = -1;

class LinkDaemon : public ::testing::Test {
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
  static Fill Trunk(unsigned trunk, unsigned ts) {
    return [=](LGCP::Command& c) {
      LGCP::TrunkParams& p = c.select_create().select_trunk();
      p.set_trunk(trunk);
      p.set_timeslot(ts);
    };
  }
  static Fill ConnectTo(unsigned target) {
    return [=](LGCP::Command& c) { c.select_connect(target); };
  }
  // Waits for a signal of the slot that `match` accepts; true when seen.
  bool WaitSignal(unsigned slot, const std::function<bool(const LGCP::Signal&)>& match, int ms = 5000) {
    return d.Wait(
        [&](const Msgs& ms) {
          for (const auto& m : ms)
            if (m.get_pdu().signal_isSelected() && m.slot_isPresent() && m.get_slot().getValue() == slot &&
                match(m.get_pdu().get_signal()))
              return true;
          return false;
        },
        ms);
  }
  // Waits for a frame ending with `tail` (lower-case hex) to leave towards
  // the far end at the output; true when it came.
  bool FrameOut(int output, const std::string& tail) {
    return startup_test::waitFor([&] {
      std::istringstream in(d.Sim("frames " + std::to_string(output)));
      for (std::string f; std::getline(in, f);)
        if (f.size() >= tail.size() && f.compare(f.size() - tail.size(), tail.size(), tail) == 0) return true;
      return false;
    }, 5000);
  }

  e1test::DaemonBench d;
  int seq_ = 0;
};

TEST_F(LinkDaemon, Ss7LinkAlignsCarriesUserDataAndReportsStatistics) {
  // The link's trunk (the create's trunk 1 is the board's trunk 0) is up.
  ASSERT_NE(std::string::npos, d.Sim("e1 0 normal").find("ok"));
  ASSERT_EQ(Ask(1, Trunk(0, 16)), kOk);
  ASSERT_EQ(Ask(2, [](LGCP::Command& c) {
              LGCP::SS7Params& p = c.select_create().select_pstn().select_ss7();
              p.set_trunk(1);
              p.set_slc(0);
              p.set_dpc(11);
              p.set_opc(22);
              p.set_emergency(false);
            }),
            kOk);
  // Receiving from the timeslot starts the link: out-of-alignment first.
  ASSERT_EQ(Ask(1, ConnectTo(2)), kOk);
  ASSERT_TRUE(FrameOut(16, "ffff0100")) << d.log();

  // The far end: normal alignment, the proving period on the driven clock,
  // then a fill-in unit.
  d.Clear();
  ASSERT_NE(std::string::npos, d.Sim("inject 16 ffff0101").find("outputs 1")) << d.Sim("xpoints");
  ASSERT_TRUE(FrameOut(16, "ffff0101"));
  ASSERT_NE(std::string::npos, d.Sim("clock 8200").find("ok"));
  ASSERT_TRUE(FrameOut(16, "ffff00"));
  d.Sim("inject 16 ffff00");
  ASSERT_TRUE(WaitSignal(2, [](const LGCP::Signal& s) { return s.activated_isSelected(); })) << d.log();

  // User data down as an MSU, an MSU up as user data.
  d.Clear();
  ASSERT_EQ(Ask(2, [](LGCP::Command& c) { c.select_userData(std::vector<char>{char(0x83), 1, 2, 3}); }), kOk);
  ASSERT_TRUE(FrameOut(16, "ff800483010203")) << d.log();
  d.Clear();
  d.Sim("inject 16 80800403090807");
  ASSERT_TRUE(WaitSignal(2, [](const LGCP::Signal& s) {
    return s.userData_isSelected() && s.get_userData() == std::vector<char>{3, 9, 8, 7};
  })) << d.log();

  // Statistics every 3000 ms of the loop clock.
  d.Clear();
  ASSERT_NE(std::string::npos, d.Sim("clock 3000").find("ok"));
  auto info = [](bool hdlc) {
    return [hdlc](const LGCP::Signal& s) {
      if (!s.ioctl_isSelected()) return false;
      if (hdlc) return s.get_ioctl().hdlcLinkInfo_isSelected() && s.get_ioctl().get_hdlcLinkInfo().get_rxSU().getValue() == 3;
      return s.get_ioctl().ss7LinkInfo_isSelected() && s.get_ioctl().get_ss7LinkInfo().get_ss7state().is_worked();
    };
  };
  EXPECT_TRUE(WaitSignal(2, info(true))) << d.log();
  EXPECT_TRUE(WaitSignal(2, info(false))) << d.log();

  // The trunk failing takes the link out of service.
  d.Clear();
  ASSERT_NE(std::string::npos, d.Sim("e1 0 lossCarrier").find("ok"));
  ASSERT_NE(std::string::npos, d.Sim("clock 1000").find("ok"));
  EXPECT_TRUE(WaitSignal(2, [](const LGCP::Signal& s) { return s.deactivated_isSelected(); })) << d.log();
  EXPECT_NE(std::string::npos, d.log().find("SS7/L2 [dpc=11, slc=0, trunk=1]")) << d.log();
}

TEST_F(LinkDaemon, IsdnSlotEstablishesItsDataLink) {
  ASSERT_EQ(Ask(4, Trunk(0, 20)), kOk);
  ASSERT_EQ(Ask(3, [](LGCP::Command& c) {
              LGCP::IsdnParams& p = c.select_create().select_isdn();
              p.set_type(LGCP::IsdnType::pri);
              p.set_trunk(1);
              p.set_log(0);
              p.set_side().select_user();
            }),
            kOk);
  ASSERT_EQ(Ask(3, ConnectTo(4)), kOk);
  ASSERT_EQ(Ask(4, ConnectTo(3)), kOk);
  ASSERT_EQ(Ask(3, [](LGCP::Command& c) { c.select_activate().select_empty(); }), kOk);
  // SABME with the poll bit from the user side (TEI 0); the network answers UA.
  ASSERT_TRUE(FrameOut(20, "00017f")) << d.log();
  d.Clear();
  d.Sim("inject 20 000173");
  EXPECT_TRUE(WaitSignal(3, [](const LGCP::Signal& s) { return s.activated_isSelected(); })) << d.log();
}

}  // namespace
