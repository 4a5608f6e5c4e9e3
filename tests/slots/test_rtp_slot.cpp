// The RTP slot on the simulated RTP and voice drivers, driven by a
// controller over loopback TCP: the session block as the create parameters
// give it, the RTCP on the wire, refused creates that leave nothing open,
// codec changes that restart the session, the wait tone, the detector
// switches, the teardown order and the capacity report.
#include <gtest/gtest.h>

#include "hardware/board/requests.h"
#include "hardware/descriptor_squeeze.h"
#include "hardware/sim/dsp.h"
#include "hardware/sim/dtmf.h"
#include "hardware/sim/rtp.h"
#include "hardware/sim_env.h"
#include "slots/rtp_factory.h"
#include "slots/rtp_slot.h"
#include "slot_bench_fixture.h"
#include "support/e1board_harness.h"
#include "support/rtp_peer.h"

namespace {

using e1test::Answer;
using rtptest::FreeRtpPort;
using Payload = TERM::Payload;
using Mode = LGCP::CodecMode;
using Ints = std::vector<long>;
namespace R = Board::Req;

constexpr int kOk = -1;
constexpr int kRefused = LGCP::ErrorCause::insufficientResources;
constexpr int kUnsupported = LGCP::ErrorCause::unsupported;

using slottest::LogCapture;

uint32_t Word(const std::string& b, size_t at) {
  return uint32_t(uint8_t(b[at])) << 24 | uint32_t(uint8_t(b[at + 1])) << 16 | uint32_t(uint8_t(b[at + 2])) << 8 |
         uint8_t(b[at + 3]);
}

class RtpSlotTest : public slottest::SlotBenchTest {
 protected:
  void Prepare() override { RtpFactory::instance().IQuery(); }  // the simulated driver's default counts
  // A create towards 127.0.0.1:dport, from 10.1.2.3:sport when sport >= 0.
  static Fill Create(unsigned dport, int sport = -1, std::function<void(LGCP::CreateRtpParams&)> more = {}) {
    return slottest::fills::Rtp(dport, sport, more);
  }
  static Fill Codec(bool encoder, Mode::NamedNumber m) {
    return Ioctl([=](LGCP::IoctlParams& p) { encoder ? p.select_encoder_mode(m) : p.select_decoder_mode(m); });
  }
  static Fill Destroy() {
    return [](LGCP::Command& c) { c.select_destroy(); };
  }
  static RtpSlot* At(unsigned n) { return dynamic_cast<RtpSlot*>(Slots::instance().at(n)); }
  Sim::RtpDevice& rtp() { return *static_cast<Sim::RtpDevice*>(sim().device("/dev/rtp")); }
  Sim::DtmfDevice& dtmf() { return *static_cast<Sim::DtmfDevice*>(sim().device("/dev/dtmf")); }
  std::size_t OpenSessions() {
    sim().pump();
    return rtp().streams().size();
  }
};

TEST_F(RtpSlotTest, TheBlockFollowsTheCreateAndRtcpGoesToTheRemoteHost) {
  rtptest::UdpPort peer;
  const unsigned sport = FreeRtpPort();
  ASSERT_EQ(Ask(4, Create(peer.port - 1, int(sport), [](LGCP::CreateRtpParams& p) {
              TERM::RtpParams& r = p.set_codecRTP();
              r.set_payload(Payload::ptG729);
              r.set_pfactor(3);
              r.set_vad(true);
              r.set_crate(7);
              p.set_rxPayload(Payload::ptG711_Ulaw);  // a G.711 direction overrides the payload
              p.set_txPayload(Payload::ptG723);       // any other does not
            })),
            kOk);
  // The SDES left while the slot was made, before the answer.
  const std::string sdes = peer.Receive(0);
  RtpSlot* slot = At(4);
  ASSERT_NE(slot, nullptr);
  const std::string ch = std::to_string(slot->channel());
  EXPECT_EQ(signals, std::vector<std::string>({"transmitter active " + ch, "receiver active " + ch}));
  const rtp_connection_params b = rtp().byChannel(slot->channel())->params;
  EXPECT_EQ(Ints({b.dhost_addr, b.dhost_port, b.shost_addr, b.shost_port, b.rx_pt, b.tx_pt, b.packet_factor, b.vad,
                  b.crate, b.ssrc, rtptest::BoundPort(slot->rtcpSocket())}),
            (Ints{0x7f000001, peer.port - 1, 0x0a010203, sport, 0, 18, 3, 1, 1, slot->params().ssrc, sport + 1}));

  ASSERT_GE(sdes.size(), 28u);
  EXPECT_EQ(sdes.substr(0, 2) + sdes.substr(8, 19), "\x81\xca\x01\x11Ostrova Velmorant");
  EXPECT_EQ(Word(sdes, 4), b.ssrc);
  // The BYE is the last thing the slot sends.
  ASSERT_EQ(Ask(4, Destroy()), kOk);
  const std::string bye = peer.Receive(0);
  EXPECT_EQ(bye.substr(0, 4), std::string("\x81\xcb\x00\x04", 4));
  EXPECT_EQ(Word(bye, 4), b.ssrc);
  EXPECT_EQ(bye.substr(8), "\x0bsession end");
  EXPECT_EQ(peer.Receive(0), "");

  // Short and hexadecimal forms of an address are read too.
  ASSERT_EQ(Ask(5, Create(peer.port - 1, int(FreeRtpPort()), [](LGCP::CreateRtpParams& p) {
              p.set_codecRTP().set_dhost().set_iaddr("10.1");
              p.set_codecRTP().set_shost().set_iaddr("0x7f.1");
            })),
            kOk);
  const rtp_connection_params s = rtp().byChannel(At(5)->channel())->params;
  EXPECT_EQ(Ints({s.dhost_addr, s.shost_addr}), (Ints{0x0a000001, 0x7f000001}));
}

TEST_F(RtpSlotTest, WithoutALocalHostTheRemotePortIsTheLocalOne) {
  const unsigned dport = FreeRtpPort();
  ASSERT_EQ(Ask(2, Create(dport)), kOk);
  const rtp_connection_params& b = At(2)->params();
  EXPECT_EQ(Ints({b.shost_addr, b.shost_port, b.vad + b.crate + b.packet_factor, rtptest::BoundPort(At(2)->rtcpSocket())}),
            (Ints{0, dport, 0, dport + 1}));
}

TEST_F(RtpSlotTest, RefusedCreatesLeaveNothingOpen) {
  const unsigned dport = FreeRtpPort();
  {
    LogCapture log;
    for (Payload::NamedNumber pl : {Payload::ptT38_UDP_TL, Payload::reserv_3})
      EXPECT_EQ(Ask(1, Create(dport, -1, [=](LGCP::CreateRtpParams& p) { p.set_codecRTP().set_payload(pl); })),
                kRefused);
    EXPECT_TRUE(log.has("rtp[8,16,32]: do create rtp: ")) << log.text.str();
    EXPECT_TRUE(log.has("rtp do not created: payload ptT38-UDP-TL not found")) << log.text.str();
  }
  // A radio request is the radio factory's command.
  LGCP::Command radio;
  Create(dport, -1, [](LGCP::CreateRtpParams& p) { p.set_codecRTP().set_radio(); })(radio);
  EXPECT_EQ(RtpFactory::instance().INewSlot(radio.get_create()), nullptr);
  // A host that is no address, rather than media to 255.255.255.255.
  for (const char* bad : {"gw", "bogus"})
    EXPECT_EQ(Ask(1, Create(dport, -1, [=](LGCP::CreateRtpParams& p) { p.set_codecRTP().set_dhost().set_iaddr(bad); })),
              kRefused);
  EXPECT_EQ(requestCount(R::RtpBeginSession), 0u);

  // Driver failures: the session and the RTCP port are given back.
  for (uint32_t req : {R::RtpBeginSession, R::RtpAddChannel}) {
    LogCapture log;
    sim().failNext("/dev/rtp", req, EIO);
    EXPECT_EQ(Ask(1, Create(dport)), kRefused);
    EXPECT_TRUE(log.has(req == R::RtpAddChannel ? "add channel fail !!!" : "begin session fail !!! "));
    EXPECT_EQ(OpenSessions(), 0u);
  }
  sim().setPresent("/dev/rtp", false);
  {
    LogCapture log;
    EXPECT_EQ(Ask(1, Create(dport)), kRefused);
    EXPECT_TRUE(log.has("device \"/dev/rtp\" open fail: ")) << log.text.str();
  }
  sim().setPresent("/dev/rtp", true);
  ASSERT_EQ(Ask(1, Create(dport)), kOk);
  // Its RTCP port is taken now; and there is none above 65535.
  LogCapture log;
  EXPECT_EQ(Ask(3, Create(dport)), kRefused);
  EXPECT_TRUE(log.has("can not bind socket [errno=Address already in use, port=" + std::to_string(dport + 1) + "]"));
  EXPECT_EQ(Ask(3, Create(65535)), kRefused);
}

TEST_F(RtpSlotTest, EchoCancellerIsSwitchedOnlyWithTheSuppressor) {
  auto echo = [](bool suppressor, bool canceller) {
    return Create(FreeRtpPort(), -1, [=](LGCP::CreateRtpParams& p) {
      p.set_codecRTP().set_echo().set_suppressor(suppressor);
      p.set_codecRTP().set_echo().set_canceller(canceller);
    });
  };
  ASSERT_EQ(Ask(1, echo(false, true)), kOk);
  EXPECT_EQ(requestCount(R::ChannelLmsOn) + requestCount(R::ChannelLmsOff), 0u);
  ASSERT_EQ(Ask(2, echo(true, true)), kOk);
  const unsigned ch = unsigned(At(2)->channel());
  EXPECT_TRUE(dtmf().timeslot(ch)->lms);
  EXPECT_EQ(Ask(2, Ioctl([](LGCP::IoctlParams& p) { p.select_echoSuppressor(false); })), kOk);
  EXPECT_FALSE(dtmf().timeslot(ch)->lms);
}

TEST_F(RtpSlotTest, CodecChangesRestartTheSessionInPlace) {
  ASSERT_EQ(Ask(1, Create(FreeRtpPort(), -1, [](LGCP::CreateRtpParams& p) {
              p.set_codecRTP().set_payload(Payload::ptG729);
              p.set_rxPayload(Payload::ptG729);
            })),
            kOk);
  RtpSlot* slot = At(1);
  const int ch = slot->channel();
  const std::string head = "rtp[" + std::to_string(ch) + "]: ";
  {
    LogCapture log;
    EXPECT_EQ(Ask(1, Codec(true, Mode::lbrc)), kOk);  // lbrc: the receive type of the create
    EXPECT_TRUE(log.has(head + "do restart RTP session (change tx payload):")) << log.text.str();
    EXPECT_TRUE(log.has(" - OK"));
  }
  ASSERT_EQ(OpenSessions(), 1u);  // the old session is gone
  const Sim::RtpDevice::Stream* s = rtp().byChannel(ch);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(Ints({s->params.tx_pt, s->params.ssrc}), (Ints{18, slot->params().ssrc}));
  {
    LogCapture log;
    EXPECT_EQ(Ask(1, Codec(true, Mode::lbrc)), kOk);
    EXPECT_TRUE(log.has(" - Nothing to do"));
  }
  EXPECT_EQ(requestCount(R::RtpBeginSession), 2u);
  EXPECT_EQ(Ask(1, Codec(false, Mode::ulaw)), kOk);
  EXPECT_EQ(rtp().byChannel(ch)->params.rx_pt, 0);

  // A failed restart is answered as such, and the same mode tries again.
  sim().failNext("/dev/rtp", R::RtpAddChannel, EIO);
  {
    LogCapture log;
    EXPECT_EQ(Ask(1, Codec(true, Mode::alaw)), kUnsupported);
    EXPECT_TRUE(log.has(head + "fail to restart RTP session!"));
  }
  EXPECT_EQ(slot->device(), -1);
  {
    // Without a session a wait tone request passes silently.
    LogCapture log;
    EXPECT_EQ(Ask(1, Ioctl([](LGCP::IoctlParams& p) { p.select_activateWaitTone(); })), kOk);
    EXPECT_FALSE(log.has("dup fail")) << log.text.str();
  }
  EXPECT_EQ(Ask(1, Codec(true, Mode::alaw)), kOk);
  ASSERT_NE(rtp().byChannel(ch), nullptr);
  EXPECT_EQ(rtp().byChannel(ch)->params.tx_pt, 8);
}

TEST_F(RtpSlotTest, DetectorSwitchesAndTheirEndWithTheSlot) {
  ASSERT_EQ(Ask(6, Create(FreeRtpPort())), kOk);
  const unsigned ch = unsigned(At(6)->channel());
  auto* dsp = static_cast<Sim::DspDevice*>(sim().device("/dev/dsp"));
  EXPECT_EQ(Ask(6, Ioctl([](LGCP::IoctlParams& p) { p.select_dtmf_enable(true); })), kOk);
  EXPECT_EQ(Ask(6, Ioctl([](LGCP::IoctlParams& p) { p.select_vad_enable(true); })), kOk);
  EXPECT_EQ(Ask(6, Ioctl([](LGCP::IoctlParams& p) { p.select_sd_enable(true); })), kOk);
  EXPECT_EQ(dsp->timeslot(ch)->functions & 3, 3u);
  // dtmf-disable is not the RTP slot's: unsupported, the detector stays on.
  EXPECT_EQ(Ask(6, Ioctl([](LGCP::IoctlParams& p) { p.select_dtmf_disable(); })), kUnsupported);
  EXPECT_EQ(Ask(6, Ioctl([](LGCP::IoctlParams& p) { p.select_dtmf_reject_disable(); })), kUnsupported);
  EXPECT_TRUE(dtmf().timeslot(ch)->detecting);
  ASSERT_EQ(Ask(6, Destroy()), kOk);
  EXPECT_FALSE(dtmf().timeslot(ch)->detecting);
  EXPECT_EQ(dsp->timeslot(ch)->functions & 3, 0u);
}

TEST_F(RtpSlotTest, TheFirstPacketEndsTheWaitToneOnce) {
  ASSERT_EQ(Ask(1, Create(FreeRtpPort())), kOk);
  RtpSlot* slot = At(1);
  auto wait = Ioctl([](LGCP::IoctlParams& p) { p.select_activateWaitTone(); });
  EXPECT_EQ(Ask(1, wait), kOk);
  EXPECT_EQ(Ask(1, wait), kOk);  // replaces the first watch
  LogCapture log;
  ASSERT_TRUE(rtp().packet(slot->channel()));
  bench().loop.RunUntil([&] { return !slot->waitToneWatched(); });
  EXPECT_FALSE(slot->waitToneWatched());
  ASSERT_TRUE(rtp().packet(slot->channel()));
  bench().Take(20);
  const std::string line = "rtp[" + std::to_string(slot->channel()) + "]: receive packet(s)!";
  EXPECT_NE(log.text.str().find(line), std::string::npos) << log.text.str();
  EXPECT_EQ(log.text.str().find(line), log.text.str().rfind(line));

  // The session a codec change begins is not watched: its packets leave
  // the tone's cadence running (tone or pause, never switched off).
  ASSERT_EQ(Ask(2, Create(FreeRtpPort())), kOk);
  const int ch = At(2)->channel();
  EXPECT_EQ(Ask(2, wait), kOk);
  EXPECT_EQ(Ask(2, Codec(true, Mode::ulaw)), kOk);
  ASSERT_TRUE(rtp().packet(ch));
  bench().Take(20);
  EXPECT_FALSE(log.has("rtp[" + std::to_string(ch) + "]: receive packet(s)!")) << log.text.str();
  EXPECT_NE(dtmf().timeslot(unsigned(ch))->freq1, 0);
}

// Out of descriptors: a codec change during a wait tone keeps its new
// session, and a wait tone that no packet could end is refused (said, not
// hidden) rather than started.
TEST_F(RtpSlotTest, WithoutDescriptorsTheSessionStaysAndNoEndlessToneStarts) {
  ASSERT_EQ(Ask(1, Create(FreeRtpPort())), kOk);
  RtpSlot* slot = At(1);
  const int ch = slot->channel();
  auto wait = Ioctl([](LGCP::IoctlParams& p) { p.select_activateWaitTone(); });
  auto quiet = Ioctl([](LGCP::IoctlParams& p) { p.select_deactivateWaitTone(); });
  ASSERT_EQ(Ask(1, Codec(false, Mode::ulaw)), kOk);  // so that alaw below is a change
  ASSERT_EQ(Ask(1, wait), kOk);
  ASSERT_EQ(OpenSessions(), 1u);

  LogCapture log;
  int answer;
  bool watched;
  {
    SimTest::DescriptorSqueeze squeeze;  // the restart has the two it gives up
    answer = Ask(1, Codec(false, Mode::alaw));
    watched = slot->waitToneWatched();
  }
  EXPECT_EQ(answer, kOk);
  EXPECT_FALSE(log.has("dup fail")) << log.text.str();
  EXPECT_FALSE(watched);
  EXPECT_GE(slot->device(), 0);
  EXPECT_EQ(OpenSessions(), 1u);
  const Sim::RtpDevice::Stream* stream = rtp().byChannel(ch);
  EXPECT_TRUE(stream && stream->params.rx_pt == 8);

  EXPECT_EQ(Ask(1, quiet), kOk);
  {
    SimTest::DescriptorSqueeze squeeze;
    answer = Ask(1, wait);
  }
  EXPECT_EQ(answer, kUnsupported);
  EXPECT_TRUE(log.has("rtp[" + std::to_string(ch) + "]: dup fail: Too many open files\n")) << log.text.str();
  EXPECT_EQ(dtmf().timeslot(unsigned(ch))->freq1, 0);  // no tone
}

TEST_F(RtpSlotTest, InputFollowsTheSourceAndTheDestroyKeepsTheDriversOrder) {
  ASSERT_EQ(Ask(1, Create(FreeRtpPort())), kOk);
  ASSERT_EQ(Ask(2, [](LGCP::Command& c) { c.select_create().select_trunk().set_timeslot(4); }), kOk);
  const int ch = At(1)->channel();
  ASSERT_EQ(Ask(2, [](LGCP::Command& c) { c.select_connect(1); }), kOk);
  EXPECT_TRUE(rtp().byChannel(ch)->input);
  ASSERT_EQ(Ask(1, [](LGCP::Command& c) { c.select_disconnect(); }), kOk);
  EXPECT_FALSE(rtp().byChannel(ch)->input);
  ASSERT_EQ(Ask(1, Destroy()), kOk);
  EXPECT_EQ(rtp().byChannel(ch), nullptr);
  std::vector<uint32_t> order;
  for (const auto& e : sim().log())
    if (e.device == "/dev/rtp" && (e.request >> 16) == 0x2000) order.push_back(e.request);
  EXPECT_EQ(order, std::vector<uint32_t>({R::RtpInputOn, R::RtpInputOff, R::RtpHalt, R::RtpEndSession, R::RtpFree}));
  EXPECT_EQ(OpenSessions(), 0u);
}

TEST_F(RtpSlotTest, CapacityOfTheVoiceDriver) {
  auto* voice = static_cast<Sim::VoiceDevice*>(sim().device("/dev/voice"));
  voice->setCapacity(4, 12);
  voice->setCapacity(2, 0);
  voice->setCapacity(8, 6);
  LGCP::Resources r;
  RtpFactory::instance().Query(r);
  EXPECT_EQ(r.get_rtp_g729().getValue() * 100 + r.get_rtp_g723().getValue(), 1200);
  EXPECT_EQ(r.get_rtp_g711().getValue() * 100 + r.get_rtp_g711mcc().getValue(), 3206);
  std::ostringstream head;
  RtpFactory::instance().PutHeader(head);
  EXPECT_EQ(head.str(), "rtp[0,12,32]: ");
  // Without the driver the counts are 0, but the G.711mcc count is kept.
  sim().setPresent("/dev/voice", false);
  LogCapture log;
  RtpFactory::instance().Query(r);
  EXPECT_EQ(r.get_rtp_g729().getValue() + r.get_rtp_g711().getValue(), 0);
  EXPECT_EQ(r.get_rtp_g711mcc().getValue(), 6);
  EXPECT_TRUE(log.has("device \"/dev/voice\" open fail: "));
}

TEST(RtpCodecs, PayloadTypesAndDirectionOverrides) {
  using F = RtpFactory;
  EXPECT_EQ(Ints({F::translateCodec(Payload::ptG723), F::translateCodec(Payload::ptG711mcc_Alaw),
                  F::translateCodec(Payload::ptG711mcc_Ulaw), F::translateCodec(Payload::ptT38_TCP_TPKT),
                  F::payloadType(Payload::reserv_5)}),
            (Ints{4, 136, 128, 0, -1}));
  // A G.711 direction overrides the payload.
  EXPECT_EQ(Ints({F::translateCodec(Payload::ptG729, Payload::ptG711_Alaw), F::translateCodec(Payload::ptG729, Payload::ptG723),
                  F::translateCodec(Payload::ptG729, Payload::ptG711mcc_Alaw)}),
            (Ints{8, 18, 18}));
}

}  // namespace
