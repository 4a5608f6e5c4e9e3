// The control server with a test controller over loopback TCP: decoding,
// slot check, bind-order dispatch, the exactly-once answer rules,
// signals, the heartbeat's time-out on the loop clock, services without a
// server or link.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "control/acceptor.h"
#include "control/ctrl_server.h"
#include "control/heartbeat.h"
#include "control_test_support.h"
#include "runtime/os/clock.h"

using ctltest::Bytes;
using ctltest::Capture;
using ctltest::Client;
using ctltest::Decode;
using ctltest::Encode;
using ctltest::Hex;
using ctltest::Loop;

namespace {

// A command message; seq < 0 and slot < 0 leave the field out.
LGCP::Message Command(int seq, int slot, const std::function<void(LGCP::Command&)>& fill) {
  LGCP::Message m;
  if (seq >= 0) m.set_seq(seq);
  if (slot >= 0) m.set_slot(static_cast<unsigned int>(slot));
  fill(m.set_pdu().select_command());
  return m;
}

LGCP::Message Query(int seq, int slot) {
  return Command(seq, slot, [](LGCP::Command& c) { c.select_query(); });
}

// A service taking `query`, answering as the test tells it.
class Probe : public CtrlSrv::Service {
 public:
  explicit Probe(const char* n) : name(n) {}
  void OnConnect() override { journal->push_back(name + ".connect"); }
  void OnDisconnect() override { journal->push_back(name + ".disconnect"); }
  bool OnCommand(const LGCP::Command& c) override {
    journal->push_back(name + ".command");
    ++commands;
    seen_slot = GetSlot();
    seen_slot_present = IsSlotPresent();
    if (!takes || !c.query_isSelected()) return false;
    if (answer) answer(*this);
    return true;
  }
  void OnSignal(const LGCP::Signal&) override { journal->push_back(name + ".signal"); }

  std::string name;
  std::vector<std::string>* journal = nullptr;
  bool takes = false;
  std::function<void(Probe&)> answer;
  int seen_slot = -2;
  bool seen_slot_present = false;
  int commands = 0;
};

class CtrlServer : public ::testing::Test {
 protected:
  void SetUp() override {
    a.journal = &journal;
    b.journal = &journal;
    server.Bind(&HeartBeatCtl::instance());
    server.Bind(&a);
    server.Bind(&b);
    acceptor = new Control::AcceptorCheckConnection(0, false);
    ASSERT_TRUE(server.Activate(acceptor));
    EXPECT_EQ("server", acceptor->service_name());
    ASSERT_TRUE(client.Connect(acceptor->bound_port()));
    ASSERT_TRUE(loop.RunUntil([&] { return acceptor->IsConnected(); }));
    journal.clear();
  }
  void TearDown() override { server.Deactivate(); }

  // Sends one payload and collects `n` answers (checking no more follow).
  std::vector<Bytes> Exchange(const Bytes& payload, size_t n) {
    client.SendFrame(payload);
    std::vector<Bytes> got;
    auto take = [&] {
      for (Bytes f; client.TakeFrame(f);) got.push_back(f);
      return got.size() >= n;
    };
    loop.RunUntil(take);
    loop.RunFor(5);
    take();
    return got;
  }

