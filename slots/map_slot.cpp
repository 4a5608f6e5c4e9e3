#include "slots/map_slot.h"

#include <iostream>

#include "hardware/hwmux.h"
#include "slots/slots.h"

int GetMapTimeSlot(const LGCP::SharedChannel& channel) {
  return MapSlot::kFirstChannel + 128 * int(channel.get_bus().getValue() & 15) +
         int(channel.get_channel().getValue() & 127);
}

void MapSlot::IAfterCreate() {
  if (IsRxExists()) OnChangeInputStream(true);
  if (IsTxExists()) OnChangeOutputStream(true);
}

bool MapSlot::IBeforeDestroy() {
  if (MapFactory* factory = GetSlotFactory()) factory->ReleaseMapSlot(this);
  return true;
}

MapFactory* MapSlot::GetSlotFactory() { return static_cast<MapFactory*>(Slot::GetSlotFactory()); }

MapFactory& MapFactory::instance() {
  static MapFactory factory;
  return factory;
}

MapFactory::MapFactory() : mTable() {}

MapSlot* MapFactory::holder(int channel) const {
  int index = channel - MapSlot::kFirstChannel;
  return index >= 0 && index < MapSlot::kChannels ? mTable[index] : nullptr;
}

Slot* MapFactory::INewSlot(const LGCP::CreateParams& params) {
  if (!params.map_isSelected()) return nullptr;
  const LGCP::MapParams& map = params.get_map();
  int transmit = map.transmitter_isPresent() ? GetMapTimeSlot(map.get_transmitter()) : -1;
  int receive = map.receiver_isPresent() ? GetMapTimeSlot(map.get_receiver()) : -1;
  auto* slot = new MapSlot(transmit, receive);
  AllocateMapSlot(slot);
  return slot;
}

void MapFactory::AllocateMapSlot(MapSlot* slot) {
  for (int channel : {slot->GetReceiveChannel(), slot->GetTransmitChannel()}) {
    int index = channel - MapSlot::kFirstChannel;
    if (channel < 0 || index >= MapSlot::kChannels) continue;
    MapSlot* old = mTable[index];
    // A create naming one channel for both directions holds it once; the
    // new slot must never replace itself.
    if (old == slot) continue;
    if (old) {
      std::cerr << "map-slot: two slots require the same ipc-slot, remove old." << std::endl;
      std::cerr << "new slot " << *slot << " <-> old slot " << *old << std::endl;
      Slots::instance().Destroy(old);
      // A map slot releases at once and clears its entries; never keep a
      // stale pointer all the same.
      for (MapSlot*& entry : mTable)
        if (entry == old) entry = nullptr;
    }
    mTable[index] = slot;
  }
}

void MapFactory::ReleaseMapSlot(MapSlot* slot) {
  if (slot->IsRxExists()) {
    int index = slot->GetRxLogChannel();
    std::clog << "map: disable map channel " << index << std::endl;
    HwMux::instance()->Disable(slot->GetReceiveChannel());
    if (index < MapSlot::kChannels) {
      if (mTable[index] != slot)
        std::cerr << "map-slot: internal error! MapFactory::ReleaseMapSlot() code 1" << std::endl;
      mTable[index] = nullptr;
    }
  }
  if (slot->IsTxExists()) {
    int index = slot->GetTxLogChannel();
    // A channel used in both directions was freed with the receiver.
    if (index < MapSlot::kChannels && slot->GetTransmitChannel() != slot->GetReceiveChannel()) {
      if (mTable[index] != slot)
        std::cerr << "map-slot: internal error! MapFactory::ReleaseMapSlot() code 2" << std::endl;
      mTable[index] = nullptr;
    }
  }
}
