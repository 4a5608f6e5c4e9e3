// The Q.921 data link: a user-side and a network-side link joined back to
// back, hand-made peer frames, timers on a frozen loop clock, and the TEI
// assignment of a BRI user side.
#include <gtest/gtest.h>

#include <functional>
#include <type_traits>

#include "links/lapd.h"
#include "runtime/test_loop_support.h"
#include "test_lapd_harness.h"

using namespace LapdTest;
using ISDN::LAPD;
typedef ISDN::LAPDFullState S;
static_assert(std::is_same<decltype(&LAPD::report_congestion), void (LAPD::*)()>::value &&
              std::is_same<decltype(&LAPD::release_congestion), void (LAPD::*)()>::value, "the flow status members");

namespace {

class FlowRecorder : public LAPD::Notify {
 public:
  void OnLAPD_FlowStatusChange(LAPD* l) override { calls.push_back({l->GetFlowStatus(), int(l->outQueued())}); }
  std::vector<std::pair<int, int>> calls;
};

Bytes l3(uint8_t id) { return {0x08, 0x01, id, 0x05, 0x70, 0x02, 0x81, 0x31}; }

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
      if (!userCh.sent.empty()) rx(net, wire.emplace_back(userCh.pop()));
      if (!netCh.sent.empty()) rx(user, wire.emplace_back(netCh.pop()));
    }
  }
  static void rx(LAPD* l, const Bytes& b) {
    Packet p = packet(b);
    l->receive(p);
  }
  void toUser(const char* h) { rx(user, H(h)); }
  static void send(LAPD* l, const Bytes& b) {
    Packet p = packet(b);
    l->message(p);
  }
  void establish() {
    user->activate();
    pump();
    ASSERT_EQ(state(), S::MultipleFrameEstablished);
    ASSERT_EQ(net->fullState().state, S::MultipleFrameEstablished);
    wire.clear();
  }
  unsigned state() const { return user->fullState().state; }
  // Whether the user side stays silent for ms more on the clock.
  bool quietFor(unsigned ms) {
    elapse(ms);
    return userCh.sent.empty();
  }
  // The user side's next frame, the first `n` octets as hex.
  std::string next(size_t n = 64) { return hex(userCh.pop()).substr(0, 3 * n - 1); }

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
  pump();
  send(user, l3(1));
  send(user, l3(2));
  pump();
  send(net, l3(9));
  pump();
  // SABME (user command, C/R 0, P 1), UA (network response, F 1), I frames
  // N(S) 0 and 1 answered by RR N(R) 1 and 2, the network's I frame (command,
  // N(S) 0, N(R) 2) answered by RR N(R) 1.
  std::vector<std::string> got;
  for (const Bytes& f : wire) got.push_back(hex(f).substr(0, 11));
  EXPECT_EQ(got, (std::vector<std::string>{"00 01 7F", "00 01 73", "00 01 00 00", "00 01 01 02", "00 01 02 00",
                                           "00 01 01 04", "02 01 00 04", "02 01 01 02"}));
  EXPECT_EQ(hex(wire[2]), "00 01 00 00 08 01 01 05 70 02 81 31");
  EXPECT_EQ(userOwner.activated + netOwner.activated, 2);
  EXPECT_TRUE(user->fullState().T203run);
  EXPECT_FALSE(user->fullState().T200run);
  EXPECT_TRUE(userOwner.statuses.empty()) << userOwner.statuses.front();
  EXPECT_EQ(netOwner.up, (std::vector<Bytes>{l3(1), l3(2)}));
  EXPECT_EQ(userOwner.up, (std::vector<Bytes>{l3(9)}));
  EXPECT_EQ(user->ackQueued() + net->ackQueued(), 0u);
  EXPECT_EQ(unsigned(user->fullState().VS), 2u);
  EXPECT_EQ(unsigned(user->fullState().VR), 1u);
  EXPECT_EQ(user->stats().accepted, 1u);
  EXPECT_EQ(net->stats().accepted, 2u);
  unsigned stateUp = 0;
  userOwner.onUp = [&] { stateUp = state(); };
  rx(user, cat(H("02 01 02 0A"), l3(4)));  // N(S) 1, N(R) 5 beyond V(S) 2: up first, then the N(R) error
  EXPECT_EQ(stateUp, S::MultipleFrameEstablished);
  EXPECT_EQ(userOwner.statuses, std::vector<std::string>{"Other - N(R) error"});
  EXPECT_EQ(state(), S::AwaitingEstablishment);
}

