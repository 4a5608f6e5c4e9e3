// The connecting side of a control link over loopback TCP: the retry
// schedule (7 quick retries, then the long delay of the failure path), the
// reconnect after a loss, and retrying when no socket can be made.
#include <gtest/gtest.h>

#include <string>

#include "control/connector.h"
#define CTLTEST_SOCKET_FAKES
#include "control_test_support.h"
#include "runtime/os/clock.h"
#include "support/loopback.h"

using ctltest::Bytes;
using ctltest::Capture;
using ctltest::Loop;

namespace {

typedef ctltest::Recorder<Control::Notify> Recorder;

// A listening socket of the test on a loopback port.
class Listener {
 public:
  explicit Listener(unsigned short port = 0) { Open(port); }
  ~Listener() { Close(); }
  bool Open(unsigned short port) {
    port_ = port;
    fd_ = looptest::listenLoopback(port_, 4, SOCK_NONBLOCK | SOCK_CLOEXEC);
    return fd_ >= 0;
  }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  int Accept() { return ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC); }
  unsigned short port() const { return port_; }

 private:
  int fd_ = -1;
  unsigned short port_ = 0;
};

size_t Attempts(const Capture& err) { return err.count("can't connect to ") + err.count("fail to connect to "); }

// Seven quick retries at 1000 ms, then the long delay of the failure path:
// one row per path.
TEST(Connector, RetriesSevenTimesQuicklyThenAfterTheDelayOfTheFailurePath) {
  Listener server;
  struct Row {
    const char* name;
    std::string host;
    unsigned short port;
    int so_error;  // reported when the pending connect completes
    unsigned int delay;
    const char* line;
  } rows[] = {
      {"connect fails at once", "10.9.8.7", 20002, 0, 20000, "can't connect to 10.9.8.7:20002 : "},
      {"error or hang-up of the pending socket", "127.0.0.1", looptest::closedPort(), 0, 15000, "fail to connect to "},
      {"the pending connect ends with an error", "127.0.0.1", server.port(), ECONNREFUSED, 12000, "fail to connect to "},
  };
  struct Reset {
    ~Reset() { fake::so_error = 0; }
  } reset;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Control::Connector link(row.host, row.port);
    Capture err(std::cerr);
    Loop loop;
    fake::so_error = row.so_error;
    auto attempted = [&](size_t n) {
      for (int fd; (fd = server.Accept()) >= 0;) ::close(fd);  // keep the backlog free
      return Attempts(err) == n && link.retry_pending();
    };
    ASSERT_TRUE(link.Activate());
    ASSERT_TRUE(loop.RunUntil([&] { return attempted(1); }));
    for (size_t i = 2; i <= 8; ++i) {
      EXPECT_LE(link.retry_remaining(), 1000u);
      Mux::advanceClock(1000);
      ASSERT_TRUE(loop.RunUntil([&] { return attempted(i); })) << "attempt " << i;
    }
    EXPECT_EQ(0, link.quick_retries_left());
    EXPECT_EQ(8u, err.count(row.line)) << err.text();
    EXPECT_LE(link.retry_remaining(), row.delay);
    Mux::advanceClock(row.delay - 500);
    loop.RunFor(20);
    EXPECT_EQ(8u, Attempts(err));
    Mux::advanceClock(500);
    ASSERT_TRUE(loop.RunUntil([&] { return attempted(9); }));
    EXPECT_EQ(Control::Service::State::Connecting, link.GetState());
    link.Deactivate();
    EXPECT_FALSE(link.retry_pending());
    EXPECT_FALSE(link.attempt_pending());
  }
}

// No socket at first: a failed attempt, retried; the listener that has
// appeared by then is reached, frames flow both ways, and a lost link is
// reconnected ten seconds later.
TEST(Connector, RetriesWithoutASocketAndReconnectsALostLinkTenSecondsLater) {
  unsigned short port = looptest::closedPort();
  Control::Connector link("127.0.0.1", port);
  Recorder rec;
  link.Bind(&rec);
  Loop loop;
  Capture err(std::cerr), out(std::cout);
  fake::nonblock_errno = EINVAL;  // a socket that cannot be made non-blocking ends the activation
  EXPECT_TRUE(link.Activate());
  fake::nonblock_errno = 0;
  EXPECT_EQ(Control::Service::State::Idle, link.GetState());
  EXPECT_FALSE(link.retry_pending() || link.attempt_pending());
  EXPECT_EQ("can't set socket to non block mode: Invalid argument\n", err.text());
  fake::socket_errno = EMFILE;
  EXPECT_TRUE(link.Activate());
  fake::socket_errno = 0;
  EXPECT_EQ(1u, err.count("can't create socket:Too many open files\n")) << err.text();
  EXPECT_EQ(Control::Service::State::Connecting, link.GetState());
  ASSERT_TRUE(link.retry_pending()) << "the link gave up for good";
  EXPECT_EQ(6, link.quick_retries_left());
  Listener server(port);
  Mux::advanceClock(1000);
  ASSERT_TRUE(loop.RunUntil([&] { return rec.connects == 1; }));
  EXPECT_NE(std::string::npos, out.text().find("connected to 127.0.0.1:" + std::to_string(port) + ".\n"));
  int peer = -1;
  ASSERT_TRUE(loop.RunUntil([&] { return (peer = server.Accept()) >= 0; }));
  Bytes frame = ctltest::Tpkt(Bytes{5, 6});
  ASSERT_EQ(ssize_t(frame.size()), ::send(peer, frame.data(), frame.size(), MSG_NOSIGNAL));
  ASSERT_TRUE(loop.RunUntil([&] { return rec.messages.size() == 1; }));
  EXPECT_TRUE(link.Send("\x07", 1));
  ::close(peer);  // the agent goes away
  ASSERT_TRUE(loop.RunUntil([&] { return rec.disconnects == 1; }));
  EXPECT_TRUE(link.retry_pending());
  EXPECT_GT(link.retry_remaining(), 9000u);
  EXPECT_LE(link.retry_remaining(), 10000u);
  EXPECT_EQ(6, link.quick_retries_left());  // a connection does not renew them
  Mux::advanceClock(9000);
  loop.RunFor(20);
  EXPECT_EQ(1, rec.connects);
  Mux::advanceClock(1000);
  ASSERT_TRUE(loop.RunUntil([&] { return rec.connects == 2; }));
  link.Deactivate();
}

}  // namespace
