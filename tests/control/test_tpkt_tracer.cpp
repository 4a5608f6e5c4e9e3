// The multi-client TPKT debug server: framing limits, replies versus
// broadcasts, and clients that misbehave being closed alone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/tpkt_tracer.h"
#define CTLTEST_SOCKET_FAKES
#include "control_test_support.h"
#include "runtime/os/clock.h"

using ctltest::Bytes;
using ctltest::Capture;
using ctltest::Client;
using ctltest::Loop;
using ctltest::Tpkt;

namespace {

// The tracer's listener is the fixture: it keeps what it hears and may act
// on it.
class Tracer : public ::testing::Test, public TPKTTracer::Listener {
 protected:
  void SetUp() override {
    tracer.SetListener(this);
    ASSERT_TRUE(tracer.Listen(0));
    port = tracer.bound_port();
    ASSERT_NE(0, port);
  }
  void OnMessage(const void* data, unsigned length) override {
    const unsigned char* b = static_cast<const unsigned char*>(data);
    messages.push_back(Bytes(b, b + length));
    if (on_message) on_message(messages.back());
  }
  bool Join(Client& c) {
    size_t n = tracer.connection_count();
    return c.Connect(port) && loop.RunUntil([&] { return tracer.connection_count() == n + 1; });
  }

  Capture log{std::clog};
  TPKTTracer tracer;
  std::vector<Bytes> messages;
  std::function<void(const Bytes&)> on_message;
  Loop loop;
  unsigned short port = 0;
};

// One row per stream a client sends: what is delivered, and whether the
// client is closed (the other client never is).
TEST_F(Tracer, DeliversFramesOfUpTo512BytesAndClosesOnlyAClientThatBreaksTheRules) {
  using ctltest::H;
  struct Row {
    Bytes stream;
    std::vector<Bytes> delivered;
    bool closed;
  } rows[] = {
      {Tpkt(Bytes(512, 1)), {Bytes(512, 1)}, false},
      {H("03 00 00 04 03 00 00 05 07 03 00 00 06 08 09"), {{7}, {8, 9}}, false},  // empty frame skipped
      {Tpkt(Bytes(513, 2)), {}, true},
      {H("04 00 00 08"), {}, true},
      {H("03 01 00 08"), {}, true},
      {H("03 00 00 03"), {}, true},
  };
  Client bystander;
  ASSERT_TRUE(Join(bystander));
  for (const Row& row : rows) {
    Client c;
    ASSERT_TRUE(Join(c));
    messages.clear();
    c.Send(row.stream);
    c.SendFrame({0xEE});  // a last frame that shows the stream was read
    ASSERT_TRUE(loop.RunUntil([&] { return row.closed ? c.eof() : messages.size() > row.delivered.size(); }))
        << ctltest::Hex(row.stream);
    std::vector<Bytes> want = row.delivered;
    if (!row.closed) want.push_back({0xEE});
    EXPECT_EQ(want, messages) << ctltest::Hex(row.stream);
    EXPECT_EQ(row.closed ? 1u : 2u, tracer.connection_count());
    c.Close();
    ASSERT_TRUE(loop.RunUntil([&] { return tracer.connection_count() == 1; }));
  }
  EXPECT_EQ(1u + std::size(rows), log.count("ACP connection open from 127.0.0.1:"));
}

// Replies go to the sender, broadcasts to everyone; the listener may close
// the client it serves (nothing more is read from it).
TEST_F(Tracer, RepliesGoToTheSenderBroadcastsToEveryone) {
  Client a, b;
  ASSERT_TRUE(Join(a));
  ASSERT_TRUE(Join(b));
  on_message = [&](const Bytes& m) { tracer.Send(m.data(), static_cast<unsigned>(m.size())); };
  b.SendFrame(Bytes{1, 2, 3});
  Bytes got, ga, gb;
  ASSERT_TRUE(loop.RunUntil([&] { return b.TakeFrame(got); }));
  EXPECT_EQ((Bytes{1, 2, 3}), got);
  loop.RunFor(10);
  EXPECT_EQ(0u, a.available());
  on_message = nullptr;
  tracer.Send("\x09\x08", 2);
  ASSERT_TRUE(loop.RunUntil([&] { return a.TakeFrame(ga) && b.TakeFrame(gb); }));
  EXPECT_EQ((Bytes{9, 8}), ga);
  EXPECT_EQ((Bytes{9, 8}), gb);

  EXPECT_TRUE(tracer.FindConnection(-1) == tracer.end());
  EXPECT_TRUE(tracer.current() == tracer.end());
  messages.clear();
  on_message = [&](const Bytes&) { tracer.CloseConnection(tracer.current()); };
  a.Send(ctltest::H("03 00 00 05 01 03 00 00 05 02"));
  ASSERT_TRUE(loop.RunUntil([&] { return a.eof(); }));
  EXPECT_EQ(1u, messages.size());  // nothing read after the close
}

TEST_F(Tracer, AClientThatStopsReadingDoesNotStallTheOthers) {
  tracer.Send("x", 1);  // no clients: nothing happens
  Client slow, fast;
  slow.rcvbuf = 2048;
  ASSERT_TRUE(Join(slow));
  ASSERT_TRUE(Join(fast));
  Bytes block(500, 0x5A);
  size_t fast_frames = 0;
  Bytes f;
  for (int i = 0; i < 5000 && tracer.connection_count() == 2; ++i) {
    tracer.Send(block.data(), static_cast<unsigned>(block.size()));
    while (fast.TakeFrame(f)) ++fast_frames;
  }
  EXPECT_EQ(1u, tracer.connection_count()) << "the stalled client was never dropped";
  tracer.Send(block.data(), static_cast<unsigned>(block.size()));
  size_t sent_to_fast = fast_frames;
  ASSERT_TRUE(loop.RunUntil([&] {
    while (fast.TakeFrame(f)) ++fast_frames;
    return fast_frames > sent_to_fast;
  }));
  EXPECT_FALSE(fast.eof());
  ASSERT_TRUE(loop.RunUntil([&] {
    slow.input().clear();
    return slow.eof();
  }));
}

TEST_F(Tracer, OutOfDescriptorsPausesAcceptingForASecond) {
  fake::accept_errno = EMFILE;
  fake::accept_calls = 0;
  Client c(port);
  ASSERT_TRUE(loop.RunUntil([&] { return fake::accept_calls == 1; }));
  Mux::advanceClock(500);
  loop.RunFor(20);
  EXPECT_EQ(1, fake::accept_calls) << "polled a listener it cannot serve";
  fake::accept_errno = 0;
  Mux::advanceClock(500);
  ASSERT_TRUE(loop.RunUntil([&] { return tracer.connection_count() == 1; }));
}

}  // namespace
