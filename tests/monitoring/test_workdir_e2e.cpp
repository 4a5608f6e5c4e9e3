// The real daemon started with a relative root folder: the configuration
// check makes "/usr/local/etc/" under the root its working directory, and
// every path resolves as it did before (status files, the pid file).
#include <gtest/gtest.h>
#include <limits.h>

#include "support/startup_harness.h"

using namespace startup_test;

namespace {

// The daemon run from the root's parent folder with the root given by its
// bare name; the exit code after SIGTERM, or -1.
class RelativeRootDaemon {
 public:
  explicit RelativeRootDaemon(const TempRoot& root) : log_(root / "/stderr.txt") {
    const std::string& abs = root.path();
    const std::string parent = abs.substr(0, abs.rfind('/')), name = abs.substr(abs.rfind('/') + 1);
    const std::string port = std::to_string(freePort());
    pid_ = ::fork();
    if (pid_ == 0) {
      int e = ::open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(e, 1), ::dup2(e, 2);
      if (::chdir(parent.c_str()) != 0) ::_exit(126);
      ::setenv("TESSAROD_ROOT", name.c_str(), 1);
      ::setenv("TESSAROD_BOARD", "sim", 1);
      ::setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
      ::execl(TESSAROD_BIN, TESSAROD_BIN, "--port", port.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }
  ~RelativeRootDaemon() {
    if (pid_ > 0) ::kill(pid_, SIGKILL), ::waitpid(pid_, nullptr, 0);
  }
  pid_t pid() const { return pid_; }
  std::string log() const { return readFile(log_); }
  std::string cwd() const {
    char buf[PATH_MAX] = "";
    ssize_t n = ::readlink(("/proc/" + std::to_string(pid_) + "/cwd").c_str(), buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, std::size_t(n)) : std::string();
  }
  int stop() {
    int st = 0;
    ::kill(pid_, SIGTERM);
    bool done = waitFor([&] { return ::waitpid(pid_, &st, WNOHANG) == pid_; });
    if (done) pid_ = -1;
    return done && WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }

 private:
  std::string log_;
  pid_t pid_ = -1;
};

}  // namespace

TEST(WorkingDirectoryE2E, ConfigurationCheckMovesIntoTheFolderAndPathsStayUnderTheRoot) {
  TempRoot root;
  writeFile(root / "/usr/local/etc/config.0000002a-00000000000000ff", "");
  char etc[PATH_MAX];
  ASSERT_TRUE(::realpath((root / "/usr/local/etc").c_str(), etc));
  RelativeRootDaemon daemon(root);
  ASSERT_TRUE(root.loopRunning()) << daemon.log();
  EXPECT_EQ(std::to_string(daemon.pid()), readFile(root / "/var/run/server.pid"));

  // The configuration check runs at 1000 ms of the loop clock.
  ASSERT_NE(std::string::npos, simCommand(root, "clock 1000").find("ok"));
  EXPECT_TRUE(waitFor([&] { return daemon.cwd() == etc; })) << daemon.cwd();
  EXPECT_TRUE(waitFor([&] { return readFile(root / "/var/monitoring/config_version") == "0000002a-00000000000000ff"; }));
  // Files written after the move land under the root as before.
  ASSERT_NE(std::string::npos, simCommand(root, "dip 5").find("ok"));
  ASSERT_NE(std::string::npos, simCommand(root, "clock 2000").find("ok"));
  EXPECT_TRUE(waitFor([&] { return readFile(root / "/var/monitoring/dip") == "5"; })) << daemon.log();
  EXPECT_EQ(0, daemon.stop()) << daemon.log();
  EXPECT_FALSE(exists(root / "/var/run/server.pid"));
}
