#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <net/if.h>
#include <arpa/inet.h>
#include <vector>
#include <sstream>

#include "runtime/os/clock.h"
#include "runtime/os/fd.h"
#include "runtime/os/net.h"
#include "runtime/os/pidfile.h"
#include "runtime/daemon/stream_bufs.h"
#include "runtime/startup/signals.h"
#include "test_loop_support.h"

namespace {

bool is_open(int fd) { return ::fcntl(fd, F_GETFD) >= 0; }
bool cloexec(int fd) { return (::fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0; }

TEST(FdOwnership, CopiesAreIndependentCloseOnExecDescriptors) {
  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  ::close(p[1]);
  Fd a(p[0]);
  EXPECT_TRUE(cloexec(p[0]));
  Fd b(a);
  EXPECT_NE(a.lowlevel_fd(), b.lowlevel_fd());
  EXPECT_TRUE(cloexec(b.lowlevel_fd()));  // copies do not leak into child programs
  EXPECT_EQ(a.close(), 0);
  char c;
  EXPECT_EQ(read(b, &c, 1), 0);  // still usable: end of the pipe
}

TEST(FdOwnership, AssignmentClosesOldAndSelfAssignKeeps) {
  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  Fd a(p[0]);
  Fd b(p[1]);
  a = a;
  EXPECT_TRUE(is_open(p[0]));
  EXPECT_EQ(a.lowlevel_fd(), p[0]);
  a = b;
  EXPECT_FALSE(is_open(p[0]) && a.lowlevel_fd() != p[0]);
  EXPECT_NE(a.lowlevel_fd(), b.lowlevel_fd());
  { Fd scoped(b); }
  EXPECT_TRUE(is_open(b.lowlevel_fd()));
  EXPECT_TRUE(b.NonBlock());
  EXPECT_TRUE(::fcntl(b.lowlevel_fd(), F_GETFL) & O_NONBLOCK);
  EXPECT_TRUE(BlockMode(b.lowlevel_fd()));
  EXPECT_FALSE(::fcntl(b.lowlevel_fd(), F_GETFL) & O_NONBLOCK);
}

// The pid file holds the pid without a line end (a stale longer one is
// cut) and is removed at exit; without a /var/run folder nothing is
// created, removed or printed.
TEST(PidFile, HoldsPidWithoutLineEndAndIsRemoved) {
  TempRoot root;
  root.mkdirs("/var/run");
  std::string path = root.file("/var/run/server.pid");
  std::ofstream(path) << "1234567890123";
  {
    Linux::Run run("server");
    EXPECT_TRUE(run.is_open());
    EXPECT_EQ(run.path(), path);
    EXPECT_EQ(slurp(path), std::to_string(::getpid()));
  }
  EXPECT_NE(::access(path.c_str(), F_OK), 0);
  TempRoot bare;
  StreamCapture err(std::cerr), log(std::clog);
  {
    Linux::Run run("server");
    EXPECT_FALSE(run.is_open());
  }
  EXPECT_EQ(err.text() + log.text(), "");
}

// Every file the daemon writes gets mode 0644 under umask 000, a stale
// file with another mode included.
TEST(FileModes, IndependentOfTheUmask) {
  TempRoot root;
  root.mkdirs("/var/run");
  root.mkdirs("/var/log");
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  auto modeOf = [](const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 01000u;
  };
  const std::string log = root.file("/var/log/1970_01_01-00.log");
  const std::string status = root.file("/var/log/server-status");
  const std::function<unsigned()> rows[] = {
      [&] {
        Linux::Run run("server");
        return modeOf(run.path());
      },
      [&] {
        doDumpStatus = 1;
        CheckDumpStatus();
        return modeOf(status);
      },
      [&] {
        LogFileStreamBuf buf(root.file("/var/log"), [](struct timeval* tv) { *tv = {}; });
        return modeOf(log);
      },
  };
  const mode_t old = ::umask(0);
  for (const std::string& stale : {root.file("/var/run/server.pid"), status, log}) {
    std::FILE* f = std::fopen(stale.c_str(), "w");
    std::fclose(f);
    ::chmod(stale.c_str(), 0666);
  }
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(rows[i](), 0644u) << "row " << i;
    EXPECT_EQ(rows[i](), 0644u) << "row " << i << " (created)";
  }
  ::umask(old);
}

// Builds an SIOCGIFCONF answer of n records.
std::vector<struct ifreq> ifconf_of(const std::vector<std::pair<const char*, const char*>>& ifs) {
  std::vector<struct ifreq> v(ifs.size());
  for (std::size_t i = 0; i < ifs.size(); ++i) {
    std::memset(&v[i], 0, sizeof v[i]);
    std::strncpy(v[i].ifr_name, ifs[i].first, IFNAMSIZ - 1);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    inet_aton(ifs[i].second, &sin.sin_addr);
    std::memcpy(&v[i].ifr_addr, &sin, sizeof sin);
  }
  return v;
}

TEST(NetHelpers, InterfaceRecordsUseThePlatformRecordSize) {
  auto recs = ifconf_of({{"lo", "127.0.0.1"}, {"eth0", "192.168.1.10"}, {"eth1", "10.0.0.1"}});
  recs[0].ifr_addr.sa_family = AF_INET;
  int bytes = static_cast<int>(recs.size() * sizeof(struct ifreq));
  auto entries = Net::ifconf_entries(recs.data(), bytes);
  ASSERT_EQ(entries.size(), 3u);
  std::vector<std::string> text;
  for (const auto& e : entries) {
    std::ostringstream os;
    os << e.name << "=" << e.addr;
    text.push_back(os.str());
  }
  EXPECT_EQ(text, (std::vector<std::string>{"lo=127.0.0.1:0", "eth0=192.168.1.10:0", "eth1=10.0.0.1:0"}));
  int private_count = 0, not_lo = 0;
  for (const auto& e : entries) {
    private_count += Net::ifconfig_selects(e.name.c_str(), e.addr.host_order(), 4);
    not_lo += Net::ifconfig_selects(e.name.c_str(), e.addr.host_order(), 1);
  }
  EXPECT_EQ(private_count, 2);
  EXPECT_EQ(not_lo, 2);
  // A record of another family is skipped; a partial record is not read.
  recs[1].ifr_addr.sa_family = AF_INET6;
  EXPECT_EQ(Net::ifconf_entries(recs.data(), bytes).size(), 2u);
  EXPECT_EQ(Net::ifconf_entries(recs.data(), bytes - 1).size(), 1u);
}

}  // namespace
