#include "runtime/daemon/stream_bufs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

// ---------------------------------------------------------------- syslog

SysLogStreamBuf::SysLogStreamBuf(int facility, int severity) : mPriority(facility | severity) {
  char* buf = new char[1024];
  setbuf(buf, 1024);
  mOwned = true;
}

SysLogStreamBuf::~SysLogStreamBuf() {
  if (mOwned) delete[] mBuffer;
}

std::basic_streambuf<char>* SysLogStreamBuf::setbuf(char* s, std::streamsize n) {
  if (n < 2) return this;
  sync();
  // A part line still held moves to the new buffer, or goes out now when it
  // does not fit, so that nothing is lost.
  std::string held(pbase(), pptr());
  if (held.size() > static_cast<std::size_t>(n - 1)) {
    send(held.data(), held.size());
    held.clear();
  }
  if (mOwned) delete[] mBuffer;
  // A buffer handed in from outside stays its owner's.
  mOwned = false;
  mBuffer = s;
  mSize = n;
  // The last character is kept for the terminator.
  setp(s, s + n - 1);
  if (!held.empty()) {
    std::memcpy(s, held.data(), held.size());
    pbump(static_cast<int>(held.size()));
  }
  return this;
}

void SysLogStreamBuf::send(const char* text, std::size_t len) {
  ::syslog(mPriority, "%.*s", static_cast<int>(len), text);
}

int SysLogStreamBuf::sync() {
  if (!mBuffer) return 0;
  char* begin = pbase();
  char* end = pptr();
  *end = '\0';
  char* lf = static_cast<char*>(std::memchr(begin, '\n', end - begin));
  if (lf) {
    // Every complete line, then the text after the last line end as a
    // message of its own.
    char* line = begin;
    while (lf) {
      send(line, lf - line);
      line = lf + 1;
      lf = static_cast<char*>(std::memchr(line, '\n', end - line));
    }
    if (line < end) send(line, end - line);
    setp(mBuffer, mBuffer + mSize - 1);
  } else if (end == epptr() && end > begin) {
    send(begin, end - begin);
    setp(mBuffer, mBuffer + mSize - 1);
  }
  return 0;
}

void SysLogStreamBuf::flushAll() {
  sync();
  if (mBuffer && pptr() > pbase()) send(pbase(), static_cast<std::size_t>(pptr() - pbase()));
  if (mBuffer) setp(mBuffer, mBuffer + mSize - 1);
}

int SysLogStreamBuf::overflow(int c) {
  sync();
  if (traits_type::eq_int_type(c, traits_type::eof())) return 0;
  if (pptr() == epptr()) return traits_type::eof();
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

// ---------------------------------------------------------------- log files

namespace {

void systemClock(struct timeval* tv) { ::gettimeofday(tv, nullptr); }

}  // namespace

LogFileStreamBuf::LogFileStreamBuf(const std::string& directory, Clock clock)
    : mFile(new std::basic_filebuf<char>), mDirectory(directory), mClock(clock ? clock : systemClock) {
  char* buf = new char[16];
  setbuf(buf, 16);
  mOwned = true;
  NewFile();
}

LogFileStreamBuf::~LogFileStreamBuf() {
  if (mOwned) delete[] mBuffer;
  delete mFile;
}

std::basic_streambuf<char>* LogFileStreamBuf::setbuf(char* s, std::streamsize n) {
  if (n < 2) return this;
  sync();
  if (mOwned) delete[] mBuffer;
  mOwned = false;
  mBuffer = s;
  mSize = n;
  setp(s, s + n);
  return this;
}

void LogFileStreamBuf::open(const struct tm& local) {
  mHour = local.tm_hour;
  mFile->close();
  char name[64];
  std::strftime(name, sizeof name, "%Y_%m_%d-%H", &local);
  std::string path(mDirectory.size() + std::strlen(name) + 8, '\0');
  std::snprintf(&path[0], path.size(), "%s/%s.log", mDirectory.c_str(), name);
  path.resize(std::strlen(path.c_str()));
  // Created with mode 0644 whatever the umask; the file buffer then opens
  // the existing file, which keeps that mode.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd >= 0) {
    ::fchmod(fd, 0644);
    ::close(fd);
  }
  mFile->open(path.c_str(), std::ios::out | std::ios::trunc);
}

void LogFileStreamBuf::NewFile() {
  struct timeval tv;
  mClock(&tv);
  time_t secs = tv.tv_sec;
  struct tm local;
  ::localtime_r(&secs, &local);
  open(local);
}

void LogFileStreamBuf::write(const char* text, std::size_t len) {
  if (mFile->is_open()) mFile->sputn(text, static_cast<std::streamsize>(len));
}

int LogFileStreamBuf::sync() {
  if (!mBuffer) return 0;
  const char* p = pbase();
  const char* end = pptr();
  if (p == end) return 0;

  if (mContinuation) {
    const char* lf = static_cast<const char*>(std::memchr(p, '\n', end - p));
    if (!lf) {
      write(p, end - p);
      mFile->pubsync();
      setp(mBuffer, mBuffer + mSize);
      return 0;
    }
    write(p, lf + 1 - p);
    mContinuation = false;
    p = lf + 1;
  }

  struct timeval tv;
  mClock(&tv);
  time_t secs = tv.tv_sec;
  struct tm local;
  ::localtime_r(&secs, &local);
  if (local.tm_hour != mHour) open(local);

  char prefix[64];
  std::snprintf(prefix, sizeof prefix, "%02d:%02d:%05ld: ", local.tm_min, local.tm_sec,
                static_cast<long>(tv.tv_usec));
  const std::size_t plen = std::strlen(prefix);
  while (p < end) {
    const char* lf = static_cast<const char*>(std::memchr(p, '\n', end - p));
    write(prefix, plen);
    if (lf) {
      write(p, lf + 1 - p);
      p = lf + 1;
    } else {
      write(p, end - p);
      mContinuation = true;
      p = end;
    }
  }
  mFile->pubsync();
  setp(mBuffer, mBuffer + mSize);
  return 0;
}

int LogFileStreamBuf::overflow(int c) {
  sync();
  if (traits_type::eq_int_type(c, traits_type::eof())) return 0;
  if (pptr() == epptr()) return traits_type::eof();
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}
