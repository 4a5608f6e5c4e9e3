// The real daemon on the simulated board: a test process reads its
// crosspoint table and request log through the control socket.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "support/startup_harness.h"

namespace {

using startup_test::simAsk;

TEST(BoardEndToEnd, ControlSocketShowsTheRunningDaemonsBoard) {
  startup_test::TempRoot root;
  ::setenv("TESSAROD_SIM_LOG", "65536", 1);  // room for the start-up's requests and many refreshes
  startup_test::Daemon d(root, {"--port", std::to_string(startup_test::freePort())});
  auto log = [&] { return d.out() + d.err(); };
  int s = startup_test::simConnect(root, 10000);
  ASSERT_GE(s, 0) << log();

  // The multiplexer has disabled every backplane output at start.
  std::string requests = simAsk(s, "log");
  EXPECT_NE(requests.find("/dev/hal 0x80044d03 8192 -> 0\n"), std::string::npos) << requests.substr(0, 300);
  EXPECT_NE(requests.find("/dev/hal 0x80044d03 10239 -> 0\n"), std::string::npos);

  // Nothing is connected before a controller asks.
  EXPECT_EQ(simAsk(s, "xpoints"), "ok\n");
  // A second client at the same time is served as well.
  int s2 = startup_test::simConnect(root);
  ASSERT_GE(s2, 0);
  EXPECT_EQ(simAsk(s2, "xpoints"), "ok\n");
  EXPECT_EQ(simAsk(s, "bogus").rfind("error: unknown command", 0), 0u);
  ::close(s2);
  ::close(s);
  EXPECT_NE(log().find("hwMux: device opened"), std::string::npos) << log();
  EXPECT_EQ(d.stop(), 0);
  EXPECT_FALSE(startup_test::exists(startup_test::simSocketPath(root)));  // gone with the daemon
}

}  // namespace
