// Map slots on the shared buses: which streams a create gives, who holds a
// shared channel, what a replaced or destroyed holder leaves behind.
#include "test_map_bench.h"

namespace {

using namespace kindtest;


class MapSlots : public Bench {};

TEST_F(MapSlots, TransmitterOnlyHasNoInput) {
  EXPECT_EQ(Request(4, Map(1, 5, -1, 0)), Strings({"4: success", "4: transmitter active 8325"}));
  auto* map = At<MapSlot>(4);
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(map->GetReceiveChannel(), -1);
  EXPECT_EQ(MapFactory::instance().holder(8325), map);

  ASSERT_EQ(Ask(1, Timeslot(0, 3)), kOk);
  ctltest::Capture err(std::cerr);
  EXPECT_EQ(Ask(1, ConnectTo(4)), int(LGCP::ErrorCause::connectFail));
  EXPECT_EQ(err.count("slot 04:map don't have input stream from 01:trunk"), 1u) << err.text();
  // Its output goes to the trunk through the multiplexer.
  EXPECT_EQ(Ask(4, ConnectTo(1)), kOk);
  EXPECT_EQ(sourceOf(3), 8325);
}

TEST_F(MapSlots, ReceiverTakesTheTrunkAndIsDisabledOnDestroy) {
  EXPECT_EQ(Request(6, Map(-1, 0, 0, 3)), Strings({"6: success", "6: receiver active 8195"}));
  ASSERT_EQ(Ask(1, Timeslot(1, 2)), kOk);
  ASSERT_EQ(Ask(1, ConnectTo(6)), kOk);
  EXPECT_EQ(sourceOf(8195), 34);

  ctltest::Capture log(std::clog);
  ctltest::Capture err(std::cerr);
  EXPECT_EQ(Ask(6, Destroy), kOk);
  EXPECT_EQ(log.count("map: disable map channel 3\n"), 1u) << log.text();
  EXPECT_TRUE(Disabled(8195));
  EXPECT_EQ(err.text(), "");
  EXPECT_EQ(MapFactory::instance().holder(8195), nullptr);
}

TEST_F(MapSlots, ANewHolderReplacesTheOldOneInEitherDirection) {
  ASSERT_EQ(Ask(2, Map(1, 5, 2, 7)), kOk);
  ASSERT_NE(At<MapSlot>(2), nullptr);
  ctltest::Capture err(std::cerr);
  ctltest::Capture log(std::clog);
  // The old slot transmits on (1, 5); the new one receives there.
  EXPECT_EQ(Request(3, Map(-1, 0, 1, 5)), Strings({"3: success", "3: receiver active 8325"}));
  EXPECT_EQ(err.text(),
            "map-slot: two slots require the same ipc-slot, remove old.\n"
            "new slot na:map <-> old slot 02:map\n");
  EXPECT_EQ(log.count("map: disable map channel 263\n"), 1u);  // the old receiver
  EXPECT_EQ(Slots::instance().at(2), nullptr);
  auto* now = At<MapSlot>(3);
  ASSERT_NE(now, nullptr);
  EXPECT_EQ(MapFactory::instance().holder(8325), now);
  EXPECT_EQ(MapFactory::instance().holder(8455), nullptr);  // the old slot's other channel is free
  EXPECT_EQ(MapFactory::instance().slots().size(), 1u);
}

TEST_F(MapSlots, OneChannelForBothDirectionsIsHeldOnce) {
  ASSERT_EQ(Ask(1, Map(0, 9, 3, 3)), kOk);
  ctltest::Capture err(std::cerr);
  EXPECT_EQ(Request(5, Map(3, 3, 3, 3)), Strings({"5: success", "5: receiver active 8579", "5: transmitter active 8579"}));
  // Only the old holder of (3, 3) went; the new slot did not replace itself.
  EXPECT_EQ(err.count("remove old."), 1u);
  EXPECT_EQ(Slots::instance().at(1), nullptr);
  auto* map = At<MapSlot>(5);
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(MapFactory::instance().holder(8579), map);
  EXPECT_EQ(Ask(5, Destroy), kOk);
  EXPECT_EQ(err.count("internal error"), 0u) << err.text();
  EXPECT_EQ(MapFactory::instance().holder(8579), nullptr);
}

}  // namespace
