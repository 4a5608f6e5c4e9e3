// The Q.921 data link: a user-side and a network-side link joined back to
// back, hand-made peer frames, timers on a frozen loop clock, and the TEI
// assignment of a BRI user side.
#include <gtest/gtest.h>

#include "links/lapd.h"
#include "runtime/test_loop_support.h"
#include "test_lapd_harness.h"

using namespace LapdTest;
using ISDN::LAPD;
typedef ISDN::LAPDFullState S;

namespace {

class FlowRecorder : public LAPD::Notify {
 public:
  void flow_status_changed(LAPD* l) override {
    calls.push_back(l->GetFlowStatus());
    queued.push_back(l->outQueued());
  }
  std::vector<int> calls;
  std::vector<unsigned> queued;
};

Bytes l3(uint8_t id) { return {0x08, 0x01, id, 0x05, 0x70, 0x02, 0x81, 0x31}; }
Bytes cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class LapdLink : public ::testing::Test {
 protected:
  void SetUp() override {
    user = new LAPD(ISDN::Side::user, 0);
    net = new LAPD(ISDN::Side::user, 0);  // as the slots make them: side set afterwards
    net->set_side(ISDN::Side::network);
    userOwner.add_protocol_tail(user);
    netOwner.add_protocol_tail(net);
    user->hdlc(&userCh);
    net->hdlc(&netCh);
  }

  // Delivers frames both ways, one at a time, until both channels are quiet.
  void pump() {
    for (int i = 0; i < 5000 && (!userCh.sent.empty() || !netCh.sent.empty()); ++i) {
      if (!userCh.sent.empty()) toNet(wire.emplace_back(userCh.pop()));
      if (!netCh.sent.empty()) toUser(wire.emplace_back(netCh.pop()));
    }
  }
  static void rx(LAPD* l, const Bytes& b) {
    Packet p = packet(b);
    l->receive(p);
  }
  void toNet(const Bytes& b) { rx(net, b); }
  void toUser(const Bytes& b) { rx(user, b); }
  static void send(LAPD* l, const Bytes& b) {
    Packet p = packet(b);
    l->message(p);
  }
  void establish() {
    user->activate();
    pump();
    ASSERT_EQ(state(), S::MultipleFrameEstablished);
    ASSERT_EQ(net->fullState().state, S::MultipleFrameEstablished);
  }
  unsigned state() const { return user->fullState().state; }

  FrozenClock clock;
  std::vector<Bytes> wire;  // every frame pump() delivered
  Channel userCh, netCh;
  Owner userOwner, netOwner;
  LAPD* user = nullptr;
  LAPD* net = nullptr;
};

TEST_F(LapdLink, EstablishesAndCarriesIFramesBothWays) {
  EXPECT_EQ(state(), S::TeiAssigned);
  user->activate();
  EXPECT_EQ(state(), S::AwaitingEstablishment);
  EXPECT_EQ(hex(userCh.sent.front()), "00 01 7F");  // SABME: user command, C/R 0, P 1
  toNet(userCh.pop());
  EXPECT_EQ(hex(netCh.sent.front()), "00 01 73");  // UA: network response, C/R 0, F 1
  toUser(netCh.pop());
  EXPECT_EQ(userOwner.activated + netOwner.activated, 2);
  EXPECT_TRUE(user->fullState().T203run);
  EXPECT_FALSE(user->fullState().T200run);
  EXPECT_TRUE(userOwner.statuses.empty()) << userOwner.statuses.front();

  send(user, l3(1));
  send(user, l3(2));
  ASSERT_EQ(userCh.sent.size(), 2u);
  EXPECT_EQ(hex(userCh.sent[0]), "00 01 00 00 08 01 01 05 70 02 81 31");
  EXPECT_EQ(hex(userCh.sent[1]).substr(0, 11), "00 01 02 00");
  toNet(userCh.pop());
  EXPECT_EQ(hex(netCh.pop()), "00 01 01 02");  // RR response N(R)=1
  toNet(userCh.pop());
  EXPECT_EQ(hex(netCh.pop()), "00 01 01 04");
  ASSERT_EQ(netOwner.up.size(), 2u);
  EXPECT_EQ(netOwner.up[1], l3(2));

  send(net, l3(9));
  ASSERT_EQ(netCh.sent.size(), 1u);
  EXPECT_EQ(hex(netCh.sent[0]).substr(0, 11), "02 01 00 04");  // network command, N(S)=0, N(R)=2
  pump();
  ASSERT_EQ(userOwner.up.size(), 1u);
  EXPECT_EQ(userOwner.up[0], l3(9));
  EXPECT_EQ(user->ackQueued(), 0u);
  EXPECT_EQ(net->ackQueued(), 0u);
  EXPECT_EQ(unsigned(user->fullState().VS), 2u);
  EXPECT_EQ(unsigned(user->fullState().VR), 1u);
  EXPECT_EQ(user->stats().accepted, 1u);
  EXPECT_EQ(net->stats().accepted, 2u);
}

TEST_F(LapdLink, LostIFrameIsRecoveredByPollingAfterT200) {
  establish();
  send(user, l3(7));
  userCh.sent.clear();  // lost on the line
  elapse(999);
  EXPECT_TRUE(userCh.sent.empty());
  elapse(1);  // T200 is 1000 ms
  EXPECT_EQ(user->stats().t200, 1u);
  EXPECT_EQ(state(), S::TimerRecovery);
  ASSERT_EQ(userCh.sent.size(), 1u);
  EXPECT_EQ(hex(userCh.sent.front()), "00 01 01 01");  // RR command, P 1
  toNet(userCh.pop());
  EXPECT_EQ(hex(netCh.sent.front()), "00 01 01 01");  // RR response N(R)=0, F 1
  toUser(netCh.pop());
  EXPECT_EQ(state(), S::MultipleFrameEstablished);
  EXPECT_EQ(user->stats().retrains, 1u);
  ASSERT_EQ(userCh.sent.size(), 1u);
  EXPECT_EQ(hex(userCh.sent.front()).substr(0, 11), "00 01 00 00");  // N(S) 0 again
  pump();
  ASSERT_EQ(netOwner.up.size(), 1u);
  EXPECT_EQ(netOwner.up[0], l3(7));
  EXPECT_EQ(user->ackQueued(), 0u);
}

// SABME goes out N200 = 3 more times, 1000 ms apart, then the link gives up;
// an idle established link polls its peer after T203 = 10000 ms.
TEST_F(LapdLink, SilentPeerTimers) {
  user->activate();
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(hex(userCh.pop()), "00 01 7F");
    elapse(999);
    EXPECT_TRUE(userCh.sent.empty());
    elapse(1);
  }
  EXPECT_EQ(state(), S::TeiAssigned);
  EXPECT_EQ(userOwner.releases, std::vector<std::string>{"link error (T200 expired N200 times)"});
  EXPECT_TRUE(userOwner.hasStatus("Unsuccessful retransmission (N200 times) - SABME"));

