// The TCP control link over loopback sockets: the stream layer and its write
// time-out, the link states, the acceptor's one-controller rule, its
// connection check, bind retry and pause when descriptors run out. Socket
// figures the kernel will not produce on demand come from the fakes of
// control_test_support.h.
#include <gtest/gtest.h>

#include <sys/socket.h>

#include <string>
#include <vector>

#include "control/acceptor.h"
#include "control/service.h"
#include "control/strm_protocol.h"
#define CTLTEST_SOCKET_FAKES
#include "control_test_support.h"
#include "runtime/os/clock.h"
#include "support/startup_harness.h"

using ctltest::Bytes;
using ctltest::Capture;
using ctltest::Client;
using ctltest::Loop;

namespace {

// ---- the stream layer on its own -------------------------------------------

class StrmOwner : public ProtocolsFamily {
 public:
  // Runs the layer on `fd`, named `name`.
  StrmOwner(int fd, const char* name) {
    strm = static_cast<StrmProtocol*>(add_protocol_tail(new StrmProtocol));
    strm->service_name(name);
    strm->attach(Fd(fd));
    activate();
  }
  void on_message(Packet& p) override { got.insert(got.end(), p.data(), p.data() + p.length()); }
  void on_activated(Protocol*) override { up = true; }
  void on_deactivated(Protocol*, ProtocolStatus s) override { status = s; }
  StrmProtocol* strm;
  bool up = false;
  ProtocolStatus status;
  Bytes got;
};

Packet Block(unsigned int n, const char* text = nullptr) {
  Packet p;
  p.reserve_head(0);
  unsigned char* d = p.put(n);
  if (text) std::memcpy(d, text, n);
  return p;
}

// Data both ways, then the peer closes: found by the next read of a TCP
// socket, or by the next write (counted as an overflow and logged).
TEST(StreamLayer, ReadsWritesAndDetachesWhenThePeerCloses) {
  for (bool writes : {false, true}) {
    int sv[2];
    unsigned short port = 0;
    int l = looptest::listenLoopback(port, 1);
    sv[1] = startup_test::connectTo(port);
    sv[0] = writes ? -1 : ::accept4(l, nullptr, nullptr, SOCK_NONBLOCK);
    ::close(l);
    if (writes) ::close(sv[1]);
    ASSERT_TRUE(!writes || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, sv) == 0);
    StrmOwner o(sv[0], "x");
    EXPECT_TRUE(o.up);
    Packet empty = Block(0), hello = Block(5, "hello");
    o.strm->message(empty);  // writes nothing and succeeds
    o.strm->message(hello);
    EXPECT_EQ(5u, hello.length());  // the caller's packet is left as it was
    char buf[16];
    ASSERT_EQ(5, ::read(sv[1], buf, sizeof buf));
    EXPECT_EQ(0, std::memcmp(buf, "hello", 5));
    ASSERT_EQ(3, ::write(sv[1], "abc", 3));
    Loop loop;
    ASSERT_TRUE(loop.RunUntil([&] { return o.got.size() == 3; }));
    EXPECT_TRUE(o.status.null());
    ::close(sv[1]);
    Capture err(std::cerr);
    if (writes) o.strm->message(hello);
    ASSERT_TRUE(loop.RunUntil([&] { return !o.status.null(); }));
    EXPECT_EQ(0u, o.status->message().find(writes ? "write error: Broken pipe" : "read error: ")) << o.status->message();
    EXPECT_EQ(writes ? 1u : 0u, o.strm->GetOverflowCounter());
    EXPECT_FALSE(o.strm->opened());
    EXPECT_EQ(writes ? 1u : 0u, err.count("SockStream[x]: write error, sendbuf=")) << err.text();
    EXPECT_EQ(writes ? 1u : 0u, err.count(", error=Broken pipe\n"));
  }
}

