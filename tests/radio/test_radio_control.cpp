// The radio control on the simulated RTP-extension driver: the session's
// life, statuses and modifiers from the controller, the periodic reports
// and their timing, the push-to-talk ownership rule and the driver's
// sender filter, and the receive pass.
#include <arpa/inet.h>
#include <poll.h>

#include <gtest/gtest.h>

#include "hardware/sim/rtp_ext.h"
#include "hardware/sim_env.h"
#include "radio_test_support.h"
#include "radio/vork_radio_control.h"
#include "runtime/os/clock.h"

namespace {

using radiotest::LogCapture;
using radiotest::Packed;
using Ints = std::vector<int>;

uint32_t ip(const char* dotted) { return inet_addr(dotted); }

// Records what the control hands to its listener.
struct Listener : IVorkRadioControlNotify {
  void VorkRadioControlNotify(TERM::RtpRadioRequest const& r) override { got.push_back(r); }
  std::vector<TERM::RtpRadioRequest> got;
};

// A modifier from the controller, session 192.168.0.1/1.
TERM::VorkRadioModifier Modifier(const std::function<void(TERM::RadioModifierParams&)>& fill) {
  TERM::VorkRadioModifier m;
  m.set_addr().set_session_addr("192.168.0.1");
  m.set_addr().set_session_ssrc(1);
  fill(m.set_params());
  return m;
}

// wm-trans: push-to-talk held by `holder`.
TERM::VorkRadioModifier Trans(const char* holder, bool ptt, int prio) {
  return Modifier([&](TERM::RadioModifierParams& p) {
    auto& t = p.select_wm_trans();
    t.set_flags().set_prio(prio);
    t.set_flags().set_ptt(ptt);
    t.set_ip(holder);
    t.set_ssrc(42);
  });
}

TERM::VorkRadioStatus Status(bool ptt, int channel, const char* freq) {
  TERM::VorkRadioStatus s;
  s.set_flags().set_prio(6);
  s.set_flags().set_ptt(ptt);
  s.set_freq().set_channel(channel);
  s.set_freq().set_frequency(freq);
  s.set_remote().set_no(2);
  s.set_remote().set_ch(3);
  return s;
}

class RadioControl : public SimTest::Fixture {
 protected:
  // The loop's clock stands still but for what a test moves it by, so that
  // timer values are exact.
  void SetUp() override {
    SimTest::Fixture::SetUp();
    Mux::mux_settimeofday();
  }
  void TearDown() override {
    Mux::mux_cleartimeofday();
    SimTest::Fixture::TearDown();
  }
  Sim::RtpExtDevice& ext() { return *static_cast<Sim::RtpExtDevice*>(sim().device("/dev/rtp_ext")); }
  const Sim::RtpExtDevice::Ext* session() {
    sim().pump();
    auto v = ext().sessions();
    return v.empty() ? nullptr : v.back();
  }
  std::unique_ptr<VorkRadioGWControl> Gateway() {
    rtp_ext_attach_session_params attach;
    attach.fd_rtp = 7;
    attach.pid_rtp = 4242;
    rtp_ext_init_params init;
    init.etype = 0x1337;
    auto c = std::make_unique<VorkRadioGWControl>(300, attach, init);
    c->Bind(&listener);
    return c;
  }
  // Types of the packets written since the last call.
  Ints Written() {
    Ints types;
    const auto* s = session();
    for (std::size_t i = taken; s && i < s->written.size(); ++i) {
      sig_proto_init(&last);
      EXPECT_EQ(sig_proto_unpack(&last, s->written[i].data(), int(s->written[i].size())), 0);
      types.push_back(last.type);
    }
    taken = s ? s->written.size() : 0;
    return types;
  }
  // A packet from `from` is read by the control's receive pass.
  void Receive(VorkRadioControl& c, const Sim::Bytes& packet, const char* from, uint32_t ssrc = 9) {
    ASSERT_TRUE(ext().inject(0, packet, ip(from), ssrc));
    c.OnRtpExtEvent(c.extDevice(), POLLIN);
  }
  // The loop clock moves on and the report tick runs: what it wrote.
  Ints Tick(unsigned ms, VorkRadioControl& c) {
    Mux::advanceClock(ms);
    c.OnSendStatus(nullptr);
    return Written();
  }

