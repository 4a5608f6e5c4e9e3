// The real daemon's clock bus control on the simulated board: clockCfg
// selects the source, and "--disable-clock" makes it unsupported.
#include <gtest/gtest.h>

#include "support/e1board_harness.h"

using e1test::DaemonBench;

namespace {

void ClockCfg(LGCP::Command& c, int source) {
  LGCP::ClockCfg& k = c.select_clockCfg();
  k.set_clkSel0(LGCP::ClkSel0::external);
  k.set_bextEn(LGCP::BExtEn::enabled);
  k.set_source(source);
}

TEST(ClockDaemon, ClockCfgSelectsTheSource) {
  DaemonBench d;
  ASSERT_TRUE(d.Ready()) << d.daemon().err();
  ASSERT_TRUE(d.Attach());
  EXPECT_EQ("4\nok\n", d.Sim("clocksrc"));  // free-running after the connect
  d.Clear();
  ASSERT_TRUE(d.Command(1, [](LGCP::Command& c) { ClockCfg(c, 2); }));
  EXPECT_TRUE(e1test::IsSuccess(d.Received().back()));
  EXPECT_EQ("2\nok\n", d.Sim("clocksrc"));
  EXPECT_TRUE(startup_test::waitFor(
      [&] { return d.daemon().err().find("clkctl: clock source = f2\n") != std::string::npos; }));
}

TEST(ClockDaemon, DisabledClockControlAnswersUnsupported) {
  DaemonBench d({"--disable-clock"});
  ASSERT_TRUE(d.Ready()) << d.daemon().err();
  ASSERT_TRUE(d.Attach());
  d.Clear();
  ASSERT_TRUE(d.Command(1, [](LGCP::Command& c) { ClockCfg(c, 2); }));
  EXPECT_EQ(int(LGCP::ErrorCause::unsupported), e1test::ErrorOf(d.Received().back()));
  EXPECT_EQ("-1\nok\n", d.Sim("clocksrc"));  // never touched
  std::string log = d.daemon().out() + d.daemon().err();
  EXPECT_NE(std::string::npos, log.find("clock control disabled.\n"));
}

}  // namespace
