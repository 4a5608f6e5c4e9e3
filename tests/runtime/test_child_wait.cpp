#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "hardware/descriptor_squeeze.h"
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

// The count the loop's status dump gives the watch's event (-1: none).
int WatchCount() {
  std::ostringstream dump;
  multiplexer.dump(dump);
  const std::string text = dump.str();
  const std::size_t at = text.find("ChildWaitService::OnChildEvent");
  int count = -1;
  if (at != std::string::npos) std::sscanf(text.c_str() + at, "%*s | %*s | %d", &count);
  return count;
}

class ChildWatch : public ::testing::Test {
 protected:
  void SetUp() override {
    ChildWait::Activate();
    ASSERT_NE(ChildWaitService::childWaitService, nullptr);
    ASSERT_TRUE(ChildWaitService::childWaitService->active());
  }
};

// Far more exits than a socket pair queues datagrams, all ended before the
// loop reads: the signal side neither blocks nor drops an exit, every owner
// gets its own child's raw status (exit code 1 as 256), each exit is logged
// and no zombie is left.
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
  for (pid_t pid : pids) {  // all have ended, none is reaped yet
    siginfo_t info;
    ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT), 0);
  }
  StreamCapture log(std::clog);
  LoopDeadline guard(20000);
  multiplexer.run(false, true);
  EXPECT_FALSE(guard.expired());
  EXPECT_EQ(done, n);
  for (int i = 0; i < n; ++i) {
    ASSERT_EQ(owners[i]->statuses, std::vector<int>{(i % 7) << 8}) << "child " << i;
    const std::string line = "terminate child process, pid=" + std::to_string(pids[i]) + " status=";
    EXPECT_NE(log.text().find(line + std::to_string((i % 7) << 8) + "\n"), std::string::npos);
  }
  EXPECT_EQ(ChildWaitService::childWaitService->attached(), 0u);
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

// A fresh watch activated with n descriptors free: the socket pair takes
// two and its watch nothing more; short of two the activation fails with
// its line and the next one, with room, takes its place. Once active, an
// exit is reported.
TEST(ChildWatchActivation, TheSocketPairIsAllTheWatchNeeds) {
  const struct {
    std::size_t free;
    bool active;
    const char* line;
    bool early;  // the child ends before activation
  } rows[] = {{1, false, "ChildWaitService: initialize fails\n", false}, {2, true, "", false}, {8, true, "", true}};
  for (const auto& r : rows) {
    ChildWait::Cleanup();
    ChildWait::Initialize();
    const pid_t early = r.early ? spawn_exit(3) : 0;
    siginfo_t info;
    ASSERT_TRUE(!early || ::waitid(P_PID, static_cast<id_t>(early), &info, WEXITED | WNOWAIT) == 0);
    bool active;
    StreamCapture err(std::cerr);
    {
      SimTest::DescriptorSqueeze squeeze;
      squeeze.Free(r.free);
      ChildWait::Activate();
      active = ChildWaitService::childWaitService->active();
    }
    EXPECT_EQ(active, r.active) << r.free;
    EXPECT_EQ(err.text(), r.line) << r.free;
    ChildWait::Activate();
    ASSERT_TRUE(ChildWaitService::childWaitService->active());
    Owner o;
    int done = 0;
    o.done = &done;
    o.expected = 1;
    o.wait.Bind(&o, &Owner::OnExit);
    if (!early) {  // passes of the loop with no child leave the watch's event uncounted
      StopAfterRuns passes(6);
      multiplexer.run(false, true);
      EXPECT_EQ(WatchCount(), 0) << r.free;
    }
    const pid_t pid = early ? early : spawn_exit(3);
    o.wait.Attach(pid);
    StreamCapture log(std::clog);
    LoopDeadline guard(10000);
    multiplexer.run(false, true);
    EXPECT_EQ(o.statuses, std::vector<int>{3 << 8}) << r.free;
    EXPECT_EQ(WatchCount(), 1) << r.free;
    EXPECT_EQ(log.text(), "terminate child process, pid=" + std::to_string(pid) + " status=768\nMux: terminating...\n");
  }
}

}  // namespace
