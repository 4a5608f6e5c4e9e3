// Signalling-link slots on the simulated board, the loop run in short
// passes. PSTN slots: trunk states, the SS7 ioctls, refused sources,
// basic-rate channels that need both directions, the network side's
// frames, and the reports around a link's release. ISDN slots on the
// multichannel controller: the channel request, declined creates and a
// full device.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "hardware/board/board.h"
#include "hardware/board/record.h"
#include "hardware/board/requests.h"
#include "hardware/hwmux.h"
#include "hardware/sim/mcc.h"
#include "hardware/sim_env.h"
#include "runtime/loop/multiplexer.h"
#include "runtime/os/clock.h"
#include "runtime/test_loop_support.h"
#include "slots/isdn_slot.h"
#include "slots/pstn_slot.h"
#include "slots/trunk_slot.h"
#include "slot_bench_fixture.h"
#include "slots_test_support.h"

namespace linktest {

// Moves the loop clock on (or not) and runs one short pass of the loop.
inline void advance(unsigned ms = 0) {
  Mux::advanceClock(ms);
  LoopDeadline d(2);
  multiplexer.run(false, true);
}

// The kinds of the signals sent since the last call: "activated",
// "userData", "hdlcLinkInfo", "ss7LinkInfo <state>", "isdnLinkStatus", ...
inline std::vector<std::string> Signals() {
  std::vector<std::string> v;
  for (const auto& s : slottest::BoundSpy().signals) {
    if (!s.ioctl_isSelected()) {
      v.push_back(s.currentSelection() >= 0 ? LGCP::Signal::selectionNames[s.currentSelection()] : "?");
      continue;
    }
    const LGCP::IoctlResponse& r = s.get_ioctl();
    std::string d = LGCP::IoctlResponse::selectionNames[r.currentSelection()];
    if (r.ss7LinkInfo_isSelected()) d += " " + std::to_string(r.get_ss7LinkInfo().get_ss7state().asInt());
    if (r.ss7BSN_isSelected()) d += " " + std::to_string(r.get_ss7BSN().getValue());
    v.push_back(d);
  }
  slottest::BoundSpy().signals.clear();
  return v;
}

// Each test's slots are disconnected and destroyed after it.
class Fixture : public SimTest::Fixture {
 protected:
  void SetUp() override {
    SimTest::Fixture::SetUp();
    HwMux::instance();
    Signals();
  }
  void TearDown() override {
    for (Slot* s : made_) Disconnect(*s);
    for (Slot* s : made_) {
      if (s->GetSlotFactory()) s->BeforeDestroy();
      delete s;
    }
    made_.clear();
    sim().pump();
    Signals();
  }
  template <class T>
  T* Keep(T* s) {
    if (s) made_.push_back(s);
    return s;
  }
  template <class T>
  T* Make(SlotFactory& f, const LGCP::CreateParams& p) {
    return Keep(dynamic_cast<T*>(f.NewSlot(p)));
  }

  std::vector<Slot*> made_;
};

}  // namespace linktest

namespace {

using Strings = std::vector<std::string>;
using linktest::Signals;
using Bytes = std::vector<std::uint8_t>;
using slottest::fills::Isdn;
using slottest::fills::Ss7;

// ---- PSTN slots ----

LGCP::CreateParams PstnIsdn(bool bri, bool network) { return slottest::fills::Isdn(bri, network, true); }

LGCP::Signal TrunkState(unsigned trunk, ACP::TrunkState::NamedNumber state, bool bri = false) {
  LGCP::Signal s;
  ACP::TrunkStatus& t = s.select_trunkStatus();
  t.set_trunk(static_cast<int>(trunk));
  t.set_state(state);
  t.set_type(bri ? ACP::TrunkType::bri : ACP::TrunkType::e1);
  return s;
}

// A source with any trunk and timeslot numbers.
class OddSlot : public Slot {
 public:
  OddSlot(unsigned trunk, unsigned timeslot) : trunk_(trunk), timeslot_(timeslot) {}
  unsigned GetTrunk() override { return trunk_; }
  unsigned GetTrunkTimeSlot() override { return timeslot_; }
  bool IOnOutputStream() override { return true; }
  int IGetTransmitChannel() override { return 5; }
  const char* GetName() const override { return "odd"; }

