#include "runtime/startup/signals.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <sstream>

#include "runtime/log/version.h"
#include "runtime/loop/multiplexer.h"
#include "runtime/os/paths.h"
#include "runtime/os/signals.h"

volatile sig_atomic_t doDumpStatus = 0;
volatile sig_atomic_t updateResources = 0;

void SigPipeHandler(int, siginfo_t*, void*) {}

void SigTermHandler(int, siginfo_t*, void*) { multiplexer.terminate(); }

void SigUsr2Handler(int, siginfo_t*, void*) { doDumpStatus = 1; }

void SigHupHandler(int, siginfo_t*, void*) { updateResources = 1; }

namespace Startup {

void InstallSignalHandlers() {
  IPC::Signal::handle(SIGPIPE, SigPipeHandler, SA_RESTART);
  IPC::Signal::handle(SIGTERM, SigTermHandler, 0);
  IPC::Signal::handle(SIGINT, SigTermHandler, 0);
  IPC::Signal::handle(SIGUSR2, SigUsr2Handler, SA_RESTART);
  IPC::Signal::handle(SIGHUP, SigHupHandler, SA_RESTART);
}

void WriteStatus(std::ostream& out) {
  char when[64] = "";
  time_t now = ::time(nullptr);
  struct tm local;
  if (::localtime_r(&now, &local)) ::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
  out << "server status information. pid=" << ::getpid() << " time=" << when << "\n"
      << "version : " << Version::current << "\n";
  multiplexer.dump(out);
}

}  // namespace Startup

void CheckDumpStatus() {
  if (!doDumpStatus) return;
  doDumpStatus = 0;
  // Mode 0644 whatever the umask: the dump is readable, not writable, by others.
  const std::string path = RootPath::resolve("/var/log/server-status");
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    std::cerr << "dump status error" << std::endl;
    return;
  }
  ::fchmod(fd, 0644);
  std::ostringstream out;
  Startup::WriteStatus(out);
  const std::string text = out.str();
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
}
