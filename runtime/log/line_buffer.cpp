#include "runtime/log/line_buffer.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>

namespace Log {

LineStreamBuf::LineStreamBuf(int fd) : fd_(fd) {}

LineStreamBuf::~LineStreamBuf() { flushAll(); }

void LineStreamBuf::writeAll(const char* p, std::size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd_, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return;  // nowhere to log a failing log
    p += w;
    n -= static_cast<std::size_t>(w);
  }
}

void LineStreamBuf::emit(std::size_t n) {
  writeAll(buffer_, n);
  std::memmove(buffer_, buffer_ + n, used_ - n);
  used_ -= n;
}

void LineStreamBuf::lines() {
  for (std::size_t i = used_; i > 0; --i) {
    if (buffer_[i - 1] == '\n') {
      emit(i);
      return;
    }
  }
}

// A flush in the middle of a line (std::cerr flushes after every
// insertion) must not split it: complete lines only.
int LineStreamBuf::sync() {
  lines();
  return 0;
}

void LineStreamBuf::flushAll() { emit(used_); }

int LineStreamBuf::overflow(int c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  if (used_ == sizeof buffer_) emit(used_);  // one line longer than the buffer
  buffer_[used_++] = traits_type::to_char_type(c);
  if (c == '\n') lines();
  return c;
}

std::streamsize LineStreamBuf::xsputn(const char* s, std::streamsize n) {
  std::size_t left = static_cast<std::size_t>(n);
  bool lineEnd = false;
  while (left > 0) {
    if (used_ == sizeof buffer_) {
      // Full: the complete lines go; a single line longer than the buffer
      // goes out in parts.
      lines();
      if (used_ == sizeof buffer_) emit(used_);
    }
    const std::size_t k = std::min(left, sizeof buffer_ - used_);
    lineEnd = lineEnd || std::memchr(s, '\n', k);
    std::memcpy(buffer_ + used_, s, k);
    used_ += k;
    s += k;
    left -= k;
  }
  if (lineEnd) lines();
  return n;
}

namespace {

std::terminate_handler gPreviousTerminate = nullptr;

void flushStream(std::ostream& os) {
  if (Flushable* f = dynamic_cast<Flushable*>(os.rdbuf())) f->flushAll();
}

void flushAtExit() { FlushLogs(); }

[[noreturn]] void flushThenTerminate() {
  FlushLogs();
  if (gPreviousTerminate) gPreviousTerminate();
  std::abort();
}

}  // namespace

void FlushLogs() {
  flushStream(std::cout);
  flushStream(std::clog);
  flushStream(std::cerr);
}

void InstallLineBuffers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  std::cout.flush();
  std::cout.rdbuf(new LineStreamBuf(1));
  std::cerr.rdbuf(new LineStreamBuf(2));
  std::clog.rdbuf(new LineStreamBuf(2));
  std::atexit(flushAtExit);
  gPreviousTerminate = std::set_terminate(flushThenTerminate);
}

}  // namespace Log