// A socket that stays full: the writes wait 1000 ms in all, counted from the
// start of the call, not from each wait nor from the first full socket.
TEST(StreamLayer, AFullSocketTimesOutAfterOneSecondInAllAndDetaches) {
  struct Row {
    int send_ms;                   // ms each send takes
    std::vector<int> ready_after;  // ms each wait takes before some room appears
    std::vector<int> waits;        // the time-outs the waits ask for
  } rows[] = {{0, {}, {1000}},
              {0, {600}, {1000, 400}},
              {0, {300, 300, 300}, {1000, 700, 400, 100}},
              {300, {}, {700}},
              {300, {200}, {700, 200}},
              {600, {300}, {400}}};
  for (const Row& row : rows) {
    int sv[2];
    ASSERT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, sv));
    int small = 4096;
    ::setsockopt(sv[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    char fill[512] = {};
    while (::send(sv[0], fill, sizeof fill, MSG_DONTWAIT) > 0) continue;  // full before the call
    StrmOwner o(sv[0], "");
    Capture err(std::cerr);
    Packet p = Block(4096);
    fake::poll_full = true;
    fake::poll_ready = row.ready_after;
    fake::poll_waits.clear();
    fake::send_ms = row.send_ms;
    o.strm->message(p);
    fake::send_ms = 0;
    fake::poll_full = false;
    ASSERT_FALSE(o.status.null());
    EXPECT_EQ("write timeout", o.status->message());
    EXPECT_EQ(1u, o.strm->GetOverflowCounter());
    EXPECT_FALSE(o.strm->opened());
    ASSERT_EQ(row.waits.size(), fake::poll_waits.size()) << row.send_ms;
    for (size_t i = 0; i < row.waits.size(); ++i) {
      EXPECT_LE(fake::poll_waits[i], row.waits[i]) << row.send_ms << " wait " << i;
      EXPECT_GT(fake::poll_waits[i], row.waits[i] - 50) << row.send_ms << " wait " << i;
    }
    EXPECT_NE(std::string::npos, err.text().find("SockStream[]: write timeout, sendbuf="));
    ::close(sv[1]);
  }
}

// ---- the link over TCP -------------------------------------------------------

typedef ctltest::Recorder<Control::Notify> Recorder;

// Lets a test run the listener's handler at a chosen moment.
class DrivenAcceptor : public Control::AcceptorCheckConnection {
 public:
  explicit DrivenAcceptor(int port = 0) : Control::AcceptorCheckConnection(port) {}
  void ServeListener() { OnSocketEvent(-1, POLLIN); }
};

class ControlLink : public ::testing::Test {
 protected:
  void SetUp() override {
    link.Bind(&rec);
    ASSERT_TRUE(link.Activate());
    port = link.bound_port();
    ASSERT_NE(0, port);
  }
  void TearDown() override {
    link.Deactivate();
    fake::tcp_state = fake::ca_state = -1;
    fake::so_error = fake::accept_errno = 0;
  }
  bool Attach(Client& c) { return c.Connect(port) && loop.RunUntil([&] { return link.IsConnected(); }); }
  // Lets the next connection check run (every 1000 ms).
  void NextCheck() {
    int n = fake::tcp_info_calls;
    Mux::advanceClock(1000);
    ASSERT_TRUE(loop.RunUntil([&] { return fake::tcp_info_calls > n; }));
  }
  std::vector<int> LastKeepalive() {
    size_t n = fake::keepalive.size();
    return n < 4 ? fake::keepalive : std::vector<int>(fake::keepalive.begin() + (n - 4), fake::keepalive.end());
  }

  DrivenAcceptor link;
  Recorder rec;
  Loop loop;
  unsigned short port = 0;
};

