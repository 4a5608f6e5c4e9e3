// Shared-bus, external, echo and HDLC slots: the Slots service behind a
// control server of its own with the factories of these kinds in the
// chain, on the simulated board, driven by a controller over loopback TCP.
// Answers and signals come back as short text lines.
//
// Map slots: which streams a create gives, who holds a shared channel,
// what a replaced or destroyed holder leaves behind. External slots: the
// transmit stream from creation, the receive side switched by activate and
// deactivate, channel numbers outside the multiplexer's outputs refused.
// Echo slots: declined while no echo bus is known, on found buses a slot on
// its bus channel. HDLC slots on a trunk timeslot: frames from the
// controller with their header and sequence numbers, frames from the far
// end gathered into signals, the channel opened by connect and activate,
// the counters, and what is refused or dropped.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "hardware/board/requests.h"
#include "hardware/hwmux.h"
#include "hardware/sim/mcc.h"
#include "hardware/sim_env.h"
#include "runtime/log/traces.h"
#include "runtime/os/clock.h"
#include "slots/echo_slot.h"
#include "slots/ext_slot.h"
#include "slots/hdlc_slot.h"
#include "slots/map_slot.h"
#include "slot_bench_fixture.h"
#include "support/e1board_harness.h"

namespace {

using Strings = std::vector<std::string>;
using Fill = std::function<void(LGCP::Command&)>;
using slottest::Hex;
using namespace slottest::fills;
namespace R = Board::Req;
constexpr int kOk = -1;
constexpr int kRefused = LGCP::ErrorCause::insufficientResources;

class Bench : public slottest::SlotBenchTest {
 protected:
  void Prepare() override {
    MapFactory::instance();
    ExtFactory::instance();
    EchoFactory::instance();
    HdlcSlotFactory::instance();
    HwMux::instance();
  }
  void SetUp() override {
    SlotBenchTest::SetUp();
    traces.reset();
  }
  void TearDown() override {
    SlotBenchTest::TearDown();
    traces.reset();
  }
  int sourceOf(int output) { return sim().tdm().sourceOf(output); }
  // The multiplexer holds the output (8192 and up) switched off.
  bool Disabled(int output) {
    return HwMux::instance()->entry(output - HwMux::kFirstOutput) == HwMux::kDisabled && sourceOf(output) == -1;
  }
  // The output carries the idle byte instead of any source.
  bool Idle(int output) {
    auto c = sim().tdm().constants().find(output);
    return HwMux::instance()->entry(output - HwMux::kFirstOutput) == HwMux::kConstant && sourceOf(output) == -1 &&
           c != sim().tdm().constants().end() && c->second == 0xD5;
  }
  template <class T>
  static T* At(unsigned n) {
    return dynamic_cast<T*>(Slots::instance().at(n));
  }
};

// ---- map slots ----

using MapSlots = Bench;
using ExtSlots = Bench;

TEST_F(MapSlots, TransmitterOnlyHasNoInput) {
  EXPECT_EQ(Request(4, Map(1, 5, -1, 0)), Strings({"4: success", "4: transmitter active 8325"}));
  auto* map = At<MapSlot>(4);
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(map->GetReceiveChannel(), -1);
  EXPECT_EQ(MapFactory::instance().holder(8325), map);

  ASSERT_EQ(Ask(1, Timeslot(0, 3)), kOk);
  ctltest::Capture err(std::cerr);
  EXPECT_EQ(Ask(1, ConnectTo(4)), int(LGCP::ErrorCause::connectFail));
  EXPECT_EQ(err.count("slot 04:map don't have input stream from 01:trunk"), 1u) << err.text();
  // Its output goes to the trunk through the multiplexer.
  EXPECT_EQ(Ask(4, ConnectTo(1)), kOk);
  EXPECT_EQ(sourceOf(3), 8325);
}

TEST_F(MapSlots, ReceiverTakesTheTrunkAndIsDisabledOnDestroy) {
  EXPECT_EQ(Request(6, Map(-1, 0, 0, 3)), Strings({"6: success", "6: receiver active 8195"}));
  ASSERT_EQ(Ask(1, Timeslot(1, 2)), kOk);
  ASSERT_EQ(Ask(1, ConnectTo(6)), kOk);
  EXPECT_EQ(sourceOf(8195), 34);

  ctltest::Capture log(std::clog);
  ctltest::Capture err(std::cerr);
  EXPECT_EQ(Ask(6, Destroy), kOk);
  EXPECT_EQ(log.count("map: disable map channel 3\n"), 1u) << log.text();
  EXPECT_TRUE(Disabled(8195));
  EXPECT_EQ(err.text(), "");
  EXPECT_EQ(MapFactory::instance().holder(8195), nullptr);
}

TEST_F(MapSlots, ANewHolderReplacesTheOldOneInEitherDirection) {
  ASSERT_EQ(Ask(2, Map(1, 5, 2, 7)), kOk);
  ASSERT_NE(At<MapSlot>(2), nullptr);
  ctltest::Capture err(std::cerr);
  ctltest::Capture log(std::clog);
  // The old slot transmits on (1, 5); the new one receives there.
  EXPECT_EQ(Request(3, Map(-1, 0, 1, 5)), Strings({"3: success", "3: receiver active 8325"}));
  EXPECT_EQ(err.text(),
            "map-slot: two slots require the same ipc-slot, remove old.\n"
            "new slot na:map <-> old slot 02:map\n");
  EXPECT_EQ(log.count("map: disable map channel 263\n"), 1u);  // the old receiver
  EXPECT_EQ(Slots::instance().at(2), nullptr);
  auto* now = At<MapSlot>(3);
  ASSERT_NE(now, nullptr);
  EXPECT_EQ(MapFactory::instance().holder(8325), now);
  EXPECT_EQ(MapFactory::instance().holder(8455), nullptr);  // the old slot's other channel is free
  EXPECT_EQ(MapFactory::instance().slots().size(), 1u);
}

TEST_F(MapSlots, OneChannelForBothDirectionsIsHeldOnce) {
  ASSERT_EQ(Ask(1, Map(0, 9, 3, 3)), kOk);
  ctltest::Capture err(std::cerr);
  EXPECT_EQ(Request(5, Map(3, 3, 3, 3)), Strings({"5: success", "5: receiver active 8579", "5: transmitter active 8579"}));
  // Only the old holder of (3, 3) went; the new slot did not replace itself.
  EXPECT_EQ(err.count("remove old."), 1u);
  EXPECT_EQ(Slots::instance().at(1), nullptr);
  auto* map = At<MapSlot>(5);
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(MapFactory::instance().holder(8579), map);
  EXPECT_EQ(Ask(5, Destroy), kOk);
  EXPECT_EQ(err.count("internal error"), 0u) << err.text();
  EXPECT_EQ(MapFactory::instance().holder(8579), nullptr);
}

// ---- external slots ----

// The stream signals of activate and deactivate come before the answer.
TEST_F(ExtSlots, ReceiveSideFollowsActivation) {
  EXPECT_EQ(Request(7, Ext(4, 5)), Strings({"7: success", "7: transmitter active 8196"}));
  ASSERT_EQ(Ask(1, Timeslot(0, 9)), kOk);
  EXPECT_EQ(Ask(1, ConnectTo(7)), int(LGCP::ErrorCause::connectFail));  // not activated
  EXPECT_EQ(sourceOf(8197), -1);

  EXPECT_EQ(Request(7, Activate), Strings({"7: receiver active 8197", "7: success"}));
  EXPECT_TRUE(Idle(8197));
  EXPECT_EQ(Ask(1, ConnectTo(7)), kOk);
  EXPECT_EQ(sourceOf(8197), 9);
  // A repeated activate sends no second signal and keeps the path.
  EXPECT_EQ(Request(7, Activate), Strings({"7: success"}));
  EXPECT_EQ(sourceOf(8197), 9);
  // The slot's output reaches the trunk.
  EXPECT_EQ(Ask(7, ConnectTo(1)), kOk);
  EXPECT_EQ(sourceOf(9), 8196);

  EXPECT_EQ(Request(7, Deactivate), Strings({"7: receiver inactive", "7: success"}));
  EXPECT_TRUE(Disabled(8197));
  EXPECT_TRUE(Slots::instance().at(1)->GetReceivers().empty());
  EXPECT_EQ(Request(7, Deactivate), Strings({"7: success"}));

  EXPECT_EQ(Request(7, Activate), Strings({"7: receiver active 8197", "7: success"}));
  ASSERT_EQ(Ask(1, ConnectTo(7)), kOk);
  EXPECT_EQ(Ask(7, Destroy), kOk);
  EXPECT_TRUE(Disabled(8197));
  EXPECT_EQ(sourceOf(9), -1);  // the trunk lost the slot's output too
}

TEST_F(ExtSlots, ChannelsOutsideTheOutputsAreRefused) {
  ctltest::Capture err(std::cerr);
  for (auto [tx, rx] : {std::pair<int, int>{-1, 0}, {0, -8192}, {2048, 0}, {0, 2147483647}, {-2147483647 - 1, 0}})
    EXPECT_EQ(Ask(3, Ext(tx, rx)), kRefused) << tx << " " << rx;
  EXPECT_EQ(err.count("ext-slot: channel out of range"), 5u);
  EXPECT_EQ(Request(3, Ext(2047, 0)), Strings({"3: success", "3: transmitter active 10239"}));
}

// ---- echo slots ----

Fill Echo(int bus, int channel) {
  return [=](LGCP::Command& c) {
    LGCP::EchoParams& p = c.select_create().select_echo();
    p.set_bus(bus);
    p.set_channel(channel);
  };
}

void Query(LGCP::Command& c) { c.select_query(); }

// A factory whose detection found some buses.
class FoundBuses : public EchoFactory {
 public:
  explicit FoundBuses(std::initializer_list<unsigned> buses) {
    for (unsigned b : buses) mPresent[b] = true;
  }
};

class EchoSlots : public Bench {
 protected:
  // The echoBus list of the resource report.
  std::vector<int> EchoBuses() {
    EXPECT_EQ(Ask(-1, Query), kOk);
    for (const auto& m : e1test::Msgs(last.begin(), last.end())) {
      if (!m.get_pdu().signal_isSelected() || !m.get_pdu().get_signal().query_isSelected()) continue;
      std::vector<int> v;
      for (const auto& b : m.get_pdu().get_signal().get_query().get_echoBus()) v.push_back(b.getValue());
      return v;
    }
    ADD_FAILURE() << "no resource report";
    return {};
  }
};

TEST_F(EchoSlots, NoBusFoundDeclinesEveryCreate) {
  EXPECT_EQ(Ask(2, Echo(0, 0)), kRefused);
  EXPECT_TRUE(EchoBuses().empty());
  EXPECT_FALSE(EchoFactory::instance().present(0));
}

TEST_F(EchoSlots, FoundBusesGiveSlotsAndAreReported) {
  ctltest::Capture log(std::clog);
  auto* found = new FoundBuses({5, 2});  // in the factory chain for the run, as every factory
  EXPECT_EQ(log.text(), "Scanning echo channels ...\n");
  EXPECT_EQ(EchoBuses(), std::vector<int>({2, 5}));
  EXPECT_EQ(Request(3, Echo(2, 3)), Strings({"3: success", "3: transmitter active 67", "3: receiver active 67"}));
  for (auto [bus, channel] : {std::pair<int, int>{1, 0}, {2, 32}, {2, -1}, {16, 0}, {-1, 0}})
    EXPECT_EQ(Ask(4, Echo(bus, channel)), kRefused) << bus << " " << channel;
  ASSERT_EQ(Ask(1, Timeslot(0, 4)), kOk);
  EXPECT_EQ(Ask(3, ConnectTo(1)), kOk);
  EXPECT_EQ(sourceOf(4), 67);
  EXPECT_EQ(Ask(3, Destroy), kOk);
  EXPECT_EQ(sourceOf(4), -1);
  found->Scan();  // finds no bus on the simulated board
  EXPECT_TRUE(EchoBuses().empty());
}

// ---- HDLC slots ----

constexpr int kUnsupported = LGCP::ErrorCause::unsupported;
constexpr int kTimeslot = 16;  // trunk 0, timeslot 16

std::string HexOf(const Sim::Bytes& b) { return Hex(std::vector<char>(b.begin(), b.end())); }

class HdlcSlots : public Bench {
 protected:
  // Slot 1 is the trunk timeslot, slot 2 the HDLC slot (address 5) sending
  // and receiving on it through controller channel 40.
  void Wire() {
    ASSERT_EQ(Ask(1, Timeslot(0, kTimeslot)), kOk);
    ASSERT_EQ(Ask(2, Hdlc(1, 5)), kOk);
    sim().mcc().setNextChannel(40);
    // One direction is enough: the channel sends and receives on it.
    ASSERT_EQ(Ask(2, ConnectTo(1)), kOk);
    ASSERT_EQ(sourceOf(kTimeslot), 40);
    ASSERT_EQ(sourceOf(40), kTimeslot);
    slot = At<HdlcSlot>(2);
    ASSERT_NE(slot, nullptr);
    ASSERT_TRUE(bench().loop.RunUntil([&] { return slot->channel().is_ready(); }));
  }
  // Frames the far end received on the timeslot, as hex.
  Strings FarEnd() {
    bench().loop.RunFor(5);
    sim().pump();
    Strings v;
    for (const auto& f : sim().tdm().takeFarEnd(kTimeslot)) v.push_back(HexOf(f));
    return v;
  }
  // Far-end frames into the timeslot; what reached the controller soon.
  Strings Inject(const Strings& frames, unsigned ms = 20) {
    for (const auto& f : frames) sim().tdm().send(kTimeslot, slottest::FromHex(f));
    return Pending(ms);
  }
  // Moves the loop's clock on; what came.
  Strings After(unsigned ms) {
    Mux::advanceClock(ms);
    return Pending(10);
  }

