// HDLC channels on the simulated multichannel controller: allocation and
// wiring, one frame per read and write, readiness, errors and counters.

#include "hardware/hdlc.h"
#include "runtime/log/traces.h"
#include "runtime/loop/timer.h"
#include "control/control_test_support.h"
#include "descriptor_squeeze.h"
#include "sim_env.h"

namespace {

// The fixture is the channel's user and records what it reports.
class HdlcTest : public SimTest::Fixture, public HDLC::Notify {
 protected:
  void SetUp() override {
    SimTest::Fixture::SetUp();
    HwMux::instance();
    sim().clearLog();
    cap_.clear();
    traces.reset();
    ch_.bind(this);
  }
  void TearDown() override {
    ch_.deactivate();
    sim().pump();
    traces.reset();
  }
  void on_hdlc_receive(Packet& p) override { frames.emplace_back(p.data(), p.data() + p.length()); }
  void on_hdlc_error(Cause::Type c) override {
    errors.push_back(int(c));
    openAtError = ch_.is_open();
  }
  void on_hdlc_ready() override {
    ++ready;
    if (transmitOnReady) send({0x55});
  }
  // Activates channel 40 on timeslot 10 (type 2, BRI: sending to 11).
  bool activate() {
    HDLC::Params p;
    p.trunk = 1;
    p.timeslot = p.tdm = 10;
    p.tdm_out = 11;
    p.type = 2;
    ch_.params(p);
    sim().mcc().setNextChannel(40);
    return ch_.activate();
  }
  Sim::Session* controller() { return sim().mcc().channel(40); }
  // What a loop pass would report for the channel's descriptor.
  void serve(short wanted = POLLIN | POLLOUT) { ch_.on_event(-1, wanted); }
  // Loop passes until cond() holds (or a few seconds pass).
  bool runUntil(const std::function<bool()>& cond) { return loop_.RunUntil(cond); }
  std::string err() {
    std::string s = cap_.err();
    cap_.clear();
    return s;
  }
  bool send(const Bytes& b) {
    Packet p;
    p.reserve_head(0);
    std::memcpy(p.put(unsigned(b.size())), b.data(), b.size());
    return ch_.hdlc_transmit(p);
  }

  HDLC ch_;
  std::vector<Bytes> frames;
  int ready = 0;
  std::vector<int> errors;
  bool openAtError = true, transmitOnReady = false;
  SimTest::LogCapture cap_;
  ctltest::Loop loop_;
};

TEST_F(HdlcTest, BriChannelIsWiredThroughTheMultiplexer) {
  ASSERT_TRUE(activate());
  EXPECT_TRUE(ch_.is_open());
  EXPECT_FALSE(ch_.is_ready());
  EXPECT_EQ(sim().tdm().sourceOf(11), 40);
  EXPECT_EQ(sim().tdm().sourceOf(40), 10);

  // Allocation as BRI, then the channel, then the two crosspoints in order.
  const auto& log = sim().log();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[0].text(), "/dev/mcc/ctl 0x40144d00 1 512 0 1 4 -> 0");
  EXPECT_EQ(log[1].text(), "/dev/mcc/ctl 0x20004d02 -> 40");
  EXPECT_EQ(log[2].text(), "/dev/hal 0x80084d02 11 40 -> 0");
  EXPECT_EQ(log[3].text(), "/dev/hal 0x80084d02 40 10 -> 0");
}

// The channel lives as long as its watch holds a descriptor of it: without
// one to spare for the watch nothing is switched and the channel goes back.
TEST_F(HdlcTest, AChannelThatCannotBeWatchedIsNotActivated) {
  bool shortOne, open, enough;
  std::size_t crosspoints;
  Sim::Session* held;
  {
    SimTest::DescriptorSqueeze squeeze;
    squeeze.Free(2);  // the device only
    shortOne = activate();
    open = ch_.is_open();
    crosspoints = sim().tdm().crosspoints().size();
    sim().pump();
    held = controller();
    squeeze.Free(1);
    enough = activate();
  }
  EXPECT_FALSE(shortOne || open);
  EXPECT_EQ(err(), "hdlc [0/10]: dup fail: Too many open files\n");
  EXPECT_EQ(crosspoints, 0u);
  EXPECT_EQ(held, nullptr);
  EXPECT_TRUE(enough);
  EXPECT_EQ(sim().tdm().sourceOf(11), 40);
}

TEST_F(HdlcTest, FramesInAndOutOneByOne) {
  ASSERT_TRUE(activate());
  transmitOnReady = true;  // the ready callback may transmit
  serve(POLLOUT);
  EXPECT_EQ(ready, 1);
  EXPECT_TRUE(ch_.is_ready());
  sim().pump();
  EXPECT_EQ(sim().tdm().takeFarEnd(11), std::vector<Bytes>{{0x55}});
  transmitOnReady = false;

  const Bytes a{0x02, 0x01, 0x01}, b{0x00}, c(300, 0xa5);
  EXPECT_EQ(sim().execute("inject 10 020101"), "outputs 1\nok\n");
  sim().tdm().send(10, b);
  sim().tdm().send(10, c);
  serve(POLLIN);
  EXPECT_EQ(frames, (std::vector<Bytes>{a, b, c}));
  EXPECT_EQ(ch_.statistics().rxSU, 3u);
  EXPECT_TRUE(errors.empty());
  EXPECT_TRUE(ch_.is_open());
  EXPECT_EQ(ready, 1);

  const Bytes out{0x00, 0x01, 0x7e, 0x7d, 0xff, 0x00};
  EXPECT_TRUE(send(out));
  sim().pump();
  EXPECT_EQ(sim().tdm().takeFarEnd(11), std::vector<Bytes>{out});
  EXPECT_EQ(ch_.statistics().txSU, 2u);  // with the one sent at ready
  EXPECT_EQ(err(), "");
}

