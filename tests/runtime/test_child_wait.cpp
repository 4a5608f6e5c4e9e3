#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "runtime/loop/child_wait.h"
#include "runtime/loop/multiplexer.h"
#include "runtime/loop/timer.h"
#include "test_loop_support.h"

namespace {

struct Owner {
  ChildWait wait;
  std::vector<int> statuses;
  int* done = nullptr;
  int expected = 0;
  void OnExit(int status) {
    statuses.push_back(status);
    if (done && ++*done == expected) multiplexer.terminate();
  }
};

pid_t spawn_exit(int code) {
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(code);
  return pid;
}

// Sleeps the full time even when SIGCHLD interrupts.
void sleep_ms(long ms) {
  struct timespec left = {ms / 1000, (ms % 1000) * 1000000};
  while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

class ChildWatch : public ::testing::Test {
 protected:
  void SetUp() override {
    ChildWait::Activate();
    ASSERT_NE(ChildWaitService::childWaitService, nullptr);
    ASSERT_TRUE(ChildWaitService::childWaitService->active());
  }
};

TEST_F(ChildWatch, ShellExitCodeIsReportedAsRawStatus) {
  Owner o;
  int done = 0;
  o.done = &done;
  o.expected = 1;
  o.wait.Bind(&o, &Owner::OnExit);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::execl("/bin/sh", "sh", "-c", "exit 1", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ASSERT_GT(pid, 0);
  o.wait.Attach(pid);
  StreamCapture log(std::clog);
  LoopDeadline guard(10000);
  multiplexer.run(false, true);
  EXPECT_FALSE(guard.expired());
  EXPECT_EQ(o.statuses, std::vector<int>{256});
  EXPECT_NE(log.text().find("terminate child process, pid=" + std::to_string(pid) + " status=256\n"),
            std::string::npos);
  EXPECT_EQ(ChildWaitService::childWaitService->attached(), 0u);
}

// Far more exits than a socket pair queues datagrams, most of them ended
// before the loop reads: the signal side neither blocks nor drops an exit,
// every owner gets its own child's status and no zombie is left.
TEST_F(ChildWatch, FourHundredExitsAtOnceAreAllReported) {
  const int n = 400;
  std::vector<std::unique_ptr<Owner>> owners;
  std::vector<pid_t> pids;
  int done = 0;
  for (int i = 0; i < n; ++i) {
    owners.emplace_back(new Owner);
    Owner& o = *owners.back();
    o.done = &done;
    o.expected = n;
    o.wait.Bind(&o, &Owner::OnExit);
    pids.push_back(spawn_exit(i % 7));
    ASSERT_GT(pids.back(), 0);
    o.wait.Attach(pids.back());
  }
  sleep_ms(200);
  StreamCapture log(std::clog);
  LoopDeadline guard(20000);
  multiplexer.run(false, true);
  EXPECT_FALSE(guard.expired());
  EXPECT_EQ(done, n);
  for (int i = 0; i < n; ++i) {
    ASSERT_EQ(owners[i]->statuses, std::vector<int>{(i % 7) << 8}) << "child " << i;
    EXPECT_NE(log.text().find("pid=" + std::to_string(pids[i]) + " status="), std::string::npos);
  }
  errno = 0;
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

struct Reattacher {
  ChildWait wait;
  int calls = 0;
  void OnExit(int) {
    if (++calls == 1) {
      pid_t next = spawn_exit(0);
      wait.Attach(next);  // re-attach from inside the callback
    } else {
      multiplexer.terminate();
    }
  }
};

TEST_F(ChildWatch, OwnerMayReattachFromItsCallback) {
  Reattacher r;
  r.wait.Bind(&r, &Reattacher::OnExit);
  r.wait.Attach(spawn_exit(0));
  StreamCapture log(std::clog);
  LoopDeadline guard(10000);
  multiplexer.run(false, true);
  EXPECT_EQ(r.calls, 2);
  EXPECT_FALSE(guard.expired());
}

}  // namespace