  HdlcSlot* slot = nullptr;
};

TEST_F(HdlcSlots, PackagesGoOutWithHeaderAndCounters) {
  Wire();
  EXPECT_EQ(Ask(2, Packages({"ab", "", "\x01\x02"})), kOk);
  EXPECT_EQ(FarEnd(), Strings({"0005006162", "000520", "0005400102"}));
  // The ninth frame carries counter 0 again; bits 4-0 stay 0 until a
  // frame is accepted.
  EXPECT_EQ(Ask(2, Packages({"a", "b", "c", "d", "e", "f"})), kOk);
  EXPECT_EQ(FarEnd().back(), "00050066");

  // A frame accepted with control 0xA0 sets the last received counter.
  EXPECT_EQ(Inject({"0005a0" "11"}), Strings({"2: packages 11"}));
  EXPECT_EQ(slot->lastReceived(), 5);
  EXPECT_EQ(Ask(2, Packages({"y"})), kOk);
  EXPECT_EQ(FarEnd(), Strings({"00052579"}));
  // A frame for another address changes nothing.
  EXPECT_EQ(Inject({"0006e0" "22"}), Strings());
  EXPECT_EQ(slot->lastReceived(), 5);
}

TEST_F(HdlcSlots, ContinuedFramesAreGatheredIntoOneSignal) {
  Wire();
  // Bit 7 of the second byte after the header: more follow.
  EXPECT_EQ(Inject({"000500" "0180", "000500" "0281", "000500" "03ff"}), Strings());
  EXPECT_TRUE(slot->flushPending());
  EXPECT_EQ(Inject({"000500" "0400"}), Strings({"2: packages 0180 0281 03ff 0400"}));
  EXPECT_FALSE(slot->flushPending());

  // Without the last one they come 100 ms after the first (nothing before,
  // unless a busy machine held the test that long).
  const unsigned start = Mux::milliseconds();
  Strings got = Inject({"000500" "0580", "000500" "0680", "000500" "0780"}, 5);
  if (Mux::milliseconds() - start < 100) {
    EXPECT_EQ(got, Strings());
    EXPECT_TRUE(slot->flushPending());
  }
  for (const auto& x : After(100)) got.push_back(x);
  EXPECT_EQ(got, Strings({"2: packages 0580 0680 0780"}));
  EXPECT_EQ(After(200), Strings());
}

TEST_F(HdlcSlots, ShortAndForeignFramesAreDroppedSafely) {
  Wire();
  EXPECT_EQ(Inject({"00", "0005"}), Strings());
  EXPECT_EQ(slot->gathered(), 0u);
  // The header alone: an empty package; no second byte ends the sequence.
  EXPECT_EQ(Inject({"000560"}), Strings({"2: packages "}));
  EXPECT_EQ(Inject({"000500" "80"}), Strings({"2: packages 80"}));
  // A foreign frame still ends a sequence of ours.
  EXPECT_EQ(Inject({"000500" "0180", "000900" "0100"}), Strings({"2: packages 0180"}));
}

TEST_F(HdlcSlots, RefusedAndOversizedIoctls) {
  Wire();
  EXPECT_EQ(Ask(2, Packages({})), kUnsupported);
  EXPECT_EQ(FarEnd(), Strings());
  EXPECT_EQ(Ask(2, [](LGCP::Command& c) { c.select_ioctl().select_ss7RqBSN(); }), kUnsupported);
  // A body that would not fit one buffer with its header (larger than a
  // control message carries, so given to the slot directly).
  LGCP::Command big;
  Packages({"a", std::string(4094, 'x'), "b"})(big);
  ctltest::Capture err(std::cerr);
  EXPECT_FALSE(slot->Ioctl(big.get_ioctl()));
  EXPECT_EQ(err.text(), "HdlcSlot[0/*]: package too long, package of 4094 bytes dropped\n");
  // The long one took no counter.
  EXPECT_EQ(FarEnd(), Strings({"00050061", "00052062"}));
  Packages({std::string(4093, 'x')})(big);
  EXPECT_TRUE(slot->Ioctl(big.get_ioctl()));
  Strings out = FarEnd();
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].size(), 2u * 4096);
}