  establish();
  elapse(9999);
  EXPECT_TRUE(userCh.sent.empty());
  elapse(1);
  EXPECT_EQ(hex(userCh.pop()), "00 01 01 01");  // RR command, P 1
  EXPECT_EQ(state(), S::TimerRecovery);
  EXPECT_EQ(user->stats().t203, 1u);
}

TEST_F(LapdLink, MalformedFramesAreIgnoredWithoutPendingWork) {
  establish();
  userCh.accept = 0;
  send(user, l3(1));  // refused by the channel: stays queued
  EXPECT_EQ(user->outQueued(), 1u);
  userCh.accept = -1;
  for (const Bytes& b : {Bytes{0x00}, Bytes{0x01, 0x01, 0x01, 0x02}, Bytes{0x00, 0x01},
                         Bytes{0x00, 0x00, 0x01, 0x00}, Bytes{0x00, 0x01, 0x01}})
    toUser(b);
  EXPECT_TRUE(userCh.sent.empty());
  EXPECT_EQ(state(), S::MultipleFrameEstablished);
  user->on_hdlc_ready();
  ASSERT_EQ(userCh.sent.size(), 1u);
  EXPECT_EQ(hex(userCh.sent.front()).substr(0, 11), "00 01 00 00");
}

TEST_F(LapdLink, OutgoingQueueLimitAndFlowStatus) {
  FlowRecorder flow;
  user->BindNotify(&flow);
  for (int i = 0; i < 128; ++i) send(user, l3(uint8_t(i)));
  EXPECT_EQ(user->outQueued(), 128u);
  EXPECT_EQ(user->stats().outOverflows, 0u);
  ASSERT_EQ(flow.calls.size(), 1u);  // at the 89th entry
  EXPECT_EQ(flow.calls[0], LAPD::FlowStatus::congested);
  EXPECT_EQ(flow.queued[0], 89u);
  send(user, l3(200));
  EXPECT_EQ(user->outQueued(), 128u);
  EXPECT_EQ(user->stats().outOverflows, 1u);
  Packet empty;
  user->message(empty);
  EXPECT_EQ(user->stats().emptyMessages, 1u);
  EXPECT_EQ(user->stats().l3Messages, 130u);

  // Queued before the link came up: sent once it is established.
  establish();
  pump();
  ASSERT_EQ(flow.calls.size(), 2u);
  EXPECT_EQ(flow.calls[1], LAPD::FlowStatus::normal);
  EXPECT_EQ(flow.queued[1], 64u);
  ASSERT_EQ(netOwner.up.size(), 128u);
  EXPECT_EQ(netOwner.up[127], l3(127));
}