 private:
  unsigned trunk_, timeslot_;
};

class PstnSlotTest : public linktest::Fixture {
 protected:
  PstnSlot* Make(const LGCP::CreateParams& p) { return Fixture::Make<PstnSlot>(PstnFactory::instance(), p); }
};

TEST_F(PstnSlotTest, TrunkStatesReachTheSs7LinkOfTheirTrunkWhenChanged) {
  PstnSlot* pstn = Make(Ss7(2));
  ASSERT_TRUE(Connect(*Keep(new TrunkSlot(32 + 7)), *pstn));
  ASSERT_EQ(SS7::SLC::State::not_aligned, pstn->ss7()->get_state_id());
  Signals();

  auto& f = PstnFactory::instance();
  f.SelfSignal(TrunkState(1, ACP::TrunkState::unknown));  // unknown at first is no change
  f.SelfSignal(TrunkState(2, ACP::TrunkState::lossBF));   // another trunk
  f.SelfSignal(TrunkState(1, ACP::TrunkState::lossCarrier, true));  // a basic-rate line
  f.SelfSignal(TrunkState(1, ACP::TrunkState::normal));   // up: only kept
  EXPECT_EQ(0, pstn->lastTrunkState());
  EXPECT_EQ(SS7::SLC::State::not_aligned, pstn->ss7()->get_state_id());
  EXPECT_TRUE(Signals().empty());

  // Down: the link goes idle; its log names the create's trunk number.
  ::testing::internal::CaptureStderr();
  f.SelfSignal(TrunkState(1, ACP::TrunkState::ais));
  std::string log = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, log.find("trunk=2] (not aligned):  transport OFF")) << log;
  EXPECT_EQ(SS7::SLC::State::idle, pstn->ss7()->get_state_id());
  EXPECT_EQ((Strings{"ss7LinkInfo 0", "hdlcLinkInfo", "ss7LinkInfo 0", "deactivated"}), Signals());
  f.SelfSignal(TrunkState(1, ACP::TrunkState::ais));
  EXPECT_TRUE(Signals().empty());

  // Every 3000 ms of the loop clock: the channel's counters, then the link's.
  linktest::advance(3000);
  EXPECT_EQ((Strings{"hdlcLinkInfo", "ss7LinkInfo 0"}), Signals());

  PstnSlot* isdn = Make(PstnIsdn(false, false));
  f.SelfSignal(TrunkState(0, ACP::TrunkState::lossBF));
  EXPECT_EQ(5, isdn->lastTrunkState());
}

TEST_F(PstnSlotTest, Ss7IoctlsNeedAnSs7Link) {
  PstnSlot* ss7 = Make(Ss7(1));
  PstnSlot* isdn = Make(PstnIsdn(false, false));
  LGCP::IoctlParams bsn, log, other;
  bsn.select_ss7RqBSN();
  LGCP::SS7L2Log& l = log.select_ss7Log();
  l.set_state(true);
  l.set_raw_transmit(true);
  l.set_timers(true);
  other.select_deactivateTonec();

  EXPECT_TRUE(ss7->Ioctl(bsn));
  EXPECT_EQ((Strings{"ss7BSN 127"}), Signals());
  EXPECT_TRUE(ss7->Ioctl(log));
  const SS7::SLC::Trace& t = ss7->ss7()->trace;
  EXPECT_TRUE(t.state && !t.raw_receive && t.raw_transmit && t.timers && !t.msu_processing);
  EXPECT_FALSE(isdn->Ioctl(bsn));
  EXPECT_FALSE(isdn->Ioctl(log));
  EXPECT_FALSE(ss7->Ioctl(other));
  EXPECT_TRUE(Signals().empty());
}

