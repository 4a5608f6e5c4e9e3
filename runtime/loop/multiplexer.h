#pragma once
// The one event loop of the process, the global `multiplexer`.
//
// Each pass: fire the due timers in expiry order (equal expiries in the
// order they were set), run the active deferred calls, ask the polled timer
// sources, take the poll timeout from the nearest deadline (capped at
// 1000 ms while the watchdog is open), let every registered descriptor fill
// its poll entry, run the deferred calls again, poll, then serve every
// registered descriptor (each tests its own returned events).
#include <poll.h>
#include <signal.h>

#include <cstdint>
#include <iosfwd>
#include <string>

#include "runtime/log/measure.h"
#include "runtime/loop/dual_list.h"

class Multiplexer;
class TimerEvent;
class Dpc;

// Base of everything the loop polls (in practice Event).
class EventHandler : public F_dual_list_item<EventHandler> {
 public:
  virtual ~EventHandler() = default;  // does not detach; subclasses do
  virtual void shedule_event(pollfd& entry) = 0;
  virtual void svc_event(short revents) = 0;
  virtual std::string event_name() const { return "unknown"; }
  virtual bool is_named() const { return false; }

  void mux_attach();
  void mux_detach();
  void svc_event() { svc_event(revents_); }
  bool attached() const { return attached_; }
  short returned_events() const { return revents_; }

 private:
  friend class Multiplexer;
  bool attached_ = false;
  short revents_ = 0;
};

// A polled timer source: asked on every pass how long until it needs the
// loop (negative: no deadline).
class TimerPoolPlugin {
 public:
  virtual ~TimerPoolPlugin() { timerUnhook(); }
  virtual int wait() = 0;
  void timerHook();
  void timerUnhook();

 private:
  bool hooked_ = false;
};

// A small pointer array with a constant-expression constructor, so that the
// global loop is ready before any static initialiser runs and never torn
// down under registrations of other static objects.
template <class T>
class PtrArray {
 public:
  constexpr PtrArray() = default;
  unsigned int size() const { return size_; }
  bool empty() const { return size_ == 0; }
  T* operator[](unsigned int i) const { return data_[i]; }
  void push_back(T* p);
  void insert(unsigned int at, T* p);
  void erase(unsigned int at);
  void remove_all(T* p);
  void clear() { size_ = 0; }
  void assign(const PtrArray& o);
  void swap(PtrArray& o);
  // Frees the storage (the array has no destructor of its own so that the
  // global loop never tears down at exit).
  void free_storage();

 private:
  void reserve(unsigned int n);
  T** data_ = nullptr;
  unsigned int size_ = 0;
  unsigned int cap_ = 0;
};

class Multiplexer {
 public:
  class TimerPollNotify {
   public:
    virtual ~TimerPollNotify() = default;
    virtual void removeTimerPoolPlugin(TimerPoolPlugin* p) = 0;
  };

  constexpr Multiplexer() = default;
  Multiplexer(const Multiplexer&) = delete;
  Multiplexer& operator=(const Multiplexer&) = delete;

  // Runs passes until terminate(). watchdog: feed "/dev/misc/gw-wd".
  // live_clock false: the clock is cached before the first pass and after
  // every poll, so every reading of a pass returns that instant.
  void run(bool watchdog, bool live_clock);
  // Sets the stop flag; safe from a signal handler.
  void terminate() { stop_ = 1; }

  void attach(EventHandler* h);
  void detach(EventHandler* h);
  bool event_exists(EventHandler* h) const;

  void set(TimerEvent* ev);
  void reset(TimerEvent* ev);

  void attach(Dpc* d);
  void dettach(Dpc* d);

  void hook(TimerPoolPlugin* p);
  void unhook(TimerPoolPlugin* p);

  int timers_schedule();
  int timerPoll_schedule();
  void execute_dpc();

  // Writes "PING" to the watchdog device when it is open.
  void resetWD();
  // The loop's part of the status dump.
  void dump(std::ostream& os) const;

  // Introspection for diagnostics and tests.
  unsigned int timer_count() const { return timers_.count(); }
  unsigned int handler_count() const { return new_.count() + served_.count() + active_.count(); }
  unsigned int dpc_count() const { return pending_dpc_.size(); }
  bool watchdog_open() const { return wd_fd_ >= 0; }
  // The timeout the last poll used (ms, -1: none).
  int last_poll_timeout() const { return last_timeout_; }
  const Measure& dpc_measure() const { return dpc_measure_; }
  const Measure& event_measure() const { return event_measure_; }
  const Measure& timer_measure() const { return timer_measure_; }

 private:
  F_sorted_list<TimerEvent> timers_;
  F_dual_list<EventHandler> new_;
  F_dual_list<EventHandler> served_;
  F_dual_list<EventHandler> active_;
  pollfd* table_ = nullptr;
  EventHandler** table_owner_ = nullptr;  // the handler of each table entry
  unsigned int table_size_ = 0;
  unsigned int table_cap_ = 0;
  PtrArray<Dpc> pending_dpc_;
  PtrArray<Dpc> running_dpc_;
  volatile sig_atomic_t stop_ = 0;
  Measure dpc_measure_;
  Measure event_measure_;
  Measure timer_measure_;
  PtrArray<TimerPoolPlugin> plugins_;
  PtrArray<TimerPoolPlugin> plugin_scratch_;
  TimerPollNotify* query_ = nullptr;
  int wd_fd_ = -1;
  int last_timeout_ = -1;
  bool timer_due_ = false;
  bool plugin_due_ = false;
  bool in_dpc_phase_ = false;
  bool dpc_fresh_ = false;
  // The loop's latest monotonic reading (full microseconds): taken at the
  // start of the timer phase and moved on by the end of every timer and
  // deferred-call measurement, so the loop knows its time without reading
  // the clock again.
  std::uint64_t clock_ = 0;

  void resize_table(unsigned int n);
  // clock_ := the end reading of the measurement just taken.
  void advance_to_end_of(const Measure& m);
};

extern Multiplexer multiplexer;

// Names of the set poll bits joined by "|" ("POLLIN|POLLOUT").
std::string PollEventAsText(short events);