TEST_F(LapdLink, LostIFrameIsRecoveredByPollingAfterT200) {
  establish();
  send(user, l3(7));
  userCh.sent.clear();  // lost on the line
  EXPECT_TRUE(quietFor(999));
  StreamCapture log(std::clog);
  elapse(1);  // T200 is 1000 ms
  EXPECT_EQ(log.text().find("ack expired"), std::string::npos);  // a trace line only
  EXPECT_EQ(user->stats().t200, 1u);
  EXPECT_EQ(state(), S::TimerRecovery);
  pump();
  // RR command P 1, RR response N(R) 0 F 1, then N(S) 0 again.
  EXPECT_EQ(hex(wire[0]) + " | " + hex(wire[1]) + " | " + hex(wire[2]).substr(0, 11),
            "00 01 01 01 | 00 01 01 01 | 00 01 00 00");
  EXPECT_EQ(state(), S::MultipleFrameEstablished);
  EXPECT_EQ(user->stats().retrains, 1u);
  EXPECT_EQ(netOwner.up, (std::vector<Bytes>{l3(7)}));
  EXPECT_EQ(user->ackQueued(), 0u);
}

// SABME goes out N200 = 3 more times, 1000 ms apart, then the link gives up;
// an idle established link polls its peer after T203 = 10000 ms.
TEST_F(LapdLink, SilentPeerTimers) {
  user->activate();
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(next(), "00 01 7F");
    EXPECT_TRUE(quietFor(999));
    elapse(1);
  }
  EXPECT_EQ(state(), S::TeiAssigned);
  EXPECT_EQ(userOwner.releases, std::vector<std::string>{"link error (T200 expired N200 times)"});
  EXPECT_TRUE(userOwner.hasStatus("Unsuccessful retransmission (N200 times) - SABME"));

  establish();
  EXPECT_TRUE(quietFor(9999));
  elapse(1);
  EXPECT_EQ(next(), "00 01 01 01");  // RR command, P 1
  EXPECT_EQ(state(), S::TimerRecovery);
  EXPECT_EQ(user->stats().t203, 1u);
}

// A SABME without poll from the network is answered by a UA without final.
TEST_F(LapdLink, PeerStartsTheLink) {
  toUser("02 01 6F");
  EXPECT_EQ(next(), "02 01 63");
  EXPECT_EQ(state(), S::MultipleFrameEstablished);
  EXPECT_EQ(userOwner.activated, 1);
}

// Malformed frames are ignored; an out-of-sequence I frame is rejected once
// (then only answered while the exception stands); a stray UA loses no
// unacknowledged frame.
TEST_F(LapdLink, PeerMistakes) {
  establish();
  userCh.accept = 0;
  send(user, l3(1));  // refused by the channel: stays queued
  EXPECT_EQ(user->outQueued(), 1u);
  userCh.accept = -1;
  for (const char* f : {"00", "01 01 01 02", "00 01", "00 00 01 00", "00 01 01", "15 01 7F"}) toUser(f);
  EXPECT_TRUE(userCh.sent.empty());
  EXPECT_EQ(state(), S::MultipleFrameEstablished);
  EXPECT_EQ(user->fullState().peerSAPI, 5);  // kept from the last one, dropped for its EA bit
  user->on_hdlc_ready();
  EXPECT_EQ(next(4), "00 01 00 00");

  Bytes i1 = cat(H("02 01 02 00"), l3(3));  // N(S)=1 while V(R)=0
  rx(user, i1);
  EXPECT_EQ(next(), "02 01 09 00");  // REJ response
  i1[3] = 0x01;                      // P 1
  rx(user, i1);
  EXPECT_EQ(next(), "02 01 01 01");  // only RR F 1 while the exception stands
  EXPECT_EQ(user->stats().rejected, 2u);
  EXPECT_TRUE(userOwner.up.empty());
  rx(user, cat(H("02 01 00 00"), l3(3)));
  EXPECT_EQ(userOwner.up.size(), 1u);
  EXPECT_FALSE(user->fullState().rejectException);

  send(user, l3(2));
  userCh.sent.clear();
  toUser("00 01 63");  // UA F 0
  EXPECT_TRUE(userOwner.hasStatus("UA (F = 0)"));
  EXPECT_EQ(unsigned(user->fullState().VS), 2u);
  EXPECT_EQ(user->ackQueued(), 2u);
  toUser("02 01 53");  // DISC, P 1: outside the running states a UA starts the numbers again
  EXPECT_EQ(state(), S::TeiAssigned);
  toUser("00 01 73");  // UA F 1
  EXPECT_EQ(unsigned(user->fullState().VS) + user->fullState().VA + user->fullState().VR, 0u);
}

