// The backplane bus test against the simulated multiplexer: the pattern is
// glibc random()'s byte sequence for the seed (checked against srandom and
// random called here), the process-wide generator is left alone, the error
// lines name the first bad timeslot, and empty runs succeed.
#include <stdlib.h>

#include <algorithm>
#include <memory>

#include "hardware/board/requests.h"
#include "hardware/hw_tests.h"
#include "hardware/hwmux.h"
#include "sim_env.h"
#include "support/e1board_harness.h"

using e1test::Bench;
using e1test::CommandMsg;

namespace {

namespace R = Board::Req;

// What srandom(seed) and then n calls of random() give, low bytes.
std::vector<uint8_t> Reference(int seed, int n) {
  ::srandom(static_cast<unsigned int>(seed));
  std::vector<uint8_t> v;
  for (int i = 0; i < n; ++i) v.push_back(static_cast<uint8_t>(::random() & 0xff));
  return v;
}

std::string Hex2(uint8_t b) {
  static const char* d = "0123456789ABCDEF";
  return std::string{d[b >> 4], d[b & 15]};
}

enum Mode { Read, Write, Disconnect };

class BusTest : public SimTest::Fixture {
 protected:
  void SetUp() override {
    SimTest::Fixture::SetUp();
    ASSERT_TRUE(HwMux::instance()->IsOpened());
    tests = std::make_unique<HwTests>();
    bench = std::make_unique<Bench>();
    bench->Bind(tests.get());
    ASSERT_TRUE(bench->Start());
    ASSERT_TRUE(bench->Connect());
  }
  void TearDown() override {
    bench.reset();
    tests.reset();
  }
  // Runs one bus test; the cause of its error answer, or -1 for success.
  int Run(Mode mode, int seed, int bus, int start, int length) {
    auto r = bench->Exchange(CommandMsg(++seq, [&](LGCP::Command& c) {
      LGCP::BpcTestParams& p = c.select_testBpc();
      p.set_bus(unsigned(bus));
      p.set_seed(seed);
      if (mode == Read) p.set_mode().select_read();
      if (mode == Write) p.set_mode().select_write();
      if (mode == Disconnect) p.set_mode().select_disconnect();
      p.set_timeslot_start(unsigned(start));
      p.set_timeslot_length(unsigned(length));
    }));
    EXPECT_TRUE(e1test::IsResponse(r.back()));
    return e1test::IsSuccess(r.back()) ? -1 : e1test::ErrorOf(r.back());
  }
  std::size_t Requests(uint32_t code) {
    std::size_t n = 0;
    for (const auto& e : sim().log())
      if (e.request == code) ++n;
    return n;
  }