TEST_F(HdlcTest, BusyTransmitterGivesOneReadyAfterDraining) {
  ASSERT_TRUE(activate());
  serve(POLLOUT);
  ASSERT_EQ(ready, 1);
  sim().hold(*controller(), true);
  unsigned sent = 0;
  while (send({1, 2, 3})) ++sent;
  EXPECT_GT(sent, 0u);
  EXPECT_FALSE(ch_.is_ready());
  EXPECT_EQ(ch_.statistics().txSU, sent);
  EXPECT_EQ(ch_.statistics().txError, 0u);

  // The real loop: nothing while the controller is stalled, one ready once
  // it has drained, none after.
  int passes = 0;
  runUntil([&] { return ++passes > 20; });
  EXPECT_EQ(ready, 1);
  sim().hold(*controller(), false);
  EXPECT_TRUE(runUntil([&] { return ready == 2; }));
  EXPECT_TRUE(ch_.is_ready());
  passes = 0;
  runUntil([&] { return ++passes > 20; });
  EXPECT_EQ(ready, 2);
  EXPECT_EQ(sim().tdm().takeFarEnd(11).size(), sent);
}

TEST_F(HdlcTest, EndOfFileClosesTheChannelOnce) {
  ASSERT_TRUE(activate());
  serve(POLLOUT);
  sim().tdm().send(10, {7});
  sim().endSession(*controller());
  serve(POLLIN | POLLHUP);
  // The pending frame first, then the error; the channel is closed before
  // the user hears of it.
  EXPECT_EQ(frames.size(), 1u);
  EXPECT_EQ(errors, std::vector<int>{0});
  EXPECT_FALSE(openAtError);
  EXPECT_FALSE(ch_.is_open());
  EXPECT_FALSE(ch_.is_ready());
  EXPECT_EQ(err(), "hdlc [0/10]: read error: end of file\n");
  // Further events find nothing to do and report nothing.
  serve(POLLIN | POLLOUT);
  EXPECT_EQ(errors.size(), 1u);
  EXPECT_EQ(cap_.log(), "hdlc [0/10]: do_read: !m_event.IsActive()\n");
  EXPECT_FALSE(send({1}));
  EXPECT_EQ(ch_.statistics().txDiscard, 1u);
  // The prefix numbers are decimal on a stream left in hex, which stays hex.
  HDLC::Params p;
  p.timeslot = 26;
  ch_.params(p);
  ch_.trunk(10);
  std::ostringstream hexed;
  hexed << std::hex;
  ch_.PutHeader(hexed);
  hexed << 255;
  EXPECT_EQ(hexed.str(), "hdlc [10/26]: ff");
}

// A read error in the first event is not followed by a ready; an interrupted read,
// a hang-up or error with nothing queued (the read finds EAGAIN) fail the channel too.
TEST_F(HdlcTest, ReadErrorsAndHangUpsCloseTheChannel) {
  for (auto [readyFirst, fail, events, cause] : {std::tuple{false, EIO, POLLIN | POLLOUT, "Input/output error"},
                                                 {true, EINTR, POLLIN, "Interrupted system call"},
                                                 {true, 0, POLLHUP, "Broken pipe"},
                                                 {true, 0, POLLERR, "Input/output error"}}) {
    errors.clear();
    ready = 0;
    ASSERT_TRUE(activate());
    if (readyFirst) serve(POLLOUT);
    if (fail) sim().failRead(*controller(), fail);
    serve(short(events));
    EXPECT_EQ(errors, std::vector<int>{0}) << cause;
    EXPECT_EQ(ready, readyFirst ? 1 : 0);
    EXPECT_FALSE(ch_.is_open() || ch_.is_ready());
    EXPECT_EQ(err(), std::string("hdlc [0/10]: read error: ") + cause + "\n");
    ch_.deactivate();
    sim().pump();  // the controller ends the channel before the next row's
  }
}

TEST_F(HdlcTest, ClosedChannelLeavesTheLoopIdle) {
  const unsigned before = multiplexer.handler_count();
  ASSERT_TRUE(activate());
  EXPECT_EQ(multiplexer.handler_count(), before + 1);
  sim().endSession(*controller());
  EXPECT_TRUE(runUntil([&] { return !errors.empty(); }));
  EXPECT_EQ(errors.size(), 1u);
  EXPECT_FALSE(ch_.is_open());
  // The dead descriptor is no longer polled, so the loop cannot spin on it.
  EXPECT_EQ(multiplexer.handler_count(), before);
}

}  // namespace