// 128 messages wait at most; the flow turns congested at the 89th and
// normal again at 64. Oversized messages are refused whole.
TEST_F(LapdLink, OutgoingQueueLimitsAndSizes) {
  FlowRecorder flow;
  user->BindNotify(&flow);
  for (int i = 0; i < 128; ++i) send(user, l3(uint8_t(i)));
  EXPECT_EQ(user->outQueued(), 128u);
  EXPECT_EQ(user->stats().outOverflows, 0u);
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
  typedef std::pair<int, int> F;
  EXPECT_EQ(flow.calls, (std::vector<F>{F{LAPD::FlowStatus::congested, 89}, F{LAPD::FlowStatus::normal, 64}}));
  ASSERT_EQ(netOwner.up.size(), 128u);
  EXPECT_EQ(netOwner.up[127], l3(127));

  StreamCapture err(std::cerr);
  send(user, Bytes(packet_max_size - 7, 0x5A));
  EXPECT_NE(err.text().find("discard outgoing message: too long (4089 octets)"), std::string::npos);
  EXPECT_EQ(user->outQueued(), 0u);
  Bytes big(packet_max_size - 8, 0x5A);  // the largest that fits: sent whole
  send(user, big);
  pump();
  EXPECT_EQ(netOwner.up.back(), big);
}

// The frames of a call's life, dissected by an independent LAPD/Q.931
// implementation (tshark on a LINKTYPE_LAPD capture): SABME, UA, I(SETUP),
// RR, I(CONNECT), RR, DISC, UA with address, U-frame modifier or S-frame
// type, N(S), N(R), P and the Q.931 message.
TEST_F(LapdLink, TsharkDissectsTheFramesAsSent) {
  user->activate();
  pump();
  send(user, H("08 01 05 05 04 03 80 90 A3 70 04 81 35 35 35"));
  pump();
  send(net, H("08 01 85 07"));
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
    rx(user, {0xFE, 0xFF, 0x03, 0x0F, uint8_t(ri & 0xFF), uint8_t(ri >> 8), type, uint8_t(ai * 2 + 1)});
  }
  // The next frame must be an identity request (type 1, Ai 127); its Ri.
  uint16_t request() {
    Bytes r = userCh.pop();
    uint16_t ri = r.size() == 8 ? uint16_t(r[4] | (r[5] << 8)) : 0;
    EXPECT_EQ(hex(r), hex({0xFC, 0xFF, 0x03, 0x0F, uint8_t(ri), uint8_t(ri >> 8), 0x01, 0xFF}));
    EXPECT_EQ(ri, user->teiRequestRi());
    return ri;
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
  EXPECT_EQ(next(), hex({0xFC, 0xFF, 0x03, 0x0F, uint8_t(ri & 0xFF), uint8_t(ri >> 8), 0x05, 0x8D}));
  // A broadcast UI message brings the link up and goes to layer 3.
  toUser("02 FF 03 08 01 05 05");
  EXPECT_EQ(userOwner.up, (std::vector<Bytes>{H("08 01 05 05")}));
  EXPECT_EQ(next(), "00 8D 7F");  // SABME from TEI 70
}

// Five unanswered requests, T202 = 2000 ms apart, release the link; a
// message in state 0 then waits and asks for a TEI.
TEST_F(LapdTei, FiveUnansweredRequestsReleaseAndAMessageAsksAgain) {
  tei(0, 6, 127);
  request();
  for (int i = 2; i <= 5; ++i) {
    EXPECT_TRUE(quietFor(1999));
    elapse(1);
    request();
  }
  EXPECT_TRUE(quietFor(2000));
  EXPECT_EQ(state(), S::TeiUnassigned);
  EXPECT_EQ(user->stats().t202, 5u);
  EXPECT_EQ(userOwner.releases, std::vector<std::string>{"link error (T202 expired N202 times)"});

  send(user, l3(1));
  EXPECT_EQ(state(), S::AssignAwaitingTei);
  net->change_to_bri();
  rx(net, H("FC FF 03 0F 12 34 06 FF"));  // identity remove: a network side only waits with its message
  send(net, l3(1));
  EXPECT_EQ(net->fullState().state, S::AssignAwaitingTei);
  EXPECT_TRUE(netCh.sent.empty() && net->outQueued() == 1u);
  uint16_t ri = request();
  EXPECT_EQ(user->outQueued(), 1u);
  tei(ri, 2, 64);
  user->activate();
  EXPECT_EQ(next(), "00 81 7F");
}

