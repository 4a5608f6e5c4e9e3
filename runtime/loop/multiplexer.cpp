#include "runtime/loop/multiplexer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "runtime/log/ext.h"
#include "runtime/log/line_buffer.h"
#include "runtime/loop/dpc.h"
#include "runtime/loop/event.h"
#include "runtime/loop/timer.h"
#include "runtime/os/clock.h"
#include "runtime/os/fd.h"
#include "runtime/os/paths.h"

// Constant-initialised: ready before any static initialiser of another unit
// registers with it, and never torn down at exit.
Multiplexer multiplexer;

namespace {

const int kNoDeadline = 2147483647;
const int kMaxWait = 7200000;
const char kWatchdogPath[] = "/dev/misc/gw-wd";

}  // namespace

// ---------------------------------------------------------------- PtrArray

template <class T>
void PtrArray<T>::reserve(unsigned int n) {
  if (n <= cap_) return;
  unsigned int c = cap_ ? cap_ * 2 : 16;
  while (c < n) c *= 2;
  T** d = static_cast<T**>(std::realloc(data_, c * sizeof(T*)));
  if (!d) throw std::bad_alloc();
  data_ = d;
  cap_ = c;
}

template <class T>
void PtrArray<T>::push_back(T* p) {
  reserve(size_ + 1);
  data_[size_++] = p;
}

template <class T>
void PtrArray<T>::insert(unsigned int at, T* p) {
  reserve(size_ + 1);
  std::memmove(data_ + at + 1, data_ + at, (size_ - at) * sizeof(T*));
  data_[at] = p;
  ++size_;
}

template <class T>
void PtrArray<T>::erase(unsigned int at) {
  std::memmove(data_ + at, data_ + at + 1, (size_ - at - 1) * sizeof(T*));
  --size_;
}

template <class T>
void PtrArray<T>::remove_all(T* p) {
  unsigned int j = 0;
  for (unsigned int i = 0; i < size_; ++i)
    if (data_[i] != p) data_[j++] = data_[i];
  size_ = j;
}

template <class T>
void PtrArray<T>::assign(const PtrArray& o) {
  reserve(o.size_);
  if (o.size_) std::memcpy(data_, o.data_, o.size_ * sizeof(T*));
  size_ = o.size_;
}

template <class T>
void PtrArray<T>::swap(PtrArray& o) {
  std::swap(data_, o.data_);
  std::swap(size_, o.size_);
  std::swap(cap_, o.cap_);
}

template <class T>
void PtrArray<T>::free_storage() {
  std::free(data_);
  data_ = nullptr;
  size_ = cap_ = 0;
}

template class PtrArray<Dpc>;
template class PtrArray<TimerPoolPlugin>;

// ------------------------------------------------------------ EventHandler

void EventHandler::mux_attach() {
  if (attached_) return;
  multiplexer.attach(this);
  attached_ = true;
}

void EventHandler::mux_detach() {
  if (!attached_) return;
  multiplexer.detach(this);
  attached_ = false;
}

void TimerPoolPlugin::timerHook() {
  if (hooked_) return;
  multiplexer.hook(this);
  hooked_ = true;
}

void TimerPoolPlugin::timerUnhook() {
  if (!hooked_) return;
  multiplexer.unhook(this);
  hooked_ = false;
}

// ------------------------------------------------------------- registry

bool Multiplexer::event_exists(EventHandler* h) const {
  return new_.contains(h) || served_.contains(h) || active_.contains(h);
}

void Multiplexer::attach(EventHandler* h) {
  if (event_exists(h)) {
    std::cerr << "duplicate multiplexer attach " << std::flush;
    std::cerr << '"' << h->event_name() << "\" ignored." << std::endl;
    return;
  }
  new_.insert_to_tail(h);
}

void Multiplexer::detach(EventHandler* h) {
  F_dual_list<EventHandler>* lists[] = {&new_, &served_, &active_};
  for (F_dual_list<EventHandler>* l : lists) {
    if (l->contains(h)) {
      l->remove(h);
      // Keep every poll entry paired with its own handler: an entry whose
      // handler left is no longer delivered.
      for (unsigned int i = 0; i < table_size_; ++i)
        if (table_owner_[i] == h) table_owner_[i] = nullptr;
      return;
    }
  }
  std::cerr << "indvalid Multiplexer::detach " << std::flush;
  std::cerr << h->event_name() << std::endl;
}

