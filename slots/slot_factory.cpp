#include "slots/slot_factory.h"

#include "slots/slot.h"
#include "slots/trunk_slot.h"

SlotFactory* firstFactory = nullptr;

SlotFactory::SlotFactory() : mNext(firstFactory) { firstFactory = this; }

SlotFactory::~SlotFactory() {}

Slot* SlotFactory::INewSlot(const LGCP::CreateParams&) { return nullptr; }

void SlotFactory::Query(LGCP::Resources&) {}

void SlotFactory::SelfSignal(const LGCP::Signal&) {}

Slot* SlotFactory::NewSlot(const LGCP::CreateParams& params) {
  Slot* slot = INewSlot(params);
  if (slot) {
    slot->mFactory = this;
    mSlots.push_back(slot);
  }
  return slot;
}

void SlotFactory::Remove(Slot* slot) { mSlots.remove(slot); }

// The E1 and BRI timeslot factories are static objects, made before
// start-up code runs and so asked after every factory made by instance().
// They live here, with the chain, so that every program using the chain
// links them in.
namespace {
TrunkFactory trunk0(0, 0);
TrunkFactory trunk1(1, 32);
TrunkFactory trunk2(2, 64);
TrunkFactory trunk3(3, 96);
TrunkBRIFactory trunk_bri0(0, 0);
TrunkBRIFactory trunk_bri1(1, 4);
TrunkBRIFactory trunk_bri2(2, 8);
TrunkBRIFactory trunk_bri3(3, 12);
TrunkBRIFactory trunk_bri4(4, 16);
TrunkBRIFactory trunk_bri5(5, 20);
TrunkBRIFactory trunk_bri6(6, 24);
TrunkBRIFactory trunk_bri7(7, 28);
}  // namespace
