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
using Fill = std::function<void(LGCP::Command&)>;
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
      {"mcc", Create(slottest::fills::Mcc(LGCP::MccType::transparent)), "/dev/mcc/ctl", 3, "mcc: dup fail: Too many open files\n"},
      {"isdn", Create(Isdn(false, false)), "/dev/mcc/ctl", 3, "mcc/isdn: dup fail: Too many open files\n"},
      {"recorder", Create(Recorder(9)), "/dev/mcc/ctl", 2,
       "voice/mcc[0]: fail to open /dev/mcc/ctl device for reading: Too many open files\n"},
      {"player", Create(FilePlayer()), "/dev/mcc/ctl", 2,
       "voice/mcc[0]: fail to open /dev/mcc/ctl device for writing: Too many open files\n"},
      {"rtp", Rtp(7000, 7100), "/dev/rtp", 3, "]: device \"/dev/rtp\" open fail: Too many open files\n"},
  };
  // Every path is taken once with room first: the sanitizers check a type
  // the first time they meet it, and they need a descriptor to do so.
  ASSERT_EQ(Ask(1, [](LGCP::Command& c) { c.select_create().select_spi_tdm().set_channel(1); }), kRefused);
  for (const Kind& k : kinds) {
    SCOPED_TRACE(k.name);
    slottest::LogCapture quiet;
    sim().setPresent(k.device, false);
    ASSERT_EQ(Ask(1, k.create), kRefused);
    sim().setPresent(k.device, true);
    ASSERT_EQ(Ask(1, k.create), kOk);  // whatever the kind opens once for good is open now
    ASSERT_EQ(Ask(1, Destroy), kOk);
  }
  for (const Kind& k : kinds) {
    SCOPED_TRACE(k.name);
    const std::size_t idle = Held(k.device);
    slottest::LogCapture log;
    SimTest::DescriptorSqueeze squeeze;
    squeeze.Free(k.need - 1);
    EXPECT_EQ(Ask(1, k.create), kRefused);
    EXPECT_EQ(Slots::instance().at(1), nullptr);
    EXPECT_TRUE(log.has(k.shortLine)) << log.text.str();
    EXPECT_EQ(Held(k.device), idle);  // nothing half-made

    squeeze.Free(1);
    EXPECT_EQ(Ask(1, k.create), kOk);
    EXPECT_EQ(Held(k.device), idle + 1);  // the slot holds its device
    EXPECT_EQ(Ask(2, k.create), kRefused);
    EXPECT_EQ(Held(k.device), idle + 1);
    EXPECT_EQ(Ask(1, Destroy), kOk);
    EXPECT_EQ(Held(k.device), idle);
    EXPECT_EQ(Ask(2, k.create), kOk);
    EXPECT_EQ(Held(k.device), idle + 1);
    EXPECT_EQ(Ask(2, Destroy), kOk);
  }
}

}  // namespace