// An assigned TEI starts T200 (1000 ms) in place of T202, whether the link
// only waited for its TEI or layer 3 asked to establish meanwhile (where the
// SABME's own T200 start finds T202 still running).
TEST_F(LapdTei, AssignedTeiStartsT200InPlaceOfT202) {
  struct Row {
    bool establish;
    unsigned state;
    const char* at_t200;  // the frame T200's expiry sends
    std::vector<std::string> statuses;
  } rows[] = {{false, S::TeiAssigned, "", {}},
              {true, S::AwaitingEstablishment, "00 8D 7F", {"trying to start T200 while T202 running"}}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.establish);
    tei(0, 6, 127);
    uint16_t ri = request();
    if (row.establish) user->activate();
    userOwner.statuses.clear();
    tei(ri, 2, 70);
    EXPECT_EQ(state(), row.state);
    EXPECT_EQ(userOwner.statuses, row.statuses);
    EXPECT_TRUE(user->fullState().T200run);
    EXPECT_FALSE(user->fullState().T202run);
    userCh.sent.clear();
    unsigned expired = user->stats().t200;
    EXPECT_TRUE(quietFor(999));
    elapse(1);
    EXPECT_EQ(user->stats().t200, expired + 1);
    EXPECT_EQ(userCh.sent.empty() ? "" : next(), row.at_t200);
    EXPECT_EQ(user->stats().t202, 0u);
  }
}

// The network's SABME within that second hands the one timer to T203 (its
// report given, T200 no longer marked running), so the first I frame gets a
// whole T200 again.
TEST_F(LapdTei, SabmeWithinT200AfterAssignmentHandsTheTimerToT203) {
  tei(0, 6, 127);
  tei(request(), 2, 70);
  elapse(500);
  toUser("02 8D 7F");
  EXPECT_EQ(next(), "02 8D 73");
  EXPECT_EQ(userOwner.statuses, std::vector<std::string>{"trying to start T203 while T200 running"});
  EXPECT_FALSE(user->fullState().T200run);
  send(user, l3(1));
  EXPECT_EQ(next(4), "00 8D 00 00");
  EXPECT_TRUE(quietFor(999));
  elapse(1);
  EXPECT_EQ(next(), "00 8D 01 01");  // RR command, P 1
  EXPECT_EQ(state(), S::TimerRecovery);
}

// At trace level 0 a solicited RR, a T203 expiry, a refused frame, a T200 expiry in
// recovery and an identity remove are still logged; a polling RR command is not.
TEST_F(LapdTei, LinesLoggedAtTraceLevelZero) {
  establish();
  const char* const solicited = "LAPD[0] (Multiple frame established): receive RR (solicited response) in MFE_EST\n";
  struct Row {
    std::function<void()> act;
    const char* line;
    bool logged = true;
  } rows[] = {{[this] { toUser("02 01 01 01"); }, solicited, false},  // RR command, P 1
              {[this] { toUser("00 01 01 01"); }, solicited},         // RR response, F 1
              {[] { elapse(10000); }, "LAPD[0] (Multiple frame established): T203.\n"},
              {[this] {
                 userCh.accept = 0;
                 elapse(1000);  // T200: the enquiry is refused
               },
               "LAPD[0] (Timer recovery): tx full\n"},
              {[] { elapse(1000); }, "LAPD[0] (Timer recovery): ack timeout expired RC=1\n"},
              {[this] { tei(0, 6, 127); }, "LAPD[0] (Timer recovery): MDL-REMOVE\n"}};
  for (const Row& row : rows) {
    StreamCapture log(std::clog);
    row.act();
    EXPECT_EQ(log.text().find(row.line) != std::string::npos, row.logged) << row.line << "in:\n" << log.text();
  }
  EXPECT_EQ(state(), S::AssignAwaitingTei);
}

}  // namespace