TEST_F(PstnSlotTest, SourcesOutsideTheE1RangeAreRefused) {
  PstnSlot* ss7 = Make(Ss7(1));
  PstnSlot* pri = Make(PstnIsdn(false, true));
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(Connect(*Keep(new slottest::FakeSlot("rtp", 9)), *ss7));  // no trunk: -1
  EXPECT_FALSE(Connect(*Keep(new OddSlot(4, 1)), *pri));
  EXPECT_FALSE(Connect(*Keep(new OddSlot(3, 32)), *ss7));
  EXPECT_FALSE(Connect(*Keep(new OddSlot(0, -1u)), *pri));
  std::string log = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, log.find("pstn-slot: invalid trunk number: 4294967295\n")) << log;
  EXPECT_NE(std::string::npos, log.find("pstn-slot: invalid trunk number: 4\n")) << log;
  EXPECT_NE(std::string::npos, log.find("pstn-slot: invalid timeslot: 32\n")) << log;
  EXPECT_NE(std::string::npos, log.find("pstn-slot: invalid timeslot: 4294967295\n")) << log;
  EXPECT_FALSE(ss7->channel().is_open() || pri->channel().is_open());
  EXPECT_EQ(nullptr, ss7->GetSource());
}

TEST_F(PstnSlotTest, BasicRateChannelOpensWithBothDirectionsAndCarriesTheNetworkSide) {
  sim().mcc().setNextChannel(70);
  PstnSlot* user = Make(PstnIsdn(true, false));
  TrunkBRISlot* line5 = Keep(new TrunkBRISlot(5));
  ASSERT_TRUE(Connect(*line5, *user));
  EXPECT_FALSE(user->channel().is_open());
  ASSERT_TRUE(Connect(*user, *line5));
  EXPECT_TRUE(user->channel().is_open());
  EXPECT_EQ(2, user->channel().params().type);

  // A peer without a channel (as an HDLC slot) is taken and its -1 stored; with neither channel nothing opens.
  PstnSlot* bare = Make(PstnIsdn(true, false));
  slottest::FakeSlot* none = Keep(new slottest::FakeSlot("hdlc", -1));
  sim().clearLog();
  EXPECT_TRUE(Connect(*none, *bare) && Connect(*bare, *none));
  EXPECT_EQ(-1, bare->channel().params().tdm);
  EXPECT_EQ(-1, bare->channel().params().tdm_out);
  EXPECT_FALSE(bare->channel().is_open());
  EXPECT_EQ(0u, requestCount(Board::Req::MccAllocate));

  PstnSlot* net = Make(PstnIsdn(true, true));
  ASSERT_NE(nullptr, net->lapdNT());
  TrunkBRISlot* line9 = Keep(new TrunkBRISlot(9));
  ASSERT_TRUE(Connect(*net, *line9));
  EXPECT_FALSE(net->channel().is_open());
  ASSERT_TRUE(Connect(*line9, *net));
  EXPECT_EQ(9, net->channel().params().tdm);
  EXPECT_EQ(9, net->channel().params().tdm_out);

  // A terminal's TEI request (SAPI 63, Ri 0x1234) reaches the network side,
  // whose assignment leaves on the line.
  linktest::advance();
  sim().tdm().send(9, {0xFC, 0xFF, 0x03, 0x0F, 0x12, 0x34, 0x01, 0xFF});
  bool assigned = false;
  for (int i = 0; i < 20 && !assigned; ++i) {
    sim().pump();
    linktest::advance();
    sim().pump();
    for (const Bytes& f : sim().tdm().takeFarEnd(9))
      assigned |= f.size() == 8 && f[4] == 0x12 && f[5] == 0x34 && f[6] == 0x02 && (f[7] >> 1) >= 64;
  }
  EXPECT_TRUE(assigned);
}

TEST_F(PstnSlotTest, LapdLinkInfoIsSentWhenChangedAndBeforeTheRelease) {
  PstnSlot* pri = Make(PstnIsdn(false, false));
  linktest::advance(3000);
  EXPECT_EQ((Strings{"hdlcLinkInfo", "isdnLinkInfo"}), Signals());
  linktest::advance(3000);
  EXPECT_EQ((Strings{"hdlcLinkInfo"}), Signals());

  ASSERT_TRUE(Connect(*Keep(new TrunkSlot(16)), *pri));
  EXPECT_EQ(1, pri->channel().params().type);
  Signals();
  EXPECT_TRUE(pri->IDeactivate());
  EXPECT_EQ((Strings{"isdnLinkInfo", "hdlcLinkInfo", "deactivated"}), Signals());
  pri->OnLAPD_FlowStatusChange(pri->lapd());
  EXPECT_EQ((Strings{"isdnLinkStatus"}), Signals());
}

