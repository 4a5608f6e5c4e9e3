// SS7 level 2 link control against a scripted peer: alignment and proving,
// sequence numbering, acknowledgement, retransmission, timers (on a frozen
// loop clock) and malformed units.
#include <gtest/gtest.h>

#include <cstring>
#include <type_traits>

#include "links/mtp2.h"
#include "runtime/test_loop_support.h"
#include "test_lapd_harness.h"

using namespace LapdTest;
using SS7::SLC;
typedef SS7::SLC::State S;
static_assert(std::is_same<decltype(SLC::TimerVal::handler), void (SLC::*)(Timer*)>::value, "timer handler");
static_assert(std::is_same<decltype(&SLC::hdlc), void (SLC::*)(HDLC*)>::value, "the layer holds an HDLC channel");

namespace {

bool has(const std::string& text, const std::string& needle) { return text.find(needle) != std::string::npos; }

// An HDLC channel that keeps the units handed to it, as the LAPD tests' channel does.
class Ss7Channel : public HDLC, public Channel {
 public:
  bool hdlc_transmit(Packet& p) override { return Channel::hdlc_transmit(p); }
  bool is_open() const override { return true; }
  bool is_ready() const override { return Channel::is_ready(); }
};

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
    Packet p = packet(b);
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
    chan.sent.clear();
  }
  S::type state() const { return slc->get_state_id(); }
  const Bytes& last() const { return chan.sent.back(); }
  // The state and the last unit sent, after ms more on the clock.
  std::string after(unsigned ms) {
    elapse(ms);
    return now();
  }
  std::string now() const {
    static const char* names[] = {"idle", "not aligned", "aligned", "proving", "aligned ready", "worked"};
    return std::string(names[state()]) + ": " + (chan.sent.empty() ? "" : hex(last()));
  }

  FrozenClock clock;
  Ss7Channel chan;
  Owner owner;
  SLC* slc;  // owned by `owner`
};

// Proving lasts T4: 8200 ms normally, 500 ms in emergency (sent as SIE).
TEST_F(Mtp2, NormalAndEmergencyAlignmentAndProving) {
  for (unsigned t4 : {8200, 500}) {
    SCOPED_TRACE(t4);
    const std::string status = t4 == 500 ? "FF FF 01 02" : "FF FF 01 01";
    slc->set_emergency(t4 == 500);
    chan.sent.clear();
    slc->activate();
    EXPECT_EQ(now(), "not aligned: FF FF 01 00");
    peer(lssu(SLC::SIO));
    EXPECT_EQ(now(), "aligned: " + status);
    peer(lssu(SLC::SIN));
    EXPECT_EQ(now(), "proving: " + status);
    peer(lssu(SLC::SIE));  // changes nothing while proving
    EXPECT_EQ(after(t4 - 1), "proving: " + status);
    EXPECT_EQ(after(1), "aligned ready: FF FF 00");
    chan.sent.clear();
    peer(kFisu0);
    EXPECT_EQ(S::worked, state());
    // One FISU from the entry, one from the empty transmission buffer.
    EXPECT_EQ((std::vector<Bytes>{kFisu0, kFisu0}), chan.frames());
    EXPECT_FALSE(slc->timer_running());
    slc->deactivate();
  }
  EXPECT_EQ(2, owner.activated);
}

// T2 7000 ms in not aligned, T3 1500 ms in aligned, T1 45000 ms in aligned
// ready: each fails the link.
TEST_F(Mtp2, AlignmentTimersFailTheLink) {
  slc->trace.timers = true;
  StreamCapture log(std::clog);
  slc->activate();
  EXPECT_EQ(after(6999), "not aligned: FF FF 01 00");
  EXPECT_EQ(after(1), "idle: FF FF 01 03");
  EXPECT_EQ(owner.releases, std::vector<std::string>{"impossible phasing"});

  peer(lssu(SLC::SIO));  // an idle link answers the peer by itself
  EXPECT_EQ(after(1499), "aligned: FF FF 01 01");
  EXPECT_EQ(after(1), "idle: FF FF 01 03");
  peer(lssu(SLC::SIN));
  EXPECT_EQ(after(8200), "aligned ready: FF FF 00");
  EXPECT_EQ(after(44999), "aligned ready: FF FF 00");
  EXPECT_EQ(after(1), "idle: FF FF 01 03");
  EXPECT_EQ(3, owner.deactivated);
  for (const char* line : {"SS7/L2 [dpc=100, slc=3, trunk=2] (not aligned): T2 expired\n", "(aligned): set T3\n",
                           "(aligned): T3 expired\n", "(proving): T4 expired.\n", "(aligned ready): T1 expired\n"})
    EXPECT_TRUE(has(log.text(), line)) << line;
}

