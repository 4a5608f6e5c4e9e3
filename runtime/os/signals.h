#pragma once
// Signal installation. SA_SIGINFO is always removed from the flags, so every
// handler is entered as a plain one-argument handler; three-argument
// handlers must use only the signal number.
#include <signal.h>

namespace IPC {
namespace Signal {

class Set {
 public:
  Set() { sigemptyset(&set_); }
  Set(int a, int b) : Set() {
    add(a);
    add(b);
  }
  Set(int a, int b, int c) : Set(a, b) { add(c); }
  void add(int sig) { sigaddset(&set_, sig); }
  void copy_to(sigset_t& out) const { out = set_; }
  static bool is_signal(int sig);

 private:
  sigset_t set_;
};

typedef void (*Handler1)(int);
typedef void (*Handler3)(int, siginfo_t*, void*);

int handle(int sig, Handler1 fn, const Set& mask, int flags);
int handle(int sig, Handler3 fn, const Set& mask, int flags);
int handle(int sig, Handler1 fn, int flags);
int handle(int sig, Handler3 fn, int flags);
int ignore(int sig);
int system(int sig);
int disable_int(int sig);
int enable_int(int sig);

}  // namespace Signal
}  // namespace IPC
