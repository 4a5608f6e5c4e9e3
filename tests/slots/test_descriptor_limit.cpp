// Creates on a process out of descriptors, per slot kind that opens a
// device: one descriptor short of what the slot needs, the create makes no
// slot, names the failing call and is answered as a failed open; with
// enough, the slot holds its device; a destroy makes room again.
#include <gtest/gtest.h>

#include "hardware/descriptor_squeeze.h"
#include "slots/isdn_slot.h"
#include "slots/mcc_slot.h"
#include "slots/rtp_factory.h"
#include "slots/voice_slot.h"
#include "slot_bench_fixture.h"

namespace {

using namespace slottest::fills;
constexpr int kOk = -1;
constexpr int kRefused = LGCP::ErrorCause::insufficientResources;

class DescriptorLimit : public slottest::SlotBenchTest {
 protected:
  void Prepare() override {
    RtpFactory::instance();
    MccFactory::instance();
    VoiceFactory::instance();
    IsdnFactory::instance();
  }
  // Descriptors of the device held now (the board's view).
  std::size_t Held(const char* device) {
    sim().pump();
    return sim().sessions(device).size();
  }
};

LGCP::CreateParams FilePlayer() {
  LGCP::CreateParams p;
  p.select_voice().select_player().select_file().set_name().push_back(ASN1::IA5String("a"));
  return p;
}

TEST_F(DescriptorLimit, ACreateShortOfADescriptorMakesNoSlot) {
  const struct Kind {
    const char* name;
    Fill create;
    const char* device;
    std::size_t need;  // free descriptors a create takes at its peak
    const char* shortLine;
  } kinds[] = {
      {"mcc", Create(slottest::fills::Mcc(LGCP::MccType::transparent)), "/dev/mcc/ctl", 3,
       "mcc: dup fail: Too many open files\n"},
      {"isdn", Create(Isdn(false, false)), "/dev/mcc/ctl", 3, "mcc/isdn: dup fail: Too many open files\n"},
      {"recorder", Create(Recorder(9)), "/dev/mcc/ctl", 2,
       "voice/mcc[0]: fail to open /dev/mcc/ctl device for reading: Too many open files\n"},
      {"player", Create(FilePlayer()), "/dev/mcc/ctl", 2,
       "voice/mcc[0]: fail to open /dev/mcc/ctl device for writing: Too many open files\n"},
      {"rtp", Rtp(7000, 7100), "/dev/rtp", 3, "]: device \"/dev/rtp\" open fail: Too many open files\n"},
  };
  for (const Kind& k : kinds) {
    SCOPED_TRACE(k.name);
    const std::size_t idle = Held(k.device);
    // Each step's answer ("ok" or the cause), the device's descriptors held
    // after it and whether the slot exists.
    Strings steps;
    auto step = [&](int slot, const Fill& fill) {
      const int a = Ask(slot, fill);
      steps.push_back((a == kOk ? std::string("ok") : std::to_string(a)) + " held " +
                      std::to_string(long(Held(k.device)) - long(idle)) + (Slots::instance().at(unsigned(slot)) ? " slot" : ""));
    };
    slottest::LogCapture log;
    {
      SimTest::DescriptorSqueeze squeeze;
      squeeze.Free(k.need - 1);
      step(1, k.create);
      squeeze.Free(1);
      step(1, k.create);
      step(2, k.create);
      step(1, Destroy);
      step(2, k.create);
    }
    EXPECT_EQ(steps, Strings({"1 held 0", "ok held 1 slot", "1 held 1", "ok held 0", "ok held 1 slot"}));
    EXPECT_TRUE(log.has(k.shortLine)) << log.text.str();
    EXPECT_EQ(Ask(2, Destroy), kOk);
  }
}

}  // namespace
