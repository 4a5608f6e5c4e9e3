#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "hardware/descriptor_squeeze.h"
#include "runtime/loop/dpc.h"
#include "runtime/loop/event.h"
#include "runtime/os/async.h"
#include "runtime/os/inet4.h"
#include "runtime/os/clock.h"
#include "support/loopback.h"
#include "test_loop_support.h"

namespace {

using looptest::closedPort;
using looptest::listenLoopback;

std::string target(unsigned short port) { return "127.0.0.1:" + std::to_string(port); }

struct ConnectOwner {
  std::unique_ptr<ASync::Connect> conn{new ASync::Connect};
  int calls = 0;
  ASync::Connect::Status::Type status = ASync::Connect::Status::not_started;
  bool sock_valid = false;
  int peer_port = -1;
  bool destroy_in_callback = false;
  LoopStopper stopper;
  void OnConnect(ASync::Connect::Status::Type s, Fd sock) {
    ++calls;
    status = s;
    sock_valid = sock.is_valid();
    if (sock.is_valid()) {
      sockaddr_in a{};
      socklen_t len = sizeof a;
      if (::getpeername(sock.lowlevel_fd(), reinterpret_cast<sockaddr*>(&a), &len) == 0) peer_port = ntohs(a.sin_port);
    }
    if (destroy_in_callback) conn.reset();
    stopper.stop();
  }
};

// A refused port fails; a listening socket connects and hands the socket
// over (the owner may destroy the connect object in its callback); behind a
// full accept queue, which drops further SYNs, the connect waits for its
// time-out on the driven clock. Stop after the result does nothing.
TEST(AsyncConnect, RefusedConnectedAndTimedOut) {
  unsigned short open = 0, full = 0;
  Fd lst(listenLoopback(open, 4)), jammed(listenLoopback(full, 0));
  ASSERT_TRUE(lst.is_valid() && jammed.is_valid());
  Fd fillers[4];
  for (auto& f : fillers) {
    f = Fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    INet4::Addr a(target(full));
    ::connect(f.lowlevel_fd(), a, a.size());
  }
  using S = ASync::Connect::Status;
  const struct {
    unsigned short port;
    S::Type status;
  } rows[] = {{closedPort(), S::failed}, {open, S::connected}, {full, S::failed}};
  for (const auto& r : rows) {
    const bool ok = r.status == S::connected;
    ConnectOwner o;
    o.destroy_in_callback = ok;
    o.conn->Bind(&ConnectOwner::OnConnect, &o);
    o.conn->Start(target(r.port), 5000);
    if (r.port == full) {
      EXPECT_EQ(o.conn->state(), S::connecting);
      Mux::advanceClock(5000);  // the time-out is due on the first pass
    }
    LoopDeadline guard(5000);
    if (o.calls == 0) multiplexer.run(false, true);
    EXPECT_FALSE(guard.expired());
    EXPECT_EQ(o.status, r.status) << r.port;
    EXPECT_EQ(o.sock_valid, ok);
    EXPECT_EQ(o.peer_port, ok ? open : -1);
    EXPECT_EQ(o.conn == nullptr, ok);
    if (o.conn) o.conn->Stop();
    EXPECT_EQ(o.calls, 1);
  }
  int peer = ::accept(lst.lowlevel_fd(), nullptr, nullptr);
  EXPECT_GE(peer, 0);
  ::close(peer);
}

// Started with n descriptors free: an attempt whose socket cannot be
// watched fails inside Start rather than at its time-out; a connection
// completed with none to spare still hands its socket over.
TEST(AsyncConnect, ShortOfDescriptorsFailsAtOnceOrHandsTheSocketOver) {
  unsigned short open = 0;
  Fd lst(listenLoopback(open, 8));
  ASSERT_TRUE(lst.is_valid());
  using S = ASync::Connect::Status;
  const struct {
    std::size_t free;
    int callsInStart;
    S::Type status;
  } rows[] = {{0, 1, S::failed}, {1, 1, S::failed}, {2, 0, S::connected}, {8, 0, S::connected}};
  for (const auto& r : rows) {
    ConnectOwner o;
    o.conn->Bind(&ConnectOwner::OnConnect, &o);
    int callsInStart;
    {
      SimTest::DescriptorSqueeze squeeze;
      squeeze.Free(r.free);
      o.conn->Start(target(open), 5000);
      callsInStart = o.calls;
      LoopDeadline guard(2000);
      if (o.calls == 0) multiplexer.run(false, true);  // still short of descriptors
    }
    EXPECT_EQ(callsInStart, r.callsInStart) << r.free;
    EXPECT_EQ(o.calls, 1) << r.free;
    EXPECT_EQ(o.status, r.status) << r.free;
    EXPECT_EQ(o.peer_port, r.status == S::connected ? open : -1) << r.free;
  }
}

// --------------------------------------------------------------- copy

struct Drain {
  Event ev;
  std::string got;
  bool eof = false;
  void On(int fd, short revents) {
    if (!(revents & (POLLIN | POLLHUP))) return;
    char buf[700];  // smaller than the copy's buffer: forces partial writes
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) got.append(buf, static_cast<std::size_t>(n));
    if (n == 0) {
      eof = true;
      ev.Release();
      multiplexer.terminate();
    }
  }
};

struct CopyOwner {
  std::unique_ptr<ASync::Copy> own{new ASync::Copy};
  ASync::Copy& copy = *own;
  std::vector<int> statuses;
  Fd* close_after = nullptr;
  bool stop = false;     // end the run at the result
  bool destroy = false;  // destroy the copy at the result
  void OnDone(ASync::Copy::Status::Type s) {
    statuses.push_back(s);
    if (close_after) close_after->close();
    if (stop) multiplexer.terminate();
    if (destroy) own.reset();
  }
};