TEST_F(HdlcSlots, FramesWaitForTheChannelAndAFullQueueRefuses) {
  ASSERT_EQ(Ask(1, Timeslot(0, kTimeslot)), kOk);
  ASSERT_EQ(Ask(2, Hdlc(1, 5)), kOk);
  std::vector<std::string> many(121, "q");
  ctltest::Capture err(std::cerr);
  EXPECT_EQ(Ask(2, Packages(many)), kUnsupported);
  EXPECT_EQ(err.count("HdlcSlot[0/*]: transmit queue full, package of 1 bytes dropped"), 1u) << err.text();
  EXPECT_EQ(At<HdlcSlot>(2)->queued(), 120u);
  // Connecting opens the channel; the queue drains when it is ready.
  ASSERT_EQ(Ask(2, ConnectTo(1)), kOk);
  ASSERT_TRUE(bench().loop.RunUntil([&] { return At<HdlcSlot>(2)->queued() == 0; }));
  Strings out = FarEnd();
  ASSERT_EQ(out.size(), 120u);
  EXPECT_EQ(out.front(), "00050071");
  EXPECT_EQ(out.back(), "0005e071");  // counter 119
  // The dropped frame took counter 120: the next one carries 121.
  EXPECT_EQ(Ask(2, Packages({"z"})), kOk);
  EXPECT_EQ(FarEnd(), Strings({"0005207a"}));
}

