#include "slots/standin_factories.h"

#define TSD_STANDIN_INSTANCE(Class) \
  Class& Class::instance() {        \
    static Class factory;           \
    return factory;                 \
  }

TSD_STANDIN_INSTANCE(MapFactory)
TSD_STANDIN_INSTANCE(PstnFactory)
TSD_STANDIN_INSTANCE(RtpFactory)
TSD_STANDIN_INSTANCE(ModemFactory)
TSD_STANDIN_INSTANCE(Mixer::MixerFactory)
TSD_STANDIN_INSTANCE(ExtFactory)
TSD_STANDIN_INSTANCE(MccFactory)
TSD_STANDIN_INSTANCE(EchoFactory)
TSD_STANDIN_INSTANCE(VoiceFactory)
TSD_STANDIN_INSTANCE(T38SoftFactory)
TSD_STANDIN_INSTANCE(IsdnFactory)
TSD_STANDIN_INSTANCE(HdlcSlotFactory)
