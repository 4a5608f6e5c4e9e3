// Every heap allocation of the program is counted.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "runtime/loop/dpc.h"
#include "runtime/loop/dual_list.h"
#include "runtime/loop/event.h"
#include "runtime/loop/multiplexer.h"
#include "runtime/loop/timer.h"
#include "runtime/os/clock.h"
#include "test_loop_support.h"

static unsigned long g_allocations = 0;
void* operator new(std::size_t n) {
  ++g_allocations;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

TEST(MultiplexerDeath, EmptyLoopReportsHang) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(multiplexer.run(false, true), "multiplexer: system hang detected!!!");
  EXPECT_DEATH(
      {
        TempRoot root;
        multiplexer.run(true, true);
      },
      "multiplexer: system hang detected!!!");
}

// ------------------------------------------------------------------ timers

struct Recorder {
  std::vector<std::string> log;
  Timer a, b, c, p, stop;
  void A() { log.push_back("a"); }
  void B() { log.push_back("b"); }
  void C(Timer* t) { log.push_back(t == &c ? "c" : "?"); }
  void Stop() {
    log.push_back("stop");
    multiplexer.terminate();
  }
  // Re-arms its timer twice while its own event is still to be destroyed.
  void Twice(Timer* t) {
    log.push_back(t->is_running() ? "twice+" : "twice");
    t->set(0, &Recorder::A, this);
    t->set(0, &Recorder::Stop, this);
  }
};

Recorder* g_plain = nullptr;
void Plain() { g_plain->log.push_back(g_plain->p.is_running() ? "p+" : "p"); }

