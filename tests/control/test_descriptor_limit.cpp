// The control links on a process short of descriptors, per number of free
// descriptors when a connection comes or is made: it is served, or closed
// with the failing call named and the accepting or connecting goes on as
// after a failed accept or socket().
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/acceptor.h"
#include "control/connector.h"
#include "control/tpkt_tracer.h"
#include "control_test_support.h"
#include "hardware/descriptor_squeeze.h"
#include "runtime/os/clock.h"
#include "support/loopback.h"

using ctltest::Bytes;
using ctltest::Capture;
using ctltest::Client;
using ctltest::Loop;

namespace {

class DrivenAcceptor : public Control::AcceptorCheckConnection {
 public:
  DrivenAcceptor() : Control::AcceptorCheckConnection(0, true) {}
  void ServeListener() { OnSocketEvent(-1, POLLIN); }
};

TEST(DescriptorLimit, AnAcceptedControllerIsServedOrClosedWithTheFailingCallNamed) {
  const struct {
    std::size_t free;
    bool served;
    const char* line;
  } rows[] = {
      {1, false, "can't accept connection: dup: Too many open files, retrying every 1000 ms\n"},
      {2, false, "SockStream[]: dup fail: Too many open files\n"},
      {4, true, ""},  // (on 3 the next accept() would find none and pause)
      {8, true, ""},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.free);
    Loop loop;
    DrivenAcceptor link;
    ASSERT_TRUE(link.Activate());
    Client c(link.bound_port());
    Capture err(std::cerr), out(std::cout);
    {
      SimTest::DescriptorSqueeze squeeze;
      squeeze.Free(r.free);
      link.ServeListener();
    }
    EXPECT_EQ(link.IsConnected(), r.served);
    EXPECT_EQ(link.accepting(), r.free != 1);  // paused for a second
    ASSERT_TRUE(loop.RunUntil([&] { return c.eof() != r.served; })) << "left open and deaf";
    if (*r.line)
      EXPECT_EQ(err.count(r.line), 1u) << err.text();
    else
      EXPECT_EQ(err.text(), "");
    // The controller's next attempt is served; its end is a failure going
    // up the stack.
    Client again;
    if (!r.served) {
      again.Connect(link.bound_port());
      Mux::advanceClock(1000);
      ASSERT_TRUE(loop.RunUntil([&] { return link.IsConnected(); }));
    }
    c.Close();
    again.Close();
    ASSERT_TRUE(loop.RunUntil([&] { return link.GetState() == Control::Service::State::Connecting; }));
    link.Deactivate();
  }
}

// A listener that cannot be watched is looked at again after 1000 ms.
TEST(DescriptorLimit, AnAcceptorWatchesItsListenerOnceItCan) {
  Loop loop;
  DrivenAcceptor link;
  Capture err(std::cerr);
  {
    SimTest::DescriptorSqueeze squeeze;
    squeeze.Free(1);
    EXPECT_TRUE(link.Activate());
  }
  EXPECT_FALSE(link.listening());
  EXPECT_EQ(err.count("can't accept connection: dup: Too many open files, retrying every 1000 ms\n"), 1u) << err.text();
  Mux::advanceClock(1000);
  ASSERT_TRUE(loop.RunUntil([&] { return link.listening(); }));
  Client c(link.bound_port());
  ASSERT_TRUE(loop.RunUntil([&] { return link.IsConnected(); }));
  link.Deactivate();
}

TEST(DescriptorLimit, AConnectorRetriesAnAttemptItCannotWatchOrConnects) {
  unsigned short port = 0;
  Fd server(looptest::listenLoopback(port, 8, SOCK_CLOEXEC | SOCK_NONBLOCK));
  ASSERT_TRUE(server.is_valid());
  const struct {
    std::size_t free;
    bool connected;
    const char* line;
  } rows[] = {
      {0, false, "can't create socket:Too many open files\n"},
      {1, false, "can't dup socket: Too many open files\n"},
      {2, true, ""},
      {8, true, ""},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.free);
    Loop loop;
    Control::Connector link("127.0.0.1", port);
    Capture err(std::cerr), out(std::cout);
    {
      SimTest::DescriptorSqueeze squeeze;
      squeeze.Free(r.free);
      link.Activate();
      loop.RunUntil([&] { return link.IsConnected() || link.retry_pending(); }, 2000);
    }
    EXPECT_EQ(link.IsConnected(), r.connected);
    if (*r.line)
      EXPECT_EQ(err.count(r.line), 1u) << err.text();
    else
      EXPECT_EQ(err.text(), "");
    if (!r.connected) {
      // The quick schedule, as after any failed attempt.
      EXPECT_TRUE(link.retry_pending());
      EXPECT_LE(link.retry_remaining(), 1000u);
      Mux::advanceClock(1000);
      ASSERT_TRUE(loop.RunUntil([&] { return link.IsConnected(); }));
    }
    link.Deactivate();
    for (int fd; (fd = ::accept4(server.lowlevel_fd(), nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) ::close(fd);
  }
}

struct Heard : TPKTTracer::Listener {
  void OnMessage(const void* data, unsigned length) override {
    const unsigned char* b = static_cast<const unsigned char*>(data);
    messages.push_back(Bytes(b, b + length));
  }
  std::vector<Bytes> messages;
};

// With one descriptor free the newcomer is served (its socket is its
// watch's own); with none accepting pauses for a second.
TEST(DescriptorLimit, TheTracerServesAClientAcceptedOnTheLastDescriptor) {
  for (std::size_t free : {0u, 1u, 8u}) {
    SCOPED_TRACE(free);
    Loop loop;
    TPKTTracer tracer;
    Heard heard;
    tracer.SetListener(&heard);
    ASSERT_TRUE(tracer.Listen(0));
    Client c(tracer.bound_port());
    Capture log(std::clog);
    {
      SimTest::DescriptorSqueeze squeeze;
      squeeze.Free(free);
      loop.RunUntil([&] { return tracer.connection_count() == 1 || !tracer.accepting(); }, 2000);
    }
    EXPECT_EQ(tracer.connection_count(), free ? 1u : 0u);
    Mux::advanceClock(1000);
    ASSERT_TRUE(c.SendFrame(Bytes{1, 2, 3}));
    ASSERT_TRUE(loop.RunUntil([&] { return heard.messages.size() == 1; }, 2000)) << "left open and deaf";
    EXPECT_EQ(heard.messages[0], (Bytes{1, 2, 3}));
  }
}

}  // namespace
