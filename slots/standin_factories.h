#pragma once
// Stand-ins for the slot factories whose slot kinds are not built yet: each
// is only its singleton, linked into the factory chain on its first
// instance() call, with its name; it declines every create and reports
// nothing. Each is replaced by the real factory when
// its slot kind lands.
#include "slots/slot_factory.h"
#include "slots/mixer_slot.h"
#include "slots/map_slot.h"
#include "slots/ext_slot.h"
#include "slots/echo_slot.h"
#include "slots/hdlc_slot.h"
#include "slots/rtp_factory.h"
#include "slots/pstn_slot.h"
#include "slots/isdn_slot.h"
#include "slots/mcc_slot.h"
#include "slots/t38_slot.h"
#include "slots/modem_factory.h"
#include "slots/voice_slot.h"

#define TSD_STANDIN_FACTORY(Class, Name)                      \
  class Class : public SlotFactory {                          \
   public:                                                    \
    static Class& instance();                                 \
    const char* GetName() const override { return Name; }     \
                                                              \
   private:                                                   \
    Class() = default;                                        \
  };


#undef TSD_STANDIN_FACTORY