void Multiplexer::set(TimerEvent* ev) {
  reset(ev);
  timers_.insert_to_tail_by_grown(ev);
  ev->queued_ = true;
}

void Multiplexer::reset(TimerEvent* ev) {
  if (!ev->queued_) return;
  timers_.remove(ev);
  ev->queued_ = false;
}

void Multiplexer::attach(Dpc* d) {
  // Sorted by address, no duplicates.
  unsigned int i = 0;
  while (i < pending_dpc_.size() && pending_dpc_[i] < d) ++i;
  if (i < pending_dpc_.size() && pending_dpc_[i] == d) return;
  pending_dpc_.insert(i, d);
  if (in_dpc_phase_) dpc_fresh_ = true;
}

void Multiplexer::dettach(Dpc* d) {
  pending_dpc_.remove_all(d);
  running_dpc_.remove_all(d);
}

void Multiplexer::hook(TimerPoolPlugin* p) { plugins_.push_back(p); }

void Multiplexer::unhook(TimerPoolPlugin* p) {
  if (query_) {
    query_->removeTimerPoolPlugin(p);
    return;
  }
  plugins_.remove_all(p);
}

// ----------------------------------------------------------------- phases

// Each timer, deferred call and served handler runs between begin() and
// end() of its own measurement. The loop reads the clock itself once per
// pass, at the start of the timer phase; after that it takes its time from
// the end of the last timer or deferred-call measurement.
void Multiplexer::advance_to_end_of(const Measure& m) {
  const unsigned int end = m.start() + m.last();
  clock_ += static_cast<unsigned int>(end - static_cast<unsigned int>(clock_));
}

int Multiplexer::timers_schedule() {
  clock_ = Mux::monotonicMicros();
  unsigned int now = Mux::millisecondsAt(clock_);
  while (!timers_.empty()) {
    TimerEvent* head = timers_.first_item();
    if (static_cast<int>(now - head->expiry) < 0) break;
    timers_.remove(head);
    head->queued_ = false;
    timer_measure_.begin();
    head->fire();
    timer_measure_.end();
    advance_to_end_of(timer_measure_);
  }
  execute_dpc();

  timer_due_ = false;
  if (timers_.empty()) return 0;
  // The deferred calls may have armed timers or moved the clock on: measure
  // the wait against the time after them. A head that is already due is
  // polled for with a zero timeout, never mistaken for an empty queue.
  now = Mux::millisecondsAt(clock_);
  int wait = static_cast<int>(timers_.first_item()->expiry - now);
  if (wait <= 0) {
    timer_due_ = true;
    return 0;
  }
  if (wait <= kMaxWait) return wait;

  std::cerr << "******** RUNTIME ERROR CONDITION *************" << std::endl
            << "Multiplexer::timers_schedule() invalid wait time detected!" << std::endl
            << "now = " << now << std::endl
            << "first = " << timers_.first_item()->expiry << std::endl
            << "count = " << timers_.count() << std::endl;
  for (TimerEvent* t : timers_) t->expiry = now + 1000;
  return 1000;
}

namespace {

class TimerPollGuard : public Multiplexer::TimerPollNotify {
 public:
  // `scratch` is an empty array whose storage the query borrows, so that a
  // pass allocates nothing.
  TimerPollGuard(PtrArray<TimerPoolPlugin>& list, PtrArray<TimerPoolPlugin>& scratch)
      : list_(list), pending_(scratch) {
    list_.swap(pending_);
  }
  ~TimerPollGuard() override {
    // Anything not asked (the query ended early) goes back to the loop.
    for (unsigned int i = 0; i < pending_.size(); ++i) list_.push_back(pending_[i]);
    pending_.clear();
  }

  void removeTimerPoolPlugin(TimerPoolPlugin* p) override {
    list_.remove_all(p);
    pending_.remove_all(p);
  }

  int query(bool& due) {
    int best = kNoDeadline;
    for (unsigned int i = 0; i < pending_.size(); ++i) {
      TimerPoolPlugin* p = pending_[i];
      pending_.erase(i--);
      list_.push_back(p);
      int w = p->wait();
      if (w >= 0 && w < best) best = w;
    }
    due = best == 0;
    return best;
  }

