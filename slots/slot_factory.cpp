#include "slots/slot_factory.h"

SlotFactory* firstFactory = nullptr;

SlotFactory::SlotFactory() : mNext(firstFactory) { firstFactory = this; }

SlotFactory::~SlotFactory() {}

void SlotFactory::Remove(Slot* slot) { mSlots.remove(slot); }
