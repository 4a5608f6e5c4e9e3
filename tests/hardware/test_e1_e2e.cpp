// The real daemon on the simulated board with a test controller: the board
// as the simulator's control socket shows it, E1 trunk reports and an
// injected alarm, the BRI lines' start-up and states, and "--disable-clock".
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include "commands.h"

using e1test::Answer;
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
  static void SetUpTestSuite() {
    ::setenv("TESSAROD_SIM_LOG", "65536", 1);  // room for the start-up's requests and many refreshes
    shared = new e1test::DaemonBench();
  }
  static void TearDownTestSuite() { delete shared; }
  void SetUp() override { ASSERT_TRUE(d.Ready() && d.Attach()) << d.daemon().err(); }
  bool Logged(const std::string& line) {
    return startup_test::waitFor([&] { return d.log().find(line) != std::string::npos; });
  }
  static e1test::DaemonBench* shared;
  e1test::DaemonBench& d = *shared;
};
e1test::DaemonBench* BoardDaemon::shared = nullptr;

// Every backplane output is disabled at start; two clients at once are
// both served.
TEST_F(BoardDaemon, ControlSocketShowsTheRunningDaemonsBoard) {
  const std::string requests = d.Sim("log");
  EXPECT_NE(requests.find("/dev/hal 0x80044d03 8192 -> 0\n"), std::string::npos) << requests.substr(0, 300);
  EXPECT_NE(requests.find("/dev/hal 0x80044d03 10239 -> 0\n"), std::string::npos);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strncpy(a.sun_path, (d.root() + "/run/tessarod-sim.sock").c_str(), sizeof a.sun_path - 1);
  int s[2];
  for (int& k : s) {
    k = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::connect(k, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  }
  EXPECT_EQ(startup_test::simAsk(s[1], "xpoints"), "ok\n");  // nothing connected before a controller asks
  EXPECT_EQ(startup_test::simAsk(s[0], "bogus").rfind("error: unknown command", 0), 0u);
  for (int k : s) ::close(k);
  EXPECT_NE(d.log().find("hwMux: device opened"), std::string::npos);
}

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

const HwCmd::Fill kClockCfg = HwCmd::clockCfg(false, true, 2);

// Last: it stops the shared daemon.
TEST_F(BoardDaemon, BriLinesStartInitialisedAndReportTheirStatusRegister) {
  for (int c = 0; c < 8; ++c)
    EXPECT_TRUE(Logged("spi: init channel " + std::to_string(c) + "\nspi: enable channel " + std::to_string(c)));
  EXPECT_EQ("0\nok\n", d.Sim("spi 7 50"));  // enabled
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
  EXPECT_FALSE(startup_test::exists(d.root() + "/run/tessarod-sim.sock"));  // gone with the daemon
}

TEST(BoardDaemonNoClock, DisabledClockControlAnswersUnsupported) {
  e1test::DaemonBench d({"--disable-clock"});
  ASSERT_TRUE(d.Ready() && d.Attach()) << d.daemon().err();
  ASSERT_TRUE(d.Command(kClockCfg));
  EXPECT_EQ(int(LGCP::ErrorCause::unsupported), Answer(d.Received()));
  EXPECT_EQ("-1\nok\n", d.Sim("clocksrc"));  // never touched
  EXPECT_NE(std::string::npos, d.log().find("clock control disabled.\n"));
}

}  // namespace