 private:
  PtrArray<TimerPoolPlugin>& list_;
  PtrArray<TimerPoolPlugin>& pending_;
};

}  // namespace

int Multiplexer::timerPoll_schedule() {
  TimerPollGuard guard(plugins_, plugin_scratch_);
  query_ = &guard;
  int best = guard.query(plugin_due_);
  query_ = nullptr;
  return best;
}

void Multiplexer::execute_dpc() {
  bool outer = !in_dpc_phase_;
  in_dpc_phase_ = true;
  running_dpc_.assign(pending_dpc_);
  // Taken from the front by index: erasing the first entry would move the
  // rest on every call.
  for (unsigned int i = 0; i < running_dpc_.size(); ++i) {
    Dpc* d = running_dpc_[i];
    running_dpc_.erase(i--);
    dpc_measure_.begin();
    d->Invoke();
    dpc_measure_.end();
    advance_to_end_of(dpc_measure_);
  }
  if (outer) in_dpc_phase_ = false;
}

// ------------------------------------------------------------------ run

void Multiplexer::resize_table(unsigned int n) {
  if (n > table_cap_) {
    unsigned int c = table_cap_ ? table_cap_ : 16;
    while (c < n) c *= 2;
    pollfd* t = static_cast<pollfd*>(std::realloc(table_, c * sizeof(pollfd)));
    if (!t) throw std::bad_alloc();
    table_ = t;
    EventHandler** o = static_cast<EventHandler**>(std::realloc(table_owner_, c * sizeof(EventHandler*)));
    if (!o) throw std::bad_alloc();
    table_owner_ = o;
    table_cap_ = c;
  }
  for (unsigned int i = table_size_; i < n; ++i) {
    std::memset(&table_[i], 0, sizeof(pollfd));
    table_owner_[i] = nullptr;
  }
  table_size_ = n;
}

void Multiplexer::resetWD() {
  if (wd_fd_ < 0) return;
  if (::write(wd_fd_, "PING", 4) != 4) {
    Errno e;
    std::cerr << "Mux: ping watchdog failed: " << e << std::endl;
  }
}

