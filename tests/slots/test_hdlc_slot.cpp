// HDLC slots on a trunk timeslot of the simulated board: frames from the
// controller with their header and sequence numbers, frames from the far
// end gathered into signals, the channel opened by connect and activate,
// the counters, and what is refused or dropped.
#include <climits>
#include <cerrno>

#include "hardware/board/requests.h"
#include "hardware/sim/mcc.h"
#include "runtime/os/clock.h"
#include "test_map_bench.h"

namespace {

using namespace kindtest;
namespace R = Board::Req;

constexpr int kUnsupported = LGCP::ErrorCause::unsupported;
constexpr int kTimeslot = 16;  // trunk 0, timeslot 16



std::string HexOf(const Sim::Bytes& b) { return Hex(std::vector<char>(b.begin(), b.end())); }

Sim::Bytes BytesOf(const std::string& hex) {
  Sim::Bytes b;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) b.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return b;
}

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
    for (const auto& f : frames) sim().tdm().send(kTimeslot, BytesOf(f));
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
  EXPECT_EQ(Ask(2, Packages({})), kOk);
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
  std::vector<std::string> many(HdlcSlot::kQueue + 1, "q");
  ctltest::Capture err(std::cerr);
  EXPECT_EQ(Ask(2, Packages(many)), kUnsupported);
  EXPECT_EQ(err.count("HdlcSlot[0/*]: transmit queue full, package of 1 bytes dropped"), 1u) << err.text();
  EXPECT_EQ(At<HdlcSlot>(2)->queued(), HdlcSlot::kQueue);
  // Connecting opens the channel; the queue drains when it is ready.
  ASSERT_EQ(Ask(2, ConnectTo(1)), kOk);
  ASSERT_TRUE(bench().loop.RunUntil([&] { return At<HdlcSlot>(2)->queued() == 0; }));
  Strings out = FarEnd();
  ASSERT_EQ(out.size(), HdlcSlot::kQueue);
  EXPECT_EQ(out.front(), "00050071");
  EXPECT_EQ(out.back(), "0005e071");  // counter 119
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
  // Any trunk number a controller sends is only shown, one less.
  traces.signalling.hdlc = true;
  EXPECT_EQ(Ask(4, Hdlc(INT_MIN, 5)), kOk);
  traces.reset();
  EXPECT_EQ(log.count("HdlcSlot[-2147483649/*]: trunk=-2147483649, address=5\n"), 1u) << log.text();
}

}  // namespace
