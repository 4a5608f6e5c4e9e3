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

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(Tpkt, AFrameSplitAtAnyByteBoundaryIsDeliveredOnceWhole) {
  Bytes frame = Tpkt(Payload(9));
  for (size_t cut = 0; cut <= frame.size(); ++cut) {
    Stack s;
    s.wire->feed(frame.data(), cut);
    s.wire->feed(frame.data() + cut, frame.size() - cut);
    ASSERT_EQ(1u, s.frames.size()) << "cut at " << cut;
    EXPECT_EQ(Payload(9), s.frames[0]);
    EXPECT_EQ(Tpkt_protocol::idle, s.tpkt->state());
    EXPECT_FALSE(s.tpkt->timer_running());
  }
}

TEST(Tpkt, AStreamFedOneByteAtATimeDeliversEveryFrameInOrder) {
  Stack s;
  Bytes stream = Concat({Tpkt(Payload(3, 1)), Tpkt(Bytes()), Tpkt(Payload(300, 2))});
  for (unsigned char b : stream) s.wire->feed(&b, 1);
  ASSERT_EQ(3u, s.frames.size());
  EXPECT_EQ(Payload(3, 1), s.frames[0]);
  EXPECT_TRUE(s.frames[1].empty());
  EXPECT_EQ(Payload(300, 2), s.frames[2]);
}

TEST(Tpkt, SeveralFramesInOneChunkArriveInOrder) {
  Stack s;
  s.wire->feed(Concat({Tpkt(Payload(5, 1)), Tpkt(Payload(6, 2)), Tpkt(Payload(7, 3))}));
  ASSERT_EQ(3u, s.frames.size());
  EXPECT_EQ(Payload(5, 1), s.frames[0]);
  EXPECT_EQ(Payload(6, 2), s.frames[1]);
  EXPECT_EQ(Payload(7, 3), s.frames[2]);
}

TEST(Tpkt, LengthFourIsAnEmptyMessageAndLeavesNoTimer) {
  Stack s;
  s.wire->feed(Bytes{0x03, 0x00, 0x00, 0x04});
  ASSERT_EQ(1u, s.frames.size());
  EXPECT_TRUE(s.frames[0].empty());
  EXPECT_FALSE(s.tpkt->timer_running());
}

TEST(Tpkt, LargestPayloadIsAcceptedAndOneMoreIsSkippedWhole) {
  Stack s;
  Capture log(std::clog);
  s.wire->feed(Tpkt(Payload(4096)));
  ASSERT_EQ(1u, s.frames.size());
  EXPECT_EQ(Payload(4096), s.frames[0]);

  // 4101 bytes of frame: the payload is skipped and the next frame is read.
  Bytes big = Tpkt(Payload(4097));
  s.wire->feed(Concat({big, Tpkt(Payload(2))}));
  ASSERT_EQ(2u, s.frames.size());
  EXPECT_EQ(Payload(2), s.frames[1]);
  EXPECT_NE(std::string::npos, log.text().find("TPKT length too big, received = 4097 max = 4096\n"));
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

TEST(Tpkt, AnUnfinishedFrameTimesOutAndTheNextFrameIsServed) {
  Stack s;
  ctltest::Loop loop;
  Capture log(std::clog);
  Bytes frame = Tpkt(Payload(20));
  s.wire->feed(frame.data(), 10);
  EXPECT_TRUE(s.tpkt->timer_running());
  // Another chunk re-arms the timer from its own arrival.
  Mux::advanceClock(2500);
  s.wire->feed(frame.data() + 10, 2);
  Mux::advanceClock(2500);
  loop.RunFor(20);
  EXPECT_EQ(0u, log.count("TPKT packet timeout."));
  EXPECT_EQ(Tpkt_protocol::body, s.tpkt->state());
  Mux::advanceClock(600);
  ASSERT_TRUE(loop.RunUntil([&] { return log.count(" TPKT packet timeout.\n") == 1; }));
  EXPECT_EQ(Tpkt_protocol::idle, s.tpkt->state());
  EXPECT_TRUE(s.frames.empty());
  s.wire->feed(Tpkt(Payload(3)));
  ASSERT_EQ(1u, s.frames.size());
  EXPECT_EQ(Payload(3), s.frames[0]);
}

TEST(Tpkt, CompletingAFrameCancelsTheTimer) {
  Stack s;
  Bytes frame = Tpkt(Payload(20));
  s.wire->feed(frame.data(), 3);
  EXPECT_TRUE(s.tpkt->timer_running());
  s.wire->feed(frame.data() + 3, frame.size() - 3);
  EXPECT_FALSE(s.tpkt->timer_running());
}

TEST(Tpkt, SentMessagesCarryVersionReservedAndLength) {
  Stack s;
  for (size_t n : {size_t(0), size_t(1), size_t(300), size_t(4092)}) {
    s.wire->sent.clear();
    Packet p;
    s.prepare_head(p);
    EXPECT_EQ(4u, p.headroom());
    Bytes payload = Payload(n);
    if (n) std::memcpy(p.put(static_cast<unsigned int>(n)), payload.data(), n);
    s.message(p);
    ASSERT_EQ(1u, s.wire->sent.size());
    EXPECT_EQ(Tpkt(payload), s.wire->sent[0]);
  }
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
