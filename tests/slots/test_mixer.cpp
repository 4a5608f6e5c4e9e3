// Mixer slots on the simulated "/dev/mixer": unit discovery and the
// resource report, refused creates, the sums of outputs and summators,
// vanished units, release of an output sending digits, control requests.
#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>

#include "control/control_test_support.h"
#include "hardware/board/requests.h"
#include "hardware/sim/dsp.h"
#include "hardware/sim/dtmf.h"
#include "hardware/sim/mixer.h"
#include "hardware/sim_env.h"
#include "slots/mixer_slot.h"
#include "slots_test_support.h"

namespace {

using Mixer::MixerFactory;
using Sim::MixerDevice;
using Strings = std::vector<std::string>;
using Sum = std::vector<std::pair<int32_t, int32_t>>;

using slottest::fills::Ch;
using slottest::fills::In;
using slottest::fills::Out;

class MixerTest : public SimTest::Fixture {
 protected:
  void SetUp() override {
    SimTest::Fixture::SetUp();
    Signals();
  }
  void TearDown() override {
    for (Slot* s : made_) Slots::instance().Destroy(s);
  }
  MixerDevice& dev() { return static_cast<MixerDevice&>(*sim().device("/dev/mixer")); }
  Sim::DtmfDevice& dtmf() { return static_cast<Sim::DtmfDevice&>(*sim().device("/dev/dtmf")); }
  Sim::DspDevice& dsp() { return static_cast<Sim::DspDevice&>(*sim().device("/dev/dsp")); }
  LGCP::Resources Query() {
    LGCP::Resources r;
    MixerFactory::instance().Query(r);
    return r;
  }
  // A slot of the mixer factory; destroyed at the end of the test.
  Slot* Make(const LGCP::CreateParams& p) {
    Slot* s = MixerFactory::instance().NewSlot(p);
    if (s) made_.push_back(s);
    return s;
  }
  void Destroy(Slot* s) {
    made_.erase(std::remove(made_.begin(), made_.end(), s), made_.end());
    Slots::instance().Destroy(s);
  }
  static Strings Signals() { return slottest::TakeSignals(); }
  std::size_t RoutingRequests() {
    return requestCount(MixerDevice::kRxClear) + requestCount(MixerDevice::kRxAdd) +
           requestCount(MixerDevice::kRxRemove);
  }

  std::vector<Slot*> made_;
};

TEST_F(MixerTest, UnitsReportTheSmallestCountsAndRefuseChannelsBeyondThem) {
  dev().setUnit(1, 16, 40, 576);
  LGCP::Resources r = Query();
  ASSERT_EQ(r.get_mixer().size(), 2u);
  for (unsigned i = 0; i < 2; ++i) {
    const LGCP::MixerResources_subtype& u = r.get_mixer()[i];
    EXPECT_EQ(std::vector<int>({u.get_unit().getValue(), u.get_tdm_inputs().getValue() + u.get_tdm_outputs().getValue(),
                                u.get_mixer_inputs().getValue(),
                                u.get_dpu_per_mixer().getValue() + u.get_dpu_per_ec().getValue() + u.get_dpu_per_lms().getValue()}),
              std::vector<int>({int(i), 32, 40, 811}));
  }
  sim().clearLog();
  for (int unit : {0, 1}) {
    EXPECT_EQ(Make(In(unit, 20)), nullptr);
    EXPECT_EQ(Make(Out(unit, Ch(20), {{Ch(1), 5}})), nullptr);
  }
  EXPECT_EQ(RoutingRequests(), 0u) << requestLog();  // a refused output was never programmed
  EXPECT_NE(Make(In(1, 15)), nullptr);
  EXPECT_EQ(Make(In(2, 1)), nullptr);  // no such unit

  // A new unit is cleared once, over all its own channels.
  dev().setUnit(7, 24, 40, 700);
  sim().clearLog();
  ctltest::Capture log(std::clog);
  Query();
  EXPECT_EQ(requestCount(MixerDevice::kRxClear), 24u) << requestLog();
  EXPECT_EQ(log.count("mixer [7]: clear all inputs\n"), 1u);

  // Without the device no unit is known.
  sim().setPresent("/dev/mixer", false);
  EXPECT_TRUE(Query().get_mixer().empty() && !Make(In(0, 1)));
  sim().pump();
  EXPECT_TRUE(sim().sessions("/dev/mixer").empty());  // no descriptor is held
}

TEST_F(MixerTest, AtMostAHundredUnitsAreTakenAndKeptAcrossRefreshes) {
  for (int u = 2; u < 105; ++u) dev().setUnit(u, 4, 8, 600 + 4 * u);
  LGCP::Resources r = Query();
  ASSERT_EQ(r.get_mixer().size(), 100u);
  EXPECT_EQ(r.get_mixer()[99].get_unit().getValue(), 99);
  EXPECT_EQ(MixerFactory::instance().findMixer(100), nullptr);

  ASSERT_NE(Make(In(99, 2)), nullptr);
  // A full house stays known: no unit is lost and no slot aborted.
  EXPECT_EQ(Query().get_mixer().size(), 100u);
  EXPECT_NE(MixerFactory::instance().findMixer(99), nullptr);
  EXPECT_EQ(Signals(), Strings{});
}

TEST_F(MixerTest, AnOutputsSumFollowsItsInputList) {
  Query();
  Slot* out = Make(Out(0, Ch(7), {{Ch(1), 1000}, {Ch(2), -5}}));
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out->GetTransmitChannel(), 512 + 7);
  EXPECT_EQ(dev().sum(0, 7), (Sum{{1, 1000}, {2, -5}}));
  // An empty list clears the channel and makes the slot.
  ASSERT_NE(Make(Out(0, Ch(7), {})), nullptr);
  EXPECT_TRUE(dev().sum(0, 7).empty());
  ASSERT_NE(Make(Out(0, Ch(8), {{Ch(1), 3}})), nullptr);
  ctltest::Capture log(std::clog);
  Destroy(out);
  EXPECT_EQ(log.count("mixer [0]: clear tdm output 7\n"), 1u);