TEST_F(LapdLink, OutOfSequenceIFramesAreRejectedOnce) {
  establish();
  Bytes i1 = cat({0x02, 0x01, 0x02, 0x00}, l3(3));  // N(S)=1 while V(R)=0
  toUser(i1);
  EXPECT_EQ(hex(userCh.pop()), "02 01 09 00");  // REJ response
  i1[3] = 0x01;                                 // P 1
  toUser(i1);
  EXPECT_EQ(hex(userCh.pop()), "02 01 01 01");  // only RR F 1 while the exception stands
  EXPECT_EQ(user->stats().rejected, 2u);
  EXPECT_TRUE(userOwner.up.empty());
  toUser(cat({0x02, 0x01, 0x00, 0x00}, l3(3)));
  EXPECT_EQ(userOwner.up.size(), 1u);
  EXPECT_FALSE(user->fullState().rejectException);
}

TEST_F(LapdLink, StrayUaDoesNotLoseUnacknowledgedFrames) {
  establish();
  send(user, l3(1));
  send(user, l3(2));
  userCh.sent.clear();
  toUser({0x00, 0x01, 0x63});  // UA F 0
  EXPECT_TRUE(userOwner.hasStatus("UA (F = 0)"));
  EXPECT_EQ(unsigned(user->fullState().VS), 2u);
  EXPECT_EQ(user->ackQueued(), 2u);
}

TEST_F(LapdLink, OversizedMessagesAreRefusedWhole) {
  establish();
  StreamCapture err(std::cerr);
  send(user, Bytes(packet_max_size - 7, 0x5A));
  EXPECT_NE(err.text().find("discard outgoing message: too long (4089 octets)"), std::string::npos);
  EXPECT_EQ(user->outQueued(), 0u);
  Bytes big(packet_max_size - 8, 0x5A);  // the largest that fits: sent whole
  send(user, big);
  pump();
  ASSERT_EQ(netOwner.up.size(), 1u);
  EXPECT_EQ(netOwner.up[0], big);
}

// The frames of a call's life, dissected by an independent LAPD/Q.931
// implementation (tshark on a LINKTYPE_LAPD capture): SABME, UA, I(SETUP),
// RR, I(CONNECT), RR, DISC, UA with address, U-frame modifier or S-frame
// type, N(S), N(R), P and the Q.931 message.
TEST_F(LapdLink, TsharkDissectsTheFramesAsSent) {
  establish();
  send(user, {0x08, 0x01, 0x05, 0x05, 0x04, 0x03, 0x80, 0x90, 0xA3, 0x70, 0x04, 0x81, '5', '5', '5'});
  pump();
  send(net, {0x08, 0x01, 0x85, 0x07});
  pump();
  user->deactivate();
  pump();
  std::vector<std::string> expect = {
      "0|0|0|0x1b||||1||||",   "0|0|0|0x18||||1||||",     "0|0|0|||0|0||0x05|0|05|555",
      "0|0|0||0x0000||1|||||", "0|1|0|||0|1||0x07|1|05|", "0|1|0||0x0000||1|||||",
      "0|0|0|0x10||||1||||",   "0|0|0|0x18||||1||||",
  };
  EXPECT_EQ(expect, dissect(wire, 203,
                            "-e lapd.sapi -e lapd.cr -e lapd.tei -e lapd.control.u_modifier_cmd "
                            "-e lapd.control.s_ftype -e lapd.control.n_s -e lapd.control.n_r -e lapd.control.p "
                            "-e q931.message_type -e q931.call_ref_flag -e q931.call_ref "
                            "-e q931.called_party_number.digits"));
}

