// The real daemon on the simulated board, driven by a test controller: E1
// trunk reports at connect and every second, an injected alarm, the TCLK
// mask set by trunkCfg and reset by a reconnect, and CAS commands and
// driver reports on the wire.
#include <gtest/gtest.h>

#include "support/e1board_harness.h"

using e1test::CasTrace;
using e1test::DaemonBench;
using e1test::Trunk;
using e1test::Trunks;
using Msgs = std::vector<LGCP::Message>;

namespace {

std::function<bool(const Msgs&)> AtLeastE1(std::size_t n) {
  return [n](const Msgs& ms) { return Trunks(ms, 0).size() >= n; };
}

void TrunkCfg(LGCP::Command& c, int trunk, bool slave) {
  LGCP::TrunkCfg& t = c.select_trunkCfg();
  t.set_trunk(trunk);
  t.set_mode(slave ? LGCP::TrunkMode::slave : LGCP::TrunkMode::master);
}

void Cas(LGCP::Command& c, int path, int ts, int open) {
  LGCP::CasCommand& k = c.select_ioctl().select_cas();
  k.set_channel().set_path(path);
  k.set_channel().set_timeslot(ts);
  k.set_cmd().select_open(open);
}

class E1Daemon : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(d.Ready()) << d.daemon().err(); }
  DaemonBench d;
};

TEST_F(E1Daemon, TrunksAreReportedAtConnectAndEverySecondWithInjectedAlarms) {
  ASSERT_TRUE(d.Attach());
  std::vector<Trunk> t = Trunks(d.Received(), 0);
  ASSERT_EQ(4u, t.size());  // before the ping's answer
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(i, t[i].trunk);
    EXPECT_EQ(int(ACP::TrunkState::normal), t[i].state);
    EXPECT_FALSE(t[i].clockMaster);
  }

  d.Clear();
  EXPECT_NE(std::string::npos, d.Sim("clock 1000").find("ok"));
  ASSERT_TRUE(d.Wait(AtLeastE1(4)));
  t = Trunks(d.Received(), 0);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(i, t[i].trunk);

  EXPECT_NE(std::string::npos, d.Sim("e1 2 lossCarrier").find("ok"));
  d.Clear();
  d.Sim("clock 1000");
  ASSERT_TRUE(d.Wait(AtLeastE1(4)));
  t = Trunks(d.Received(), 0);
  EXPECT_EQ(2, t[2].trunk);
  EXPECT_EQ(int(ACP::TrunkState::lossCarrier), t[2].state);
  EXPECT_EQ(1, t[2].lossCarrier);
  EXPECT_EQ(int(ACP::TrunkState::normal), t[1].state);
}

TEST_F(E1Daemon, TrunkCfgDrivesTheTclkMaskAndAReconnectResetsIt) {
  ASSERT_TRUE(d.Attach());
  ASSERT_TRUE(d.Command(1, [](LGCP::Command& c) { TrunkCfg(c, 1, true); }));
  EXPECT_EQ("0x2\nok\n", d.Sim("tclk"));
  ASSERT_TRUE(d.Command(2, [](LGCP::Command& c) { TrunkCfg(c, 3, true); }));
  EXPECT_EQ("0xa\nok\n", d.Sim("tclk"));
  ASSERT_TRUE(d.Command(3, [](LGCP::Command& c) { TrunkCfg(c, 1, false); }));
  EXPECT_EQ("0x8\nok\n", d.Sim("tclk"));
  for (const auto& m : d.Received()) {
    if (e1test::IsResponse(m)) {
      EXPECT_TRUE(e1test::IsSuccess(m));
    }
  }
  EXPECT_TRUE(startup_test::waitFor([&] { return d.daemon().err().find("E1: TCLT = 0xa\n") != std::string::npos; }));

  d.ctl.Close();
  ASSERT_TRUE(d.Attach());
  EXPECT_EQ("0x0\nok\n", d.Sim("tclk"));
}

TEST_F(E1Daemon, CasOpenSignalsInOrderAndDriverReportsArrive) {
  ASSERT_TRUE(d.Attach());
  d.Clear();
  ASSERT_TRUE(d.Command(5, [](LGCP::Command& c) { Cas(c, 1, 5, 9); }));
  EXPECT_EQ((std::vector<std::string>{"cas 1 0 0 0", "cas 1 5 9 9", "success"}), CasTrace(d.Received()));
  EXPECT_NE(std::string::npos, d.Sim("cas").find("1 5 open rx 9 tx 9"));

  d.Clear();
  EXPECT_EQ("1\nok\n", d.Sim("cas 2 7 0x0D 0x05"));
  ASSERT_TRUE(d.Wait([](const Msgs& ms) { return !CasTrace(ms).empty(); }));
  EXPECT_EQ((std::vector<std::string>{"cas 2 7 13 5"}), CasTrace(d.Received()));
}

}  // namespace
