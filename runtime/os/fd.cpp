#include "runtime/os/fd.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ostream>

namespace {
FdWatcher* watcher = nullptr;
}  // namespace

void SetFdWatcher(FdWatcher* w) { watcher = w; }

Fd::Fd(int fd) : fd_(fd) {
  if (fd_ >= 0) SetCloexec(fd_, true);
}

Fd::Fd(const Fd& other) : fd_(other.dup()) {}

Fd& Fd::operator=(const Fd& other) {
  if (this == &other) return *this;
  close();
  fd_ = other.dup();
  return *this;
}

Fd::Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this == &other) return *this;
  if (fd_ >= 0) close();
  fd_ = other.fd_;
  other.fd_ = -1;
  return *this;
}

Fd::~Fd() {
  if (fd_ < 0) return;
  if (watcher) watcher->closing(fd_);
  ::close(fd_);
}

int Fd::dup() const {
  if (fd_ < 0) return -1;
  int n = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
  if (n >= 0 && watcher) watcher->duplicated(fd_, n);
  return n;
}

int Fd::close() {
  if (fd_ < 0) {
    errno = EBADF;
    return -1;
  }
  if (watcher) watcher->closing(fd_);
  int r = ::close(fd_);
  fd_ = -1;
  return r;
}

bool Fd::open(const char* path, int flags) {
  if (fd_ >= 0) close();
  fd_ = ::open(path, flags | O_CLOEXEC);
  return fd_ >= 0;
}

bool Fd::NonBlock() {
  if (fd_ < 0) return false;
  return NonBlockMode(fd_);
}

int read(Fd& fd, void* buf, unsigned int len) { return static_cast<int>(::read(fd.lowlevel_fd(), buf, len)); }

int write(Fd& fd, const void* buf, unsigned int len) {
  return static_cast<int>(::write(fd.lowlevel_fd(), buf, len));
}

int close(Fd& fd) { return fd.close(); }

bool NonBlockMode(int fd) {
  int fl = ::fcntl(fd, F_GETFL);
  if (fl < 0) return false;
  return ::fcntl(fd, F_SETFL, fl | O_NONBLOCK) == 0;
}

bool BlockMode(int fd) {
  int fl = ::fcntl(fd, F_GETFL);
  if (fl < 0) return false;
  return ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) == 0;
}

bool SetCloexec(int fd, bool on) {
  int fl = ::fcntl(fd, F_GETFD);
  if (fl < 0) return false;
  fl = on ? (fl | FD_CLOEXEC) : (fl & ~FD_CLOEXEC);
  return ::fcntl(fd, F_SETFD, fl) == 0;
}

Errno::Errno() : value_(errno) {}

void Errno::Put(std::ostream& os) const {
  char buf[256];
  // GNU strerror_r returns the text (possibly a static one).
  const char* text = strerror_r(value_, buf, sizeof buf);
  os << text;
}

std::ostream& operator<<(std::ostream& os, const Errno& e) {
  e.Put(os);
  return os;
}
