#include "runtime/loop/child_wait.h"

#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <utility>

#include "runtime/os/signals.h"

unsigned int ChildWait::UsageCounter = 0;
ChildWaitService* ChildWaitService::childWaitService = nullptr;

ChildWait::Init::Init() {
  if (++UsageCounter == 1) Initialize();
}

ChildWait::Init::~Init() {
  if (--UsageCounter == 0) Cleanup();
}

void ChildWait::Initialize() {
  if (!ChildWaitService::childWaitService) ChildWaitService::childWaitService = new ChildWaitService;
}

void ChildWait::Cleanup() {
  ChildWaitService* s = ChildWaitService::childWaitService;
  ChildWaitService::childWaitService = nullptr;
  delete s;
}

void ChildWait::Activate() {
  if (ChildWaitService::childWaitService) ChildWaitService::childWaitService->Activate();
}

ChildWait::ChildWait() : handler_(new (buffer_) DummyHandler) {}

ChildWait::~ChildWait() {
  handler_->~Handler();
  Detach();
}

void ChildWait::Attach(int pid) {
  pid_ = pid;
  if (ChildWaitService::childWaitService) ChildWaitService::childWaitService->Attach(this);
}

void ChildWait::Detach() {
  if (ChildWaitService::childWaitService) ChildWaitService::childWaitService->Detach(this);
}

// ---------------------------------------------------------------- service

ChildWaitService::ChildWaitService() = default;

ChildWaitService::~ChildWaitService() {
  ev_.Release();
  while (list_.remove_from_head()) {
  }
  wr_.close();
}

void ChildWaitService::Attach(ChildWait* w) {
  if (list_.contains(w)) list_.remove(w);
  list_.insert_to_tail(w);
}

void ChildWaitService::Detach(ChildWait* w) {
  if (list_.contains(w)) list_.remove(w);
}

void ChildWaitService::Activate() {
  if (ev_.IsActive()) return;
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_DGRAM, 0, sv) != 0) {
    std::cerr << "ChildWaitService: initialize fails" << std::endl;
    return;
  }
  // The signal handler only wakes the loop, and never blocks: with a wake-up
  // already queued a further one is not needed.
  wr_ = Fd(sv[0]);  // the temporary closes sv[0]; wr_ keeps a duplicate
  wr_.NonBlock();
  ev_.Bind("ChildWaitService::OnChildEvent", &ChildWaitService::OnChildEvent, this);
  Fd rd(sv[1]);
  rd.NonBlock();
  // The read end is handed to the event, not duplicated: once the pair
  // exists the watch needs no further descriptor, so it cannot be lost.
  ev_.Schedule(std::move(rd), POLLIN);
  IPC::Signal::handle(SIGCHLD, &ChildWaitService::SigChldHandlerWrapper, SA_RESTART);
  // A child that ended before the handler was installed raised its SIGCHLD
  // to nobody: only then does the loop need waking. The look leaves the
  // child unreaped, for the loop.
  siginfo_t info;
  info.si_pid = 0;
  if (::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0) SigChldHandler();
}

void ChildWaitService::SigChldHandlerWrapper(int, siginfo_t*, void*) {
  if (childWaitService) childWaitService->SigChldHandler();
}

void ChildWaitService::SigChldHandler() {
  int saved = errno;
  if (wr_.is_valid()) {
    char b = 'c';
    ssize_t r = ::send(wr_.lowlevel_fd(), &b, 1, MSG_DONTWAIT);
    (void)r;
  }
  errno = saved;
}

void ChildWaitService::OnChildEvent(int fd, short revents) {
  if (!(revents & POLLIN)) return;
  char buf[64];
  while (::recv(fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {
  }
  ReapChildren();
}

void ChildWaitService::ReapChildren() {
  for (;;) {
    int status = 0;
    pid_t pid = ::waitpid(-1, &status, WNOHANG);
    if (pid <= 0) break;
    Report(pid, status);
  }
}

void ChildWaitService::Report(int pid, int status) {
  std::clog << "terminate child process, pid=" << pid << " status=" << status << std::endl;
  for (ChildWait* w : list_) {
    if (w->pid() == pid) {
      list_.remove(w);
      w->Invoke(status);
      return;  // the owner may have destroyed or re-attached it
    }
  }
}
