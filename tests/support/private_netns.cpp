// Every test program runs in a network namespace of its own, so the fixed
// ports the daemon uses (the controller's, the authentication plug-in's
// 127.0.0.1:52000) and the loopback listeners of the tests never meet another
// process on the machine. Without the right to make one the program stops
// loudly rather than testing less.
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool loopbackUp() {
  int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s < 0) return false;
  ifreq r{};
  std::strncpy(r.ifr_name, "lo", IFNAMSIZ - 1);
  bool ok = ::ioctl(s, SIOCGIFFLAGS, &r) == 0;
  r.ifr_flags |= IFF_UP;
  ok = ok && ::ioctl(s, SIOCSIFFLAGS, &r) == 0;
  ::close(s);
  return ok;
}

struct PrivateNetwork {
  PrivateNetwork() {
    if (::unshare(CLONE_NEWNET) != 0 || !loopbackUp()) {
      std::fprintf(stderr,
                   "tests: cannot enter a private network namespace (%s); the tests need root "
                   "(CAP_SYS_ADMIN) so that fixed ports are their own\n",
                   std::strerror(errno));
      std::_Exit(2);
    }
  }
};

const PrivateNetwork privateNetwork;

}  // namespace
