// The slot base and the connection rules: detector events and stream
// changes as signals, release steps, who programs the multiplexer, and
// what the multiplexer and the graph hold after failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <iomanip>
#include <memory>

#include "control/control_test_support.h"
#include "hardware/board/requests.h"
#include "hardware/sim_env.h"
#include "slots_test_support.h"

namespace {

using slottest::FakeSlot;
using Strings = std::vector<std::string>;

class SlotTest : public SimTest::Fixture {
 protected:
  void SetUp() override {
    SimTest::Fixture::SetUp();
    Signals();
    Journal();
  }
  static Strings Signals() { return slottest::TakeSignals(); }
  static Strings Journal() { return std::move(slottest::journal()); }
  static bool Has(const Strings& j, const std::string& s) { return std::find(j.begin(), j.end(), s) != j.end(); }
  int sourceOf(int output) { return sim().tdm().sourceOf(output); }
};

TEST_F(SlotTest, DetectorEventsBecomeSignalsOrAreRejected) {
  FakeSlot s("a", 1);
  ctltest::Capture err(std::cerr);
  for (int code : {17, 18, 16, 19, 127, 128, -1}) s.processTonecEvent({code, 40});
  s.processToneGenEvent();
  for (auto e : std::vector<Hardware::DSProcVADEvent>{{-1, -1}, {0, -1}, {3, 0}}) s.processVADEvent(e);
  for (int rx : {-2, 0, 9}) s.processSDEvent({rx});
  EXPECT_EQ(Signals(), Strings({"tonec 40 ced", "tonec 40 cng", "tonec 40 dtmf 16", "tonec 40 dtmf 19",
                                "tonec 40 dtmf 127", "tonec 0 dtmfDone", "vad rx=0", "vad rx=1 tx=0", "sd rx=0",
                                "sd rx=1"}));
  EXPECT_EQ(err.count("bad DTMF code, ignored.\n"), 2u);
  EXPECT_EQ(err.count("bad VAD event, ignored.\n"), 1u);
  EXPECT_EQ(err.count("bad SD event, ignored.\n"), 1u);
}

// Each change is reported once; going inactive first drops the
// connections of that side (receivers lowest address first).
TEST_F(SlotTest, StreamChangesAreReportedOnceAndDropConnections) {
  FakeSlot t("t", 1);
  std::vector<std::unique_ptr<FakeSlot>> rs;
  for (int i = 0; i < 3; ++i) rs.emplace_back(new FakeSlot("r", 2 + i));
  for (auto& r : rs) ASSERT_TRUE(Connect(t, *r));
  t.OnChangeOutputStream(true);
  EXPECT_EQ(Signals(), Strings({"transmitter active 1", "receiver active 2", "receiver active 3", "receiver active 4"}));
  std::vector<Slot*> order(t.GetReceivers().begin(), t.GetReceivers().end());
  ASSERT_TRUE(std::is_sorted(order.begin(), order.end(), std::less<Slot*>()));

  ctltest::Capture log(std::clog);
  t.OnChangeOutputStream(false);
  t.OnChangeOutputStream(false);
  std::string expect;
  for (Slot* r : order) expect += "mux: disconnect slot na:r [" + std::to_string(r->GetReceiveChannel()) + "]\n";
  EXPECT_EQ(log.text(), expect);
  EXPECT_TRUE(t.GetReceivers().empty());
  EXPECT_EQ(sourceOf(2), -1);
  EXPECT_EQ(Signals(), Strings({"transmitter inactive"}));
  EXPECT_FALSE(t.GetOutputStream());

  ASSERT_TRUE(Connect(t, *rs[0]));
  Signals();
  rs[0]->OnChangeInputStream(false);
  EXPECT_EQ(rs[0]->GetSource(), nullptr);
  EXPECT_EQ(Signals(), Strings({"receiver inactive"}));
}

TEST_F(SlotTest, ReleaseSteps) {
  slottest::FakeFactory factory;
  LGCP::CreateParams p;
  p.select_ext().set_transmitter(3);
  auto* s = static_cast<FakeSlot*>(factory.NewSlot(p));
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->GetSlotFactory(), &factory);
  s->on_release();  // not releasing: nothing
  EXPECT_EQ(factory.slots().size(), 1u);
  s->release = 1;
  EXPECT_FALSE(s->BeforeDestroy());  // later: stays listed
  EXPECT_EQ(factory.slots().size(), 1u);
  s->release = 0;
  EXPECT_TRUE(s->BeforeDestroy());
  EXPECT_TRUE(factory.slots().empty());
  delete s;
  p.select_trunk();
  EXPECT_EQ(factory.NewSlot(p), nullptr);
  EXPECT_TRUE(factory.slots().empty());

  FakeSlot orphan("o", 1);
  ctltest::Capture err(std::cerr);
  EXPECT_TRUE(orphan.BeforeDestroy());
  EXPECT_EQ(err.text(), "slot: internal error!!! BeforeDestroy() not connected to factory\n");
  std::ostringstream os;
  os << orphan << "|" << std::setw(3) << 5;  // the fill is a blank again
  EXPECT_EQ(os.str(), "na:o|  5");
}

