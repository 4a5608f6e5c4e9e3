// The Slots service behind a control server, driven by a controller over
// loopback TCP: timeslot slots on the simulated multiplexer and fake slots
// that release at once, later, or within their hook.
#include <gtest/gtest.h>

#include <chrono>

#include "hardware/sim_env.h"
#include "slots/trunk_slot.h"
#include "slot_bench_fixture.h"
#include "support/e1board_harness.h"

namespace {

using e1test::Answer;
using e1test::Msgs;
using slottest::journal;
using Strings = std::vector<std::string>;
using namespace slottest::fills;

constexpr int kOk = -1;
constexpr int kNoAnswer = -2;

slottest::FakeFactory& fakes() {
  static slottest::FakeFactory f;  // made at first use: heads the chain
  return f;
}

// Sends broadcasts, as the E1 control does.
class Broadcaster : public slottest::SignalSpy {};

class SlotsService : public slottest::SlotBenchTest {
 protected:
  static Broadcaster& broadcaster() {
    static Broadcaster b;
    return b;
  }
  void Prepare() override {
    fakes();
    if (extraServices().empty()) extraServices().push_back(&broadcaster());
  }
  void SetUp() override {
    SlotBenchTest::SetUp();
    journal().clear();
  }
  static TrunkSlot* TrunkAt(unsigned n) { return dynamic_cast<TrunkSlot*>(Slots::instance().at(n)); }
  static std::string LogForm(Slot* s) {
    std::ostringstream os;
    os << *s;
    return os.str();
  }
  int sourceOf(int output) { return sim().tdm().sourceOf(output); }
};

TEST_F(SlotsService, TimeslotSlotsAreMadeByTheFactoryOfTheirTrunk) {
  EXPECT_EQ(Request(3, Timeslot(1, 5)), Strings({"3: success", "3: transmitter active 37", "3: receiver active 37"}));
  TrunkSlot* e1 = TrunkAt(3);
  ASSERT_NE(e1, nullptr);
  EXPECT_EQ(LogForm(e1), "03:trunk");
  EXPECT_EQ(e1->GetTrunk() * 100 + e1->GetTimeSlot(), 105u);
  EXPECT_EQ(e1->GetSlotFactory()->trunk(), 1u);  // the one of trunk 1, of all
  EXPECT_EQ(Request(1023, Timeslot(3, 2, true)),
            Strings({"1023: success", "1023: transmitter active 14", "1023: receiver active 14"}));
  TrunkSlot* bri = TrunkAt(1023);
  ASSERT_NE(bri, nullptr);
  EXPECT_EQ(LogForm(bri), "1023:trunkBRI");
  EXPECT_EQ(bri->GetTrunk() * 100 + bri->GetTrunkTimeSlot(), 302u);
  EXPECT_EQ(sourceOf(37), -1);  // creating switches nothing
  // BRI 1 timeslot 3 and E1 0 timeslot 7 share channel 7; the tables are separate.
  EXPECT_EQ(Ask(4, Timeslot(1, 3, true)), kOk);
  EXPECT_EQ(Ask(5, Timeslot(0, 7)), kOk);
  EXPECT_NE(TrunkAt(4), nullptr);

  for (const Fill& f : {Timeslot(0, 4, true), Timeslot(8, 0, true), Timeslot(4, 0),
                        Fill([](LGCP::Command& c) { c.select_create().select_spi_tdm().set_channel(1); })})
    EXPECT_EQ(Ask(6, f), int(LGCP::ErrorCause::insufficientResources));
  EXPECT_EQ(Slots::instance().at(6), nullptr);
  // A create on a number in use replaces the old slot even when declined.
  EXPECT_EQ(Ask(5, Timeslot(9, 1)), int(LGCP::ErrorCause::insufficientResources));
  EXPECT_EQ(Slots::instance().at(5), nullptr);
}

TEST_F(SlotsService, ASecondSlotOnAHeldTimeslotReplacesTheFirst) {
  ASSERT_EQ(Ask(10, Timeslot(0, 7)), kOk);
  ctltest::Capture err(std::cerr);
  EXPECT_EQ(Request(11, Timeslot(0, 7)), Strings({"11: success", "11: transmitter active 7", "11: receiver active 7"}));
  EXPECT_EQ(err.text(), "trunk-slot: two slots require the same timeslot, remove old.\n old slot 10:trunk\n");
  EXPECT_EQ(Slots::instance().at(10), nullptr);
  TrunkFactory* f = TrunkAt(11)->GetSlotFactory();
  EXPECT_EQ(f->holder(7), TrunkAt(11));
  EXPECT_EQ(f->slots().size(), 1u);
  // The same number, another timeslot: the first one is free again.
  EXPECT_EQ(Ask(11, Timeslot(0, 8)), kOk);
  EXPECT_EQ(f->holder(7), nullptr);
  EXPECT_EQ(Slots::instance().live().size(), 1u);
}

TEST_F(SlotsService, ConnectDisconnectAndDestroyKeepTheMuxInStep) {
  for (unsigned n : {0, 1, 2}) ASSERT_EQ(Ask(n, Timeslot(n ? 1 : 0, n ? 7 + n : 3)), kOk);
  EXPECT_EQ(Ask(7, ConnectTo(1)), int(LGCP::ErrorCause::slotNotExists));
  EXPECT_EQ(Ask(0, ConnectTo(7)), int(LGCP::ErrorCause::slotNotExists));
  ctltest::Capture log(std::clog);
  EXPECT_EQ(Ask(0, ConnectTo(1)), kOk);
  EXPECT_EQ(Ask(0, ConnectTo(2)), kOk);
  EXPECT_EQ(log.count("mux: slot 00:trunk [3] -> 01:trunk [40]\n"), 1u);
  EXPECT_EQ(sourceOf(40) + sourceOf(41), 6);

  auto disconnect = [](LGCP::Command& c) { c.select_disconnect(); };
  EXPECT_EQ(Ask(1, disconnect), kOk);
  EXPECT_EQ(sourceOf(40), -1);
  EXPECT_EQ(Ask(1, disconnect), kOk);  // no source: still success
  EXPECT_EQ(Ask(9, disconnect), int(LGCP::ErrorCause::slotNotExists));
  // Destroying the transmitter releases its receivers' crosspoints.
  EXPECT_EQ(Request(0, Destroy), Strings({"0: success"}));
  EXPECT_EQ(sourceOf(41), -1);
  EXPECT_EQ(Slots::instance().at(2)->GetSource(), nullptr);
  EXPECT_EQ(Ask(0, Destroy), int(LGCP::ErrorCause::slotNotExists));
}

TEST_F(SlotsService, SlotCommandsReachTheHooks) {
  ASSERT_EQ(Ask(40, Timeslot(3, 0)), kOk);
  ASSERT_EQ(Ask(41, Ext(50, 0)), kOk);
  journal().clear();
  for (const Fill& cmd : std::vector<Fill>{[](LGCP::Command& c) { c.select_activate().select_empty(); },
                                           [](LGCP::Command& c) { c.select_deactivate(); },
                                           [](LGCP::Command& c) { c.select_userData(std::vector<char>{1, 2}); },
                                           [](LGCP::Command& c) { c.select_ioctl().select_deactivateRecord(); }}) {
    EXPECT_EQ(Ask(42, cmd), int(LGCP::ErrorCause::slotNotExists));
    EXPECT_EQ(Ask(40, cmd), int(LGCP::ErrorCause::unsupported));
    EXPECT_EQ(Ask(41, cmd), kOk);
  }
  std::string f = fakes().last->name_;
  EXPECT_EQ(journal(), Strings({f + ".IActivate", f + ".IDeactivate", f + ".IUserData", f + ".Ioctl"}));
}

TEST_F(SlotsService, AsynchronousDestroyIsAnsweredWhenTheReleaseEnds) {
  ASSERT_EQ(Ask(31, Ext(60, 1)), kOk);
  slottest::FakeSlot* s = fakes().last;
  const std::string name = s->name_;
  EXPECT_EQ(Ask(31, Destroy, 100), kNoAnswer);
  const int destroySeq = seq;
  EXPECT_EQ(Ask(31, Destroy), int(LGCP::ErrorCause::destroyInProgress));
  EXPECT_EQ(Ask(31, [](LGCP::Command& c) { c.select_deactivate(); }), kOk);  // still reached
  // Connected again while releasing: its end must not leave the peer
  // pointing at a deleted slot.
  ASSERT_EQ(Ask(32, Timeslot(2, 4)), kOk);
  ASSERT_EQ(Ask(32, ConnectTo(31)), kOk);
  ASSERT_EQ(sourceOf(60), 68);

  s->on_release();
  EXPECT_TRUE(Slots::instance().at(32)->GetReceivers().empty());
  EXPECT_EQ(sourceOf(60), -1);
  Msgs late = bench().Receive(1);
  EXPECT_EQ(Trace(late), Strings({"31: success"}));
  ASSERT_EQ(late.size(), 1u);
  EXPECT_EQ(late[0].get_seq().getValue(), destroySeq);
  EXPECT_EQ(journal().back(), name + ".deleted");

  // A release ended within the hook is answered once, at once.
  ASSERT_EQ(Ask(33, Ext(62, 2)), kOk);
  EXPECT_EQ(Request(33, Destroy), Strings({"33: success"}));
  EXPECT_TRUE(bench().Take(20).empty());
  EXPECT_EQ(Slots::instance().at(33), nullptr);
}

TEST_F(SlotsService, CreateOnAReleasingNumber) {
  ASSERT_EQ(Ask(30, Ext(61, 1)), kOk);
  slottest::FakeSlot* s = fakes().last;
  EXPECT_EQ(Ask(30, Timeslot(0, 1)), int(LGCP::ErrorCause::slotIdBusy));
  EXPECT_TRUE(s->is_releasing());
  EXPECT_EQ(Ask(30, Timeslot(0, 1)), int(LGCP::ErrorCause::destroyInProgress));
  s->on_release();  // nobody asked for this destroy: no answer
  EXPECT_TRUE(bench().Take(20).empty());
  EXPECT_EQ(Ask(30, Timeslot(0, 1)), kOk);
}

TEST_F(SlotsService, QueryAndBroadcasts) {
  fakes().modems = 3;
  EXPECT_EQ(Request(-1, [](LGCP::Command& c) { c.select_query(); }), Strings({"-: success", "-: query"}));
  const LGCP::Resources& r = last.at(1).get_pdu().get_signal().get_query();
  EXPECT_EQ(r.get_modem().getValue(), 3);
  EXPECT_TRUE(bool(r.get_mux()));
  EXPECT_FALSE(r.drvVersion_isPresent());
  EXPECT_EQ(Ask(5, [](LGCP::Command& c) { c.select_query(); }), int(LGCP::ErrorCause::unexpectedMsgType));

  ASSERT_EQ(Ask(12, Ext(70, 0)), kOk);
  ACP::TrunkStatus st;
  st.set_trunk(2);
  st.set_state(ACP::TrunkState::ais);
  broadcaster().SendSignal(LGCP::Signal(LGCP::Signal::trunkStatus::Id(), st));
  broadcaster().SendSignal(LGCP::Signal(LGCP::Signal::abort::Id(), 1));  // ignored
  EXPECT_EQ(journal().back(), fakes().last->name_ + ".OnTrunkStatus 2 3");
}

TEST_F(SlotsService, LosingTheControllerDestroysEverySlot) {
  ASSERT_EQ(Ask(0, Timeslot(0, 3)), kOk);
  ASSERT_EQ(Ask(1, Timeslot(1, 8)), kOk);
  ASSERT_EQ(Ask(2, Ext(80, 1)), kOk);
  ASSERT_EQ(Ask(3, Ext(81, 1)), kOk);
  ASSERT_EQ(Ask(4, Ext(82, 2)), kOk);
  ASSERT_EQ(Ask(0, ConnectTo(1)), kOk);
  ASSERT_EQ(Ask(3, Destroy, 100), kNoAnswer);
  journal().clear();

  ASSERT_TRUE(bench().Disconnect());
  EXPECT_TRUE(Slots::instance().live().empty());
  EXPECT_EQ(sourceOf(40), -1);
  EXPECT_EQ(std::count_if(journal().begin(), journal().end(),
                          [](const std::string& j) { return j.find(".deleted") != std::string::npos; }),
            3);
  EXPECT_TRUE(fakes().slots().empty());
  ASSERT_TRUE(bench().Connect());
  EXPECT_TRUE(bench().Take(20).empty());  // no late answers
  slottest::LogCapture log;
  EXPECT_EQ(Ask(0, Timeslot(0, 3)), kOk);
  EXPECT_FALSE(log.has("two slots require the same timeslot")) << log.text.str();  // its holder went too

  // The pause for asynchronous releases is taken on every loss.
  Slots::instance().OnDisconnect();
  Slots::releaseWaitMs = 1000;
  auto start = std::chrono::steady_clock::now();
  Slots::instance().OnDisconnect();
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
}

}  // namespace
