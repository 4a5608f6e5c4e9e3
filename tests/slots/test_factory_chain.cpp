#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "slots/slot_factory.h"
#include "slots/standin_factories.h"

namespace {

std::vector<std::string> chain() {
  std::vector<std::string> names;
  for (SlotFactory* f = firstFactory; f; f = f->next()) names.push_back(f->GetName());
  return names;
}

// In the start-up order (the radio factory, which lives in its own library,
// left out) the HDLC factory ends up first in the chain and the map factory
// last; asking again changes nothing.
TEST(SlotFactoryChain, LastCreatedIsAskedFirstAndOnlyOnce) {
  EXPECT_EQ(firstFactory, nullptr);
  for (int round = 0; round < 2; ++round) {
    MapFactory::instance();
    PstnFactory::instance();
    RtpFactory::instance();
    ModemFactory::instance();
    Mixer::MixerFactory::instance();
    ExtFactory::instance();
    MccFactory::instance();
    EchoFactory::instance();
    VoiceFactory::instance();
    T38SoftFactory::instance();
    IsdnFactory::instance();
    HdlcSlotFactory::instance();
  }
  EXPECT_EQ(chain(), std::vector<std::string>({"HdlcSlotFactory", "ISDN", "T.38 soft", "Voice",
                                               "Echo", "MCC", "Ext", "Mixer", "Modem", "RTP", "PSTN", "Map"}));
  EXPECT_EQ(&MapFactory::instance(), &MapFactory::instance());
}

}  // namespace