TEST_F(Mtp2, ReceivedLengthIsCheckedAgainstTheIndicator) {
  bringUp();
  StreamCapture err(std::cerr);
  const SLC::Statistics before = slc->statistics();
  peer(H("80 81"));  // too short: counted in octets only
  EXPECT_TRUE(has(err.text(), "ignore packet, length too small 80 81"));
  EXPECT_EQ(before.octetsRx + 2, slc->statistics().octetsRx);
  EXPECT_EQ(before.msuRxCount, slc->statistics().msuRxCount);

  peer(su(127, true, 0, true, payload(8), 5));   // cut to 5
  peer(su(127, true, 1, true, payload(4), 10));  // taken as 4
  std::string seen = err.text();
  peer(su(127, true, 2, true, payload(70), 63));  // LI 63 stands for anything longer
  EXPECT_EQ(seen, err.text());
  peer(su(127, true, 3, true, payload(70), 40));
  EXPECT_EQ((std::vector<Bytes>{payload(5), payload(4), payload(70), payload(70)}), owner.up);
  for (const char* line :
       {"invalid packet length, expected = 5, received = 8\n", "truncate 3 octet(s) : 00 01 02 03 04 05 06 07\n",
        "invalid packet length, expected = 10, received = 4\n", "invalid packet length, expected = 40, received = 70\n",
        "can't truncate signalling unit.\n"})
    EXPECT_TRUE(has(err.text(), line)) << line;
  peer(su(127, true, 4, true, payload(3), 1));  // cut to one octet: an LSSU
  EXPECT_EQ(S::idle, state());
  EXPECT_EQ(before.msuRxCount + 5, slc->statistics().msuRxCount);
}

TEST_F(Mtp2, InServiceReceiveAcknowledgesAndDetectsGaps) {
  bringUp();
  peer(su(127, true, 0, true, payload(4, 0x10)));
  EXPECT_EQ(0u, slc->get_bsn());
  EXPECT_EQ((std::vector<Bytes>{su(0, true, 127, true)}), chan.frames());
  peer(su(127, true, 0, true, payload(4, 0x20)));  // duplicate: dropped silently
  EXPECT_EQ(1u, chan.sent.size());
  peer(su(127, true, 2, true, payload(4)));  // FSN 1 lost: negative acknowledgement
  EXPECT_EQ(su(0, false, 127, true), last());
  EXPECT_EQ(1u, slc->statistics().badSeqCntr);
  peer(su(127, true, 3, true, payload(4)));  // old FIB while the NACK is outstanding
  EXPECT_EQ(S::worked, state());
  peer(su(127, true, 1, false, payload(4, 0x50)));  // the peer's retransmission
  peer(su(127, true, 2, false, payload(4, 0x60)));
  EXPECT_EQ((std::vector<Bytes>{payload(4, 0x10), payload(4, 0x50), payload(4, 0x60)}), owner.up);
  EXPECT_EQ(su(2, false, 127, true), last());
  peer(su(127, true, 4, false));  // a FISU reveals a lost MSU too
  EXPECT_EQ(su(2, true, 127, true), last());
  EXPECT_EQ(2u, slc->statistics().badSeqCntr);
}

// Each acknowledgement frees the units up to its BSN and restarts T7
// (12000 ms); the last one stops it. An unanswered unit fails the link.
TEST_F(Mtp2, AcknowledgementsReleaseTheRetransmissionBuffer) {
  bringUp();
  for (unsigned i = 0; i < 5; ++i) fromAbove(payload(3, static_cast<std::uint8_t>(i)));
  struct Row {
    unsigned wait, bsn, held;
    bool t7;
  };
  // A repeated BSN frees nothing and leaves T7 running from the first unit.
  for (Row r : {Row{11999, 127, 5, true}, Row{0, 1, 3, true}, Row{11999, 1, 3, true}, Row{0, 4, 0, false}}) {
    SCOPED_TRACE(r.bsn);
    elapse(r.wait);
    peer(su(r.bsn, true, 127, true));
    EXPECT_EQ(S::worked, state());
    EXPECT_EQ(r.held, slc->rtb_count());
    EXPECT_EQ(r.held, slc->statistics().rtbSize);
    EXPECT_EQ(r.t7, slc->timer_running());
  }
  EXPECT_EQ(0u, slc->statistics().repeatCntr);
  fromAbove(payload(3));
  EXPECT_EQ(after(11999).substr(0, 6), "worked");
  EXPECT_EQ(after(1), "idle: FF FF 01 03");
}

