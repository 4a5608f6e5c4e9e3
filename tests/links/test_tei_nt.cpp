// Network-side TEI management of a BRI line and the per-terminal links.
#include <gtest/gtest.h>

#include "links/lapd_nt.h"
#include "runtime/test_loop_support.h"
#include "test_lapd_harness.h"

using namespace LapdTest;
using ISDN::LAPD_NT;
using ISDN::LAPD_NT_user;

namespace {

class TeiNt : public ::testing::Test {
 protected:
  void SetUp() override {
    nt = new LAPD_NT;
    owner.add_protocol_tail(nt);
  }
  void rx(const Bytes& b) {
    Packet p = packet(b);
    nt->receive(p);
  }
  void l3(const char* h) {
    Packet p = packet(H(h));
    nt->message(p);
  }
  // A management frame: C/R (0xFC from a terminal, 0xFE to it), Ri low
  // octet first, type (1 identity request, 5 check response), Ai.
  static Bytes identity(uint16_t ri, unsigned type, unsigned ai, uint8_t sapi = 0xFE) {
    return {sapi, 0xFF, 0x03, 0x0F, uint8_t(ri & 0xFF), uint8_t(ri >> 8), uint8_t(type), uint8_t(ai * 2 + 1)};
  }
  void request(uint16_t ri, unsigned ai) { rx(identity(ri, 1, ai, 0xFC)); }
  // The next frame sent, as hex.
  std::string pop() {
    if (owner.down.empty()) return "";
    Bytes b = owner.down.front();
    owner.down.pop_front();
    return hex(b);
  }
  const LAPD_NT_user* entryWithTei(unsigned tei) {
    for (unsigned i = 0; i < LAPD_NT::kUsers; ++i)
      if (nt->user(i).is_assigned() && nt->user(i).get_Tei() == tei) return &nt->user(i);
    return nullptr;
  }

