// The real daemon on the simulated board: map and external slots made by
// the controller and switched with trunk timeslots through the
// multiplexer, read back through the simulator's control socket.
#include "test_map_bench.h"

namespace {

using namespace kindtest;

TEST(SharedBusDaemon, MapAndExternalSlotsAreSwitchedWithATrunk) {
  e1test::DaemonBench d;
  ASSERT_TRUE(d.Ready() && d.Attach()) << d.log();
  ASSERT_EQ(DaemonAsk(d, 1, Timeslot(0, 3)), kOk);
  ASSERT_EQ(DaemonAsk(d, 4, Timeslot(0, 4)), kOk);
  ASSERT_EQ(DaemonAsk(d, 2, Map(1, 5, 1, 6)), kOk);
  ASSERT_EQ(DaemonAsk(d, 2, ConnectTo(1)), kOk);
  ASSERT_EQ(DaemonAsk(d, 1, ConnectTo(2)), kOk);
  EXPECT_TRUE(Xpoint(d, 3, 8325) && Xpoint(d, 8326, 3)) << d.Sim("xpoints");

  ASSERT_EQ(DaemonAsk(d, 3, Ext(4, 5)), kOk);
  EXPECT_EQ(DaemonAsk(d, 4, ConnectTo(3)), int(LGCP::ErrorCause::connectFail));
  ASSERT_EQ(DaemonAsk(d, 3, Activate), kOk);
  ASSERT_EQ(DaemonAsk(d, 4, ConnectTo(3)), kOk);
  ASSERT_EQ(DaemonAsk(d, 3, ConnectTo(4)), kOk);
  EXPECT_TRUE(Xpoint(d, 8197, 4) && Xpoint(d, 4, 8196)) << d.Sim("xpoints");
  EXPECT_TRUE(startup_test::waitFor([&] { return d.log().find("mux: slot 04:trunk [4] -> 03:bri [8197]") != std::string::npos; }));

  // Destroying the map slot frees the trunk and disables its receiver.
  ASSERT_EQ(DaemonAsk(d, 2, Destroy), kOk);
  EXPECT_FALSE(Xpoint(d, 3, 8325) || Xpoint(d, 8326, 3)) << d.Sim("xpoints");
  EXPECT_TRUE(startup_test::waitFor([&] { return d.log().find("map: disable map channel 134") != std::string::npos; }));
  ASSERT_EQ(DaemonAsk(d, 3, Deactivate), kOk);
  EXPECT_FALSE(Xpoint(d, 8197, 4));
}

}  // namespace
