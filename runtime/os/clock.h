#pragma once
// The daemon's clocks.
//
// Mux::milliseconds() is the time base of the event loop and of every timer:
// an unsigned 32-bit millisecond counter that wraps and is compared by signed
// 32-bit difference. It runs on the monotonic clock (so setting the date
// never stalls or fires timers) plus a drive offset that tests, and the
// simulated board's control socket, move forward with advanceClock() to skip
// long time-outs without waiting.
//
// Wall-clock time (gettimeofday) is kept only for printed times.
#include <sys/select.h>
#include <sys/time.h>

#include <cstdint>
#include <string>

namespace Mux {

// A point in time or a span: seconds and microseconds.
struct timeval : ::timeval {
  constexpr timeval() : ::timeval{0, 0} {}
  constexpr timeval(long seconds, long microseconds) : ::timeval{seconds, microseconds} {}
  bool is_zero() const { return tv_sec == 0 && tv_usec == 0; }
};

// Cached wall-clock time, zero while the loop reads the clock live.
extern timeval g_tv_time;

// Wall clock: the cached time when set, else gettimeofday.
void mux_gettimeofday(timeval& tv);
// Caches the current instant (wall and monotonic) so that every reading of
// the pass returns it. The loop uses it in its cached-clock mode.
void mux_settimeofday();
// Drops the cache: readings go to the system clocks again.
void mux_cleartimeofday();
// Wall clock into tv; returns 0.
int gettimeval(timeval& tv);

// The loop's clock: low 32 bits of the monotonic milliseconds plus the
// drive offset.
unsigned int milliseconds();
// Monotonic microseconds, low 32 bits (timing measurements); the cached
// instant while the clock is cached.
unsigned int microseconds();
// One reading of the monotonic clock, full microseconds (the clock of
// microseconds(), cached alike). The loop takes one per pass and moves it on
// by the ends of its timing measurements to know its own time
// (millisecondsAt).
std::uint64_t monotonicMicros();
// The loop's clock at such a reading: its milliseconds plus the drive
// offset, or the cached instant while the clock is cached.
unsigned int millisecondsAt(std::uint64_t micros);

// Moves the loop's clock forward by ms (cumulative). Due timers fire on the
// loop's next pass.
void advanceClock(unsigned int ms);
// The total drive offset so far.
std::uint64_t clockOffset();

// timeval arithmetic.
void timevaladd(timeval& a, const timeval& b);
void timevalsub(timeval& a, const timeval& b);
void timevalset(timeval& tv, std::uint64_t ms);
// b - a in milliseconds, the microsecond difference truncated toward zero.
std::int64_t timevaldiff(const timeval& a, const timeval& b);
timeval make_from_usec(std::uint64_t us);
timeval make_from_msec(std::uint64_t ms);
// Local time "%Y-%m-%d %H:%M:%S" followed by ".%06ld" microseconds.
std::string timevaltostring(const timeval& tv);

// A period measured from a start time (wall clock).
struct timeval_timer {
  timeval start;
  int period = 0;  // ms

  void init(const timeval& s, int period_ms) {
    start = s;
    period = period_ms;
  }
  void init_now() { mux_gettimeofday(start); }
  bool is_expired(const timeval& now) const;
  void inc();
};

// select() wrappers.
struct Set {
  fd_set set;
  int max = -1;

  Set() { FD_ZERO(&set); }
  void add(int fd) {
    FD_SET(fd, &set);
    if (fd > max) max = fd;
  }
  bool is_set(int fd) const { return FD_ISSET(fd, &set); }
  fd_set* get() { return max < 0 ? nullptr : &set; }
};

int max_fd(const Set& a, const Set& b);
int max_fd(const Set& a, const Set& b, const Set& c);
int select(Set& rd, Set& wr, Set& ex, timeval& timeout);
int select(Set& rd, Set& wr, Set& ex);
int select(Set& rd, Set& wr);
int select(Set& rd);
int select_rd(Set& rd, timeval& timeout);
int select_wr(Set& wr, timeval& timeout);

}  // namespace Mux
