// HwMux against the simulated "/dev/hal": the start-up sweep, the output
// table, the paced re-disabling and the log lines of failures.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <sstream>

#include "hardware/board/record.h"
#include "hardware/board/requests.h"
#include "hardware/hwmux.h"
#include "sim_env.h"

namespace R = Board::Req;

namespace {

class HwMuxTest : public SimTest::Fixture {
 protected:
  std::vector<int32_t> disables() { return sim().firstWords("/dev/hal", R::MuxDisable); }
  // The words of the last logged request.
  std::vector<int32_t> last() {
    const auto e = sim().log().back();
    std::vector<int32_t> w;
    for (std::size_t i = 0; i + 4 <= e.in.size(); i += 4) w.push_back(int32_t(Board::getBE32(&e.in[i])));
    w.insert(w.begin(), int32_t(e.request));
    return w;
  }
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

TEST_F(HwMuxTest, ConnectRecordsDestinationThenSource) {
  HwMux mux;
  EXPECT_TRUE(mux.Connect(5, 8192 + 3 * 128 + 7));
  EXPECT_EQ(last(), (std::vector<int32_t>{int32_t(R::MuxConnect), 8583, 5}));
  EXPECT_EQ(mux.entry(391), 5);
  EXPECT_EQ(sim().tdm().sourceOf(8583), 5);

  // A source on the bus and a destination off it: no table entry changes.
  EXPECT_TRUE(mux.Connect(8192, 40));
  EXPECT_EQ(last(), (std::vector<int32_t>{int32_t(R::MuxConnect), 40, 8192}));
  EXPECT_EQ(mux.entry(0), HwMux::kDisabled);
  EXPECT_TRUE(mux.Connect(3, 10240));
  EXPECT_EQ(last(), (std::vector<int32_t>{int32_t(R::MuxConnect), 10240, 3}));
  EXPECT_TRUE(mux.Connect(3, 8191));
  for (int i = 0; i < 2048; ++i) {
    if (i != 391) {
      ASSERT_EQ(mux.entry(i), HwMux::kDisabled) << i;
    }
  }
}

TEST_F(HwMuxTest, DisconnectedOutputIsLeftAloneUntilDisabledAgain) {
  HwMux mux;
  EXPECT_TRUE(mux.Disconnect(8200));
  EXPECT_EQ(last(), (std::vector<int32_t>{int32_t(R::MuxWrite), 8200, 0xD5}));
  EXPECT_EQ(mux.entry(8), HwMux::kConstant);
  EXPECT_EQ(mux.Read(8200), 0xD5);
  mux.Connect(7, 8201);

  sim().clearLog();
  for (int i = 0; i < 32; ++i) mux.OnDPC();  // two sweeps
  auto d = disables();
  EXPECT_EQ(d.size(), 2u * 2046);
  EXPECT_EQ(std::count(d.begin(), d.end(), 8200), 0);
  EXPECT_EQ(std::count(d.begin(), d.end(), 8201), 0);

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
