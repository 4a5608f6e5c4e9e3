#pragma once
// Stand-ins for the slot factories whose slot kinds are not built yet: each
// is only its singleton, linked into the factory chain on its first
// instance() call, with its name; it declines every create and reports
// nothing. Each is replaced by the real factory when
// its slot kind lands.
#include "slots/slot_factory.h"

#define TSD_STANDIN_FACTORY(Class, Name)                      \
  class Class : public SlotFactory {                          \
   public:                                                    \
    static Class& instance();                                 \
    const char* GetName() const override { return Name; }     \
                                                              \
   private:                                                   \
    Class() = default;                                        \
  };

TSD_STANDIN_FACTORY(MapFactory, "Map")
TSD_STANDIN_FACTORY(PstnFactory, "PSTN")
TSD_STANDIN_FACTORY(RtpFactory, "RTP")
TSD_STANDIN_FACTORY(ModemFactory, "Modem")
namespace Mixer {
TSD_STANDIN_FACTORY(MixerFactory, "Mixer")
}
TSD_STANDIN_FACTORY(ExtFactory, "Ext")
TSD_STANDIN_FACTORY(MccFactory, "MCC")
TSD_STANDIN_FACTORY(EchoFactory, "Echo")
TSD_STANDIN_FACTORY(VoiceFactory, "Voice")
TSD_STANDIN_FACTORY(T38SoftFactory, "T.38 soft")
TSD_STANDIN_FACTORY(IsdnFactory, "ISDN")
TSD_STANDIN_FACTORY(HdlcSlotFactory, "HdlcSlotFactory")

#undef TSD_STANDIN_FACTORY
