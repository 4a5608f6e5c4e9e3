#include "runtime/os/pidfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "runtime/os/paths.h"

namespace Linux {

Run::Run(const char* name) : path_(RootPath::resolve(std::string("/var/run/") + name + ".pid")) {
  fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_SYNC | O_CLOEXEC, 0644);
  if (fd_ < 0) return;
  // 0644 whatever the caller's umask (and whatever mode a stale file had).
  ::fchmod(fd_, 0644);
  char buf[32];
  int n = std::snprintf(buf, sizeof buf, "%d", static_cast<int>(::getpid()));
  if (::write(fd_, buf, static_cast<size_t>(n)) != n) {
    // Reported nowhere, as a missing pid file is; the file stays and is
    // removed with the guard.
  }
  ::fsync(fd_);
}

Run::~Run() {
  if (fd_ < 0) return;
  ::close(fd_);
  ::unlink(path_.c_str());
}

}  // namespace Linux