  FrozenClock clock;
  Owner owner;
  LAPD_NT* nt = nullptr;
};

TEST_F(TeiNt, EightTerminalsGetTeisAndTheNinthIsDenied) {
  for (unsigned i = 0; i < 8; ++i) {
    request(uint16_t(0x1234 + i), 127);
    EXPECT_EQ(pop(), hex(identity(uint16_t(0x1234 + i), 2, 64 + i)));
    EXPECT_EQ(pop(), hex({0x02, uint8_t((64 + i) * 2 + 1), 0x7F}));  // SABME P 1 to the terminal
  }
  request(0x5555, 127);
  EXPECT_EQ(pop(), hex(identity(0x5555, 3, 127)));
  EXPECT_TRUE(owner.down.empty());
  for (unsigned i = 0; i < 8; ++i) ASSERT_NE(entryWithTei(64 + i), nullptr);
}

TEST_F(TeiNt, SilentTerminalLosesItsTeiAfterTheCheck) {
  request(7, 127);
  nt->set_log(2);
  StreamCapture log(std::clog);
  nt->activate();
  EXPECT_NE(log.text().find("LAPD(NT BRI): Checking Tei values....\n"), std::string::npos);
  owner.down.clear();
  elapse(2000);  // the check answer wait
  EXPECT_EQ(entryWithTei(64), nullptr);
  EXPECT_TRUE(owner.down.empty());
  // A check answer for a TEI nobody holds takes a free entry.
  rx(identity(5, 5, 80, 0xFC));
  ASSERT_NE(entryWithTei(80), nullptr);
  EXPECT_EQ(entryWithTei(80)->checkRi(), 5);
  nt->deactivate();
  EXPECT_EQ(entryWithTei(80), nullptr);
}

TEST_F(TeiNt, MessagesAreRoutedByCallReference) {
  request(1, 127);
  request(2, 127);
  owner.down.clear();
  // Terminal 65 sends a SETUP with call reference 3 and asks for an answer.
  rx(H("00 83 00 01 08 01 03 05"));
  EXPECT_EQ(pop(), "00 83 01 03");  // RR response N(R)=1 F 1
  ASSERT_EQ(owner.up.size(), 1u);
  EXPECT_EQ(hex(owner.up[0]), "08 01 03 05");
  EXPECT_EQ(entryWithTei(65)->callref(), 3u);
  l3("08 01 83 07");  // CONNECT back on the same call
  EXPECT_EQ(pop(), "02 83 00 03 08 01 83 07");
  EXPECT_EQ(entryWithTei(65)->state(), LAPD_NT_user::WaitAnswer);
  EXPECT_EQ(entryWithTei(65)->ackQueued(), 1u);
  rx(H("00 83 01 02"));  // RR command N(R)=1
  EXPECT_EQ(entryWithTei(65)->ackQueued(), 0u);
  EXPECT_EQ(entryWithTei(65)->state(), LAPD_NT_user::Assigned);
  l3("08 01 44 07");  // no terminal holds call 0x44
  l3("08 01");
  EXPECT_TRUE(owner.down.empty());
  l3("08 01 09 05");  // SETUP goes out as a broadcast
  EXPECT_EQ(pop(), "02 FF 03 08 01 09 05");
  // Out of sequence: REJ with F = P.
  rx(H("00 83 08 01 08 01 03 05"));
  EXPECT_EQ(pop(), "00 83 09 03");
}

TEST_F(TeiNt, UnacknowledgedFramesAreRetransmitted) {
  request(1, 127);
  rx(H("00 81 00 00 08 01 04 05"));
  owner.down.clear();
  l3("08 01 84 02");
  std::string sent = pop();
  elapse(1000);  // the answer wait
  EXPECT_EQ(pop(), sent);
  rx(H("00 81 09 00"));  // REJ N(R)=0: send again
  EXPECT_EQ(pop(), sent);
  EXPECT_EQ(entryWithTei(64)->state(), LAPD_NT_user::WaitAnswer);
}

// After I frames N(S) 0, 1, 2 to TEI 64 a REJ acknowledges up to N(R) - 1 and sends the kept frames
// again (their headers in the rows), from the oldest if it names that one; a refused check unassigns.
TEST_F(TeiNt, RejectAcknowledgesBeforeItsNumberLessOne) {
  struct Row { const char *rr, *rej; std::vector<std::string> again; } rows[] = {
      {"00 81 01 02", "00 81 09 04", {"02 81 02 03", "02 81 04 03"}},                 // RR N(R) 1, REJ N(R) 2
      {"00 81 01 04", "00 81 09 02", {}},                                             // RR N(R) 2, REJ N(R) 1
      {"00 81 01 00", "00 81 09 00", {"02 81 00 03", "02 81 02 03", "02 81 04 03"}}};  // REJ N(R) 0
  for (const Row& row : rows) {
    nt->deactivate();
    request(1, 127);
    rx(H("00 81 00 00 08 01 04 05"));  // call reference 4
    for (int i = 0; i < 3; ++i) l3("08 01 84 02");
    owner.down.clear();
    rx(H(row.rr));
    rx(H(row.rej));
    std::vector<std::string> got;
    while (!owner.down.empty()) got.push_back(pop().substr(0, 11));
    EXPECT_EQ(got, row.again) << row.rej;
    EXPECT_EQ(nt->user(0).ackQueued(), row.again.size()) << row.rej;
    EXPECT_EQ(entryWithTei(64) != nullptr, !row.again.empty()) << row.rej;
  }
}

// The management frames, dissected by tshark: identity assigned, SABME to
// the terminal, check request.
TEST_F(TeiNt, TsharkDissectsManagementFrames) {
  request(0x1234, 127);
  nt->activate();
  std::vector<Bytes> wire(owner.down.begin(), owner.down.end());
  EXPECT_EQ((std::vector<std::string>{"63|127|", "0|64|1", "63|127|"}),
            dissect(wire, 203, "-e lapd.sapi -e lapd.tei -e lapd.control.p"));
}

}  // namespace