// On a live link a block longer than one packet is refused (the link stays);
// the link's end, by the peer or by Disconnect(), is reported once at the
// next deferred pass, and a newcomer accepted meanwhile is closed at once.
TEST_F(ControlLink, RefusesOversizedBlocksAndReportsTheLinksEndOnce) {
  for (bool peer_closes : {true, false}) {
    Client c;
    ASSERT_TRUE(Attach(c));
    Capture err(std::cerr);
    int before = rec.disconnects;
    std::vector<char> block(4093, 'a');
    EXPECT_FALSE(link.Send(block.data(), 4093));
    EXPECT_EQ(1u, err.count("refuse to send 4093 bytes"));
    EXPECT_TRUE(link.Send(block.data(), 4092));
    Bytes reply;
    ASSERT_TRUE(loop.RunUntil([&] { return c.TakeFrame(reply); }));
    EXPECT_EQ(4092u, reply.size());
    if (peer_closes) {
      c.Close();
    } else {
      link.Disconnect();
      EXPECT_EQ(Control::Service::State::Deactivating, link.GetState());
      link.Disconnect();  // no second report
      Client newcomer(port);
      link.ServeListener();
      EXPECT_TRUE(newcomer.eof());
      ASSERT_TRUE(loop.RunUntil([&] { return c.eof(); })) << "controller never saw its connection end";
    }
    ASSERT_TRUE(loop.RunUntil([&] { return rec.disconnects == before + 1; }));
    EXPECT_EQ(Control::Service::State::Connecting, link.GetState());
    loop.RunFor(20);
    EXPECT_EQ(before + 1, rec.disconnects);
    EXPECT_EQ(1u, err.count("control connection 127.0.0.1:"));
    EXPECT_EQ(1u, err.count(" closed.\n"));
    EXPECT_FALSE(link.holds_check_socket());
  }
  EXPECT_EQ(2, rec.connects);
}

