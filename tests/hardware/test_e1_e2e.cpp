// The real daemon on the simulated board with a test controller: E1 trunk
// reports and an injected alarm, the TCLK mask, CAS on the wire, the BRI
// lines' start-up and states, the bus test against the C library's
// random(), and the clock selection with and without "--disable-clock".
#include <stdlib.h>

#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "support/e1board_harness.h"

using e1test::Answer;
using e1test::CasTrace;
using e1test::Msgs;
using e1test::Trunk;
using e1test::Trunks;

namespace {

std::function<bool(const Msgs&)> AtLeast(std::size_t n, int type) {
  return [n, type](const Msgs& ms) { return Trunks(ms, type).size() >= n; };
}

// One daemon for the suite; each test attaches a controller afresh.
class BoardDaemon : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { shared = new e1test::DaemonBench(); }
  static void TearDownTestSuite() { delete shared; }
  void SetUp() override { ASSERT_TRUE(d.Ready() && d.Attach()) << d.daemon().err(); }
  bool TrunkCfg(int trunk, bool slave) {
    return d.Command([&](LGCP::Command& c) {
      LGCP::TrunkCfg& t = c.select_trunkCfg();
      t.set_trunk(trunk);
      t.set_mode(slave ? LGCP::TrunkMode::slave : LGCP::TrunkMode::master);
    });
  }
  bool BusTest(bool write, int seed) {
    return d.Command([&](LGCP::Command& c) {
      LGCP::BpcTestParams& p = c.select_testBpc();
      p.set_bus(2);
      p.set_seed(seed);
      if (write) p.set_mode().select_write();
      else p.set_mode().select_read();
      p.set_timeslot_start(120);
      p.set_timeslot_length(10);
    });
  }
  bool Logged(const std::string& line) {
    return startup_test::waitFor([&] { return d.log().find(line) != std::string::npos; });
  }
  static e1test::DaemonBench* shared;
  e1test::DaemonBench& d = *shared;
};
e1test::DaemonBench* BoardDaemon::shared = nullptr;

TEST_F(BoardDaemon, TrunksAreReportedAtConnectThenEverySecondWithInjectedAlarms) {
  std::vector<Trunk> t = Trunks(d.Received(), 0);  // before the ping's answer
  ASSERT_EQ(4u, t.size());
  for (int i = 0; i < 4; ++i) EXPECT_EQ(i, t[i].trunk);
  d.Clear();
  d.Sim("clock 1000");
  ASSERT_TRUE(d.Wait(AtLeast(4, 0)));
  EXPECT_EQ("ok\n", d.Sim("e1 2 lossCarrier"));
  d.Clear();
  d.Sim("clock 1000");
  ASSERT_TRUE(d.Wait(AtLeast(4, 0)));
  t = Trunks(d.Received(), 0);
  EXPECT_EQ(int(ACP::TrunkState::lossCarrier), t[2].state);
  EXPECT_EQ(1, t[2].lossCarrier);
  EXPECT_EQ(int(ACP::TrunkState::normal), t[1].state);
}

TEST_F(BoardDaemon, TrunkCfgDrivesTheTclkMaskAndAReconnectResetsIt) {
  for (auto [trunk, slave, mask] : {std::tuple{1, true, "0x2"}, {3, true, "0xa"}, {1, false, "0x8"}}) {
    ASSERT_TRUE(TrunkCfg(trunk, slave));
    EXPECT_EQ(-1, Answer(d.Received()));
    EXPECT_EQ(std::string(mask) + "\nok\n", d.Sim("tclk"));
  }
  EXPECT_TRUE(Logged("E1: TCLT = 0xa\n"));
  d.ctl.Close();
  ASSERT_TRUE(d.Attach());
  EXPECT_EQ("0x0\nok\n", d.Sim("tclk"));
}

TEST_F(BoardDaemon, CasSignalsComeInOrderAndDriverReportsArrive) {
  ASSERT_TRUE(d.Command([](LGCP::Command& c) {
    LGCP::CasCommand& k = c.select_ioctl().select_cas();
    k.set_channel().set_path(1);
    k.set_channel().set_timeslot(5);
    k.set_cmd().select_open(9);
  }));
  EXPECT_EQ((std::vector<std::string>{"cas 1 0 0 0", "cas 1 5 9 9", "success"}), CasTrace(d.Received()));
  EXPECT_NE(std::string::npos, d.Sim("cas").find("1 5 open rx 9 tx 9"));
  d.Clear();
  EXPECT_EQ("1\nok\n", d.Sim("cas 2 7 0x0D 0x05"));
  ASSERT_TRUE(d.Wait([](const Msgs& ms) { return !CasTrace(ms).empty(); }));
  EXPECT_EQ((std::vector<std::string>{"cas 2 7 13 5"}), CasTrace(d.Received()));
}

