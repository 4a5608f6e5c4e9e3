// PSTN signalling slots on the simulated board: trunk states, the SS7
// ioctls, refused sources, basic-rate channels that need both directions,
// the network side's frames, and the reports around a link's release.
#include <gtest/gtest.h>

#include <algorithm>

#include "hardware/board/requests.h"
#include "slots/pstn_slot.h"
#include "slots/trunk_slot.h"
#include "test_pstn_support.h"

namespace {

using Strings = std::vector<std::string>;
using linktest::Signals;
typedef std::vector<std::uint8_t> Bytes;
using slottest::fills::Ss7;

LGCP::CreateParams Isdn(bool bri, bool network) { return slottest::fills::Isdn(bri, network, true); }

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

  PstnSlot* isdn = Make(Isdn(false, false));
  f.SelfSignal(TrunkState(0, ACP::TrunkState::lossBF));
  EXPECT_EQ(5, isdn->lastTrunkState());
}

TEST_F(PstnSlotTest, Ss7IoctlsNeedAnSs7Link) {
  PstnSlot* ss7 = Make(Ss7(1));
  PstnSlot* isdn = Make(Isdn(false, false));
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
  PstnSlot* pri = Make(Isdn(false, true));
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(Connect(*Keep(new slottest::FakeSlot("rtp", 9)), *ss7));  // no trunk: -1
  EXPECT_FALSE(Connect(*Keep(new OddSlot(4, 1)), *pri));
  EXPECT_FALSE(Connect(*Keep(new OddSlot(3, 32)), *ss7));
  std::string log = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, log.find("pstn-slot: invalid trunk number: -1\n")) << log;
  EXPECT_NE(std::string::npos, log.find("pstn-slot: invalid trunk number: 4\n")) << log;
  EXPECT_NE(std::string::npos, log.find("pstn-slot: invalid timeslot: 32\n")) << log;
  EXPECT_FALSE(ss7->channel().is_open() || pri->channel().is_open());
  EXPECT_EQ(nullptr, ss7->GetSource());
}

TEST_F(PstnSlotTest, BasicRateChannelOpensWithBothDirectionsAndCarriesTheNetworkSide) {
  sim().mcc().setNextChannel(70);
  PstnSlot* user = Make(Isdn(true, false));
  TrunkBRISlot* line5 = Keep(new TrunkBRISlot(5));
  ASSERT_TRUE(Connect(*line5, *user));
  EXPECT_FALSE(user->channel().is_open());
  ASSERT_TRUE(Connect(*user, *line5));
  EXPECT_TRUE(user->channel().is_open());
  EXPECT_EQ(2, user->channel().params().type);

  PstnSlot* net = Make(Isdn(true, true));
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
  PstnSlot* pri = Make(Isdn(false, false));
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
  PstnSlot* ss7 = Make(Ss7(1));
  EXPECT_TRUE(ss7->IActivate(TERM::TermActivateParams()));  // not connected yet
  EXPECT_FALSE(ss7->channel().is_open());
  EXPECT_EQ(0u, requestCount(Board::Req::MccAllocate));
  EXPECT_EQ((Strings{"deactivated"}), Signals());

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
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(ss7->IUserData(std::vector<char>(5000, 1)));
  EXPECT_NE(std::string::npos, ::testing::internal::GetCapturedStderr().find(":pstn: user data too long: 5000"));
  EXPECT_TRUE(ss7->IUserData(std::vector<char>(300, 1)));
}

}  // namespace