TEST_F(PstnSlotTest, AChannelThatCannotOpenReportsTheSlotDeactivated) {
  // An activate command opens the channel before any connection (nothing
  // is switched yet) and starts the link.
  PstnSlot* early = Make(Ss7(1));
  EXPECT_TRUE(early->IActivate(TERM::TermActivateParams()));
  EXPECT_TRUE(early->channel().is_open());
  EXPECT_EQ(1u, requestCount(Board::Req::MccAllocate));
  EXPECT_EQ(0u, requestCount(Board::Req::MuxConnect));
  EXPECT_EQ(SS7::SLC::State::not_aligned, early->ss7()->get_state_id());
  EXPECT_EQ(Strings(), Signals());

  PstnSlot* ss7 = Make(Ss7(1));
  sim().setPresent("/dev/mcc/ctl", false);
  ::testing::internal::CaptureStderr();
  EXPECT_TRUE(Connect(*Keep(new TrunkSlot(16)), *ss7));
  std::string log = ::testing::internal::GetCapturedStderr();
  sim().setPresent("/dev/mcc/ctl", true);
  EXPECT_NE(std::string::npos, log.find("fail to open MCC device")) << log;
  EXPECT_EQ(SS7::SLC::State::idle, ss7->ss7()->get_state_id());
  EXPECT_EQ("deactivated", Signals().back());
}

TEST_F(PstnSlotTest, UserDataTheStackCannotTakeIsRefusedSafely) {
  LGCP::CreateParams cas;
  cas.select_pstn().select_cas().set_trunk(1);
  PstnSlot* empty = Make(cas);
  EXPECT_TRUE(empty->IUserData({1, 2, 3}));
  PstnSlot* ss7 = Make(Ss7(1));
  slottest::LogCapture log;
  EXPECT_FALSE(ss7->IUserData(std::vector<char>(5000, 1)));
  EXPECT_TRUE(log.has(":pstn: user data too long: 5000"));
  EXPECT_TRUE(ss7->IUserData(std::vector<char>(300, 1)));
}

// ---- ISDN slots ----

// Counts the channel's ready reports.
class CountingLink : public ISDN::LAPD {
 public:
  CountingLink() : ISDN::LAPD(ISDN::Side::user, 0) {}
  void on_hdlc_ready() override {
    ++readies;
    ISDN::LAPD::on_hdlc_ready();
  }
  int readies = 0;
};

class IsdnSlotTest : public linktest::Fixture {
 protected:
  IsdnSlot* Make(const LGCP::CreateParams& p) { return Fixture::Make<IsdnSlot>(IsdnFactory::instance(), p); }
  // The channel allocation records, word by word.
  std::vector<std::vector<int32_t>> Allocations() {
    std::vector<std::vector<int32_t>> v;
    for (const auto& e : sim().log()) {
      if (e.device != "/dev/mcc/ctl" || e.request != Board::Req::MccAllocate) continue;
      v.emplace_back();
      for (std::size_t i = 0; i + 4 <= e.in.size(); i += 4)
        v.back().push_back(static_cast<int32_t>(::Board::getBE32(e.in.data() + i)));
    }
    return v;
  }
  // A create the factory declines; what it logged.
  std::string Declined(const LGCP::CreateParams& p) {
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(nullptr, Make(p));
    return ::testing::internal::GetCapturedStderr();
  }
};