TEST_F(SlotTest, ConnectAndDisconnectAtEqualPriorities) {
  FakeSlot t("t", 3), r("r", 40);
  ctltest::Capture log(std::clog);
  ASSERT_TRUE(Connect(t, r));
  EXPECT_EQ(sourceOf(40), 3);
  EXPECT_EQ(t.GetReceivers(), std::list<Slot*>({&r}));
  EXPECT_EQ(Journal(), Strings({"t.IOnOutputStream", "r.IOnInputStream", "r.IHwConnectReceiver(t)"}));
  EXPECT_EQ(log.count("mux: slot na:t [3] -> na:r [40]\n"), 1u);
  Signals();
  size_t requests = sim().log().size();
  EXPECT_TRUE(Connect(t, r));  // again: nothing at all
  EXPECT_EQ(sim().log().size(), requests);
  EXPECT_TRUE(Signals().empty() && Journal().empty());

  ASSERT_TRUE(Disconnect(r));
  EXPECT_EQ(sourceOf(40), -1);
  EXPECT_EQ(Journal(), Strings({"t.IHwDisconnectTransmitter(r)", "r.IOnInputRelease", "t.IOnOutputRelease"}));
  EXPECT_TRUE(Disconnect(r));  // no source: true, no hook
  EXPECT_TRUE(Journal().empty());

  // A slot may feed itself.
  ASSERT_TRUE(Connect(r, r));
  EXPECT_EQ(sourceOf(40), 40);
  EXPECT_EQ(r.GetSource(), &r);
  ASSERT_TRUE(Disconnect(r));
  EXPECT_TRUE(r.GetReceivers().empty());
}

TEST_F(SlotTest, ANewTransmitterReplacesTheOldSource) {
  FakeSlot p("p", 1), t("t", 2), r("r", 9);
  ASSERT_TRUE(Connect(p, r));
  Journal();
  Signals();
  ASSERT_TRUE(Connect(t, r));
  EXPECT_EQ(sourceOf(9), 2);
  EXPECT_TRUE(p.GetReceivers().empty());
  EXPECT_EQ(Journal(), Strings({"t.IOnOutputStream", "p.IHwDisconnectTransmitter(r)", "r.IHwConnectReceiver(t)",
                                "p.IOnOutputRelease"}));
  EXPECT_EQ(Signals(), Strings({"transmitter active 2"}));
}

TEST_F(SlotTest, MissingStreamsRefuseTheConnection) {
  FakeSlot t("t", 1), r("r", 2);
  t.output = false;
  ctltest::Capture err(std::cerr);
  EXPECT_FALSE(Connect(t, r));
  EXPECT_TRUE(Signals().empty());
  t.output = true;
  r.input = false;
  EXPECT_FALSE(Connect(t, r));  // the output stays reported active
  EXPECT_EQ(err.count("slot na:t don't have output stream to na:r\n"), 1u);
  EXPECT_EQ(err.count("slot na:r don't have input stream from na:t\n"), 1u);
  EXPECT_EQ(Signals(), Strings({"transmitter active 1"}));
  EXPECT_EQ(sourceOf(2), -1);
  EXPECT_EQ(r.GetSource(), nullptr);
}

TEST_F(SlotTest, TheHigherPriorityProgramsTheHardware) {
  FakeSlot t("t", 5), r("r", 6);
  r.priority = 1;
  ASSERT_TRUE(Connect(t, r));
  ASSERT_TRUE(Disconnect(r));
  Strings j = Journal();
  EXPECT_TRUE(Has(j, "r.IHwConnectReceiver(t)") && Has(j, "r.IHwDisconnectReceiver(t)"));
  r.priority = 0;
  t.priority = 1;
  ASSERT_TRUE(Connect(t, r));
  ASSERT_TRUE(Disconnect(r));
  j = Journal();
  EXPECT_TRUE(Has(j, "t.IHwConnectTransmitter(r)") && Has(j, "t.IHwDisconnectTransmitter(r)"));
  EXPECT_EQ(sourceOf(6), -1);
}

TEST_F(SlotTest, HardwareFailuresLeaveGraphAndMuxInStep) {
  FakeSlot t("t", 1), r("r", 2), q("q", 3);
  sim().failNext("/dev/hal", Board::Req::MuxConnect, EIO);
  EXPECT_FALSE(Connect(t, r));
  Strings j = Journal();
  EXPECT_EQ(Strings(j.end() - 2, j.end()), Strings({"r.IOnInputRelease", "t.IOnOutputRelease"}));
  EXPECT_EQ(r.GetSource(), nullptr);

  // A failed move keeps the old connection, restored on the multiplexer...
  ASSERT_TRUE(Connect(t, r));
  sim().failNext("/dev/hal", Board::Req::MuxConnect, EIO);
  EXPECT_FALSE(Connect(q, r));
  EXPECT_EQ(r.GetSource(), &t);
  EXPECT_EQ(sourceOf(2), 1);
  // ...or, when even that fails, drops it.
  sim().failNext("/dev/hal", Board::Req::MuxConnect, EIO, 2);
  Journal();
  EXPECT_FALSE(Connect(q, r));
  EXPECT_EQ(r.GetSource(), nullptr);
  EXPECT_TRUE(t.GetReceivers().empty());
  j = Journal();
  EXPECT_TRUE(Has(j, "t.IOnOutputRelease") && Has(j, "r.IOnInputRelease"));

  // A refused disconnect still removes the logical link.
  ASSERT_TRUE(Connect(t, r));
  sim().failNext("/dev/hal", Board::Req::MuxWrite, EIO);
  EXPECT_FALSE(Disconnect(r));
  EXPECT_EQ(r.GetSource(), nullptr);
  EXPECT_TRUE(t.GetReceivers().empty());
}

}  // namespace
