#pragma once
// Stand-in for the radio RTP slot factory: its singleton, linked into the
// slot factory chain on the first instance() call. Replaced by the real
// factory when the radio RTP slots land.
#include "slots/slot_factory.h"

class RtpVORKFactory : public SlotFactory {
 public:
  static RtpVORKFactory& instance();
  const char* GetName() const override { return "RTP Ext VORK"; }

 private:
  RtpVORKFactory() = default;
};