// Each row arms timers at one frozen instant, drives the clock past them and
// lists the calls in order; "stop" ends the run.
TEST(Timers, OrderRearmCancelAndTheCounterWrap) {
  const struct {
    const char* name;
    unsigned int before;  // clock moves before arming (to the wrap)
    std::function<void(Recorder&)> arm;
    unsigned int advance;
    std::vector<std::string> log;
  } rows[] = {
      {"equal expiries in the order set", 0,
       [](Recorder& r) {
         r.c.set(5, &Recorder::C, &r);
         r.a.set(5, &Recorder::A, &r);
         r.b.set(5, &Recorder::B, &r);
         r.a.set(5, &Recorder::A, &r);  // re-armed: queued behind b
         r.stop.set(5, &Recorder::Stop, &r);
       },
       5, {"c", "b", "a", "stop"}},
      {"each arming form queues its own event class; Unbind hands it over and it fires once", 0,
       [](Recorder& r) {
         g_plain = &r;
         r.a.set(1, &Recorder::A, &r);
         r.c.set(2, &Recorder::C, &r);
         r.p.set(3, &Plain);
         EXPECT_TRUE(r.p.is_running());
         EXPECT_NE(dynamic_cast<ObjTimerEvent1<Recorder>*>(r.a.Unbind()), nullptr);
         EXPECT_NE(dynamic_cast<ObjTimerEvent2<Recorder>*>(r.c.Unbind()), nullptr);
         EXPECT_FALSE(r.a.is_running() || r.c.is_running());
         EXPECT_EQ(r.b.Unbind(), nullptr);
         EXPECT_EQ(multiplexer.timer_count(), 3u);
         r.stop.set(4, &Recorder::Stop, &r);
       },
       5, {"a", "c", "p", "stop"}},
      {"a callback re-arms twice: only the last call happens", 0,
       [](Recorder& r) { r.b.set(1, &Recorder::Twice, &r); }, 5, {"twice", "stop"}},
      {"earlier first; re-arming replaces and counts from the new set", 0,
       [](Recorder& r) {
         r.a.set(300, &Recorder::A, &r);
         r.b.set(100, &Recorder::B, &r);
         r.c.set(10, &Recorder::C, &r);
         r.c.set(200, &Recorder::C, &r);
         EXPECT_TRUE(r.c.is_running());
         EXPECT_EQ(r.c.remaining(), 200u);
         r.stop.set(400, &Recorder::Stop, &r);
         EXPECT_EQ(multiplexer.timer_count(), 4u);
       },
       400, {"b", "c", "a", "stop"}},
      {"reset, destroyed timer and destroyed owner cancel", 0,
       [](Recorder& r) {
         r.a.set(1, &Recorder::A, &r);
         r.a.reset();
         r.a.reset();
         EXPECT_FALSE(r.a.is_running());
         {
           Timer gone;
           gone.set(1, &Recorder::B, &r);
         }
         auto owner = std::make_unique<Recorder>();
         owner->a.set(1, &Recorder::A, owner.get());
         owner.reset();
         r.stop.set(2, &Recorder::Stop, &r);
       },
       5, {"stop"}},
      {"expiries on both sides of the 32-bit wrap", 5,
       [](Recorder& r) {
         r.a.set(10, &Recorder::A, &r);  // expiry after the wrap
         r.b.set(3, &Recorder::B, &r);   // before it
         r.stop.set(20, &Recorder::Stop, &r);
         EXPECT_LT(r.b.remaining(), r.a.remaining());
       },
       25, {"b", "a", "stop"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.before) Mux::advanceClock((0u - Mux::milliseconds()) - row.before);
    Recorder r;
    Mux::mux_settimeofday();
    row.arm(r);
    Mux::mux_cleartimeofday();
    Mux::advanceClock(row.advance);
    multiplexer.run(false, true);
    EXPECT_EQ(r.log, row.log);
    EXPECT_EQ(multiplexer.timer_count(), 0u);
  }
}

// A callback re-arms its own timer four times (not running inside the
// callback, running again after the re-arm), then resets it (no effect) and
// destroys its owner, timer included.
struct Periodic {
  Periodic(int* f, bool* d, LoopStopper* s) : fired(f), destroyed(d), stopper(s) {}
  int* fired;
  bool* destroyed;
  LoopStopper* stopper;
  Timer t;
  ~Periodic() { *destroyed = true; }
  void Tick(Timer* self) {
    EXPECT_FALSE(self->is_running());
    if (++*fired < 5) {
      self->set(1000, &Periodic::Tick, this);
      EXPECT_TRUE(self->is_running());
      Mux::advanceClock(1000);
      return;
    }
    self->reset();
    stopper->stop();
    delete this;
  }
};

TEST(Timers, CallbackRearmsResetsAndDestroysItsOwnTimer) {
  int fired = 0;
  bool destroyed = false;
  LoopStopper stopper;
  Periodic* p = new Periodic(&fired, &destroyed, &stopper);
  p->t.set(1000, &Periodic::Tick, p);
  Mux::advanceClock(1000);
  LoopDeadline guard(5000);
  multiplexer.run(false, true);
  EXPECT_EQ(fired, 5);
  EXPECT_TRUE(destroyed);
  EXPECT_FALSE(guard.expired());
}

// While the clock is cached every reading stands still; without the cache
// each reading is live.
TEST(Clock, ACachedClockStandsStillForEveryReading) {
  for (const bool cached : {true, false}) {
    if (cached) Mux::mux_settimeofday();
    const unsigned int ms = Mux::milliseconds(), us = Mux::microseconds();
    ::usleep(20000);
    const unsigned int moved_ms = Mux::milliseconds() - ms, moved_us = Mux::microseconds() - us;
    Mux::mux_cleartimeofday();
    if (cached) {
      EXPECT_EQ(moved_ms, 0u);
      EXPECT_EQ(moved_us, 0u);
    } else {
      EXPECT_GE(moved_ms, 20u);
      EXPECT_GE(moved_us, 20000u);
    }
  }
}

// A loop in steady state (three deferred calls, a ready descriptor whose
// handler re-arms two timers on every pass, as a controller link re-arms its
// heartbeat on every command) allocates nothing from one pass to the next;
// the deferred calls run twice per pass in address order, each once however
// often it is activated.
struct Counting {
  std::vector<int>* order = nullptr;
  int id = 0;
  Dpc dpc;
  void Run() { order->push_back(id); }
};

struct SteadyPass {
  Event ev;
  Timer heartbeat, other;
  int passes = 0;
  unsigned long at10 = 0, at110 = 0;
  void Noop() {}
  void Beat(Timer*) {}
  void On(int, short) {
    heartbeat.set(120000, &SteadyPass::Beat, this);
    other.set(1 + passes % 7, &SteadyPass::Noop, this);
    if (++passes == 10) at10 = g_allocations;
    if (passes == 110) {
      at110 = g_allocations;
      multiplexer.terminate();
    }
  }
};

TEST(Loop, SteadyPassesAllocateNothingAndRunDeferredCallsTwiceInAddressOrder) {
  std::vector<int> order;
  order.reserve(1000);
  Counting c[3];
  for (int i = 0; i < 3; ++i) {
    c[i].order = &order;
    c[i].id = i;
    c[i].dpc.Bind(&c[i], &Counting::Run);
  }
  for (int i : {2, 0, 1, 1}) c[i].dpc.Activate();
  EXPECT_EQ(multiplexer.dpc_count(), 3u);
  Pipe busy;
  ASSERT_TRUE(busy.fill());
  SteadyPass s;
  s.ev.Bind("SteadyPass::On", &SteadyPass::On, &s);
  s.ev.Schedule(busy.rd, POLLIN);
  multiplexer.run(false, true);
  EXPECT_EQ(s.passes, 110);
  EXPECT_EQ(s.at110 - s.at10, 0u);
  ASSERT_EQ(order.size(), 660u);  // 3 calls, twice per pass, 110 passes
  for (std::size_t i = 0; i < order.size(); ++i) ASSERT_EQ(order[i], static_cast<int>(i % 3)) << i;
  for (auto& x : c) x.dpc.Deactivate();
  EXPECT_EQ(multiplexer.dpc_count(), 0u);
}

void spin(unsigned int us) {
  const unsigned int start = Mux::microseconds();
  while (Mux::microseconds() - start < us) {
  }
}

// Fills its poll entry slowly; no descriptor, so the poll skips it.
struct SlowEntry : EventHandler {
  void shedule_event(pollfd& e) override {
    spin(20000);
    e.fd = -1;
    e.events = e.revents = 0;
  }
  void svc_event(short) override {}
};

struct SlowIdle {
  Event ev;
  Pipe idle;
  void On(int, short revents) {
    if (revents == 0) spin(2000);
  }
};

// Every deferred call and served handler is timed on its own: a handler
// served without returned events (here the last one served) is charged its
// own 2000 us, and the 20000 us poll-table build is charged to no deferred
// call.
TEST(Loop, EveryCallIsTimedOnItsOwn) {
  StopAfterRuns stop(3);  // one pass serves; its ready descriptor first
  SlowEntry slow;
  slow.mux_attach();
  SlowIdle idle;
  idle.ev.Bind("SlowIdle::On", &SlowIdle::On, &idle);
  idle.ev.Schedule(idle.idle.rd, POLLIN);
  const unsigned int dpcs = multiplexer.dpc_measure().counter();
  const unsigned int served = multiplexer.event_measure().counter();
  multiplexer.run(false, true);
  slow.mux_detach();
  EXPECT_EQ(multiplexer.dpc_measure().counter() - dpcs, 3u);
  EXPECT_EQ(multiplexer.event_measure().counter() - served, 3u);
  EXPECT_GE(multiplexer.event_measure().last(), 2000u);
  EXPECT_LT(multiplexer.dpc_measure().max(), 20000u);
}

// ----------------------------------------------------------- descriptors

struct Client {
  Event ev;
  int calls = 0;
  std::vector<short> seen;
  int fd_seen = -1;
  void On(int fd, short revents) {
    ++calls;
    fd_seen = fd;
    seen.push_back(revents);
    if (revents & POLLIN) {
      char buf[64];
      ssize_t n = ::read(fd, buf, sizeof buf);
      (void)n;
    }
  }
};

struct ReleaseBeforePoll {
  Dpc dpc;
  Event* victim = nullptr;
  int runs = 0;
  void Run() {
    if (++runs == 2) {  // the deferred-call run just before the first poll
      victim->Release();
      dpc.Deactivate();
    }
  }
};

struct SelfDestructing {
  static int alive;
  Event ev;
  SelfDestructing() { ++alive; }
  ~SelfDestructing() { --alive; }
  void On(int, short revents) {
    if (revents & POLLIN) delete this;
  }
};
int SelfDestructing::alive = 0;

struct Rescheduler {
  Event ev;
  Pipe second;
  int old_fd = -1;
  int calls = 0;
  void On(int, short revents) {
    ++calls;
    if (!(revents & POLLIN)) return;
    old_fd = ev.lowlevel_fd();
    ev.Schedule(second.rd, POLLIN);
    ev.SetEvents(POLLIN);
  }
};

// One poll serves every handler with its own result: one released by a
// deferred call before the poll gets nothing and shifts no one; a ready one
// gets POLLIN (counted) on its own duplicate, an idle one 0, a hung-up one
// POLLHUP (not counted: only wanted events count); a handler may destroy
// itself or move to another descriptor.
TEST(Events, OnePollServesEveryHandlerWithItsOwnResult) {
  Pipe released, ready, idle, hungup, p1, p2;
  Client v, a, b, c;
  for (Client* x : {&v, &a, &b, &c}) x->ev.Bind("Client::On", &Client::On, x);
  v.ev.Schedule(released.rd, POLLIN);
  a.ev.Schedule(ready.rd, POLLIN);
  b.ev.Schedule(idle.rd, POLLIN);
  c.ev.Schedule(hungup.rd, POLLIN);
  hungup.wr.close();
  EXPECT_NE(a.ev.lowlevel_fd(), ready.rd.lowlevel_fd());
  ReleaseBeforePoll r;
  r.victim = &v.ev;
  r.dpc.Bind(&r, &ReleaseBeforePoll::Run);
  r.dpc.Activate();
  auto* s = new SelfDestructing;
  s->ev.Bind("SelfDestructing::On", &SelfDestructing::On, s);
  s->ev.Schedule(p1.rd, POLLIN);
  Rescheduler m;
  m.ev.Bind("Rescheduler::On", &Rescheduler::On, &m);
  m.ev.Schedule(p2.rd, POLLIN);
  for (Pipe* p : {&ready, &p1, &p2}) ASSERT_TRUE(p->fill());
  StopAfterRuns stop(3);  // one pass serves
  multiplexer.run(false, true);
  EXPECT_EQ(v.calls, 0);
  EXPECT_EQ(a.seen, std::vector<short>{POLLIN});
  EXPECT_EQ(a.fd_seen, a.ev.lowlevel_fd());
  EXPECT_EQ(b.seen, std::vector<short>{0});
  ASSERT_EQ(c.seen.size(), 1u);
  EXPECT_TRUE(c.seen[0] & POLLHUP);
  EXPECT_EQ(std::vector<unsigned>({a.ev.count(), b.ev.count(), c.ev.count()}), std::vector<unsigned>({1, 0, 0}));
  EXPECT_EQ(SelfDestructing::alive, 0);
  EXPECT_EQ(m.calls, 1);
  EXPECT_EQ(::fcntl(m.old_fd, F_GETFD) >= 0 && m.old_fd != m.ev.lowlevel_fd(), false);
  EXPECT_TRUE(m.ev.IsActive());
  EXPECT_EQ(multiplexer.handler_count(), 5u);  // a, b, c, m and the stopper's idle one
}

// ---------------------------------------------------------- watchdog

// The watchdog gets START, a PING per second of poll time-out and STOP: an
// always-ready descriptor makes each poll return at once, but each pass still
// accounts its 1000 ms (the next timer is 5000 ms away). A missing device and
// a FIFO without reader are reported and the loop runs without them (the
// open never blocks). A stop set before the poll (by the 4th pass's first
// deferred-call run, a 0 ms timer or a deferred call just before the poll)
// still lets that pass run its deferred calls and poll, on an idle
// descriptor for its whole time-out.
TEST(Watchdog, StartPingPerSecondOfPollTimeoutAndStop) {
  enum { kNone, kFile, kLonelyFifo, kReadFifo };
  enum { kFourthPass, kZeroTimer, kBeforePollIdle };
  const struct {
    int kind, stop;
    const char* written;
  } rows[] = {{kNone, kFourthPass, ""},
              {kFile, kFourthPass, "STARTPINGPINGPINGPINGSTOP"},
              {kLonelyFifo, kFourthPass, ""},
              {kReadFifo, kFourthPass, "STARTPINGPINGPINGPINGSTOP"},
              {kFile, kZeroTimer, "STARTPINGSTOP"},
              {kFile, kBeforePollIdle, "STARTPINGSTOP"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.kind * 10 + row.stop);
    const int kind = row.kind;
    TempRoot root;
    root.mkdirs("/dev/misc");
    const std::string wd = root.file("/dev/misc/gw-wd");
    if (kind == kFile) std::ofstream{wd};
    if (kind >= kLonelyFifo) {
      ASSERT_EQ(::mkfifo(wd.c_str(), 0600), 0);
    }
    Fd reader;
    if (kind == kReadFifo) reader = Fd(::open(wd.c_str(), O_RDONLY | O_NONBLOCK));
    Recorder r;
    Timer far;
    far.set(5000, &Recorder::A, &r);
    if (row.stop == kZeroTimer) r.stop.set(0, &Recorder::Stop, &r);
    StopAfterRuns stop(row.stop == kFourthPass ? 7 : row.stop == kZeroTimer ? 3 : 2, row.stop != kBeforePollIdle);
    StreamCapture err(std::cerr), log(std::clog);
    multiplexer.run(true, true);
    const bool missing = kind == kNone || kind == kLonelyFifo;
    EXPECT_EQ(err.text().find("Mux: fail to open watchdog: "), missing ? 0u : std::string::npos);
    EXPECT_EQ(log.text(), "Mux: terminating...\n");
    EXPECT_TRUE(missing || multiplexer.last_poll_timeout() == 1000) << multiplexer.last_poll_timeout();
    EXPECT_FALSE(multiplexer.watchdog_open());
    EXPECT_EQ(r.log, row.stop == kZeroTimer ? std::vector<std::string>{"stop"} : std::vector<std::string>{});
    EXPECT_EQ(stop.left, row.stop == kZeroTimer ? 1 : 0);  // the deferred calls before the poll ran
    char buf[64] = {};
    const ssize_t n = kind == kReadFifo ? ::read(reader.lowlevel_fd(), buf, sizeof buf - 1) : 0;
    EXPECT_EQ(kind == kFile ? slurp(wd) : std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0), row.written);
  }
}