  {
    ctltest::Capture err(std::cerr);
    EXPECT_EQ(Make(Out(0, Ch(4), {{Ch(1), 100}, {Ch(5, true), 200}})), nullptr);
    EXPECT_EQ(err.count("mixer [0]: SetTX error: translation fail [2]\n"), 1u);
    EXPECT_EQ(dev().sum(0, 4), (Sum{{1, 100}}));  // the route before the failure stays
    EXPECT_EQ(Make(Out(0, Ch(4, true), {})), nullptr);
    EXPECT_EQ(log.count("mixer [0]: ClearTX error: translation fail\n"), 1u);
    sim().failNext("/dev/mixer", MixerDevice::kTdm, EINVAL);
    EXPECT_EQ(Make(In(0, 6)), nullptr);
    EXPECT_EQ(err.count("mixer [0]: MIX_TDM dev_no=0 type=0 number=6 fail : Invalid argument\n"), 1u);
  }
}

TEST_F(MixerTest, ASummatorRouteLivesAsLongAsItsInput) {
  Query();
  sim().clearLog();
  Slot* in = Make(In(0, 3, [](auto& in) { in.set_summator(Ch(30)); }));
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(in->GetReceiveChannel(), 515);
  EXPECT_EQ(dev().sum(0, 30), (Sum{{3, 32767}}));
  // rx {0, 0, 30}, tx {0, 0, 3}, gain, big-endian.
  EXPECT_EQ(Sim::hex(sim().log().back().in), "00000000000000000000001e00000000000000000000000300007fff");
  Destroy(in);
  EXPECT_TRUE(dev().sum(0, 30).empty());

  // An rtp summator makes no route and leaves nothing to take out.
  sim().clearLog();
  ctltest::Capture err(std::cerr);
  Destroy(Make(In(0, 3, [](auto& in) { in.set_summator(Ch(30, true)); })));
  EXPECT_EQ(err.count("mixer [0]: wrong summator coding !\n"), 1u);
  EXPECT_EQ(RoutingRequests(), 0u) << requestLog();
}

TEST_F(MixerTest, EchoCancellationFollowsEitherFlag) {
  Query();
  for (auto [ec, es, on] : {std::tuple{false, true, true}, {true, false, true}, {false, false, false}}) {
    Slot* in = Make(In(1, 9, [&](auto& in) {
      in.set_ecm().set_ec(ec);
      in.set_ecm().set_es(es);
    }));
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(dtmf().timeslot(576 + 9)->lms, on) << ec << es;
    Destroy(in);
  }
}