  Listener listener;
  std::size_t taken = 0;
  sig_proto last{};
};

TEST_F(RadioControl, SessionIsOpenedAttachedStoppedAndLost) {
  auto c = Gateway();
  const auto* s = session();
  ASSERT_NE(s, nullptr);
  EXPECT_TRUE(s->inited && s->attached && c->reading());
  EXPECT_EQ(Ints({s->etype, int(s->fd_rtp), int(s->pid_rtp)}), (Ints{0x1337, 7, 4242}));
  // Stopped: detached and closed; started again: a new attached session.
  c->RtpExtStop();
  EXPECT_FALSE(c->reading());
  EXPECT_EQ(session(), nullptr);
  EXPECT_TRUE(c->RtpExtStart(false));
  ASSERT_NE(session(), nullptr);
  EXPECT_TRUE(session()->attached);
  // A session the driver ends is no longer watched.
  LogCapture log;
  for (Sim::Session* x : sim().sessions("/dev/rtp_ext")) sim().endSession(*x);
  c->OnRtpExtEvent(c->extDevice(), POLLIN | POLLHUP);
  EXPECT_FALSE(c->reading());
  EXPECT_TRUE(log.has("rtp_ext session lost"));
  c.reset();
  EXPECT_EQ(session(), nullptr);
}

TEST_F(RadioControl, SessionFailuresAreLoggedAndLeaveNothingOpen) {
  LogCapture log;
  sim().failNext("/dev/rtp_ext", RtpExtReq::Attach, EINVAL);
  auto c = Gateway();
  EXPECT_TRUE(log.has("attach rtp_ext session fail !!!"));
  EXPECT_FALSE(c->reading());
  EXPECT_EQ(session(), nullptr);
  // Its sends fail at the write and nothing breaks.
  EXPECT_TRUE(c->SendASNToChan(Trans("10.0.0.1", true, 5)));
  c->OnSendStatus(nullptr);
  // Stopping it is a failed detach that reaches no descriptor.
  EXPECT_TRUE(c->RtpExtStop());
  EXPECT_TRUE(log.has("detach rtp_ext session fail !!!"));
  EXPECT_EQ(requestCount(RtpExtReq::Detach), 0u);

  sim().setPresent("/dev/rtp_ext", false);
  auto d = Gateway();
  EXPECT_TRUE(log.has("create rtp_ext session fail !!!"));
  EXPECT_FALSE(d->reading());

  // A failed init closes the new descriptor too.
  sim().setPresent("/dev/rtp_ext", true);
  sim().failNext("/dev/rtp_ext", RtpExtReq::Init, EIO);
  auto e = Gateway();
  EXPECT_TRUE(log.has("init rtp_ext session fail !!!"));
  EXPECT_EQ(session(), nullptr);
}

TEST_F(RadioControl, StatusIsTakenSilentlyAndReportedByTheTick) {
  auto c = Gateway();
  c->SendASNToChan(Status(true, 3, "145.5"));
  EXPECT_TRUE(Written().empty());
  EXPECT_EQ(c->radioState().ptt * 10 + c->radioState().chan_id, 13);
  EXPECT_TRUE(listener.got.empty());

  c->SetTimerEnable(true);
  EXPECT_EQ(c->timerRemaining(), 1000u);
  // Push-to-talk on: the transmission report, then channel and remote.
  EXPECT_EQ(Tick(1000, *c), (Ints{130, 132, 134}));
  EXPECT_EQ(last.payload.wm_select_rc_chan.interface, 2u);
  EXPECT_EQ(c->timerRemaining(), 1000u);  // all three just sent
  c->SetTimerEnable(false);
  EXPECT_FALSE(c->timerRunning());
}

TEST_F(RadioControl, TickTimingFollowsTheOldestReport) {
  auto c = Gateway();
  Mux::advanceClock(700);
  // A channel report from the controller at 700 ms.
  c->SendASNToChan(Modifier([](TERM::RadioModifierParams& p) {
    auto& ch = p.select_wm_chan();
    ch.set_freq().set_channel(4);
    ch.set_freq().set_frequency("100.25");
  }));
  EXPECT_EQ(Written(), (Ints{132}));
  EXPECT_FLOAT_EQ(last.payload.wm_chan.freq, 100.25f);
  // The channel report is 300 ms old: not repeated, next tick in 710 ms.
  EXPECT_EQ(Tick(300, *c), (Ints{129, 134}));
  EXPECT_EQ(c->timerRemaining(), 710u);
  // A negative frequency stops the channel report.
  c->SendASNToChan(Status(false, 4, "-2"));
  EXPECT_EQ(Tick(1000, *c), (Ints{129, 134}));
  EXPECT_EQ(c->timerRemaining(), 1000u);  // its time stays oldest
}

TEST_F(RadioControl, PushToTalkOwnershipAndFilter) {
  auto c = Gateway();
  // Workstation A holds push-to-talk at priority 5.
  c->SendASNToChan(Trans("10.0.0.1", true, 5));
  EXPECT_EQ(Written(), (Ints{130}));
  EXPECT_EQ(session()->filterSets, 0u);  // the filter waits for a packet

  // B with the same priority number: dropped, yet the filter is set.
  Receive(*c, Packed(3, 5, 1), "10.0.0.2");
  EXPECT_TRUE(listener.got.empty());
  EXPECT_EQ(session()->filterSets, 1u);
  EXPECT_EQ(session()->filter_addr, ip("10.0.0.1"));
  EXPECT_EQ(c->chanState().ptt, 0);

  // B, higher priority (lower number): admitted.
  Receive(*c, Packed(3, 4, 1), "10.0.0.2", 77);
  ASSERT_EQ(listener.got.size(), 1u);
  const TERM::VorkRadioModifier& r = listener.got[0].get_request().get_vork();
  EXPECT_TRUE(r.get_params().gw_set_ptt_isSelected());
  EXPECT_EQ(r.get_addr().get_session_addr(), "10.0.0.2");
  EXPECT_EQ(r.get_addr().get_session_ssrc().getValue(), 77u);
  EXPECT_EQ(c->chanState().ptt, 1);
  EXPECT_EQ(c->chanState().session_addr, ip("10.0.0.2"));

  // A non-push-to-talk command from B even at top priority: dropped; the
  // same from the holder A: admitted. The filter is not set again.
  Receive(*c, Packed(2, 0), "10.0.0.2");
  EXPECT_EQ(listener.got.size(), 1u);
  Receive(*c, Packed(2, 9), "10.0.0.1");
  EXPECT_EQ(listener.got.size(), 2u);
  EXPECT_EQ(session()->filterSets, 1u);

  // Push-to-talk off: the filter is reset at the next packet, once.
  c->SendASNToChan(Trans("10.0.0.1", false, 5));
  EXPECT_TRUE(session()->filtered);
  Receive(*c, Packed(2, 9), "10.0.0.4");
  Receive(*c, Packed(2, 9), "10.0.0.4");
  EXPECT_EQ(listener.got.size(), 4u);  // nobody holds it: all admitted
  EXPECT_FALSE(session()->filtered);
  EXPECT_EQ(session()->filterResets, 1u);
}

TEST_F(RadioControl, ReceivePassDropsBadPacketsOnly) {
  auto c = Gateway();
  for (const Sim::Bytes& p : {radiotest::H("0102"), radiotest::H("00000000"), Packed(1, 3, 1)})
    ASSERT_TRUE(ext().inject(0, p, ip("10.0.0.5"), 1));  // too short, no such type, good
  c->OnRtpExtEvent(c->extDevice(), POLLIN);
  ASSERT_EQ(listener.got.size(), 1u);
  EXPECT_TRUE(listener.got[0].get_request().get_vork().get_params().gw_set_flags_isSelected());
  // A pass without the input bit reads nothing.
  ASSERT_TRUE(ext().inject(0, Packed(1, 3, 1), ip("10.0.0.5"), 1));
  c->OnRtpExtEvent(c->extDevice(), POLLOUT);
  EXPECT_EQ(listener.got.size(), 1u);
  // A destroyed control is never heard from again.
  c.reset();
  EXPECT_EQ(listener.got.size(), 1u);
}

TEST_F(RadioControl, EachRoleSendsOnlyItsOwnPackets) {
  const auto freq = Modifier([](TERM::RadioModifierParams& p) {
    auto& f = p.select_gw_set_freq().set_freq();
    f.set_channel(8);
    f.set_frequency("145.5");
  });
  auto gw = Gateway();
  gw->SendASNToChan(freq);
  EXPECT_TRUE(Written().empty());  // a gateway sends no commands
  gw.reset();
  taken = 0;

  rtp_ext_attach_session_params attach;
  rtp_ext_init_params init;
  VorkRadioWSControl ws(5, attach, init);
  ws.SetRadioControlMode(VorkRadioControl::WorkstationMode);
  ws.SendASNToChan(freq);
  EXPECT_EQ(Written(), (Ints{2}));
  EXPECT_EQ(last.payload.gw_adjust_chan.id, 8u);
  EXPECT_EQ(ws.SendRadioStatus(Mux::milliseconds() + 5000), 0);
  EXPECT_TRUE(Written().empty());  // nothing periodic
  // Every report is admitted and taken into the channel state.
  ws.SendASNToChan(Trans("10.0.0.1", true, 1));
  Receive(ws, Packed(129, 9, 1), "10.0.0.6", 3);
  EXPECT_EQ(ws.chanState().ptt, 1);
  EXPECT_EQ(ws.chanState().session_addr, ip("10.0.0.6"));
}

}  // namespace
