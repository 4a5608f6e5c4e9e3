#pragma once
// Line-buffered log streams. In the foreground the standard output, error
// and log streams go to their descriptors one complete line per write:
// every line, in the order its line end arrived, nothing held back once a
// line is complete. Text without a line end waits for it, and goes out at
// exit, before abort and on the terminate path (FlushLogs).
#include <streambuf>

namespace Log {

// A stream buffer that can give away the text it still holds, complete or
// not (the daemon's stream buffers implement it).
class Flushable {
 public:
  virtual ~Flushable() = default;
  virtual void flushAll() = 0;
};

// One write(2) per complete line (several lines that arrive in one piece
// share a write); a line longer than the buffer goes out in parts. It keeps
// no put area, so every character and piece passes through it and a line
// goes out the moment its line end arrives, flushed or not.
class LineStreamBuf : public std::streambuf, public Flushable {
 public:
  explicit LineStreamBuf(int fd);
  ~LineStreamBuf() override;
  LineStreamBuf(const LineStreamBuf&) = delete;
  LineStreamBuf& operator=(const LineStreamBuf&) = delete;

  void flushAll() override;

 protected:
  int sync() override;
  int overflow(int c) override;
  std::streamsize xsputn(const char* s, std::streamsize n) override;

 private:
  // Writes the first n held characters and keeps the rest.
  void emit(std::size_t n);
  // Writes the complete lines held.
  void lines();
  void writeAll(const char* p, std::size_t n);

  int fd_;
  std::size_t used_ = 0;
  char buffer_[4096];
};

// Gives std::cout (descriptor 1), std::cerr and std::clog (descriptor 2)
// line buffers, flushes them at exit and on the terminate path. Once per
// process; the buffers live until the process ends.
void InstallLineBuffers();

// Writes whatever the three standard streams still hold, partial lines
// included. Safe at any time; called before abort().
void FlushLogs();

}  // namespace Log
