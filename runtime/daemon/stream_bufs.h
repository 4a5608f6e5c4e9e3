#pragma once
// Stream buffers that carry the daemon's standard streams once it runs
// detached: SysLogStreamBuf sends every line as one syslog message;
// LogFileStreamBuf writes lines with a time prefix into hourly log files.
#include <sys/time.h>

#include <fstream>
#include <streambuf>
#include <string>

#include "runtime/log/line_buffer.h"

// One syslog message per line, at a fixed priority (facility | severity).
// A flush that finds a line end sends every line and then the text after
// the last line end as a message of its own; text without any line end is
// held until a line end arrives, the 1023 usable characters of the buffer
// are full, or flushAll() (at exit).
class SysLogStreamBuf : public std::basic_streambuf<char>, public Log::Flushable {
 public:
  SysLogStreamBuf(int facility, int severity);
  ~SysLogStreamBuf() override;
  SysLogStreamBuf(const SysLogStreamBuf&) = delete;
  SysLogStreamBuf& operator=(const SysLogStreamBuf&) = delete;

  int priority() const { return mPriority; }
  // Sends the complete lines and the text after them.
  void flushAll() override;

 protected:
  std::basic_streambuf<char>* setbuf(char* s, std::streamsize n) override;
  int sync() override;
  int overflow(int c) override;

 private:
  void send(const char* text, std::size_t len);

  int mPriority;
  char* mBuffer = nullptr;
  std::streamsize mSize = 0;
  bool mOwned = false;  // mBuffer was allocated here and is freed here
};

// Lines into "<directory>/%Y_%m_%d-%H.log", each after a "MM:SS:uuuuu: "
// prefix; the file changes at the first flush of every new local hour.
class LogFileStreamBuf : public std::basic_streambuf<char> {
 public:
  typedef void (*Clock)(struct timeval*);

  // `clock` gives the time of day (gettimeofday when null).
  explicit LogFileStreamBuf(const std::string& directory, Clock clock = nullptr);
  ~LogFileStreamBuf() override;
  LogFileStreamBuf(const LogFileStreamBuf&) = delete;
  LogFileStreamBuf& operator=(const LogFileStreamBuf&) = delete;

  void NewFile();

 protected:
  std::basic_streambuf<char>* setbuf(char* s, std::streamsize n) override;
  int sync() override;
  int overflow(int c) override;

 private:
  void open(const struct tm& local);
  void write(const char* text, std::size_t len);

  std::basic_filebuf<char>* mFile;
  std::string mDirectory;
  Clock mClock;
  int mHour = -1;
  char* mBuffer = nullptr;
  std::streamsize mSize = 0;
  bool mOwned = false;
  bool mContinuation = false;  // the last text written ended without a line feed
};
