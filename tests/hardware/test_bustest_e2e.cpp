// The real daemon's bus test on the simulated board: a write test puts the
// C library's random() sequence for the seed on the bus, and a read test
// with another seed answers busError with the mismatch line.
#include <stdlib.h>

#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "support/e1board_harness.h"

using e1test::DaemonBench;

namespace {

void BusTest(LGCP::Command& c, bool write, int seed) {
  LGCP::BpcTestParams& p = c.select_testBpc();
  p.set_bus(2);
  p.set_seed(seed);
  if (write) p.set_mode().select_write();
  else p.set_mode().select_read();
  p.set_timeslot_start(120);
  p.set_timeslot_length(10);
}

std::string Hex2(int b) {
  static const char* d = "0123456789ABCDEF";
  return std::string{d[(b >> 4) & 15], d[b & 15]};
}

TEST(BusTestDaemon, WriteAndReadAgainstTheLibrarysSequence) {
  DaemonBench d;
  ASSERT_TRUE(d.Ready()) << d.daemon().err();
  ASSERT_TRUE(d.Attach());
  d.Clear();
  ASSERT_TRUE(d.Command(1, [](LGCP::Command& c) { BusTest(c, true, 1234); }));
  EXPECT_TRUE(e1test::IsSuccess(d.Received().back()));

  std::map<int, int> consts;
  std::istringstream in(d.Sim("consts"));
  int ch, byte;
  while (in >> ch >> byte) consts[ch] = byte;
  std::vector<int> want, other;
  ::srandom(1234);
  for (int k = 0; k < 10; ++k) want.push_back(int(::random() & 0xff));
  ::srandom(4321);
  for (int k = 0; k < 10; ++k) other.push_back(int(::random() & 0xff));
  for (int k = 0; k < 10; ++k) EXPECT_EQ(want[k], consts[8568 + k]) << k;
  EXPECT_EQ(0u, consts.count(8578));

  d.Clear();
  ASSERT_TRUE(d.Command(2, [](LGCP::Command& c) { BusTest(c, false, 4321); }));
  EXPECT_EQ(int(LGCP::ErrorCause::busError), e1test::ErrorOf(d.Received().back()));
  int k = 0;
  while (want[k] == other[k]) ++k;
  std::string line = "bus 2: test failed on channel " + std::to_string((120 + k) % 128) + " expected " +
                     Hex2(other[k]) + "  read " + Hex2(want[k]) + " \n";
  EXPECT_TRUE(startup_test::waitFor([&] { return d.daemon().err().find(line) != std::string::npos; }))
      << line << d.daemon().err();
}

}  // namespace