TEST_F(Mtp2, NegativeAcknowledgementRetransmitsHeldUnits) {
  bringUp();
  chan.accept = 5;
  for (unsigned i = 0; i < 7; ++i) fromAbove(payload(3, static_cast<std::uint8_t>(i)));
  EXPECT_EQ(5u, slc->rtb_count());
  EXPECT_EQ(2u, slc->tb_count());
  chan.accept = -1;
  chan.sent.clear();
  peer(su(127, false, 127, true));  // BIB inverted: all again, with the FIB following it
  std::vector<Bytes> want;
  for (unsigned i = 0; i < 7; ++i) want.push_back(su(127, true, i, false, payload(3, static_cast<std::uint8_t>(i))));
  EXPECT_EQ(want, chan.frames());
  EXPECT_EQ(1u, slc->statistics().repeatCntr);
  EXPECT_EQ(7u, slc->rtb_count());
  chan.sent.clear();
  peer(su(2, true, 127, true));  // acknowledges up to 2 and asks again from there
  ASSERT_EQ(4u, chan.sent.size());
  EXPECT_EQ(su(127, true, 3, true, payload(3, 3)), chan.sent[0]);
  EXPECT_EQ(2u, slc->statistics().repeatCntr);
  chan.accept = 0;  // a refused MSU waits for the channel
  fromAbove(payload(3, 0x70));
  EXPECT_EQ(1u, slc->tb_count());
  chan.accept = -1;
  slc->on_hdlc_ready();
  EXPECT_EQ(0u, slc->tb_count());
  EXPECT_EQ(su(127, true, 7, true, payload(3, 0x70)), last());
}

// 127 units unacknowledged at most, 200 waiting; a retransmission of all
// 127 fits beside the 200 waiting.
TEST_F(Mtp2, WindowAndQueueLimits) {
  bringUp();
  for (unsigned i = 0; i < 200; ++i) fromAbove(payload(3));
  EXPECT_EQ(127u, chan.sent.size());  // FSN 0 to 126
  for (unsigned i = 0; i < 127; ++i) fromAbove(payload(3));
  EXPECT_EQ(200u, slc->tb_count());
  StreamCapture err(std::cerr);
  fromAbove(payload(3));
  EXPECT_EQ(200u, slc->tb_count());
  EXPECT_EQ(1u, slc->statistics().overflowCntr);
  EXPECT_TRUE(has(err.text(), "no space in TB buffer, TB=200 RTB=127 ignoring msu: "));
  chan.accept = 0;
  peer(su(127, false, 127, true));
  EXPECT_EQ(327u, slc->tb_count());
  chan.accept = -1;
  slc->on_hdlc_ready();
  EXPECT_EQ(127u, slc->rtb_count());
  EXPECT_EQ(200u, slc->tb_count());
}

// Payloads too short for an MSU would reach the peer as FISUs or LSSUs (an
// SIOS fails the link) and hold a sequence number it never acknowledges.
TEST_F(Mtp2, MessagesFromAboveOutOfServiceOrTooShortAreDropped) {
  StreamCapture err(std::cerr);
  fromAbove(payload(3));  // not in service: dropped without a word
  EXPECT_TRUE(chan.sent.empty());
  EXPECT_EQ("", err.text());
  bringUp();
  for (const Bytes& b : {Bytes{}, H("03"), H("03 00")}) fromAbove(b);
  for (const Bytes& f : chan.sent) EXPECT_EQ(kFisu0, f);
  EXPECT_EQ(0u, slc->rtb_count());
  EXPECT_TRUE(has(err.text(), "msu too short (1 octet(s)), ignoring msu: 03\n"));
  fromAbove(payload(3));
  EXPECT_EQ(su(127, true, 0, true, payload(3)), last());
  // LI: the length up to 61 octets, 63 from 62 on.
  for (auto [n, li] : {std::pair<unsigned, unsigned>{61, 61}, {62, 63}}) {
    fromAbove(payload(n));
    EXPECT_EQ(last()[2], li) << n;
  }
}

// The units the layer emits, dissected by tshark: SIO, SIN (aligned), SIN
// (proving), two FISUs entering service, the acknowledgement of the peer's
// FSN 0, a 65-octet MSU.
TEST_F(Mtp2, TsharkDissectsEmittedUnits) {
  slc->activate();
  peer(lssu(SLC::SIO));
  peer(lssu(SLC::SIN));
  peer(kFisu0);
  peer(su(127, true, 0, true, payload(5, 0x83)));
  Bytes big = payload(65);
  big[0] = 0x83;
  fromAbove(big);
  std::vector<std::string> want = {"127|1|127|1|1|0", "127|1|127|1|1|1", "127|1|127|1|1|1", "127|1|127|1|0|",
                                   "127|1|127|1|0|",  "0|1|127|1|0|",    "0|1|0|1|63|"};
  EXPECT_EQ(want, dissect(chan.frames(), 140, "-e mtp2.bsn -e mtp2.bib -e mtp2.fsn -e mtp2.fib -e mtp2.li -e mtp2.sf"));
}

}  // namespace