struct Item : F_dual_list_item<Item> {
  explicit Item(int k = 0, int t = 0) : key(k), tag(t) {}
  int compare(const Item* o) const { return key - o->key; }
  int key;
  int tag;
};

template <class L>
std::vector<int> keys(const L& l) {
  std::vector<int> out;
  for (auto it = l.begin(); it != l.end(); ++it) out.push_back(it->key * 10 + it->tag);
  return out;
}

TEST(DualList, InsertRemoveKeepLinksConsistent) {
  F_dual_list<Item> l;
  Item a(1), b(2), c(3), d(4);
  l.insert_to_tail(&b);
  l.insert_to_head(&a);
  l.insert_to_tail(&d);
  l.insert_after(&b, &c);
  EXPECT_EQ(keys(l), (std::vector<int>{10, 20, 30, 40}));
  l.insert_after(&d, new Item(5));  // after the tail: becomes the tail
  Item* five = l.remove_from_tail();
  EXPECT_EQ(five->key, 5);
  delete five;
  l.remove(&b);
  EXPECT_EQ(keys(l), (std::vector<int>{10, 30, 40}));
  EXPECT_EQ(a.get_next(), &c);
  EXPECT_EQ(c.get_prev(), &a);
  EXPECT_EQ(l.remove_from_head(), &a);
  EXPECT_EQ(l.remove_from_tail(), &d);
  EXPECT_EQ(l.begin().operator->(), &c);
  EXPECT_EQ(c.get_prev(), nullptr);
  EXPECT_EQ(c.get_next(), nullptr);
  EXPECT_EQ(l.count(), 1u);
}

TEST(SortedList, EqualKeysKeepInsertionOrder) {
  F_sorted_list<Item> l;
  Item a(5, 1), b(3, 0), c(5, 2), d(9, 0), e(1, 0), f(9, 1);
  for (Item* x : {&a, &b, &c, &d}) l.insert_to_tail_by_grown(x);
  EXPECT_EQ(keys(l), (std::vector<int>{30, 51, 52, 90}));
  for (Item* x : {&e, &f}) l.insert_to_tail_by_grown(x);
  EXPECT_EQ(keys(l), (std::vector<int>{10, 30, 51, 52, 90, 91}));
  EXPECT_EQ(l.count(), 6u);
}

}  // namespace
