#pragma once
// External slots: a transmit and a receive channel named by number on the
// multiplexer's outputs from 8192 up. The transmit stream exists from the
// start; the receive side is switched on by activate and off by
// deactivate, so a source can be connected only while activated.
#include "slots/slot.h"
#include "slots/slot_factory.h"

class ExtSlot : public Slot {
 public:
  ExtSlot(unsigned transmit, unsigned receive) : mTransmit(transmit), mReceive(receive) {}

  void IAfterCreate() override;
  bool IBeforeDestroy() override;
  // Reports the receive stream and puts the idle byte on its channel.
  bool IActivate(const TERM::TermActivateParams& params) override;
  // Drops the source and disables the receive channel.
  bool IDeactivate() override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return GetInputStream(); }
  int IGetTransmitChannel() override { return static_cast<int>(mTransmit); }
  int IGetReceiveChannel() override { return static_cast<int>(mReceive); }
  const char* GetName() const override { return "bri"; }

 private:
  unsigned mTransmit;
  unsigned mReceive;
};

class ExtFactory : public SlotFactory {
 public:
  static ExtFactory& instance();

  const char* GetName() const override { return "Ext"; }
  // Declines channel numbers outside the multiplexer's 2048 outputs.
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  void Query(LGCP::Resources&) override {}

 private:
  ExtFactory() = default;
};
