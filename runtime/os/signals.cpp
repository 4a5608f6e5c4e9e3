#include "runtime/os/signals.h"

#include <cstring>

namespace IPC {
namespace Signal {

bool Set::is_signal(int sig) {
  sigset_t s;
  sigemptyset(&s);
  return sigismember(&s, sig) >= 0;
}

namespace {
int install(int sig, void (*fn)(int), const Set& mask, int flags) {
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = fn;
  mask.copy_to(sa.sa_mask);
  sa.sa_flags = flags & ~SA_SIGINFO;
  return sigaction(sig, &sa, nullptr);
}
}  // namespace

int handle(int sig, Handler1 fn, const Set& mask, int flags) { return install(sig, fn, mask, flags); }

int handle(int sig, Handler3 fn, const Set& mask, int flags) {
  // Without SA_SIGINFO the handler is entered with the signal number only.
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_sigaction = fn;
  mask.copy_to(sa.sa_mask);
  sa.sa_flags = flags & ~SA_SIGINFO;
  return sigaction(sig, &sa, nullptr);
}

int handle(int sig, Handler1 fn, int flags) { return handle(sig, fn, Set(), flags); }
int handle(int sig, Handler3 fn, int flags) { return handle(sig, fn, Set(), flags); }
int ignore(int sig) { return install(sig, SIG_IGN, Set(), 0); }
int system(int sig) { return install(sig, SIG_DFL, Set(), 0); }
namespace {
// Sets or clears SA_RESTART on the installed action.
int restart(int sig, bool on) {
  struct sigaction sa;
  if (sigaction(sig, nullptr, &sa) != 0) return -1;
  if (on)
    sa.sa_flags |= SA_RESTART;
  else
    sa.sa_flags &= ~SA_RESTART;
  return sigaction(sig, &sa, nullptr);
}
}  // namespace

int disable_int(int sig) { return restart(sig, true); }
int enable_int(int sig) { return restart(sig, false); }

}  // namespace Signal
}  // namespace IPC