void Multiplexer::run(bool watchdog, bool live_clock) {
  stop_ = 0;
  if (watchdog) {
    std::string path = RootPath::resolve(kWatchdogPath);
    // Non-blocking: a watchdog that stops reading must not freeze the loop.
    wd_fd_ = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (wd_fd_ < 0) {
      Errno e;
      std::cerr << "Mux: fail to open watchdog: " << e << std::endl;
    } else if (::write(wd_fd_, "START", 5) != 5) {
      Errno e;
      std::cerr << "Mux: fail to activate watchdog: " << e << std::endl;
      ::close(wd_fd_);
      wd_fd_ = -1;
    }
  }
  if (!live_clock) Mux::mux_settimeofday();
  int wd_accum = 0;

  while (!stop_) {
    int timer_wait = timers_schedule();
    bool timer_deadline = timer_wait >= 1 || timer_due_;
    int plug_wait = timerPoll_schedule();
    bool plug_deadline = (plug_wait >= 1 && plug_wait != kNoDeadline) || plugin_due_;

    int timeout = -1;
    if (timer_deadline) timeout = timer_due_ ? 0 : timer_wait;
    if (plug_deadline) {
      int w = plugin_due_ ? 0 : plug_wait;
      if (timeout < 0 || w < timeout) timeout = w;
    }

    while (EventHandler* h = new_.remove_from_head()) active_.insert_to_tail(h);
    if (active_.count() != table_size_) resize_table(active_.count());
    unsigned int i = 0;
    for (EventHandler* h : active_) {
      table_owner_[i] = h;
      h->shedule_event(table_[i]);
      ++i;
    }

    if (timeout == -1 && table_size_ == 0) {
      // A stop from the last timer or deferred call leaves nothing to wait
      // for: the run ends rather than reporting a hang.
      if (stop_) break;
      std::cerr << "multiplexer: system hang detected!!!" << std::endl;
      Log::FlushLogs();
      std::abort();
    }
    if (wd_fd_ >= 0 && (timeout < 0 || timeout > 1000)) timeout = 1000;

    dpc_fresh_ = false;
    execute_dpc();
    // A deferred call of this phase may have armed an earlier timer or
    // activated a one-shot call: do not sleep past it.
    if (dpc_fresh_) timeout = 0;
    if (!timers_.empty() && timeout != 0) {
      int w = static_cast<int>(timers_.first_item()->expiry - Mux::millisecondsAt(clock_));
      if (w < 0) w = 0;
      if (timeout < 0 || w < timeout) timeout = w;
    }

    last_timeout_ = timeout;
    int n = ::poll(table_, table_size_, timeout);
    int poll_errno = errno;
    if (!live_clock) Mux::mux_settimeofday();

    if (timeout > 0) {
      wd_accum += timeout;
      if (wd_accum > 999) {
        wd_accum -= 1000;
        if (wd_accum > 1000) wd_accum = 1000;
        resetWD();
      }
    }

    if (n == 0) continue;
    if (n < 0) {
      if (poll_errno == EINTR) continue;
      std::cerr << "multiplexer poll failed: " << std::strerror(poll_errno) << std::endl;
      Log::FlushLogs();
      std::abort();
    }

    for (unsigned int k = 0; k < table_size_; ++k)
      if (table_owner_[k]) table_owner_[k]->revents_ = table_[k].revents;
    // Entries belong to this poll only.
    for (unsigned int k = 0; k < table_size_; ++k) table_owner_[k] = nullptr;

    while (!stop_ && !active_.empty()) {
      EventHandler* h = active_.remove_from_head();
      served_.insert_to_tail(h);
      event_measure_.begin();
      h->svc_event();
      event_measure_.end();
    }
    active_.merge(served_);
    // Handlers not served because the loop was stopped stay polled.
    while (EventHandler* h = served_.remove_from_head()) active_.insert_to_tail(h);
  }

  std::clog << "Mux: terminating..." << std::endl;
  if (wd_fd_ >= 0) {
    if (::write(wd_fd_, "STOP", 4) != 4) {
      Errno e;
      std::cerr << "Mux: stop watchdog failed: " << e << std::endl;
    }
    ::close(wd_fd_);
    wd_fd_ = -1;
  }
  // The cache belongs to this run; readings after it are live again.
  if (!live_clock) Mux::mux_cleartimeofday();
}

// ------------------------------------------------------------------ dump

void Multiplexer::dump(std::ostream& os) const {
  os << "dpc transition measurement (min/max/cur/counter): " << dpc_measure_ << '\n';
  os << "event transition measurement (min/max/cur/counter): " << event_measure_ << '\n';
  os << "timer transition measurement (min/max/cur/counter): " << timer_measure_ << '\n';
  Profile::dump(os);
  ext::Table t(40, 30, 10, 10, 5, 60);
  os << t << ext::delimeter;
  os << t << ext::beginrow << "name" << ext::nextrow << "events" << ext::nextrow << "count" << ext::nextrow
     << "handler" << ext::nextrow << "fd" << ext::nextrow << "measure" << ext::nextrow;
  for (EventHandler* h : active_) {
    if (!h->is_named()) continue;
    const Event* e = dynamic_cast<const Event*>(h);
    if (!e) continue;
    os << t << ext::beginrow << e->event_name() << ext::nextrow << PollEventAsText(e->events()) << ext::nextrow
       << e->count() << ext::nextrow << (e->bound() ? "attached" : "unattached") << ext::nextrow
       << e->lowlevel_fd() << ext::nextrow << e->measure() << ext::nextrow;
  }
  os << t << ext::delimeter;
  os << '\n';
}

std::string PollEventAsText(short events) {
  static const struct {
    int bit;
    const char* name;
  } names[] = {{0x1, "|POLLIN"},     {0x2, "|POLLPRI"},     {0x4, "|POLLOUT"},     {0x8, "|POLLERR"},
               {0x10, "|POLLHUP"},   {0x20, "|POLLNVAL"},   {0x40, "|POLLRDNORM"}, {0x80, "|POLLRDBAND"},
               {0x100, "|POLLWRNORM"}, {0x200, "|POLLWRBAND"}, {0x400, "|POLLMSG"}};
  std::string s;
  for (const auto& n : names)
    if (events & n.bit) s += n.name;
  if (!s.empty()) s.erase(0, 1);
  return s;
}
