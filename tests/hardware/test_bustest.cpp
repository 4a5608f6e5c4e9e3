// The backplane bus test against the simulated multiplexer: the pattern is
// glibc random()'s byte sequence for the seed (checked against srandom and
// random called here), the process-wide generator is left alone, the error
// lines name the first bad timeslot, and empty runs succeed.

#include "hardware/hw_tests.h"
#include "sim_env.h"

namespace {

constexpr int kBusError = 10;

// srandom(seed), then the low bytes of n random() values.
std::vector<uint8_t> Reference(int seed, int n) {
  ::srandom(static_cast<unsigned int>(seed));
  std::vector<uint8_t> v;
  for (int i = 0; i < n; ++i) v.push_back(static_cast<uint8_t>(::random() & 0xff));
  return v;
}

std::string Hex2(uint8_t b) { return {"0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 15]}; }

using namespace HwCmd;

class BusTest : public SimTest::BenchFixture<HwTests> {
 protected:
  void SetUp() override {
    SimTest::Fixture::SetUp();
    ASSERT_TRUE(HwMux::instance()->IsOpened());
    Start(true);
  }
  // Runs one bus test: -1 for success, else the error cause.
  int Run(BusMode mode, int seed, int bus, int start, int length) {
    return e1test::Answer(bench->Exchange(busTest(mode, seed, bus, start, length)));
  }
};

// The bus number is decimal on an error stream left in hex, which stays hex.
TEST_F(BusTest, AWriteThatDoesNotReadBackIsABusError) {
  std::vector<uint8_t> want = Reference(5, 3);
  for (auto [bus, prefix] : {std::pair{0, "bus 0: "}, {10, "bus 10: "}}) {
    sim().failNext("/dev/hal", R::MuxRead, EIO);  // the read gives 0xFF
    ctltest::Capture err(std::cerr);
    if (bus) std::cerr << std::hex;
    EXPECT_EQ(kBusError, Run(Write, 5, bus, 7, 3));
    const bool hex = (std::cerr.flags() & std::ios::basefield) == std::ios::hex;
    std::cerr << std::dec;
    EXPECT_EQ(hex, bus != 0);
    EXPECT_EQ(prefix + std::string("write failed on channel 7 write ") + Hex2(want[0]) + "  written FF \n", err.text());
  }
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

TEST_F(BusTest, AReadOfAnotherSeedFailsOnTheFirstDifferentByte) {
  ASSERT_EQ(-1, Run(Write, 1234, 2, 120, 10));
  std::map<int, int> consts;
  std::istringstream in(sim().execute("consts"));
  for (int ch, byte; in >> ch >> byte;) consts[ch] = byte;
  const std::vector<uint8_t> have = Reference(1234, 10), want = Reference(4321, 10);
  for (int k = 0; k < 10; ++k) EXPECT_EQ(have[k], consts[8568 + k]) << k;
  EXPECT_EQ(0u, consts.count(8578));
  ctltest::Capture err(std::cerr);
  EXPECT_EQ(kBusError, Run(Read, 4321, 2, 120, 10));
  int k = 0;
  while (want[k] == have[k]) ++k;
  EXPECT_EQ("bus 2: test failed on channel " + std::to_string((120 + k) % 128) + " expected " + Hex2(want[k]) +
                "  read " + Hex2(have[k]) + " \n",
            err.text());
}

}  // namespace
