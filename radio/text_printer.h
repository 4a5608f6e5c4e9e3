#pragma once
// Appends snprintf output to a fixed text buffer that always keeps its final
// zero byte; nothing is written past the buffer. total() is the sum of what
// every call asked for, as snprintf reports it, so a cut text still reports
// its full length.
#include <cstdio>

namespace radio_text {

class Printer {
 public:
  Printer(char* buffer, long size) : buf_(buffer), size_(size) {}
  template <typename... A>
  void add(const char* fmt, A... args) {
    if (!buf_ || size_ < 1) return;
    long pos = used_ < size_ - 1 ? used_ : size_ - 1;
    int n;
    if constexpr (sizeof...(A) == 0)
      n = std::snprintf(buf_ + pos, static_cast<size_t>(size_ - pos), "%s", fmt);  // a plain text
    else
      n = std::snprintf(buf_ + pos, static_cast<size_t>(size_ - pos), fmt, args...);
    if (n > 0) {
      total_ += n;
      used_ += n;
    }
  }
  int total() const { return total_; }

 private:
  char* buf_;
  long size_;
  long used_ = 0;
  int total_ = 0;
};

}  // namespace radio_text
