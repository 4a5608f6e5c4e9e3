// The radio RTP slot and its factory on the simulated drivers: the three
// creation forms, the state applied after the answer, codec changes around
// the extension session.
#include <arpa/inet.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "hardware/board/requests.h"
#include "hardware/descriptor_squeeze.h"
#include "hardware/sim/rtp.h"
#include "hardware/sim/rtp_ext.h"
#include "hardware/sim_env.h"
#include "radio_test_support.h"
#include "radio/rtp_vork_factory.h"
#include "radio/rtp_vork_slot.h"
#include "slots/rtp_factory.h"
#include "slots/slot_bench_fixture.h"
#include "support/e1board_harness.h"
#include "support/rtp_peer.h"

namespace {

using radiotest::LogCapture;
using radiotest::Packed;

using Payload = TERM::Payload;
using Ints = std::vector<int>;
namespace R = Board::Req;

constexpr int kOk = -1;
constexpr int kRefused = LGCP::ErrorCause::insufficientResources;
constexpr int kUnsupported = LGCP::ErrorCause::unsupported;

class RtpVorkTest : public slottest::SlotBenchTest {
 protected:
  void Prepare() override {
    RtpFactory::instance().IQuery();
    RtpVORKFactory::instance().IQuery();
  }
  // The rtpExt signals that arrive within the wait.
  std::vector<TERM::RtpRadioRequest> RadioSignals(std::size_t want) {
    std::vector<TERM::RtpRadioRequest> v;
    bench().loop.RunUntil([&] {
      for (auto& x : e1test::TakeAll(bench().ctl))
        if (x.get_pdu().signal_isSelected() && x.get_pdu().get_signal().rtpExt_isSelected())
          v.push_back(x.get_pdu().get_signal().get_rtpExt());
      return v.size() >= want;
    });
    return v;
  }
  // A radio create towards 127.0.0.1:dport.
  static Fill Create(unsigned dport, std::function<void(TERM::RtpParams&)> more = {}) {
    return radiotest::RadioCreate(dport, 0, more);
  }
  static RtpVORKSlot* At(unsigned n) { return dynamic_cast<RtpVORKSlot*>(Slots::instance().at(n)); }
  Sim::RtpExtDevice& ext() { return *static_cast<Sim::RtpExtDevice*>(sim().device("/dev/rtp_ext")); }
  std::vector<const Sim::RtpExtDevice::Ext*> Exts() {
    sim().pump();
    return ext().sessions();
  }
};

TEST_F(RtpVorkTest, BothFormAttachesTheExtensionAndAppliesTheStatusAfterCreation) {
  rtptest::UdpPort peer;
  for (bool e2mWithoutMode : {false, true}) {
    const unsigned local = rtptest::FreeRtpPort();
    ASSERT_EQ(Ask(6, radiotest::RadioCreate(peer.port - 1, local, [&](TERM::RtpParams& r) {
                if (e2mWithoutMode) r.set_rtp_e2m().set_slot(1), r.set_rtp_e2m().set_channel(2);
              })),
              kOk);
    std::string sdes;  // (after the BYE of the slot it replaced)
    do sdes = peer.Receive(0);
    while (sdes.size() > 1 && uint8_t(sdes[1]) != 202);
    EXPECT_GE(sdes.size(), 28u);
    RtpVORKSlot* slot = At(6);
    ASSERT_TRUE(slot && slot->radioControl());
    EXPECT_STREQ(slot->GetName(), "rtp ext VORK (GW)");
    const auto exts = Exts();
    ASSERT_EQ(exts.size(), 1u);
    EXPECT_TRUE(exts[0]->attached && exts[0]->fd_rtp >= 0 && exts[0]->written.empty());
    EXPECT_EQ(Ints({exts[0]->etype, int(exts[0]->pid_rtp)}), (Ints{0x1337, ::getpid()}));
    // The status of the create is the radio state now; nothing was sent.
    const VorkRadioState& st = slot->radioControl()->radioState();
    EXPECT_EQ(Ints({st.chan_id, st.priority, st.standby_state}), (Ints{3, 7, 1}));
    EXPECT_TRUE(slot->radioControl()->timerRunning());
  }
  // The destroy detaches and closes the session.
  ASSERT_EQ(Ask(6, [](LGCP::Command& c) { c.select_destroy(); }), kOk);
  EXPECT_TRUE(Exts().empty());
  EXPECT_EQ(requestCount(RtpExtReq::Detach), 2u);
}

TEST_F(RtpVorkTest, TheStatusWaitsForTheAfterCreateHook) {
  rtptest::UdpPort peer;
  const unsigned local = rtptest::FreeRtpPort();
  LGCP::Command c;
  radiotest::RadioCreate(peer.port - 1, local)(c);
  std::unique_ptr<Slot> made(RtpVORKFactory::instance().INewSlot(c.get_create()));
  auto* slot = dynamic_cast<RtpVORKSlot*>(made.get());
  ASSERT_NE(slot, nullptr);
  EXPECT_GE(peer.Receive(0).size(), 28u);  // the SDES went out already
  EXPECT_EQ(slot->radioControl()->radioState().chan_id, 0);
  slot->IAfterCreate();
  EXPECT_EQ(slot->radioControl()->radioState().chan_id, 3);
  EXPECT_TRUE(Exts().at(0)->written.empty());
  EXPECT_TRUE(slot->IBeforeDestroy());
}

TEST_F(RtpVorkTest, OnlyRtpAttachesTheDeviceWithoutExtensionSession) {
  LogCapture log;
  const unsigned dport = rtptest::FreeRtpPort();
  ASSERT_EQ(Ask(3, Create(dport, [](TERM::RtpParams& r) {
              auto& d = r.set_rtp_e2m().set_mode().select_only_rtp();
              d.set_fd(12);
              d.set_pid(3456);
            })),
            kOk);
  EXPECT_TRUE(Exts().empty());
  RtpVORKSlot* slot = At(3);
  ASSERT_NE(slot, nullptr);
  EXPECT_FALSE(slot->radioControl()->timerRunning());
  EXPECT_EQ(sim().firstWords("/dev/rtp", RtpExtReq::RtpAttachSession), std::vector<int32_t>{12});
  // The simulated RTP driver has no such session: logged, the slot stays.
  EXPECT_TRUE(log.has("attach rtp session fail !!!")) << log.text.str();
  // A command to the channel fails at the write, quietly.
  ASSERT_EQ(Ask(3, Ioctl([](LGCP::IoctlParams& p) {
              auto& m = p.select_rtpExt().select_vork();
              m.set_addr().set_session_addr("10.0.0.1");
              m.set_params().select_wm_flags();
            })),
            kOk);
}

TEST_F(RtpVorkTest, OnlyVorkStatusesAreTaken) {
  const unsigned dport = rtptest::FreeRtpPort();
  RtpFactory::instance();
  LogCapture log;
  // ed-137: neither factory makes a slot.
  EXPECT_EQ(Ask(2, Create(dport, [](TERM::RtpParams& r) { r.set_radio().set_status().select_ed_137(); })), kRefused);
  EXPECT_EQ(Ask(2, Create(dport, [](TERM::RtpParams& r) { r.set_payload(Payload::ptT38_UDP_TL); })), kRefused);
  EXPECT_TRUE(log.has("rtp ext VORK[8,16,32]: do create rtp ext VORK: ")) << log.text.str();
  EXPECT_TRUE(log.has("rtp do not created: payload ptT38-UDP-TL not found"));
  EXPECT_EQ(requestCount(R::RtpBeginSession), 0u);
  // Without radio the plain RTP factory makes it.
  LGCP::Command plain;
  Create(dport, [](TERM::RtpParams& r) { r.omit_radio(); })(plain);
  EXPECT_EQ(RtpVORKFactory::instance().INewSlot(plain.get_create()), nullptr);
}

TEST_F(RtpVorkTest, RadioTrafficBothWaysAndCodecChanges) {
  const unsigned dport = rtptest::FreeRtpPort();
  ASSERT_EQ(Ask(5, Create(dport)), kOk);
  ASSERT_EQ(Ask(5, Ioctl([](LGCP::IoctlParams& p) {
              auto& m = p.select_rtpExt().select_vork();
              m.set_addr().set_session_addr("10.0.0.1");
              auto& ch = m.set_params().select_wm_chan();
              ch.set_freq().set_channel(9);
              ch.set_freq().set_frequency("120.5");
            })),
            kOk);
  EXPECT_EQ(Ask(5, Ioctl([](LGCP::IoctlParams& p) { p.select_rtpExt().select_ed_137(); })), kUnsupported);

  // The signal carries the state set by the ioctl; an unset standby
  // state of the receiver is sent as active.
  ASSERT_TRUE(ext().inject(0, Packed(3, 2, 1), inet_addr("10.0.0.7"), 55));
  auto got = RadioSignals(1);
  ASSERT_EQ(got.size(), 1u);
  const TERM::VorkRadioStatus& st = got[0].get_status().get_vork();
  EXPECT_EQ(st.get_freq().get_channel().getValue(), 9);
  EXPECT_EQ(st.get_standby_state_receiver().asInt(), 0);
  EXPECT_TRUE(got[0].get_request().get_vork().get_params().gw_set_ptt_isSelected());

  // A codec change reattaches the extension session.
  const int32_t fd = Exts().at(0)->fd_rtp;
  ASSERT_EQ(Ask(5, Ioctl([](LGCP::IoctlParams& p) { p.select_encoder_mode(LGCP::CodecMode::ulaw); })), kOk);
  auto exts = Exts();
  ASSERT_EQ(exts.size(), 1u);
  EXPECT_TRUE(exts[0]->attached);
  EXPECT_EQ(exts[0]->fd_rtp, fd);  // the parameters of creation
  EXPECT_EQ(requestCount(RtpExtReq::Detach), 1u);
  EXPECT_TRUE(At(5)->radioControl()->reading());

  // A failed restart leaves the extension session detached.
  LogCapture log;
  sim().failNext("/dev/rtp", R::RtpBeginSession, EIO);
  EXPECT_EQ(Ask(5, Ioctl([](LGCP::IoctlParams& p) { p.select_decoder_mode(LGCP::CodecMode::ulaw); })),
            kUnsupported);
  EXPECT_TRUE(Exts().empty());
  EXPECT_FALSE(At(5)->radioControl()->reading());
  // Other ioctls are the RTP slot's.
  EXPECT_EQ(Ask(5, Ioctl([](LGCP::IoctlParams& p) { p.select_dtmf_disable(); })), kUnsupported);
}

// Creates on a process short of descriptors, per form and number of free
// descriptors: the slot always keeps its RTP device; the radio control that
// cannot get its extension session, the session's watch or its copy of the
// device names the failing call and holds nothing half-made.
TEST_F(RtpVorkTest, ShortOfDescriptorsTheSlotKeepsItsDeviceAndTheControlNothingHalfMade) {
  const unsigned dport = rtptest::FreeRtpPort();
  using Form = std::function<void(TERM::RtpParams&)>;
  const Form onlyRtp = [](TERM::RtpParams& r) { r.set_rtp_e2m().set_mode().select_only_rtp().set_fd(12); };
  const struct {
    bool onlyRtp;
    std::size_t free;
    const char* line;  // ":dup" is the control's ("rtp_ext[n] <time>:"), "]: dup" the slot's
    const char* outcome;
  } rows[] = {
      {false, 2, "]: device \"/dev/rtp\" open fail: Too many open files", "refused"},
      {false, 3, ":create rtp_ext session fail !!!", "ok rtp 1 ext 0 attach 0"},
      {false, 5, ":dup fail: Too many open files", "ok rtp 1 ext 0 attach 0"},
      {false, 6, "", "ok rtp 1 ext 1 reading attach 0"},
      {true, 3, "]: dup fail: Too many open files", "ok rtp 1 ext 0 attach 0"},
      {true, 4, ":attach rtp session fail !!!", "ok rtp 1 ext 0 attach 1"},
  };
  sim().pump();  // the board lets go of what the tests before closed
  for (const auto& r : rows) {
    SCOPED_TRACE(r.free);
    const std::size_t attaches = requestCount(RtpExtReq::RtpAttachSession);
    std::string outcome = "refused";
    LogCapture log;
    {
      SimTest::DescriptorSqueeze squeeze;
      squeeze.Free(r.free);
      const int a = Ask(1, Create(dport, r.onlyRtp ? onlyRtp : Form()));
      sim().pump();
      if (a == kOk)
        outcome = "ok rtp " + std::to_string(sim().sessions("/dev/rtp").size()) + " ext " +
                  std::to_string(Exts().size()) + (At(1)->radioControl()->reading() ? " reading" : "") +
                  " attach " + std::to_string(requestCount(RtpExtReq::RtpAttachSession) - attaches);
    }
    EXPECT_EQ(outcome, r.outcome);
    EXPECT_TRUE(log.has(r.line)) << log.text.str();
    if (At(1)) {
      EXPECT_EQ(Ask(1, slottest::fills::Destroy), kOk);
    }
  }
}

TEST(RtpVorkStandby, UnusedStandbyStatesBecomeEncodable) {
  VorkRadioState radio, received;
  received.command = 135;
  received.from_addr = inet_addr("10.0.0.1");
  TERM::RtpRadioRequest r;
  VorkRadioStateMaps::EncodeASN(radio, received, r);
  ClampRadioStandby(r);
  const auto& w = r.get_request().get_vork().get_params().get_wm_standby();
  EXPECT_EQ(Ints({r.get_status().get_vork().get_standby_state_channel().asInt(),
                  r.get_status().get_vork().get_standby_state_receiver().asInt(), w.get_state_channel().asInt(),
                  w.get_state_receiver().asInt()}),
            (Ints{0, 0, 0, 0}));
  // The set values are kept.
  radio.standby_state = 1;
  received.command = 13;
  received.standby_state = -1;
  VorkRadioStateMaps::EncodeASN(radio, received, r);
  ClampRadioStandby(r);
  EXPECT_EQ(r.get_status().get_vork().get_standby_state_channel().asInt(), 1);
  EXPECT_EQ(r.get_request().get_vork().get_params().get_gw_set_standby().get_state().asInt(), 0);
}

}  // namespace