  std::unique_ptr<HwTests> tests;
  std::unique_ptr<Bench> bench;
  int seq = 0;
};

constexpr int kBusError = 10;

TEST_F(BusTest, WritePutsRandomsSequenceOnTheRunAndReadsItBack) {
  EXPECT_EQ(-1, Run(Write, 1234, 2, 120, 10));
  std::vector<uint8_t> want = Reference(1234, 10);
  for (int k = 0; k < 10; ++k) {
    int ch = 8568 + k;
    EXPECT_EQ(want[k], sim().tdm().read(ch)) << ch;
    EXPECT_EQ(HwMux::kConstant, HwMux::instance()->entry(ch - HwMux::kFirstOutput));
  }
  EXPECT_EQ(0xFF, sim().tdm().read(8578));  // nothing past the run
  EXPECT_EQ(-1, Run(Read, 1234, 2, 120, 10));
}

TEST_F(BusTest, ReadWithAnotherSeedFailsOnTheFirstDifferingChannel) {
  ASSERT_EQ(-1, Run(Write, 1234, 2, 120, 10));
  std::vector<uint8_t> have = Reference(1234, 10), want = Reference(4321, 10);
  int k = 0;
  while (k < 10 && have[k] == want[k]) ++k;
  ASSERT_LT(k, 10);
  ctltest::Capture err(std::cerr);
  sim().clearLog();
  EXPECT_EQ(kBusError, Run(Read, 4321, 2, 120, 10));
  std::string line = "bus 2: test failed on channel " + std::to_string((120 + k) % 128) + " expected " +
                     Hex2(want[k]) + "  read " + Hex2(have[k]) + " \n";
  EXPECT_EQ(line, err.text());
  EXPECT_EQ(std::size_t(k + 1), Requests(R::MuxRead));  // stops at the first mismatch
}

TEST_F(BusTest, TheRunCrossesIntoTheNextBusAndTheLinesNameItsTimeslots) {
  std::vector<uint8_t> want = Reference(77, 10);
  for (int k = 0; k < 8; ++k) sim().tdm().drive(8568 + k, want[k]);
  sim().tdm().drive(8576, want[8] ^ 0x5A);
  ctltest::Capture err(std::cerr);
  EXPECT_EQ(kBusError, Run(Read, 77, 2, 120, 10));
  EXPECT_EQ("bus 2: test failed on channel 0 expected " + Hex2(want[8]) + "  read " + Hex2(want[8] ^ 0x5A) + " \n",
            err.text());
  for (int k = 0; k < 8; ++k) sim().tdm().drive(8568 + k, -1);
  sim().tdm().drive(8576, -1);
}

TEST_F(BusTest, AWriteThatDoesNotReadBackIsABusError) {
  std::vector<uint8_t> want = Reference(5, 3);
  ASSERT_NE(0xFF, want[0]);
  sim().failNext("/dev/hal", R::MuxRead, EIO);
  ctltest::Capture err(std::cerr);
  EXPECT_EQ(kBusError, Run(Write, 5, 0, 7, 3));
  EXPECT_NE(std::string::npos,
            err.text().find("bus 0: write failed on channel 7 write " + Hex2(want[0]) + "  written FF \n"));
}

TEST_F(BusTest, DisconnectDisablesTheRun) {
  Run(Write, 9, 15, 126, 2);
  sim().clearLog();
  EXPECT_EQ(-1, Run(Disconnect, 9, 15, 126, 2));
  // (The multiplexer's own refresh disables other outputs meanwhile.)
  std::vector<int32_t> disabled = sim().firstWords("/dev/hal", R::MuxDisable);
  EXPECT_NE(disabled.end(), std::find(disabled.begin(), disabled.end(), 10110));
  EXPECT_NE(disabled.end(), std::find(disabled.begin(), disabled.end(), 10111));
  EXPECT_EQ(0u, sim().tdm().constants().count(10110));
  EXPECT_EQ(HwMux::kDisabled, HwMux::instance()->entry(10110 - HwMux::kFirstOutput));
  EXPECT_EQ(HwMux::kDisabled, HwMux::instance()->entry(10111 - HwMux::kFirstOutput));
}

TEST_F(BusTest, AnEmptyRunTouchesNothingAndSucceedsInEveryMode) {
  sim().clearLog();
  EXPECT_EQ(-1, Run(Read, 1, 3, 5, 0));
  EXPECT_EQ(-1, Run(Write, 1, 3, 5, 0));
  EXPECT_EQ(-1, Run(Disconnect, 1, 3, 5, 0));
  EXPECT_EQ(0u, Requests(R::MuxRead) + Requests(R::MuxWrite));
  for (int32_t ch : sim().firstWords("/dev/hal", R::MuxDisable))
    EXPECT_EQ(HwMux::kDisabled, HwMux::instance()->entry(ch - HwMux::kFirstOutput));  // only the refresh
}

TEST_F(BusTest, TheProcessWideGeneratorIsNeitherReseededNorAdvanced) {
  std::vector<uint8_t> ref = Reference(4242, 2);
  ::srandom(4242);
  EXPECT_EQ(ref[0], uint8_t(::random() & 0xff));
  ASSERT_EQ(-1, Run(Write, 1234, 2, 120, 10));
  ASSERT_EQ(-1, Run(Read, 1234, 2, 120, 10));
  EXPECT_EQ(ref[1], uint8_t(::random() & 0xff));
}

TEST_F(BusTest, SeedsOfEverySignGiveTheLibrarysSequence) {
  for (int seed : {0, 1, -1, 2147483647, -2147483647 - 1}) {
    ASSERT_EQ(-1, Run(Write, seed, 4, 0, 40)) << seed;
    std::vector<uint8_t> want = Reference(seed, 40);
    for (int k = 0; k < 40; ++k) ASSERT_EQ(want[k], sim().tdm().read(8192 + 4 * 128 + k)) << seed << " " << k;
  }
}

TEST_F(BusTest, OtherCommandsAreNotTaken) {
  auto r = bench->Exchange(CommandMsg(99, [](LGCP::Command& c) { c.select_query(); }));
  EXPECT_EQ(int(LGCP::ErrorCause::unexpectedMsgType), e1test::ErrorOf(r.back()));
}

}  // namespace