TEST_F(HdlcSlots, ConnectActivateAndDisconnect) {
  ASSERT_EQ(Ask(2, Hdlc(1, 5)), kOk);
  ASSERT_EQ(Ask(3, Hdlc(2, 6)), kOk);
  // A partner without a channel: the parameters are kept, nothing opens.
  sim().clearLog();
  EXPECT_EQ(Ask(2, ConnectTo(3)), kOk);
  EXPECT_EQ(requestCount(R::MccAllocate), 0u);
  EXPECT_FALSE(At<HdlcSlot>(3)->channel().is_open());
  EXPECT_EQ(Ask(3, Unlink), kOk);

  // A failed activation is the deactivated signal; a later one works.
  ctltest::Capture err(std::cerr);
  sim().failNext("/dev/mcc/ctl", R::MccAllocate, ENOMEM);
  EXPECT_EQ(Request(2, Activate), Strings({"2: deactivated", "2: success"}));
  ASSERT_EQ(Ask(1, Timeslot(0, kTimeslot)), kOk);
  ASSERT_EQ(Ask(1, ConnectTo(2)), kOk);
  EXPECT_TRUE(At<HdlcSlot>(2)->channel().is_open());
  EXPECT_EQ(At<HdlcSlot>(2)->channel().params().tdm, kTimeslot);
  EXPECT_EQ(Ask(2, Unlink), kOk);
  EXPECT_FALSE(At<HdlcSlot>(2)->channel().is_open());
  EXPECT_EQ(Request(2, Activate), Strings({"2: success"}));
  EXPECT_TRUE(At<HdlcSlot>(2)->channel().is_open());
  // Deactivate reports the counters and leaves the channel open.
  EXPECT_EQ(Request(2, Deactivate), Strings({"2: linkinfo 0 0 0 0 0", "2: success"}));
  EXPECT_TRUE(At<HdlcSlot>(2)->channel().is_open());
}

