#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <iostream>
#include <string>

#include "runtime/daemon/daemon.h"
#include "support/startup_harness.h"

using startup_test::SyslogCapture;
using startup_test::SyslogMessage;

namespace {

class DaemonInit : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    cap_ = SyslogCapture::get(&why);
    if (!cap_) FAIL() << "no syslog capture: " << why;
    cap_->clear();
  }

  // Runs `body` in a child process; returns the child's exit code (the
  // detached grandchild goes on alone).
  template <class F>
  int inChild(F body) {
    pid_t pid = ::fork();
    if (pid == 0) {
      body();
      std::exit(0);
    }
    int st = 0;
    ::waitpid(pid, &st, 0);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }

  std::vector<SyslogMessage> until(const std::string& last) {
    return cap_->collect([&](const SyslogMessage& m) { return m.text == last; });
  }

  SyslogCapture* cap_ = nullptr;
};

TEST_F(DaemonInit, LongIdentIsCutTo79Characters) {
  const std::string name(100, 'n');
  EXPECT_EQ(inChild([&] {
              Daemon::Params p;
              p.name = name;
              p.nochdir = true;
              Daemon::Init(p);
              std::cout << "hello" << std::endl;
            }),
            0);
  auto got = until("hello");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].ident, std::string(79, 'n'));
}

}  // namespace
