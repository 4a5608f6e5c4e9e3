// TPKT framing over a byte stream: reassembly across chunks, limits, resync
// after garbage, the frame timer, and the header put on sent messages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/tpkt_protocol.h"
#include "control_test_support.h"
#include "runtime/os/clock.h"
#include "runtime/packet/packet.h"

using ctltest::Bytes;
using ctltest::Capture;
using ctltest::Tpkt;

namespace {

// Stands in for the socket layer: hands chunks up, keeps what is sent.
class Wire : public Protocol {
 public:
  void message(Packet& p) override { sent.push_back(Bytes(p.data(), p.data() + p.length())); }
  // Hands the bytes up as one packet, as the socket layer does.
  void feed(const unsigned char* b, size_t n) {
    Packet p;
    p.reserve_head(0);
    std::memcpy(p.put(static_cast<unsigned int>(n)), b, n);
    on_message(p);
  }
  void feed(const Bytes& b) { feed(b.data(), b.size()); }
  std::vector<Bytes> sent;
};

class Stack : public ProtocolsFamily {
 public:
  Stack() {
    wire = static_cast<Wire*>(add_protocol_tail(new Wire));
    tpkt = static_cast<Tpkt_protocol*>(add_protocol_tail(new Tpkt_protocol));
  }
  void on_message(Packet& p) override {
    frames.push_back(p.null() ? Bytes() : Bytes(p.data(), p.data() + p.length()));
  }
  Wire* wire;
  Tpkt_protocol* tpkt;
  std::vector<Bytes> frames;
};

// What comes before a good frame is dropped with its log line: lengths
// below 4, stray bytes one at a time, a bad reserved byte (03 03: the second
// 03 does not start a frame).
TEST(Tpkt, GarbageAndTooSmallLengthsAreDroppedUntilAFrameStarts) {
  struct Row {
    const char* garbage;
    const char* line;
    size_t times;
  } rows[] = {
      {"03 00 00 00", "TPKT too small 0\n", 1},          {"03 00 00 01", "TPKT too small 1\n", 1},
      {"03 00 00 02", "TPKT too small 2\n", 1},          {"03 00 00 03", "TPKT too small 3\n", 1},
      {"11 22 33", "TPKT bad TPKT packet start.\n", 3}, {"03 05", "TPKT bad TPKT reserved.\n", 1},
      {"03 03", "TPKT bad TPKT reserved.\n", 1},
  };
  for (const Row& row : rows) {
    Stack s;
    Capture log(std::clog);
    s.wire->feed(ctltest::H(std::string(row.garbage) + " 03 00 00 06 5A A5"));
    EXPECT_EQ(std::vector<Bytes>{Bytes({0x5A, 0xA5})}, s.frames) << row.garbage;
    EXPECT_EQ(row.times, log.count(row.line)) << row.garbage << log.text();
  }
}

TEST(Tpkt, FramesCutAtEveryByteAreReassembled) {
  Stack s;
  Bytes stream = ctltest::Frames({{1}, Bytes(300, 2), {3, 4}});
  for (unsigned char b : stream) s.wire->feed(&b, 1);
  EXPECT_EQ((std::vector<Bytes>{{1}, Bytes(300, 2), {3, 4}}), s.frames);
  EXPECT_EQ(Tpkt_protocol::idle, s.tpkt->state());
}

TEST(Tpkt, ActivationAndDeactivationResetAFrameInProgress) {
  Stack s;
  Bytes frame = Tpkt(Bytes(20, 0x11));
  s.wire->feed(frame.data(), 8);
  s.activate();
  EXPECT_EQ(Tpkt_protocol::idle, s.tpkt->state());
  EXPECT_FALSE(s.tpkt->timer_running());
  s.wire->feed(frame.data(), 8);
  s.deactivate();
  EXPECT_EQ(Tpkt_protocol::idle, s.tpkt->state());
  EXPECT_FALSE(s.tpkt->timer_running());
}

}  // namespace
