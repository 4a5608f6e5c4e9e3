#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "slots/slot_factory.h"
#include "slots/factories.h"
#include "slots/trunk_slot.h"

namespace {

std::vector<std::string> chain() {
  std::vector<std::string> names;
  for (SlotFactory* f = firstFactory; f; f = f->next()) {
    std::string name = f->GetName();
    if (auto* t = dynamic_cast<TrunkFactory*>(f)) name += std::to_string(t->trunk());
    names.push_back(name);
  }
  return names;
}

const std::vector<std::string> kTimeslotFactories = {
    "TrunksBRI7", "TrunksBRI6", "TrunksBRI5", "TrunksBRI4", "TrunksBRI3", "TrunksBRI2",
    "TrunksBRI1", "TrunksBRI0", "Trunks3",    "Trunks2",    "Trunks1",    "Trunks0"};

// The timeslot factories exist before any code runs; in the start-up order
// (the radio factory, which lives in its own library, left out) the HDLC
// factory then ends up first in the chain and the E1 trunk 0 factory last;
// asking again changes nothing.
TEST(SlotFactoryChain, LastCreatedIsAskedFirstAndOnlyOnce) {
  EXPECT_EQ(chain(), kTimeslotFactories);
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
  std::vector<std::string> expected = {"HdlcSlotFactory", "ISDN", "T.38 soft", "Voice/mcc", "Echo", "MCC",
                                       "Ext",             "Mixer", "Modem",    "RTP",   "PSTN", "Map"};
  expected.insert(expected.end(), kTimeslotFactories.begin(), kTimeslotFactories.end());
  EXPECT_EQ(chain(), expected);
  EXPECT_EQ(&MapFactory::instance(), &MapFactory::instance());
}

}  // namespace