TEST_F(IsdnSlotTest, ChannelRequestFollowsTypeAndSide) {
  sim().mcc().setNextChannel(80);
  IsdnSlot* bri = Make(Isdn(true, true));
  ASSERT_NE(nullptr, bri);
  IsdnSlot* pri = Make(Isdn(false, false));
  ASSERT_NE(nullptr, pri);
  EXPECT_EQ((std::vector<std::vector<int32_t>>{{1, 512, 0, 1, 1}, {0, 512, 0, 1, 1}}), Allocations());
  EXPECT_EQ(ISDN::Side::network, bri->link()->side());
  EXPECT_EQ(ISDN::Side::user, pri->link()->side());
  EXPECT_EQ(80, bri->GetTransmitChannel());
  EXPECT_EQ(80, bri->GetReceiveChannel());

  // Every ioctl is unsupported; a flow-status change sends nothing.
  LGCP::IoctlParams rq;
  rq.select_ss7RqBSN();
  EXPECT_FALSE(pri->Ioctl(rq));
  rq.select_deactivateTonec();
  EXPECT_FALSE(pri->Ioctl(rq));
  static_cast<ISDN::LAPD::Notify*>(pri)->OnLAPD_FlowStatusChange(pri->link());
  EXPECT_TRUE(linktest::Signals().empty());
  {
    slottest::LogCapture log;
    EXPECT_FALSE(pri->IUserData(std::vector<char>(5000, 1)));
    EXPECT_TRUE(log.has(":MCC: user data too long: 5000"));
  }

  // Destruction gives the controller channel back.
  made_.erase(made_.begin());
  bri->BeforeDestroy();
  delete bri;
  sim().pump();
  EXPECT_EQ(nullptr, sim().mcc().channel(80));
}

TEST_F(IsdnSlotTest, CreatesTheDeviceRefusesAreDeclined) {
  sim().setPresent("/dev/mcc/ctl", false);
  std::string log = Declined(Isdn(false, false));
  sim().setPresent("/dev/mcc/ctl", true);
  EXPECT_NE(std::string::npos, log.find("mcc/isdn: fail to open MCC device: ")) << log;

  sim().failNext("/dev/mcc/ctl", Board::Req::MccAllocate, EBUSY);
  log = Declined(Isdn(true, false));
  EXPECT_NE(std::string::npos, log.find("mcc/isdn: MCC_ALLOCATE fail: ")) << log;

  // Without a channel the slot could not be connected.
  sim().failNext("/dev/mcc/ctl", Board::Req::MccTimeslot, EIO);
  log = Declined(Isdn(false, true));
  EXPECT_NE(std::string::npos, log.find("mcc/isdn: MCC_TIMESLOT fail: ")) << log;

  EXPECT_NE(nullptr, Make(Isdn(false, false)));
}

TEST_F(IsdnSlotTest, AFullDeviceRefusesFramesUntilItIsWritableAgain) {
  Fd dev(::Board::open("/dev/mcc/ctl", O_RDWR | O_NONBLOCK | O_CLOEXEC));
  ::Board::WordRecord alloc{0, 512, 0, 1, 1};
  ASSERT_EQ(0, ::Board::ioctl(dev.lowlevel_fd(), Board::Req::MccAllocate, alloc.data()));
  auto* link = new CountingLink;
  IsdnSlot* slot = Keep(new IsdnSlot(dev, link));
  dev.close();
  auto run = [this] {
    for (int i = 0; i < 5; ++i) {
      sim().pump();
      linktest::advance();
    }
  };
  EXPECT_FALSE(slot->is_ready());
  run();
  EXPECT_TRUE(slot->is_ready());
  EXPECT_EQ(1, link->readies);

  sim().hold(*sim().mcc().channel(slot->channel()), true);
  Packet frame;
  frame.reserve_head(0);
  std::memset(frame.put(200), 0x55, 200);
  int accepted = 0;
  while (accepted < 1000 && slot->hdlc_transmit(frame)) ++accepted;
  ASSERT_LT(accepted, 1000);
  EXPECT_FALSE(slot->is_ready());
  EXPECT_EQ(POLLIN | POLLOUT, slot->events());
  Packet empty;
  EXPECT_TRUE(slot->hdlc_transmit(empty));
  run();
  EXPECT_EQ(1, link->readies);

  sim().hold(*sim().mcc().channel(slot->channel()), false);
  run();
  EXPECT_EQ(2, link->readies);
  EXPECT_EQ(POLLIN, slot->events());
  EXPECT_TRUE(slot->hdlc_transmit(frame));

  // A device that ends is no longer watched (it would stay readable).
  ::testing::internal::CaptureStderr();
  sim().endSession(*sim().mcc().channel(slot->channel()));
  run();
  std::string log = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, log.find("na:MCC: read error: ")) << log;
  EXPECT_FALSE(slot->is_open());
  EXPECT_FALSE(slot->hdlc_transmit(frame));
}

}  // namespace
