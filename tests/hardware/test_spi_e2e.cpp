// The real daemon's BRI line control on the simulated board: the channels
// are initialised at start, and a line status register reaches the
// controller as the line's state once a second.
#include <gtest/gtest.h>

#include "support/e1board_harness.h"

using e1test::DaemonBench;
using e1test::Trunk;
using e1test::Trunks;
using Msgs = std::vector<LGCP::Message>;

namespace {

TEST(SpiDaemon, ChannelsAreInitialisedAtStartAndLineStatesReachTheController) {
  DaemonBench d;
  ASSERT_TRUE(d.Ready()) << d.daemon().err();
  std::string log = d.daemon().out() + d.daemon().err();
  for (int c = 0; c < 8; ++c) {
    EXPECT_NE(std::string::npos, log.find("spi: init channel " + std::to_string(c) + "\n")) << c;
    EXPECT_NE(std::string::npos, log.find("spi: enable channel " + std::to_string(c) + "\n")) << c;
    std::string ch = "spi " + std::to_string(c) + " ";
    EXPECT_EQ("0\nok\n", d.Sim(ch + "50"));  // enabled
    EXPECT_EQ("8\nok\n", d.Sim(ch + "48"));
    EXPECT_EQ("48\nok\n", d.Sim(ch + "87"));  // not clock master
    EXPECT_EQ("96\nok\n", d.Sim(ch + "52"));
  }

  ASSERT_TRUE(d.Attach());
  EXPECT_TRUE(Trunks(d.Received(), 1).empty());  // the first pass comes a second later
  EXPECT_EQ("ok\n", d.Sim("spi 3 51 0x85"));
  EXPECT_EQ("ok\n", d.Sim("spi 4 51 0xC5"));
  d.Clear();
  d.Sim("clock 1000");
  ASSERT_TRUE(d.Wait([](const Msgs& ms) { return Trunks(ms, 1).size() >= 8; }));
  std::vector<Trunk> t = Trunks(d.Received(), 1);
  for (int c = 0; c < 8; ++c) EXPECT_EQ(c, t[c].trunk);
  EXPECT_EQ(int(ACP::TrunkState::rai), t[3].state);
  EXPECT_EQ(int(ACP::TrunkState::normal), t[4].state);
  EXPECT_EQ(int(ACP::TrunkState::lossCarrier), t[0].state);

  // At the end every channel is disabled again.
  d.daemon().signal(SIGTERM);
  EXPECT_EQ(0, d.daemon().wait(10000));
  log = d.daemon().out() + d.daemon().err();
  EXPECT_NE(std::string::npos, log.find("spi: disable channel 7\nspi: clock master disabled\n"));
}

}  // namespace
