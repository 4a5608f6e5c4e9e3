// The TCP control link over real loopback sockets: the stream layer, the
// link states, the acceptor's one-controller rule and its connection check.
#include <gtest/gtest.h>

#include <sys/socket.h>

#include <string>
#include <vector>

#include "control/acceptor.h"
#include "control/service.h"
#include "control/strm_protocol.h"
#define CTLTEST_FAILING_ACCEPT
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
  StrmOwner() { strm = static_cast<StrmProtocol*>(add_protocol_tail(new StrmProtocol)); }
  void on_message(Packet& p) override { got.insert(got.end(), p.data(), p.data() + p.length()); }
  void on_activated(Protocol*) override { up = true; }
  void on_deactivated(Protocol* p, ProtocolStatus s) override {
    reporter = p;
    status = s;
  }
  StrmProtocol* strm;
  bool up = false;
  Protocol* reporter = nullptr;
  ProtocolStatus status;
  Bytes got;
};

// A connected pair of loopback TCP sockets, the first non-blocking.
void TcpPair(int sv[2]) {
  unsigned short port = 0;
  int l = looptest::listenLoopback(port, 1);
  ASSERT_GE(l, 0);
  sv[1] = startup_test::connectTo(port);
  ASSERT_GE(sv[1], 0);
  sv[0] = ::accept4(l, nullptr, nullptr, SOCK_NONBLOCK);
  ASSERT_GE(sv[0], 0);
  ::close(l);
}

TEST(StreamLayer, ReadsWritesAndReportsThePeerClosing) {
  int sv[2];
  TcpPair(sv);
  StrmOwner o;
  o.strm->attach(Fd(sv[0]));
  EXPECT_TRUE(o.strm->opened());
  o.activate();
  EXPECT_TRUE(o.up);

  // An empty packet writes nothing and succeeds; a full one arrives whole.
  Packet empty;
  empty.reserve_head(0);
  o.strm->message(empty);
  Packet p;
  p.reserve_head(0);
  std::memcpy(p.put(5), "hello", 5);
  o.strm->message(p);
  EXPECT_EQ(5u, p.length());  // the caller's packet is left as it was
  char buf[16];
  ASSERT_EQ(5, ::read(sv[1], buf, sizeof buf));
  EXPECT_EQ(0, std::memcmp(buf, "hello", 5));

  ASSERT_EQ(3, ::write(sv[1], "abc", 3));
  Loop loop;
  ASSERT_TRUE(loop.RunUntil([&] { return o.got.size() == 3; }));
  EXPECT_TRUE(o.status.null());

  ::close(sv[1]);
  ASSERT_TRUE(loop.RunUntil([&] { return !o.status.null(); }));
  EXPECT_FALSE(o.status->success());
  EXPECT_EQ(0u, o.status->message().find("read error: ")) << o.status->message();
  EXPECT_FALSE(o.strm->opened());
}

TEST(StreamLayer, AFullSocketTimesOutAfterOneSecondAndDetaches) {
  int sv[2];
  ASSERT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, sv));
  int small = 4096;
  ::setsockopt(sv[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  StrmOwner o;
  o.strm->attach(Fd(sv[0]));
  o.activate();
  Capture err(std::cerr);
  Packet p;
  p.reserve_head(0);
  p.put(4096);
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 1000 && o.status.null(); ++i) o.strm->message(p);
  auto took = std::chrono::steady_clock::now() - start;
  ASSERT_FALSE(o.status.null());
  EXPECT_EQ("write timeout", o.status->message());
  EXPECT_EQ(1u, o.strm->GetOverflowCounter());
  EXPECT_FALSE(o.strm->opened());
  EXPECT_GE(took, std::chrono::milliseconds(990));
  EXPECT_LT(took, std::chrono::milliseconds(3000));
  EXPECT_NE(std::string::npos, err.text().find("SockStream[]: write timeout, sendbuf="));
  ::close(sv[1]);
}

// ---- the link over TCP -------------------------------------------------------

class Recorder : public Control::Notify {
 public:
  void OnConnect() override { ++connects; }
  void OnDisconnect() override { ++disconnects; }
  void OnMessage(const char* d, int n) override {
    messages.push_back(Bytes(d, d + n));
  }
  int connects = 0;
  int disconnects = 0;
  std::vector<Bytes> messages;
};

class ControlLink : public ::testing::Test {
 protected:
  void SetUp() override {
    link.Bind(&rec);
    ASSERT_TRUE(link.Activate());
    port = link.bound_port();
    ASSERT_NE(0, port);
  }
  void TearDown() override { link.Deactivate(); }