// The watch on the live connection, one row per case: whether a newcomer is
// refused first, what the checks read, and at which check the link drops.
TEST_F(ControlLink, TheConnectionCheckDropsABrokenLinkAtTheRightCheck) {
  const std::vector<int> fast = {1, 1, 1, 3}, normal = {1, 7200, 75, 9};
  struct Row {
    const char* name;
    bool refuse;
    int tcp_state, ca_state, so_error;
    int drop_at;  // check that drops the link; 0: none of 3
    const char* line;
    bool leaves_first = false;  // the controller goes before any check; another comes, and a newcomer after it
  } rows[] = {
      {"refusal, congestion Open", true, -1, 0, 0, 0, "CheckConnectionState Idle\n"},
      {"refusal, the controller leaves before a check", true, -1, 0, 0, 0, "CheckConnectionState Idle\n", true},
      {"refusal, congestion Loss", true, -1, 4, 0, 2, " closed: tcp socket change ca_state.\n"},
      {"congestion Loss without refusal", false, -1, 4, 0, 0, ""},
      {"pending error", false, -1, -1, ECONNRESET, 1, " closed: Connection reset by peer\n"},
      {"state not established", false, 7, -1, 0, 1, " closed: tcp socket change state.\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Client c;
    ASSERT_TRUE(Attach(c));
    Capture err(std::cerr);
    if (row.refuse) {
      Client newcomer(port);
      ASSERT_TRUE(loop.RunUntil([&] { return newcomer.eof(); }));
      EXPECT_EQ(1u, err.count("refuse connection from 127.0.0.1:"));
      EXPECT_EQ(1u, err.count("CheckConnectionState CheckConnection\n"));
      EXPECT_EQ(fast, LastKeepalive());
      EXPECT_EQ(2, link.remaining_checks());
    }
    if (row.leaves_first) {  // the check state outlives the link
      c.Close();
      ASSERT_TRUE(loop.RunUntil([&] { return link.GetState() == Control::Service::State::Connecting; }));
      EXPECT_EQ(Control::AcceptorCheckConnection::CheckConnectionState::CheckConnection, link.check_state());
      ASSERT_TRUE(Attach(c));
      size_t set = fake::keepalive.size();
      Client newcomer(port);
      ASSERT_TRUE(loop.RunUntil([&] { return newcomer.eof(); }));
      EXPECT_EQ(1u, err.count("CheckConnectionState CheckConnection\n"));
      EXPECT_EQ(set, fake::keepalive.size());
    }
    fake::tcp_state = row.tcp_state;
    fake::ca_state = row.ca_state;
    fake::so_error = row.so_error;
    for (int check = 1; check <= 3 && link.IsConnected(); ++check) {
      NextCheck();
      EXPECT_EQ(check == row.drop_at, !link.IsConnected()) << "check " << check;
    }
    fake::tcp_state = fake::ca_state = -1;
    fake::so_error = 0;
    EXPECT_TRUE(!*row.line || err.count(row.line) == 1) << err.text();
    EXPECT_TRUE(!row.refuse || LastKeepalive() == normal);
    EXPECT_EQ(Control::AcceptorCheckConnection::CheckConnectionState::Idle, link.check_state());
    ASSERT_TRUE(!row.drop_at || loop.RunUntil([&] { return c.eof(); }));
    c.Close();
    ASSERT_TRUE(loop.RunUntil([&] { return link.GetState() == Control::Service::State::Connecting; }));
  }
}

// Without a socket a plain acceptor stays idle and a checking one waits; a
// port that is taken is retried every 5000 ms.
TEST(Acceptor, WithoutASocketOrPortItGivesUpOrWaits) {
  Capture err(std::cerr);
  Control::Acceptor plain(0, true);
  Control::AcceptorCheckConnection checking(0, true);
  fake::socket_errno = EMFILE;
  EXPECT_FALSE(plain.Activate());
  EXPECT_TRUE(checking.Activate());
  fake::socket_errno = 0;
  EXPECT_EQ(2u, err.count("can't create socket:Too many open files\n")) << err.text();
  EXPECT_EQ(Control::Service::State::Idle, plain.GetState());
  EXPECT_EQ(Control::Service::State::Connecting, checking.GetState());
  EXPECT_FALSE(checking.listening());

  // A taken port is retried every five seconds.
  unsigned short port = 0;
  int blocker = looptest::listenLoopback(port, 1);
  ASSERT_GE(blocker, 0);
  Control::Acceptor link(port, true);
  ASSERT_TRUE(link.Activate());
  EXPECT_EQ(1u, err.count("can't bind to socket: \"Address already in use\"  waiting...\n")) << err.text();
  ::close(blocker);
  Loop loop;
  Mux::advanceClock(4500);
  loop.RunFor(5);
  EXPECT_FALSE(link.listening());
  Mux::advanceClock(500);
  ASSERT_TRUE(loop.RunUntil([&] { return link.listening(); }));
  EXPECT_EQ(port, link.bound_port());
}

TEST_F(ControlLink, OutOfDescriptorsPausesAcceptingForASecondAndLogsOnce) {
  Capture err(std::cerr);
  fake::accept_errno = EMFILE;
  fake::accept_calls = 0;
  Client c(port);  // waits in the listener's queue
  ASSERT_TRUE(loop.RunUntil([&] { return fake::accept_calls == 1; }));
  for (int second = 1; second <= 3; ++second) {
    loop.RunFor(20);
    EXPECT_FALSE(link.accepting());
    Mux::advanceClock(500);
    loop.RunFor(5);
    EXPECT_EQ(second, fake::accept_calls) << "polled a listener it cannot serve";
    Mux::advanceClock(500);
    ASSERT_TRUE(loop.RunUntil([&] { return fake::accept_calls == second + 1; }));
  }
  EXPECT_EQ(1u, err.count("can't accept connection: ")) << err.text();
  fake::accept_errno = 0;
  Mux::advanceClock(1000);
  ASSERT_TRUE(loop.RunUntil([&] { return link.IsConnected(); }));
}

}  // namespace