  CtrlSrv::Server server;
  Control::AcceptorCheckConnection* acceptor = nullptr;
  std::vector<std::string> journal;
  Probe a{"a"}, b{"b"};
  Client client;
  Loop loop;
};

// The exactly-once answer rules, one row per command on one connection: what
// service a does with a query, and the answers on the wire.
TEST_F(CtrlServer, EveryCommandGetsItsAnswersByTheRules) {
  typedef LGCP::ErrorCause E;
  struct Row {
    const char* name;
    LGCP::Message command;
    std::function<void(Probe&)> answer;  // null: a does not take it
    std::vector<std::string> answers;
  } rows[] = {
      {"nobody takes it: offered in bind order, refused",
       Command(9, -1, [](LGCP::Command& c) { c.select_disconnect(); }), nullptr, {"80 01 09 64"}},
      {"no seq: none in the answer", Query(-1, 12), [](Probe& p) { p.Success(); }, {"40 00 0C 40"}},
      {"success, then one error; the rest ignored", Query(1, -1),
       [](Probe& p) { p.Success(), p.Success(), p.Error(E::busError), p.Error(E::internal); },
       {"80 01 01 40", "80 01 01 6A"}},
      {"an error, then nothing", Query(2, -1), [](Probe& p) { p.Error(E::slotNotExists), p.Success(); },
       {"80 01 02 63"}},
      {"taken but left unanswered: internal", Query(3, -1), [](Probe&) {}, {"80 01 03 65"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    journal.clear();
    a.takes = row.answer != nullptr;
    a.answer = row.answer;
    Capture err(std::cerr);
    std::vector<std::string> got;
    for (const Bytes& f : Exchange(Encode(row.command), row.answers.size())) got.push_back(Hex(f));
    EXPECT_EQ(row.answers, got);
    std::vector<std::string> offered = {"a.command", "b.command"};
    offered.resize(a.takes ? 1 : 2);
    EXPECT_EQ(offered, journal);
    EXPECT_EQ(row.command.slot_isPresent() ? int(row.command.get_slot().getValue()) : -1, a.seen_slot);
    EXPECT_EQ(row.command.slot_isPresent(), a.seen_slot_present);
    EXPECT_EQ(-1, a.GetSlot());  // cleared after the message
    EXPECT_EQ(std::string(row.name).find("internal") != std::string::npos ? 1u : 0u,
              err.count("]: software error: server do NOT send ack!!!\n"));
  }
}

TEST_F(CtrlServer, DelayedAnswersKeepTheCommandsSeqOrItsAbsence) {
  const int none = -1;
  // One row per delayed command: its seq (or none) and slot. Seqs that look
  // like another command's ticket must not swap the answers.
  struct Row {
    bool has_seq;
    int seq, slot;
  } rows[] = {{true, 11, 4},  {false, none, 1}, {true, -2147483647 - 1, 2}, {false, none, 3},
              {true, -2147483647, 5}, {true, 11, 6}, {true, 0, 7}};
  std::vector<unsigned int> tickets;
  a.takes = true;
  a.answer = [&](Probe& p) { tickets.push_back(p.delayResponse()); };
  for (const Row& r : rows) {
    LGCP::Message m = Query(-1, r.slot);
    if (r.has_seq) m.set_seq(r.seq);
    client.SendFrame(Encode(m));
    ASSERT_TRUE(loop.RunUntil([&] { return tickets.size() == size_t(a.commands); }));
  }
  ASSERT_TRUE(loop.RunUntil([&] { return a.commands == 7; }));
  EXPECT_EQ(0u, client.available());  // no internal error: the answers are delayed
  EXPECT_EQ(11u, tickets[0]);         // a seq is its own ticket
  // A number that is no ticket is sent as the seq.
  a.delayedSuccess(9, 77);
  Bytes raw;
  ASSERT_TRUE(loop.RunUntil([&] { return client.TakeFrame(raw); }));
  EXPECT_EQ("C0 01 4D 00 09 40", Hex(raw));
  // Answered in reverse order, each with its own seq or none.
  for (size_t i = std::size(rows); i-- > 0;) a.delayedSuccess(unsigned(rows[i].slot), tickets[i]);
  loop.RunFor(5);
  for (size_t i = std::size(rows); i-- > 0;) {
    Bytes f;
    ASSERT_TRUE(client.TakeFrame(f)) << i;
    LGCP::Message m = Decode(f);
    EXPECT_EQ(unsigned(rows[i].slot), m.get_slot().getValue());
    ASSERT_EQ(rows[i].has_seq, m.seq_isPresent()) << "slot " << rows[i].slot << ": " << Hex(f);
    EXPECT_TRUE(!rows[i].has_seq || rows[i].seq == m.get_seq().getValue()) << rows[i].seq;
  }
}

TEST_F(CtrlServer, SignalsReachTheOtherServicesFirstAndCarryTheCommandsSlot) {
  a.takes = true;
  a.answer = [](Probe& p) {
    p.Success();
    LGCP::Signal s;
    s.select_activated();
    p.SendSignal(s);
  };
  std::vector<Bytes> r = Exchange(Encode(Query(1, 77)), 2);
  ASSERT_EQ(2u, r.size());
  EXPECT_TRUE(Decode(r[0]).get_pdu().response_isSelected());  // answer first
  LGCP::Message sig = Decode(r[1]);
  EXPECT_FALSE(sig.seq_isPresent());
  EXPECT_EQ(77u, sig.get_slot().getValue());
  EXPECT_TRUE(sig.get_pdu().get_signal().activated_isSelected());
  std::vector<std::string> want = {"a.command", "b.signal"};  // never to itself
  EXPECT_EQ(want, journal);

  // Outside a command: no slot unless given.
  LGCP::Signal s;
  s.select_activated();
  b.SendSignal(s);
  b.SendSignal(900, s);
  loop.RunFor(5);
  Bytes f;
  ASSERT_TRUE(client.TakeFrame(f));
  EXPECT_FALSE(Decode(f).slot_isPresent());
  ASSERT_TRUE(client.TakeFrame(f));
  EXPECT_EQ(900u, Decode(f).get_slot().getValue());
}

// The controller's silence is measured on the loop clock: the link stays
// 115000 ms after a ping and drops at 120000 ms.
TEST_F(CtrlServer, HeartbeatDropsAControllerSilentFor120Seconds) {
  Capture log(std::clog);
  LGCP::Message ping = Command(1, -1, [](LGCP::Command& c) { c.select_ping(); });
  EXPECT_EQ(std::vector<Bytes>{ctltest::H("80 01 01 40")}, Exchange(Encode(ping), 1));
  Mux::advanceClock(115000);
  loop.RunFor(20);
  EXPECT_TRUE(acceptor->IsConnected()) << "dropped before 120000 ms";
  Mux::advanceClock(5000);
  loop.RunFor(20);
  EXPECT_FALSE(acceptor->IsConnected()) << "not dropped at 120000 ms";
  EXPECT_EQ(1u, log.count("heartbeat timeout!!!\n"));
}

TEST(CtrlService, UnboundOrUnlinkedAServiceSendsNothingAndSaysWhy) {
  Probe lone("lone");
  Capture err(std::cerr);
  LGCP::Signal sig;
  sig.select_activated();
  lone.Success();
  lone.Error(LGCP::ErrorCause::internal);
  lone.SendSignal(sig);
  lone.SendSignal(3, sig);
  lone.delayedSuccess(1, 2);
  EXPECT_EQ(~0u, lone.delayResponse());
  EXPECT_EQ(-1, lone.GetSlot());
  EXPECT_FALSE(lone.IsSlotPresent());
  bool connected = true;
  EXPECT_FALSE(lone.CheckServerConnection(connected));
  EXPECT_EQ(8u, err.count("CtrlSrv::Service error! service not connected to server.\n"));
  CtrlSrv::Server unlinked;
  unlinked.Bind(&lone);
  lone.Success();
  EXPECT_EQ(1u, err.count("ctrl [null]: send fail: Service not attached!\n"));
  EXPECT_FALSE(lone.CheckServerConnection(connected));
}

}  // namespace
