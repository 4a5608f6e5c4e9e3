#pragma once
// Map slots: one channel in each direction on the shared buses between
// boards (16 buses of 128 channels, multiplexer channels 8192..10239). The
// factory keeps one table for both directions, so a shared channel belongs
// to at most one map slot: a new create on a held channel replaces the old
// holder.
#include "slots/slot.h"
#include "slots/slot_factory.h"

class MapFactory;

// Multiplexer channel of a shared-bus channel: 8192 + 128 * bus + channel.
int GetMapTimeSlot(const LGCP::SharedChannel& channel);

class MapSlot : public Slot {
 public:
  // -1 for a direction the create did not name.
  MapSlot(int transmit, int receive) : mTransmit(transmit), mReceive(receive) {}

  // Receiver first, then transmitter; only the directions that exist.
  void IAfterCreate() override;
  bool IBeforeDestroy() override;
  bool IOnOutputStream() override { return IsTxExists(); }
  bool IOnInputStream() override { return IsRxExists(); }
  int IGetTransmitChannel() override { return mTransmit; }
  int IGetReceiveChannel() override { return mReceive; }
  const char* GetName() const override { return "map"; }

  bool IsTxExists() const { return mTransmit >= 0; }
  bool IsRxExists() const { return mReceive >= 0; }
  // Index of the channel in the factory's table (channel - 8192).
  int GetTxLogChannel() const { return mTransmit - kFirstChannel; }
  int GetRxLogChannel() const { return mReceive - kFirstChannel; }
  MapFactory* GetSlotFactory();

  static constexpr int kFirstChannel = 8192;
  static constexpr int kChannels = 2048;

 private:
  int mTransmit;  // shared channel carrying the slot's output
  int mReceive;   // shared channel the slot's input is switched into
};

class MapFactory : public SlotFactory {
 public:
  static MapFactory& instance();

  const char* GetName() const override { return "Map"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  void Query(LGCP::Resources&) override {}

  // Enters the slot's channels, replacing (destroying) earlier holders.
  void AllocateMapSlot(MapSlot* slot);
  // Frees the slot's channels and disables its receive channel.
  void ReleaseMapSlot(MapSlot* slot);

  // The slot holding a shared channel (by multiplexer number); null when
  // free or out of range.
  MapSlot* holder(int channel) const;

 private:
  MapFactory();

  MapSlot* mTable[MapSlot::kChannels];
};
