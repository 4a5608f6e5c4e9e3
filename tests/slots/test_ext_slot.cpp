// External slots: the transmit stream from creation, the receive side
// switched by activate and deactivate, the channels freed on destroy, and
// channel numbers outside the multiplexer's outputs refused.
#include "test_map_bench.h"

namespace {

using namespace kindtest;


class ExtSlots : public Bench {};

// The stream signals of activate and deactivate come before the answer.
TEST_F(ExtSlots, ReceiveSideFollowsActivation) {
  EXPECT_EQ(Request(7, Ext(4, 5)), Strings({"7: success", "7: transmitter active 8196"}));
  ASSERT_EQ(Ask(1, Timeslot(0, 9)), kOk);
  EXPECT_EQ(Ask(1, ConnectTo(7)), int(LGCP::ErrorCause::connectFail));  // not activated
  EXPECT_EQ(sourceOf(8197), -1);

  EXPECT_EQ(Request(7, Activate), Strings({"7: receiver active 8197", "7: success"}));
  EXPECT_TRUE(Idle(8197));
  EXPECT_EQ(Ask(1, ConnectTo(7)), kOk);
  EXPECT_EQ(sourceOf(8197), 9);
  // A repeated activate sends no second signal and keeps the path.
  EXPECT_EQ(Request(7, Activate), Strings({"7: success"}));
  EXPECT_EQ(sourceOf(8197), 9);
  // The slot's output reaches the trunk.
  EXPECT_EQ(Ask(7, ConnectTo(1)), kOk);
  EXPECT_EQ(sourceOf(9), 8196);

  EXPECT_EQ(Request(7, Deactivate), Strings({"7: receiver inactive", "7: success"}));
  EXPECT_TRUE(Disabled(8197));
  EXPECT_TRUE(Slots::instance().at(1)->GetReceivers().empty());
  EXPECT_EQ(Request(7, Deactivate), Strings({"7: success"}));

  EXPECT_EQ(Request(7, Activate), Strings({"7: receiver active 8197", "7: success"}));
  ASSERT_EQ(Ask(1, ConnectTo(7)), kOk);
  EXPECT_EQ(Ask(7, Destroy), kOk);
  EXPECT_TRUE(Disabled(8197));
  EXPECT_EQ(sourceOf(9), -1);  // the trunk lost the slot's output too
}

TEST_F(ExtSlots, ChannelsOutsideTheOutputsAreRefused) {
  ctltest::Capture err(std::cerr);
  for (auto [tx, rx] : {std::pair<int, int>{-1, 0}, {0, -8192}, {2048, 0}, {0, 2147483647}, {-2147483647 - 1, 0}})
    EXPECT_EQ(Ask(3, Ext(tx, rx)), int(LGCP::ErrorCause::insufficientResources)) << tx << " " << rx;
  EXPECT_EQ(err.count("ext-slot: channel out of range"), 5u);
  EXPECT_EQ(Request(3, Ext(2047, 0)), Strings({"3: success", "3: transmitter active 10239"}));
}

}  // namespace