TEST_F(HdlcSlots, CountersEveryThreeSeconds) {
  Wire();
  EXPECT_EQ(Ask(2, Packages({"a", "b"})), kOk);
  EXPECT_EQ(Inject({"000500" "00"}), Strings({"2: packages 00"}));
  // The period began at creation; reported for every slot alive.
  Strings got = After(3000);
  EXPECT_NE(std::find(got.begin(), got.end(), "2: linkinfo 2 0 0 0 1"), got.end()) << got.size();
  // Margins leave room for the real time a loaded machine adds to the
  // driven clock.
  EXPECT_EQ(After(2000), Strings());
  got = After(1000);
  EXPECT_EQ(std::count(got.begin(), got.end(), "2: linkinfo 2 0 0 0 1"), 1);
}

TEST_F(HdlcSlots, DestroyDropsWhatIsPending) {
  Wire();
  // Taking the trunk off closes the channel: frames wait in the queue.
  // (A gathered continued frame would flush on the live loop clock after
  // 100 ms, so only the send queue is checked here.)
  EXPECT_EQ(Ask(1, Unlink), kOk);
  EXPECT_FALSE(slot->channel().is_open());
  EXPECT_EQ(Ask(2, Packages(std::vector<std::string>(40, "p"))), kOk);
  EXPECT_EQ(slot->queued(), 40u);
  EXPECT_EQ(Ask(2, Destroy), kOk);
  EXPECT_EQ(After(200), Strings());
  EXPECT_EQ(After(3000), Strings());
  EXPECT_EQ(FarEnd(), Strings());
}

