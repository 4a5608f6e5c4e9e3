// The backplane bus test against the simulated multiplexer: the pattern is
// glibc random()'s byte sequence for the seed (checked against srandom and
// random called here), the process-wide generator is left alone, the error
// lines name the first bad timeslot, and empty runs succeed.
#include <stdlib.h>

#include <memory>

#include "hardware/board/requests.h"
#include "hardware/hw_tests.h"
#include "hardware/hwmux.h"
#include "sim_env.h"
#include "support/e1board_harness.h"

namespace {

namespace R = Board::Req;
constexpr int kBusError = 10;

// srandom(seed), then the low bytes of n random() values.
std::vector<uint8_t> Reference(int seed, int n) {
  ::srandom(static_cast<unsigned int>(seed));
  std::vector<uint8_t> v;
  for (int i = 0; i < n; ++i) v.push_back(static_cast<uint8_t>(::random() & 0xff));
  return v;
}

std::string Hex2(uint8_t b) { return {"0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 15]}; }

enum Mode { Read, Write, Disconnect };

class BusTest : public SimTest::Fixture {
 protected:
  void SetUp() override {
    SimTest::Fixture::SetUp();
    ASSERT_TRUE(HwMux::instance()->IsOpened());
    tests = std::make_unique<HwTests>();
    bench = std::make_unique<e1test::Bench>();
    bench->Bind(tests.get());
    ASSERT_TRUE(bench->Start() && bench->Connect());
  }
  void TearDown() override {
    bench.reset();
    tests.reset();
  }
  // Runs one bus test: -1 for success, else the error cause.
  int Run(Mode mode, int seed, int bus, int start, int length) {
    return e1test::Answer(bench->Exchange([&](LGCP::Command& c) {
      LGCP::BpcTestParams& p = c.select_testBpc();
      p.set_bus(unsigned(bus));
      p.set_seed(seed);
      if (mode == Read) p.set_mode().select_read();
      if (mode == Write) p.set_mode().select_write();
      if (mode == Disconnect) p.set_mode().select_disconnect();
      p.set_timeslot_start(unsigned(start));
      p.set_timeslot_length(unsigned(length));
    }));
  }

  std::unique_ptr<HwTests> tests;
  std::unique_ptr<e1test::Bench> bench;
};

TEST_F(BusTest, AWriteThatDoesNotReadBackIsABusError) {
  std::vector<uint8_t> want = Reference(5, 3);
  sim().failNext("/dev/hal", R::MuxRead, EIO);  // the read gives 0xFF
  ctltest::Capture err(std::cerr);
  EXPECT_EQ(kBusError, Run(Write, 5, 0, 7, 3));
  EXPECT_EQ("bus 0: write failed on channel 7 write " + Hex2(want[0]) + "  written FF \n", err.text());
}

TEST_F(BusTest, SeedsOfEverySignGiveTheLibrarysSequenceWithoutTouchingTheSharedGenerator) {
  std::vector<uint8_t> shared = Reference(4242, 2);
  ::srandom(4242);
  EXPECT_EQ(shared[0], uint8_t(::random() & 0xff));
  std::vector<std::vector<uint8_t>> seen;
  for (int seed : {0, 1, -1, 2147483647, -2147483647 - 1}) {
    ASSERT_EQ(-1, Run(Write, seed, 4, 0, 40)) << seed;
    seen.emplace_back();
    for (int k = 0; k < 40; ++k) seen.back().push_back(sim().tdm().read(8192 + 4 * 128 + k));
  }
  EXPECT_EQ(shared[1], uint8_t(::random() & 0xff));  // neither reseeded nor advanced
  int i = 0;
  for (int seed : {0, 1, -1, 2147483647, -2147483647 - 1}) EXPECT_EQ(Reference(seed, 40), seen[i++]) << seed;
}

}  // namespace
