#pragma once
// Timeslot slots: one timeslot of an E1 trunk (32 per trunk) or of an ISDN
// BRI line (4 per line) on the TDM multiplexer. Connecting one switches its
// multiplexer channel; the slot does no processing of its own. Each
// factory serves one trunk and keeps one entry per timeslot, so a timeslot
// belongs to at most one slot: a new create on a held timeslot replaces
// the old slot.
#include "slots/slot.h"
#include "slots/slot_factory.h"

class TrunkFactory;

class TrunkSlot : public Slot {
 public:
  explicit TrunkSlot(unsigned channel) : mChannel(channel) {}

  unsigned GetTrunk() override { return mChannel >> 5; }
  unsigned GetTrunkTimeSlot() override { return GetTimeSlot(); }
  // Both streams exist from the start: reported at once, transmitter first.
  void IAfterCreate() override;
  bool IBeforeDestroy() override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  int IGetTransmitChannel() override { return static_cast<int>(mChannel); }
  int IGetReceiveChannel() override { return static_cast<int>(mChannel); }
  const char* GetName() const override { return "trunk"; }

  virtual unsigned GetTimeSlot() { return mChannel & 31; }

  TrunkFactory* GetSlotFactory();
  unsigned channel() const { return mChannel; }

 protected:
  unsigned mChannel;  // multiplexer channel: the factory's base + timeslot
};

class TrunkBRISlot : public virtual TrunkSlot {
 public:
  using TrunkSlot::TrunkSlot;

  unsigned GetTimeSlot() override { return mChannel & 3; }
  unsigned GetTrunk() override { return mChannel >> 2; }
  unsigned GetTrunkTimeSlot() override { return GetTimeSlot(); }
  const char* GetName() const override { return "trunkBRI"; }
};

class TrunkFactory : public SlotFactory {
 public:
  TrunkFactory(unsigned trunk, unsigned base);

  const char* GetName() const override { return "Trunks"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  void Query(LGCP::Resources&) override {}
  // Frees the slot's timeslot.
  virtual void ReleaseTrunkSlot(TrunkSlot* slot);

  unsigned trunk() const { return mTrunk; }
  // The slot holding the timeslot; null when free or out of range.
  TrunkSlot* holder(unsigned timeslot) const { return timeslot < 32 ? mTable[timeslot] : nullptr; }

 protected:
  // Shared by both kinds: checks the parameters against this trunk and
  // `timeslots`, replaces a previous holder and makes the slot with `make`.
  Slot* makeSlot(const LGCP::TrunkParams& params, unsigned timeslots, TrunkSlot* (*make)(unsigned channel));

  TrunkSlot* mTable[32];
  unsigned mTrunk;
  unsigned mBase;
};

class TrunkBRIFactory : public virtual TrunkFactory {
 public:
  TrunkBRIFactory(unsigned trunk, unsigned base) : TrunkFactory(trunk, base) {}

  const char* GetName() const override { return "TrunksBRI"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  void ReleaseTrunkSlot(TrunkSlot* slot) override;
};