  bool Attach(Client& c) {
    return c.Connect(port) && loop.RunUntil([&] { return link.IsConnected(); });
  }

  Control::AcceptorCheckConnection link{0};
  Recorder rec;
  Loop loop;
  unsigned short port = 0;
};

TEST_F(ControlLink, ABlockLongerThanOnePacketIsRefusedAndTheLinkStaysUp) {
  Client c;
  ASSERT_TRUE(Attach(c));
  std::vector<char> block(4093, 'a');
  {
    Capture err(std::cerr);
    EXPECT_FALSE(link.Send(block.data(), static_cast<int>(block.size())));
    EXPECT_NE(std::string::npos, err.text().find("refuse to send 4093 bytes"));
  }
  EXPECT_TRUE(link.IsConnected());
  EXPECT_TRUE(link.Send(block.data(), 4092));
  Bytes reply;
  ASSERT_TRUE(loop.RunUntil([&] { return c.TakeFrame(reply); }));
  EXPECT_EQ(4092u, reply.size());
}

TEST_F(ControlLink, PeerCloseIsReportedOnceAtTheNextDeferredPass) {
  Client c;
  ASSERT_TRUE(Attach(c));
  Capture err(std::cerr);
  c.Close();
  ASSERT_TRUE(loop.RunUntil([&] { return rec.disconnects == 1; }));
  EXPECT_EQ(Control::Service::State::Connecting, link.GetState());
  EXPECT_EQ(1u, err.count(" closed.\n"));
  EXPECT_NE(std::string::npos, err.text().find("control connection 127.0.0.1:"));
  loop.RunFor(20);
  EXPECT_EQ(1, rec.disconnects);
  EXPECT_FALSE(link.holds_check_socket());
}

TEST_F(ControlLink, DisconnectEndsTheControllersConnection) {
  Client c;
  ASSERT_TRUE(Attach(c));
  link.Disconnect();
  EXPECT_EQ(Control::Service::State::Deactivating, link.GetState());
  link.Disconnect();  // no second report
  ASSERT_TRUE(loop.RunUntil([&] { return c.eof(); }, 3000)) << "controller never saw its connection end";
  EXPECT_EQ(1, rec.disconnects);
  EXPECT_FALSE(link.holds_check_socket());
}

// Lets a test run the listener's handler at a chosen moment.
class DrivenAcceptor : public Control::AcceptorCheckConnection {
 public:
  DrivenAcceptor() : Control::AcceptorCheckConnection(0) {}
  void ServeListener() { OnSocketEvent(-1, POLLIN); }
};

TEST(Acceptor, AConnectionAcceptedWhileTheLinkGoesDownIsClosedAtOnce) {
  DrivenAcceptor link;
  Recorder rec;
  link.Bind(&rec);
  ASSERT_TRUE(link.Activate());
  Loop loop;
  Client first(link.bound_port());
  ASSERT_TRUE(loop.RunUntil([&] { return link.IsConnected(); }));
  link.Disconnect();
  ASSERT_EQ(Control::Service::State::Deactivating, link.GetState());
  Client second(link.bound_port());
  link.ServeListener();
  EXPECT_TRUE(second.eof());
  ASSERT_TRUE(loop.RunUntil([&] { return rec.disconnects == 1 && first.eof(); }));
  EXPECT_EQ(1, rec.connects);
  link.Deactivate();
}

TEST(Acceptor, OutOfDescriptorsPausesAcceptingForASecondAndLogsOnce) {
  DrivenAcceptor link;
  Recorder rec;
  link.Bind(&rec);
  ASSERT_TRUE(link.Activate());
  Loop loop;
  Capture err(std::cerr);
  g_accept_errno = EMFILE;
  g_accept_calls = 0;
  Client c(link.bound_port());  // waits in the listener's queue
  ASSERT_TRUE(loop.RunUntil([&] { return g_accept_calls == 1; }));
  for (int second = 1; second <= 3; ++second) {
    loop.RunFor(20);
    EXPECT_FALSE(link.accepting());
    Mux::advanceClock(500);
    loop.RunFor(5);
    EXPECT_EQ(second, g_accept_calls) << "polled a listener it cannot serve";
    Mux::advanceClock(500);
    ASSERT_TRUE(loop.RunUntil([&] { return g_accept_calls == second + 1; }));
  }
  EXPECT_EQ(1u, err.count("can't accept connection: ")) << err.text();
  g_accept_errno = 0;
  Mux::advanceClock(1000);
  ASSERT_TRUE(loop.RunUntil([&] { return link.IsConnected(); }));
  link.Deactivate();
}

}  // namespace