TEST_F(HdlcSlots, TracesAndChannelErrors) {
  traces.signalling.hdlc = true;
  ctltest::Capture log(std::clog);
  Wire();
  EXPECT_EQ(log.count("\nHdlcSlotFactory.INewSlot\n\n"), 2u);  // for the trunk create too
  for (const char* line : {"trunk=0, address=5\n", "IHwConnectTransmitter\n", "Try to activate HDCL, params.tdm = 16\n",
                           "HDLC activated successfully\n"})
    EXPECT_EQ(log.count(std::string("HdlcSlot[0/*]: ") + line), 1u) << line;
  traces.reset();
  sim().endSession(*sim().mcc().channel(40));
  bench().loop.RunUntil([&] { return log.count("on_hdlc_error") > 0; });
  EXPECT_EQ(log.count("HdlcSlot[0/*]: on_hdlc_error\n"), 1u) << log.text();
  EXPECT_FALSE(slot->channel().is_open());
  // Any trunk number a controller sends is only shown, one less as an
  // unsigned 32-bit number.
  traces.signalling.hdlc = true;
  EXPECT_EQ(Ask(4, Hdlc(INT_MIN, 5)), kOk);
  EXPECT_EQ(Ask(5, Hdlc(0, 5)), kOk);
  traces.reset();
  EXPECT_EQ(log.count("HdlcSlot[2147483647/*]: trunk=2147483647, address=5\n"), 1u) << log.text();
  EXPECT_EQ(log.count("HdlcSlot[4294967295/*]: trunk=4294967295, address=5\n"), 1u) << log.text();
}

}  // namespace
