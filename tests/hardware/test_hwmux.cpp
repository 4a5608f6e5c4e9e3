// HwMux against the simulated "/dev/hal": the start-up sweep, the output
// table, the paced re-disabling and the log lines of failures.

#include "sim_env.h"

namespace {

class HwMuxTest : public SimTest::Fixture {
 protected:
  std::vector<int32_t> disables() { return sim().firstWords("/dev/hal", R::MuxDisable); }
  std::string last() { return sim().log().back().text(); }
  // The log stream's lines since the last take.
  std::string take() {
    std::string s = cap_.log();
    cap_.clear();
    return s;
  }
  SimTest::LogCapture cap_;
};

TEST_F(HwMuxTest, StartDisablesEveryOutputInAscendingOrder) {
  HwMux* mux = HwMux::instance();
  EXPECT_EQ(mux, HwMux::instance());
  std::string lines = take();
  EXPECT_EQ(lines, "hwMux: init\nhwMux: device opened\n");
  auto d = disables();
  ASSERT_EQ(d.size(), 2048u);
  for (int i = 0; i < 2048; ++i) ASSERT_EQ(d[i], 8192 + i);
  for (int i = 0; i < 2048; ++i) ASSERT_EQ(mux->entry(i), HwMux::kDisabled);
  EXPECT_EQ(mux->refreshPosition(), 0);
  EXPECT_TRUE(mux->refreshActive());
}

// A connect sends the destination, then the source; only a backplane output
// (8192..10239) enters the table, and the refresh leaves connected and
// constant outputs alone.
TEST_F(HwMuxTest, ConnectionsEnterTheTableAndTheRefreshLeavesThemAlone) {
  HwMux mux;
  for (auto [src, dst, request] : {std::tuple{5, 8583, "8583 5"}, {8192, 40, "40 8192"}, {3, 10240, "10240 3"},
                                   {3, 8191, "8191 3"}}) {
    EXPECT_TRUE(mux.Connect(src, dst));
    EXPECT_EQ(last(), std::string("/dev/hal 0x80084d02 ") + request + " -> 0");
  }
  EXPECT_EQ(sim().tdm().sourceOf(8583), 5);
  for (int i = 0; i < 2048; ++i) ASSERT_EQ(mux.entry(i), i == 391 ? 5 : HwMux::kDisabled) << i;

  // Disconnected outputs are left alone by the refresh until disabled again.
  EXPECT_TRUE(mux.Disconnect(8200));
  EXPECT_EQ(last(), "/dev/hal 0xc0084d04 8200 213 -> 0");
  EXPECT_EQ(mux.entry(8), HwMux::kConstant);
  EXPECT_EQ(mux.Read(8200), 0xD5);
  mux.Connect(7, 8201);
  sim().clearLog();
  for (int i = 0; i < 32; ++i) mux.OnDPC();  // two sweeps of 128 a call
  auto d = disables();
  EXPECT_EQ(d.size(), 2u * 2045);
  EXPECT_EQ(std::count(d.begin(), d.end(), 8200) + std::count(d.begin(), d.end(), 8201), 0);
  EXPECT_TRUE(mux.Disable(8200));
  EXPECT_EQ(mux.entry(8), HwMux::kDisabled);
  sim().clearLog();
  for (int i = 0; i < 32; ++i) mux.OnDPC();
  d = disables();
  EXPECT_EQ(std::count(d.begin(), d.end(), 8200), 2);
}

TEST_F(HwMuxTest, FailedRequestsAreLoggedAndKeepTheTableAsRequested) {
  HwMux mux;
  take();
  const std::string eio = std::strerror(EIO);

  sim().failNext("/dev/hal", R::MuxConnect, EIO);
  EXPECT_FALSE(mux.Connect(5, 8583));
  EXPECT_EQ(mux.entry(391), 5);
  sim().failNext("/dev/hal", R::MuxWrite, EIO, 2);
  EXPECT_FALSE(mux.Disconnect(8200));
  EXPECT_FALSE(mux.Write(8201, 0x3a));
  sim().failNext("/dev/hal", R::MuxDisable, EIO);
  EXPECT_FALSE(mux.Disable(8202));
  sim().failNext("/dev/hal", R::MuxRead, EIO);
  EXPECT_EQ(mux.Read(8300), 0xFF);
  EXPECT_EQ(take(),
            "hwMux: connect 5 -> 8583 failed: " + eio + "\n" +
            "hwMux: disconnect failed 8200 : " + eio + "\n" +
            "hwMux: write failed 8201 <- 0x3a : " + eio + "\n" +
            "hwMux: disable failed 8202 : " + eio + "\n" +
            "hwMux: read failed 8300 -> 0xff : " + eio + "\n");

  // The refresh ignores failures silently.
  sim().failNext("/dev/hal", R::MuxDisable, EIO, 10);
  mux.OnDPC();
  EXPECT_EQ(take(), "");
}

TEST_F(HwMuxTest, MissingDeviceIsRetriedAndLoggedOnEveryOperation) {
  sim().setPresent("/dev/hal", false);
  const std::string line = std::string("hwMux: can't open device: ") + std::strerror(ENOENT) + "\n";
  HwMux mux;
  EXPECT_EQ(take(), "hwMux: init\n" + line);
  EXPECT_FALSE(mux.refreshActive());
  mux.OnDPC();

  EXPECT_EQ(mux.Read(8200), 0xFF);
  EXPECT_EQ(take(), line);
  EXPECT_FALSE(mux.Connect(5, 8583));
  EXPECT_EQ(take(), line + "hwMux: ERROR not opened\n");
  EXPECT_FALSE(mux.Disable(8200));
  EXPECT_FALSE(mux.Write(8200, 1));
  EXPECT_FALSE(mux.Disconnect(8200));
  EXPECT_EQ(take(), line + line + line);
  EXPECT_TRUE(sim().log().empty());

  // Once the device appears, the next operation opens it and goes ahead.
  sim().setPresent("/dev/hal", true);
  EXPECT_TRUE(mux.Connect(5, 8583));
  EXPECT_EQ(take(), "hwMux: device opened\n");
  EXPECT_TRUE(mux.refreshActive());
  EXPECT_EQ(disables().size(), 2048u);
  EXPECT_EQ(sim().tdm().sourceOf(8583), 5);
}

}  // namespace