std::string make_file(const TempRoot& root, std::size_t n) {
  std::string data;
  for (std::size_t i = 0; i < n; ++i) data += static_cast<char>('a' + (i * 7) % 26);
  std::FILE* f = std::fopen(root.file("/src").c_str(), "wb");
  std::fwrite(data.data(), 1, data.size(), f);
  std::fclose(f);
  return data;
}

TEST(AsyncCopy, FileToPipeToItsEnd) {
  TempRoot root;
  std::string data = make_file(root, 300000);  // more than a pipe holds
  Fd src;
  ASSERT_TRUE(src.open(root.file("/src").c_str(), O_RDONLY));
  Pipe p(O_CLOEXEC | O_NONBLOCK);
  CopyOwner o;
  o.copy.Bind(&CopyOwner::OnDone, &o);
  o.close_after = &p.wr;  // closing our write end ends the reader's stream
  Drain d;
  d.ev.Bind("Drain::On", &Drain::On, &d);
  d.ev.Schedule(p.rd, POLLIN);
  p.rd.close();
  o.copy.Start(src, p.wr);
  src.close();
  LoopDeadline guard(10000);
  multiplexer.run(false, true);
  EXPECT_FALSE(guard.expired());
  EXPECT_EQ(o.statuses, std::vector<int>{ASync::Copy::Status::finished});
  EXPECT_EQ(o.copy.written(), data.size());
  EXPECT_TRUE(d.got == data) << d.got.size();
  EXPECT_TRUE(d.eof);
}

// Without flush events a short copy ends inside Start; the owner may
// destroy the copy in its callback.
TEST(AsyncCopy, OwnerMayDestroyTheCopyInItsCallback) {
  TempRoot root;
  make_file(root, 10);
  Fd src, dst;
  ASSERT_TRUE(src.open(root.file("/src").c_str(), O_RDONLY) && dst.open("/dev/null", O_WRONLY));
  CopyOwner o;
  o.destroy = true;
  ASync::Copy::EventsParams p;
  p.flush_events = 0;
  o.copy.set_events(p);
  o.copy.Bind(&CopyOwner::OnDone, &o);
  o.copy.Start(src, dst);
  EXPECT_EQ(o.statuses, std::vector<int>{ASync::Copy::Status::finished});
  EXPECT_EQ(o.own, nullptr);
}

// A copy from an empty source waits; new event parameters abort it and
// close both its descriptors. A destination whose reader is gone is an error.
TEST(AsyncCopy, WaitingSourceAbortAndDestinationHangup) {
  ::signal(SIGPIPE, SIG_IGN);
  for (bool hangup : {false, true}) {
    Pipe s(O_CLOEXEC | O_NONBLOCK), d(O_CLOEXEC | O_NONBLOCK);
    CopyOwner o;
    o.copy.Bind(&CopyOwner::OnDone, &o);
    o.copy.Start(s.rd, d.wr);
    if (hangup) {
      d.rd.close();
      ASSERT_EQ(::write(s.wr.lowlevel_fd(), "data", 4), 4);
      o.stop = true;
      LoopDeadline guard(10000);
      multiplexer.run(false, true);
      EXPECT_EQ(o.statuses, std::vector<int>{ASync::Copy::Status::error});
      continue;
    }
    EXPECT_EQ(o.copy.state(), ASync::Copy::Status::copying);  // EAGAIN: waits for POLLIN
    EXPECT_EQ(o.copy.written(), 0u);
    EXPECT_TRUE(o.statuses.empty());
    o.copy.set_events(ASync::Copy::EventsParams());
    EXPECT_EQ(o.statuses, std::vector<int>{ASync::Copy::Status::aborted});
    // Our write end is now the destination's last writer.
    d.wr.close();
    char c;
    EXPECT_EQ(::read(d.rd.lowlevel_fd(), &c, 1), 0);
    o.copy.set_bufsize(16);  // not running: nothing more
    EXPECT_EQ(o.statuses.size(), 1u);
  }
}

// Started with n descriptors free on an empty source: a copy with a side
// that cannot be watched fails inside Start; one with both sides watched
// copies what the source gets later, to its end.
TEST(AsyncCopy, ASideThatCannotBeWatchedFailsTheCopy) {
  using S = ASync::Copy::Status;
  const struct {
    std::size_t free;
    int status;
  } rows[] = {{0, S::error}, {1, S::error}, {2, S::finished}, {8, S::finished}};
  ASync::Copy::EventsParams flushless;
  flushless.flush_events = 0;
  ::signal(SIGPIPE, SIG_IGN);
  for (const auto& r : rows) {
    Pipe src(O_CLOEXEC | O_NONBLOCK), dst(O_CLOEXEC | O_NONBLOCK);
    CopyOwner o;
    o.stop = true;
    o.copy.set_events(flushless);
    o.copy.Bind(&CopyOwner::OnDone, &o);
    {
      SimTest::DescriptorSqueeze squeeze;
      squeeze.Free(r.free);
      o.copy.Start(std::move(src.rd), std::move(dst.wr));
    }
    // Data and end of the source come only now: an unwatched copy would
    // never see them (a failed one has closed the source already).
    EXPECT_EQ(::write(src.wr.lowlevel_fd(), "data", 4), r.status == S::finished ? 4 : -1) << r.free;
    src.wr.close();
    LoopDeadline guard(2000);
    if (o.statuses.empty()) multiplexer.run(false, true);
    EXPECT_EQ(o.statuses, std::vector<int>{r.status}) << r.free;
    char buf[8];
    EXPECT_EQ(::read(dst.rd.lowlevel_fd(), buf, sizeof buf), r.status == S::finished ? 4 : 0) << r.free;
  }
}

}  // namespace
