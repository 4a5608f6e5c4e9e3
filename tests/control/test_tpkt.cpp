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
using ctltest::Concat;
using ctltest::Tpkt;

namespace {

// Stands in for the socket layer: hands chunks up, keeps what is sent.
class Wire : public Protocol {
 public:
  void message(Packet& p) override { sent.push_back(Bytes(p.data(), p.data() + p.length())); }
  // Hands the bytes up in chunks of at most one packet buffer, as the
  // socket layer does.
  void feed(const unsigned char* b, size_t n) {
    do {
      size_t k = n < packet_max_size ? n : packet_max_size;
      Packet p;
      p.reserve_head(0);
      if (k) std::memcpy(p.put(static_cast<unsigned int>(k)), b, k);
      on_message(p);
      b += k;
      n -= k;
    } while (n > 0);
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

Bytes Payload(size_t n, unsigned char seed = 1) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>(seed + i * 7);
  return b;
}

TEST(Tpkt, TooSmallLengthsAreRefused) {
  for (unsigned int len = 0; len <= 3; ++len) {
    Stack s;
    Capture log(std::clog);
    s.wire->feed(Concat({Bytes{0x03, 0x00, 0x00, static_cast<unsigned char>(len)}, Tpkt(Payload(1))}));
    ASSERT_EQ(1u, s.frames.size());
    EXPECT_EQ(Payload(1), s.frames[0]);
    EXPECT_NE(std::string::npos, log.text().find("TPKT too small " + std::to_string(len) + "\n"));
  }
}

TEST(Tpkt, GarbageIsDroppedByteByByteUntilAFrameStarts) {
  Stack s;
  Capture log(std::clog);
  // Three stray bytes, then 03 05 (bad reserved), then a good frame.
  s.wire->feed(Concat({Bytes{0x11, 0x22, 0x33, 0x03, 0x05}, Tpkt(Payload(4))}));
  ASSERT_EQ(1u, s.frames.size());
  EXPECT_EQ(Payload(4), s.frames[0]);
  EXPECT_EQ(3u, log.count("TPKT bad TPKT packet start.\n"));
  EXPECT_EQ(1u, log.count("TPKT bad TPKT reserved.\n"));
}

TEST(Tpkt, ReservedByteThreeRestartsTheSearchAtTheNextByte) {
  // 03 03: the second 03 is a bad reserved byte and is dropped, it does not
  // start a frame.
  Stack s;
  Capture log(std::clog);
  s.wire->feed(Concat({Bytes{0x03, 0x03}, Tpkt(Payload(1))}));
  ASSERT_EQ(1u, s.frames.size());
  EXPECT_EQ(1u, log.count(" bad TPKT reserved."));
}

TEST(Tpkt, ActivationAndDeactivationResetAFrameInProgress) {
  Stack s;
  Bytes frame = Tpkt(Payload(20));
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