// ---- TEI assignment on a BRI user side ------------------------------------------

class LapdTei : public LapdLink {
 protected:
  void SetUp() override {
    LapdLink::SetUp();
    user->change_to_bri();
  }
  // The network's management frame: Ri low octet first, type, Ai.
  void tei(uint16_t ri, uint8_t type, uint8_t ai) {
    toUser({0xFE, 0xFF, 0x03, 0x0F, uint8_t(ri & 0xFF), uint8_t(ri >> 8), type, uint8_t(ai * 2 + 1)});
  }
  // The next frame must be an identity request (type 1, Ai 127); its Ri.
  uint16_t request() {
    Bytes r = userCh.pop();
    if (r.size() != 8) return 0;
    EXPECT_EQ(hex(r).substr(0, 11), "FC FF 03 0F");
    EXPECT_EQ(hex(r).substr(18), "01 FF");
    EXPECT_EQ(r[4] | (r[5] << 8), user->teiRequestRi());
    return uint16_t(r[4] | (r[5] << 8));
  }
};

TEST_F(LapdTei, RemovedTeiIsAskedForAgainAndAssigned) {
  user->set_linkno(3);
  user->set_log(2);
  StreamCapture log(std::clog);
  tei(0, 6, 127);  // identity remove, every TEI
  EXPECT_EQ(state(), S::AssignAwaitingTei);
  EXPECT_NE(log.text().find("LAPD[3] : change state \"TEI assigned\" -> \"TEI unassigned\"\n"), std::string::npos);
  EXPECT_TRUE(user->fullState().T202run);
  uint16_t ri = request();
  tei(uint16_t(ri ^ 1), 2, 70);  // assigned to another terminal's request
  tei(ri, 3, 127);               // denied: reported, still waiting
  EXPECT_EQ(state(), S::AssignAwaitingTei);
  EXPECT_TRUE(userOwner.hasStatus("Tei Assign - Tei denied"));
  tei(ri, 2, 70);
  EXPECT_EQ(state(), S::TeiAssigned);
  EXPECT_EQ(user->fullState().selfTEI, 70);
  EXPECT_FALSE(user->fullState().T202run);
  tei(0, 4, 127);  // check request: answered with the own TEI
  EXPECT_EQ(hex(userCh.pop()), hex({0xFC, 0xFF, 0x03, 0x0F, uint8_t(ri & 0xFF), uint8_t(ri >> 8), 0x05, 0x8D}));
  // A broadcast UI message brings the link up and goes to layer 3.
  toUser({0x02, 0xFF, 0x03, 0x08, 0x01, 0x05, 0x05});
  EXPECT_EQ(userOwner.up, (std::vector<Bytes>{{0x08, 0x01, 0x05, 0x05}}));
  EXPECT_EQ(hex(userCh.pop()), "00 8D 7F");  // SABME from TEI 70
}

TEST_F(LapdTei, FiveUnansweredRequestsReleaseAndAMessageAsksAgain) {
  tei(0, 6, 127);
  request();
  for (int i = 2; i <= 5; ++i) {
    elapse(1999);
    EXPECT_TRUE(userCh.sent.empty());
    elapse(1);  // T202 is 2000 ms
    request();
  }
  elapse(2000);
  EXPECT_TRUE(userCh.sent.empty());
  EXPECT_EQ(state(), S::TeiUnassigned);
  EXPECT_EQ(user->stats().t202, 5u);
  EXPECT_EQ(userOwner.releases, std::vector<std::string>{"link error (T202 expired N202 times)"});

  send(user, l3(1));  // no TEI: the message waits and a TEI is asked for
  EXPECT_EQ(state(), S::AssignAwaitingTei);
  uint16_t ri = request();
  EXPECT_EQ(user->outQueued(), 1u);
  tei(ri, 2, 64);
  user->activate();
  EXPECT_EQ(hex(userCh.pop()), "00 81 7F");
}

}  // namespace
