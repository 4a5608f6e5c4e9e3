// The real daemon on the simulated board: an HDLC slot on a trunk
// timeslot sends the controller's packages to the far end and reports the
// far end's frames back to the controller.
#include "test_map_bench.h"

namespace {

using namespace kindtest;

TEST(HdlcSlotDaemon, PackagesReachTheFarEndAndBack) {
  e1test::DaemonBench d;
  ASSERT_TRUE(d.Ready() && d.Attach()) << d.log();
  ASSERT_EQ(DaemonAsk(d, 1, Timeslot(0, 16)), kOk);
  ASSERT_EQ(DaemonAsk(d, 2, Hdlc(1, 0x1234)), kOk);
  ASSERT_EQ(DaemonAsk(d, 2, ConnectTo(1)), kOk);
  ASSERT_EQ(DaemonAsk(d, 2, Packages({"hi", "yo"})), kOk);
  std::string frames;
  EXPECT_TRUE(startup_test::waitFor([&] {
    frames += d.Sim("frames 16");
    return frames.find("12342079") != std::string::npos;
  })) << frames;
  EXPECT_EQ(frames.find("1234006869\n"), 0u) << frames;

  // A far-end frame with the slot's address (continuation bit clear).
  d.Clear();
  EXPECT_NE(d.Sim("inject 16 1234e0 aa00").find("ok"), std::string::npos);
  EXPECT_TRUE(d.Wait([](const e1test::Msgs& ms) { return !kindtest::Trace(ms).empty(); })) << d.log();
  EXPECT_EQ(kindtest::Trace(d.Received()), Strings({"2: packages aa00"}));
}

}  // namespace