TEST_F(MixerTest, InputsDetectAndOutputsOnlyGenerate) {
  Query();
  Slot* in = Make(In(0, 1));
  Slot* out = Make(Out(0, Ch(2), {{Ch(1), 10}}));
  ASSERT_TRUE(in && out);
  LGCP::IoctlParams p;
  EXPECT_TRUE(in->Ioctl((p.select_dtmf_enable(true), p)));
  EXPECT_TRUE(in->Ioctl((p.select_vad_enable(true), p)));
  EXPECT_FALSE(out->Ioctl((p.select_dtmf_enable(true), p)));
  EXPECT_TRUE(out->Ioctl((p.select_vad_enable(true), p)));
  EXPECT_TRUE(out->Ioctl((p.select_dtmf_reject_disable(), p)));
  EXPECT_FALSE(in->Ioctl((p.select_dtmf_reject_disable(), p)));

  // Detector events reach the input's controller, never the output's.
  auto& tonec = Hardware::TonecReceiverService::instance();
  auto& dspsrv = Hardware::DSProcReceiverService::instance();
  dtmf().inject(513, 5, dtmf().timeslot(513)->id, 0);
  dtmf().inject(514, 6, 0, 0);
  dsp().injectVAD(513, 1, 1, 0);
  dsp().injectVAD(514, 1, 1, 0);
  for (int i = 0; i < 2; ++i) {
    tonec.OnEvent(tonec.lowlevel_fd(), POLLIN);
    dspsrv.OnEvent(dspsrv.lowlevel_fd(), POLLIN);
  }
  EXPECT_EQ(Signals(), Strings({"tonec 0 dtmf 5", "vad rx=1"}));

  // Destroying the input switches its detectors off; the output's stay.
  Destroy(in);
  EXPECT_FALSE(dtmf().timeslot(513)->detecting);
  EXPECT_EQ(dsp().timeslot(513)->functions * 10 + dsp().timeslot(514)->functions, 1u);
}

TEST_F(MixerTest, DestroyingAnOutputSendingDigitsSilencesItBeforeTheChannelIsCleared) {
  Query();
  Slot* out = Make(Out(1, Ch(4), {{Ch(0), 1}}));
  ASSERT_NE(out, nullptr);
  LGCP::IoctlParams p;
  LGCP::DualTone tone;
  tone.set_freq1(697);
  tone.set_freq2(1209);
  auto& digits = p.select_translateDTMF().set_digits();
  digits.push_back(tone);
  digits.push_back(tone);
  ASSERT_TRUE(out->Ioctl(p));
  sim().clearLog();
  dtmf().clearSettings();
  Destroy(out);

  auto settings = dtmf().settings(580);
  ASSERT_EQ(settings.size(), 2u);
  EXPECT_TRUE(settings[0].isSilence() && !settings[0].isOff() && settings[1].isOff());
  std::vector<uint32_t> order;
  for (const auto& e : sim().log())
    if (e.request == ::Board::Req::DtmfDial || e.request == MixerDevice::kRxClear) order.push_back(e.request);
  EXPECT_EQ(order, (std::vector<uint32_t>{::Board::Req::DtmfDial, ::Board::Req::DtmfDial, MixerDevice::kRxClear}));
}

TEST_F(MixerTest, AVanishedUnitAbortsItsSlotsOnceAndGoesWithTheLastOfThem) {
  Query();
  Slot* in = Make(In(1, 1));
  Slot* summed = Make(In(1, 2, [](auto& in) { in.set_summator(Ch(31)); }));
  Slot* out = Make(Out(1, Ch(3), {{Ch(1), 7}}));
  ASSERT_TRUE(in && summed && out);
  dev().removeUnit(1);
  EXPECT_EQ(Query().get_mixer().size(), 1u);
  auto& aborts = slottest::BoundSpy().signals;
  ASSERT_EQ(aborts.size(), 3u);
  for (const LGCP::Signal& a : aborts) EXPECT_TRUE(a.abort_isSelected() && a.get_abort().getValue() == 0);
  aborts.clear();
  EXPECT_EQ(Make(In(1, 5)), nullptr);
  Query();
  EXPECT_EQ(Signals(), Strings{});  // aborted once only

  // The unit comes back with a new life; a new output takes channel 3.
  dev().setUnit(1, 32, 64, 576);
  Query();
  ASSERT_NE(Make(Out(1, Ch(3), {{Ch(8), 9}})), nullptr);
  sim().clearLog();
  Destroy(out);
  Destroy(summed);
  Destroy(in);  // the old unit object goes here (ASan watches)
  // The old slots left the new life's channels alone.
  EXPECT_EQ(RoutingRequests(), 0u) << requestLog();
  EXPECT_EQ(dev().sum(1, 3), (Sum{{8, 9}}));
}

// While the unit stays away, its slots take their route out and clear their channel as they go.
TEST_F(MixerTest, AVanishedUnitsSlotsStillReleaseTheirChannels) {
  Query();
  Slot* summed = Make(In(1, 2, [](auto& in) { in.set_summator(Ch(31)); }));
  Slot* out = Make(Out(1, Ch(3), {{Ch(1), 7}}));
  ASSERT_TRUE(summed && out);
  dev().removeUnit(1);
  Query();
  sim().clearLog();
  Destroy(out);
  Destroy(summed);
  EXPECT_EQ(requestCount(MixerDevice::kRxClear), 1u) << requestLog();
  EXPECT_EQ(requestCount(MixerDevice::kRxRemove), 1u) << requestLog();
}

}  // namespace
