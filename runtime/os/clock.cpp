#include "runtime/os/clock.h"

#include <ctime>
#include <cstdio>

namespace Mux {

timeval g_tv_time;

namespace {

std::uint64_t g_offset_ms = 0;
bool g_mono_cached = false;
std::uint64_t g_mono_us = 0;

std::uint64_t monotonic_us_live() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return std::uint64_t(ts.tv_sec) * 1000000u + std::uint64_t(ts.tv_nsec) / 1000u;
}

std::uint64_t monotonic_us() { return g_mono_cached ? g_mono_us : monotonic_us_live(); }

}  // namespace

void mux_gettimeofday(timeval& tv) {
  if (!g_tv_time.is_zero()) {
    tv = g_tv_time;
    return;
  }
  ::gettimeofday(&tv, nullptr);
}

void mux_settimeofday() {
  ::gettimeofday(&g_tv_time, nullptr);
  g_mono_us = monotonic_us_live();
  g_mono_cached = true;
}

void mux_cleartimeofday() {
  g_tv_time = timeval();
  g_mono_cached = false;
}

int gettimeval(timeval& tv) {
  mux_gettimeofday(tv);
  return 0;
}

unsigned int milliseconds() {
  return static_cast<unsigned int>(monotonic_us() / 1000u + g_offset_ms);
}

unsigned int microseconds() { return static_cast<unsigned int>(monotonic_us()); }

std::uint64_t monotonicMicros() { return monotonic_us(); }

unsigned int millisecondsAt(std::uint64_t micros) {
  return static_cast<unsigned int>((g_mono_cached ? g_mono_us : micros) / 1000u + g_offset_ms);
}

void advanceClock(unsigned int ms) { g_offset_ms += ms; }

std::uint64_t clockOffset() { return g_offset_ms; }

void timevaladd(timeval& a, const timeval& b) {
  long s = a.tv_usec + b.tv_usec;
  a.tv_sec += b.tv_sec + s / 1000000;
  a.tv_usec = s % 1000000;
}

void timevalsub(timeval& a, const timeval& b) {
  long s = a.tv_usec - b.tv_usec + 1000000;
  a.tv_sec = a.tv_sec - b.tv_sec - 1 + s / 1000000;
  a.tv_usec = s % 1000000;
}

void timevalset(timeval& tv, std::uint64_t ms) {
  tv.tv_sec = static_cast<long>(ms / 1000);
  tv.tv_usec = static_cast<long>((ms % 1000) * 1000);
}

std::int64_t timevaldiff(const timeval& a, const timeval& b) {
  return (std::int64_t(b.tv_sec) - a.tv_sec) * 1000 + (std::int64_t(b.tv_usec) - a.tv_usec) / 1000;
}

timeval make_from_usec(std::uint64_t us) {
  return timeval(static_cast<long>(us / 1000000), static_cast<long>(us % 1000000));
}

timeval make_from_msec(std::uint64_t ms) {
  return timeval(static_cast<long>(ms / 1000), static_cast<long>((ms % 1000) * 1000));
}

std::string timevaltostring(const timeval& tv) {
  char date[64] = "";
  char out[96] = "";
  time_t secs = tv.tv_sec;
  struct tm lt;
  if (localtime_r(&secs, &lt)) std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &lt);
  std::snprintf(out, sizeof out, "%s.%06ld", date, static_cast<long>(tv.tv_usec));
  return out;
}

bool timeval_timer::is_expired(const timeval& now) const {
  if (period < 1) return false;
  return static_cast<std::uint64_t>(timevaldiff(start, now)) > static_cast<std::uint64_t>(period);
}

void timeval_timer::inc() {
  timeval p;
  timevalset(p, static_cast<std::uint64_t>(period));
  timevaladd(start, p);
}

int max_fd(const Set& a, const Set& b) { return a.max > b.max ? a.max : b.max; }

int max_fd(const Set& a, const Set& b, const Set& c) {
  int m = max_fd(a, b);
  return m > c.max ? m : c.max;
}

int select(Set& rd, Set& wr, Set& ex, timeval& timeout) {
  return ::select(max_fd(rd, wr, ex) + 1, rd.get(), wr.get(), ex.get(), &timeout);
}
int select(Set& rd, Set& wr, Set& ex) {
  return ::select(max_fd(rd, wr, ex) + 1, rd.get(), wr.get(), ex.get(), nullptr);
}
int select(Set& rd, Set& wr) { return ::select(max_fd(rd, wr) + 1, rd.get(), wr.get(), nullptr, nullptr); }
int select(Set& rd) { return ::select(rd.max + 1, rd.get(), nullptr, nullptr, nullptr); }
int select_rd(Set& rd, timeval& timeout) { return ::select(rd.max + 1, rd.get(), nullptr, nullptr, &timeout); }
int select_wr(Set& wr, timeval& timeout) { return ::select(wr.max + 1, nullptr, wr.get(), nullptr, &timeout); }

}  // namespace Mux
