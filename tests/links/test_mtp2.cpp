// SS7 level 2 link control against a scripted peer: alignment and proving,
// sequence numbering, acknowledgement, retransmission, timers (driven through
// the loop clock) and malformed units.
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "hardware/hdlc.h"
#include "hardware/hwmux.h"
#include "hardware/sim/mcc.h"
#include "hardware/sim_env.h"
#include "links/mtp2.h"
#include "runtime/log/ext.h"
#include "runtime/loop/dpc.h"
#include "runtime/os/clock.h"
#include "runtime/test_loop_support.h"

namespace {

typedef std::vector<std::uint8_t> Bytes;
typedef SS7::SLC::State S;
using SS7::SLC;

// Records every frame; refuses them once `accept` reaches 0 (negative: no limit).
class FakeChannel : public GenericHDLC {
 public:
  bool hdlc_transmit(Packet& p) override {
    if (accept == 0) return false;
    if (accept > 0) --accept;
    frames.emplace_back(p.data(), p.data() + p.length());
    return true;
  }
  bool is_open() const override { return true; }
  bool is_ready() const override { return accept != 0; }
  std::vector<Bytes> frames;
  int accept = -1;
};

class Owner : public ProtocolsFamily {
 public:
  void on_message(Packet& p) override { up.emplace_back(p.data(), p.data() + p.length()); }
  void on_activated(Protocol*) override { ++activated; }
  void on_deactivated(Protocol*, ProtocolStatus s) override {
    ++deactivated;
    status = s->message();
  }
  std::vector<Bytes> up;
  int activated = 0, deactivated = 0;
  std::string status;
};

Bytes lssu(std::uint8_t sf) { return Bytes{0xFF, 0xFF, 0x01, sf}; }
const Bytes kFisu0{0xFF, 0xFF, 0x00};  // a FISU right after a reset

// Header and body; the LI is the body's length capped at 63 unless given.
Bytes su(unsigned bsn, bool bib, unsigned fsn, bool fib, const Bytes& body = {}, int li = -1) {
  Bytes b{static_cast<std::uint8_t>(bsn | (bib ? 0x80 : 0)), static_cast<std::uint8_t>(fsn | (fib ? 0x80 : 0)),
          static_cast<std::uint8_t>(li >= 0 ? li : body.size() > 63 ? 63 : body.size())};
  b.insert(b.end(), body.begin(), body.end());
  return b;
}

Bytes payload(unsigned n, std::uint8_t seed = 0) {
  Bytes b(n);
  for (unsigned i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(seed + i);
  return b;
}

bool has(const std::string& text, const std::string& needle) { return text.find(needle) != std::string::npos; }

// Moves the loop clock on and runs one pass of the loop, so that due timers
// fire. Checks that a timer has not fired yet leave a margin for real time.
void advance(unsigned ms) {
  Mux::advanceClock(ms);
  LoopDeadline guard(5000);
  Dpc stop;
  stop.Bind(+[] { multiplexer.terminate(); });
  stop.Activate();
  multiplexer.run(false, true);
}

class Mtp2 : public ::testing::Test {
 protected:
  Mtp2() : slc(new SLC) {
    owner.add_protocol_tail(slc);
    slc->hdlc(&chan);
    slc->set_linkno(2);
    slc->set_slc(3);
    slc->set_dpc(100);
  }
  void peer(const Bytes& b) {
    Packet p;
    p.reserve_head(0);
    std::memcpy(p.put(static_cast<unsigned>(b.size())), b.data(), b.size());
    slc->on_hdlc_receive(p);
  }
  void fromAbove(const Bytes& body) {
    Packet p;
    slc->prepare_head(p);
    if (!body.empty()) std::memcpy(p.put(static_cast<unsigned>(body.size())), body.data(), body.size());
    slc->message(p);
  }
  // Idle -> proving on the peer's SIN, then in service on its FISU.
  void bringUp() {
    peer(lssu(SLC::SIN));
    peer(kFisu0);
    ASSERT_EQ(S::worked, state());
    chan.frames.clear();
  }
  S::type state() const { return slc->get_state_id(); }
  const Bytes& last() const { return chan.frames.back(); }

  FakeChannel chan;
  Owner owner;
  SLC* slc;  // owned by `owner`
};

TEST_F(Mtp2, NormalAlignmentAndProving) {
  slc->activate();
  EXPECT_EQ(S::not_aligned, state());
  EXPECT_EQ(lssu(SLC::SIO), last());
  peer(lssu(SLC::SIO));
  EXPECT_EQ(S::aligned, state());
  EXPECT_EQ(lssu(SLC::SIN), last());
  peer(lssu(SLC::SIN));
  EXPECT_EQ(S::proving, state());
  EXPECT_EQ(lssu(SLC::SIN), last());
  peer(lssu(SLC::SIE));  // changes nothing while proving
  advance(8100);
  EXPECT_EQ(S::proving, state());
  advance(100);
  EXPECT_EQ(S::aligned_ready, state());
  EXPECT_EQ(kFisu0, last());

  chan.frames.clear();
  peer(kFisu0);
  EXPECT_EQ(S::worked, state());
  EXPECT_EQ(1, owner.activated);
  // One FISU from the entry, one from the empty transmission buffer.
  EXPECT_EQ((std::vector<Bytes>{kFisu0, kFisu0}), chan.frames);
  EXPECT_FALSE(slc->timer_running());
  EXPECT_EQ(0, owner.deactivated);
}

TEST_F(Mtp2, AlignmentTimersFailTheLink) {
  slc->trace.timers = true;
  StreamCapture log(std::clog);
  slc->activate();  // T2 in not aligned
  advance(6900);
  EXPECT_EQ(S::not_aligned, state());
  advance(100);
  EXPECT_EQ(S::idle, state());
  EXPECT_EQ(lssu(SLC::SIOS), last());
  EXPECT_EQ(1, owner.deactivated);
  EXPECT_EQ("impossible phasing", owner.status);

  peer(lssu(SLC::SIO));  // an idle link answers the peer by itself; T3
  EXPECT_EQ(S::aligned, state());
  advance(1500);
  EXPECT_EQ(S::idle, state());

  peer(lssu(SLC::SIN));  // T4, then T1 (45 s) in aligned ready
  advance(8200);
  ASSERT_EQ(S::aligned_ready, state());
  advance(44900);
  EXPECT_EQ(S::aligned_ready, state());
  advance(100);
  EXPECT_EQ(S::idle, state());
  EXPECT_EQ(3, owner.deactivated);

  const std::string t = log.text();
  EXPECT_TRUE(has(t, "SS7/L2 [dpc=100, slc=3, trunk=2] (not aligned): T2 expired\n"));
  EXPECT_TRUE(has(t, "(aligned): set T3\n"));
  EXPECT_TRUE(has(t, "(aligned): T3 expired\n"));
  EXPECT_TRUE(has(t, "(proving): T4 expired.\n"));
  EXPECT_TRUE(has(t, "(aligned ready): T1 expired\n"));
}

TEST_F(Mtp2, ReceivedLengthIsCheckedAgainstTheIndicator) {
  bringUp();
  StreamCapture err(std::cerr);
  const SLC::Statistics before = slc->statistics();

  peer(Bytes{0x80, 0x81});  // too short: counted in octets only
  EXPECT_TRUE(has(err.text(), "ignore packet, length too small 80 81"));
  EXPECT_EQ(before.octetsRx + 2, slc->statistics().octetsRx);
  EXPECT_EQ(before.msuRxCount, slc->statistics().msuRxCount);

  peer(su(127, true, 0, true, payload(8), 5));  // cut to 5
  peer(su(127, true, 1, true, payload(4), 10));  // taken as 4
  std::string seen = err.text();
  peer(su(127, true, 2, true, payload(70), 63));  // LI 63 stands for anything longer
  EXPECT_EQ(seen, err.text());
  peer(su(127, true, 3, true, payload(70), 40));
  EXPECT_EQ((std::vector<Bytes>{payload(5), payload(4), payload(70), payload(70)}), owner.up);
  const std::string t = err.text();
  EXPECT_TRUE(has(t, "invalid packet length, expected = 5, received = 8\n"));
  EXPECT_TRUE(has(t, "truncate 3 octet(s) : 00 01 02 03 04 05 06 07\n"));
  EXPECT_TRUE(has(t, "invalid packet length, expected = 10, received = 4\n"));
  EXPECT_TRUE(has(t, "invalid packet length, expected = 40, received = 70\n"));
  EXPECT_TRUE(has(t, "can't truncate signalling unit.\n"));

  peer(su(127, true, 4, true, payload(3), 1));  // cut to one octet: an LSSU
  EXPECT_EQ(S::idle, state());
  EXPECT_EQ(before.msuRxCount + 5, slc->statistics().msuRxCount);
}

TEST_F(Mtp2, InServiceReceiveAcknowledgesAndDetectsGaps) {
  bringUp();
  peer(su(127, true, 0, true, payload(4, 0x10)));
  EXPECT_EQ((std::vector<Bytes>{payload(4, 0x10)}), owner.up);
  EXPECT_EQ(0u, slc->get_bsn());
  EXPECT_EQ((std::vector<Bytes>{su(0, true, 127, true)}), chan.frames);

  peer(su(127, true, 0, true, payload(4, 0x20)));  // duplicate: dropped silently
  EXPECT_EQ(1u, owner.up.size());
  EXPECT_EQ(1u, chan.frames.size());

  peer(su(127, true, 2, true, payload(4)));  // FSN 1 lost: negative acknowledgement
  EXPECT_EQ(su(0, false, 127, true), last());
  EXPECT_EQ(1u, slc->statistics().badSeqCntr);
  peer(su(127, true, 3, true, payload(4)));  // old FIB while the NACK is outstanding
  EXPECT_EQ(1u, owner.up.size());
  EXPECT_EQ(S::worked, state());

  peer(su(127, true, 1, false, payload(4, 0x50)));  // the peer's retransmission
  peer(su(127, true, 2, false, payload(4, 0x60)));
  ASSERT_EQ(3u, owner.up.size());
  EXPECT_EQ(payload(4, 0x60), owner.up[2]);
  EXPECT_EQ(su(2, false, 127, true), last());

  peer(su(127, true, 4, false));  // a FISU reveals a lost MSU too
  EXPECT_EQ(su(2, true, 127, true), last());
  EXPECT_EQ(2u, slc->statistics().badSeqCntr);
}

TEST_F(Mtp2, NegativeAcknowledgementRetransmitsHeldUnits) {
  bringUp();
  chan.accept = 5;
  for (unsigned i = 0; i < 7; ++i) fromAbove(payload(3, static_cast<std::uint8_t>(i)));
  EXPECT_EQ(5u, slc->rtb_count());
  EXPECT_EQ(2u, slc->tb_count());

  chan.accept = -1;
  chan.frames.clear();
  peer(su(127, false, 127, true));  // BIB inverted: all again, with the FIB following it
  std::vector<Bytes> want;
  for (unsigned i = 0; i < 7; ++i) want.push_back(su(127, true, i, false, payload(3, static_cast<std::uint8_t>(i))));
  EXPECT_EQ(want, chan.frames);
  EXPECT_EQ(1u, slc->statistics().repeatCntr);
  EXPECT_EQ(7u, slc->rtb_count());

  chan.frames.clear();
  peer(su(2, true, 127, true));  // acknowledges up to 2 and asks again from there
  ASSERT_EQ(4u, chan.frames.size());
  EXPECT_EQ(su(127, true, 3, true, payload(3, 3)), chan.frames[0]);
  EXPECT_EQ(2u, slc->statistics().repeatCntr);

  chan.accept = 0;  // a refused MSU waits for the channel
  fromAbove(payload(3, 0x70));
  EXPECT_EQ(1u, slc->tb_count());
  chan.accept = -1;
  slc->on_hdlc_ready();
  EXPECT_EQ(0u, slc->tb_count());
  EXPECT_EQ(su(127, true, 7, true, payload(3, 0x70)), last());
}

TEST_F(Mtp2, WindowAndQueueLimits) {
  bringUp();
  for (unsigned i = 0; i < 128; ++i) fromAbove(payload(3));
  EXPECT_EQ(127u, chan.frames.size());  // FSN 0 to 126; the 128th waits
  EXPECT_EQ(1u, slc->tb_count());
  for (unsigned i = 1; i < 200; ++i) fromAbove(payload(3));
  StreamCapture err(std::cerr);
  fromAbove(payload(3));
  EXPECT_EQ(200u, slc->tb_count());
  EXPECT_EQ(1u, slc->statistics().overflowCntr);
  EXPECT_TRUE(has(err.text(), "no space in TB buffer, TB=200 RTB=127 ignoring msu: "));

  chan.accept = 0;  // a retransmission of all 127 fits beside the 200 waiting
  peer(su(127, false, 127, true));
  EXPECT_EQ(327u, slc->tb_count());
  chan.accept = -1;
  slc->on_hdlc_ready();
  EXPECT_EQ(127u, slc->rtb_count());
  EXPECT_EQ(200u, slc->tb_count());
}

// Payloads too short for an MSU would reach the peer as FISUs or LSSUs (an
// SIOS fails the link) and hold a sequence number it never acknowledges.
TEST_F(Mtp2, TooShortMessagesFromAboveAreRefused) {
  bringUp();
  StreamCapture err(std::cerr);
  for (const Bytes& b : {Bytes{}, Bytes{0x03}, Bytes{0x03, 0x00}}) fromAbove(b);
  for (const Bytes& f : chan.frames) EXPECT_EQ(kFisu0, f);
  EXPECT_EQ(0u, slc->rtb_count());
  EXPECT_TRUE(has(err.text(), "msu too short (1 octet(s)), ignoring msu: 03\n"));
  fromAbove(payload(3));
  EXPECT_EQ(su(127, true, 0, true, payload(3)), last());
}

// The units the layer emits, dissected by tshark.
TEST_F(Mtp2, TsharkDissectsEmittedUnits) {
  if (system("command -v tshark >/dev/null 2>&1 && command -v text2pcap >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "tshark not installed";
  slc->activate();
  peer(lssu(SLC::SIO));
  peer(lssu(SLC::SIN));
  peer(kFisu0);
  peer(su(127, true, 0, true, payload(5, 0x83)));
  Bytes big = payload(65);
  big[0] = 0x83;
  fromAbove(big);

  char dir[] = "/tmp/mtp2-tshark-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(dir));
  const std::string base(dir);
  {
    std::ofstream txt(base + "/units.txt");
    for (const Bytes& f : chan.frames) {
      txt << "0000";
      for (std::uint8_t b : f) {
        char h[4];
        std::snprintf(h, sizeof h, " %02x", b);
        txt << h;
      }
      txt << "\n";
    }
  }
  const std::string cmd = "cd " + base +
                          " && text2pcap -q -l 140 units.txt units.pcap >/dev/null 2>&1"
                          " && tshark -r units.pcap -T fields -E separator=, -e mtp2.bsn -e mtp2.bib -e mtp2.fsn"
                          " -e mtp2.fib -e mtp2.li -e mtp2.sf > fields.txt 2>/dev/null";
  const int rc = system(cmd.c_str());
  const std::string fields = slurp(base + "/fields.txt");
  EXPECT_EQ(0, system(("rm -rf " + base).c_str()));
  ASSERT_EQ(0, rc);
  EXPECT_EQ(
      "127,1,127,1,1,0\n"  // SIO
      "127,1,127,1,1,1\n"  // SIN (aligned)
      "127,1,127,1,1,1\n"  // SIN (proving)
      "127,1,127,1,0,\n"   // two FISUs entering service
      "127,1,127,1,0,\n"
      "0,1,127,1,0,\n"     // acknowledgement of the peer's FSN 0
      "0,1,0,1,63,\n",     // a 65-octet MSU
      fields);
}


// The link on a real HDLC channel of the simulated board, the test playing
// the far end on the channel's timeslot.
class Mtp2OnBoard : public SimTest::Fixture {
 protected:
  void SetUp() override {
    SimTest::Fixture::SetUp();
    HwMux::instance();
    owner.add_protocol_tail(slc);
    slc->hdlc(&ch);
    ch.bind(slc);
    HDLC::Params p;
    p.trunk = 1;
    p.timeslot = 16;
    p.tdm = 16;
    p.type = 0;
    ch.params(p);
    sim().mcc().setNextChannel(60);
    ASSERT_TRUE(ch.activate());
    ch.on_event(-1, POLLOUT);  // the channel reports itself ready
  }
  void TearDown() override {
    ch.deactivate();
    sim().pump();
  }
  void farEnd(const Bytes& b) {
    sim().tdm().send(16, b);
    ch.on_event(-1, POLLIN);
  }
  std::vector<Bytes> sent() {
    sim().pump();
    return sim().tdm().takeFarEnd(16);
  }

  HDLC ch;
  Owner owner;
  SLC* slc = new SLC;  // owned by `owner`
};

TEST_F(Mtp2OnBoard, AlignsAndCarriesMessagesOverTheChannel) {
  slc->activate();
  EXPECT_EQ((std::vector<Bytes>{lssu(SLC::SIO)}), sent());
  farEnd(lssu(SLC::SIN));
  advance(8200);
  farEnd(kFisu0);
  ASSERT_EQ(S::worked, slc->get_state_id());
  EXPECT_EQ((std::vector<Bytes>{lssu(SLC::SIN), kFisu0, kFisu0, kFisu0}), sent());

  Packet p;
  slc->prepare_head(p);
  std::memcpy(p.put(4), payload(4, 0x83).data(), 4);
  slc->message(p);
  farEnd(su(0, true, 0, true, payload(5, 0x03)));
  EXPECT_EQ((std::vector<Bytes>{su(127, true, 0, true, payload(4, 0x83)), su(0, true, 0, true)}), sent());
  EXPECT_EQ((std::vector<Bytes>{payload(5, 0x03)}), owner.up);
  EXPECT_EQ(0u, slc->rtb_count());

  // A stalled controller: MSUs wait in the TB until the channel is ready
  // again. Long ones fill the controller's queue sooner.
  sim().hold(*sim().mcc().channel(60), true);
  const unsigned len = 3000;
  unsigned n = 0;
  while (n < 100 && slc->tb_count() < 3) {
    Packet m;
    slc->prepare_head(m);
    std::memcpy(m.put(len), payload(len, static_cast<std::uint8_t>(n)).data(), len);
    slc->message(m);
    ++n;
  }
  ASSERT_EQ(3u, slc->tb_count());
  EXPECT_FALSE(ch.is_ready());
  sim().hold(*sim().mcc().channel(60), false);
  for (int i = 0; i < 50 && slc->tb_count(); ++i) {
    LoopDeadline spin(20);  // the loop polls the channel until it is ready
    multiplexer.run(false, true);
  }
  EXPECT_EQ(0u, slc->tb_count());
  EXPECT_EQ(n, slc->rtb_count());
  std::vector<Bytes> msus;
  for (const Bytes& f : sent())
    if (f.size() > 3) msus.push_back(f);
  ASSERT_EQ(n, msus.size());
  EXPECT_EQ(su(0, true, n, true, payload(len, static_cast<std::uint8_t>(n - 1))), msus.back());
}

}  // namespace
