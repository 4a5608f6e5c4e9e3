#include "slots/trunk_slot.h"

#include <iostream>

#include "slots/slots.h"

void TrunkSlot::IAfterCreate() {
  OnChangeOutputStream(true);
  OnChangeInputStream(true);
}

bool TrunkSlot::IBeforeDestroy() {
  if (TrunkFactory* factory = GetSlotFactory()) factory->ReleaseTrunkSlot(this);
  return true;
}

TrunkFactory* TrunkSlot::GetSlotFactory() { return static_cast<TrunkFactory*>(Slot::GetSlotFactory()); }

TrunkFactory::TrunkFactory(unsigned trunk, unsigned base) : mTable(), mTrunk(trunk), mBase(base) {}

Slot* TrunkFactory::makeSlot(const LGCP::TrunkParams& params, unsigned timeslots,
                             TrunkSlot* (*make)(unsigned channel)) {
  unsigned trunk = params.get_trunk().getValue();
  unsigned timeslot = params.get_timeslot().getValue();
  if (trunk != mTrunk || timeslot >= timeslots) return nullptr;
  if (TrunkSlot* old = mTable[timeslot]) {
    std::cerr << "trunk-slot: two slots require the same timeslot, remove old." << std::endl;
    std::cerr << " old slot " << *old << std::endl;
    Slots::instance().Destroy(old);
    // A trunk slot releases at once, which frees the entry; make sure of
    // it all the same, so a stale pointer is never kept.
    mTable[timeslot] = nullptr;
  }
  TrunkSlot* slot = make(mBase + timeslot);
  mTable[timeslot] = slot;
  return slot;
}

Slot* TrunkFactory::INewSlot(const LGCP::CreateParams& params) {
  if (!params.trunk_isSelected()) return nullptr;
  return makeSlot(params.get_trunk(), 32, [](unsigned channel) { return new TrunkSlot(channel); });
}

void TrunkFactory::ReleaseTrunkSlot(TrunkSlot* slot) {
  unsigned timeslot = slot->GetTimeSlot();
  if (timeslot < 32 && mTable[timeslot] == slot) mTable[timeslot] = nullptr;
}

Slot* TrunkBRIFactory::INewSlot(const LGCP::CreateParams& params) {
  if (!params.trunk_bri_isSelected()) return nullptr;
  return makeSlot(params.get_trunk_bri(), 4,
                  [](unsigned channel) -> TrunkSlot* { return new TrunkBRISlot(channel); });
}

void TrunkBRIFactory::ReleaseTrunkSlot(TrunkSlot* slot) {
  unsigned timeslot = slot->GetTimeSlot();
  if (timeslot < 4 && mTable[timeslot] == slot) mTable[timeslot] = nullptr;
}