TEST_F(BoardDaemon, TheBusTestUsesTheLibrarysRandomSequence) {
  ASSERT_TRUE(BusTest(true, 1234));
  EXPECT_EQ(-1, Answer(d.Received()));
  std::map<int, int> consts;
  std::istringstream in(d.Sim("consts"));
  for (int ch, byte; in >> ch >> byte;) consts[ch] = byte;
  std::vector<int> have, want;
  ::srandom(1234);
  for (int k = 0; k < 10; ++k) have.push_back(int(::random() & 0xff));
  ::srandom(4321);
  for (int k = 0; k < 10; ++k) want.push_back(int(::random() & 0xff));
  for (int k = 0; k < 10; ++k) EXPECT_EQ(have[k], consts[8568 + k]) << k;
  EXPECT_EQ(0u, consts.count(8578));

  ASSERT_TRUE(BusTest(false, 4321));
  EXPECT_EQ(int(LGCP::ErrorCause::busError), Answer(d.Received()));
  int k = 0;
  while (want[k] == have[k]) ++k;
  char line[80];
  std::snprintf(line, sizeof line, "bus 2: test failed on channel %d expected %02X  read %02X \n", (120 + k) % 128,
                want[k], have[k]);
  EXPECT_TRUE(Logged(line)) << line;
}

void ClockCfg(LGCP::Command& c) {
  LGCP::ClockCfg& k = c.select_clockCfg();
  k.set_clkSel0(LGCP::ClkSel0::external);
  k.set_bextEn(LGCP::BExtEn::enabled);
  k.set_source(2);
}

TEST_F(BoardDaemon, ClockCfgSelectsTheSource) {
  EXPECT_EQ("4\nok\n", d.Sim("clocksrc"));  // free-running after the connect
  ASSERT_TRUE(d.Command(ClockCfg));
  EXPECT_EQ(-1, Answer(d.Received()));
  EXPECT_EQ("2\nok\n", d.Sim("clocksrc"));
  EXPECT_TRUE(Logged("clkctl: clock source = f2\n"));
}

// Last: it stops the shared daemon.
TEST_F(BoardDaemon, BriLinesStartInitialisedAndReportTheirStatusRegister) {
  for (int c = 0; c < 8; ++c) {
    EXPECT_TRUE(Logged("spi: init channel " + std::to_string(c) + "\nspi: enable channel " + std::to_string(c)));
    std::string ch = "spi " + std::to_string(c) + " ";
    EXPECT_EQ("0\nok\n", d.Sim(ch + "50"));  // enabled
    EXPECT_EQ("8\nok\n", d.Sim(ch + "48"));
    EXPECT_EQ("48\nok\n", d.Sim(ch + "87"));  // not clock master
    EXPECT_EQ("96\nok\n", d.Sim(ch + "52"));
  }
  EXPECT_TRUE(Trunks(d.Received(), 1).empty());  // the first pass comes a second later
  EXPECT_EQ("ok\n", d.Sim("spi 3 51 0x85"));
  d.Clear();
  d.Sim("clock 1000");
  ASSERT_TRUE(d.Wait(AtLeast(8, 1)));
  std::vector<Trunk> t = Trunks(d.Received(), 1);
  for (int c = 0; c < 8; ++c) EXPECT_EQ(c, t[c].trunk);
  EXPECT_EQ(int(ACP::TrunkState::rai), t[3].state);
  EXPECT_EQ(int(ACP::TrunkState::lossCarrier), t[4].state);

  d.daemon().signal(SIGTERM);  // at the end every channel is disabled again
  EXPECT_EQ(0, d.daemon().wait(10000));
  EXPECT_NE(std::string::npos, d.log().find("spi: disable channel 7\nspi: clock master disabled\n"));
}

TEST(BoardDaemonNoClock, DisabledClockControlAnswersUnsupported) {
  e1test::DaemonBench d({"--disable-clock"});
  ASSERT_TRUE(d.Ready() && d.Attach()) << d.daemon().err();
  ASSERT_TRUE(d.Command(ClockCfg));
  EXPECT_EQ(int(LGCP::ErrorCause::unsupported), Answer(d.Received()));
  EXPECT_EQ("-1\nok\n", d.Sim("clocksrc"));  // never touched
  EXPECT_NE(std::string::npos, d.log().find("clock control disabled.\n"));
}

}  // namespace
