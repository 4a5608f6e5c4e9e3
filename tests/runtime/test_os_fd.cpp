#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "runtime/daemon/stream_bufs.h"
#include "runtime/os/clock.h"
#include "runtime/os/fd.h"
#include "runtime/os/inet4.h"
#include "runtime/os/net.h"
#include "runtime/os/paths.h"
#include "runtime/os/pidfile.h"
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


std::string show(const INet4::Addr& a) {
  std::ostringstream os;
  os << a;
  return os.str();
}

TEST(INet4Addr, AddressAndPort) {
  INet4::Addr a;
  int port = 0;
  EXPECT_TRUE(a.Assign("192.168.1.10:5004", &port));
  EXPECT_EQ(port, 5004);
  EXPECT_EQ(a.port(), 5004);
  EXPECT_STREQ(a.GetStrAddr(), "192.168.1.10");
  EXPECT_EQ(show(a), "192.168.1.10:5004");
  EXPECT_EQ(a.GetString(), "192.168.1.10:5004");
  EXPECT_EQ(a.sockaddr_in_ref().sin_port, htons(5004));
  EXPECT_EQ(a.GetVector(), (std::vector<unsigned char>{192, 168, 1, 10}));
}

// Assign on an address holding 1.2.3.4:1: the result, the port it reports
// (-1: none given), the port and address it then holds (-2: any port).
TEST(INet4Addr, AssignForms) {
  const struct {
    const char* text;
    bool ok;
    int portOut;
    int port;
    const char* addr;
  } rows[] = {
      {"192.168.1.10", true, -1, 1, "192.168.1.10"},  // no port: the stored one stays
      {"host:80", false, 80, 80, "1.2.3.4"},          // no look-up; the old address stays
      {"1.1.1.1:65536", true, 65536, 0, "1.1.1.1"},   // ports wrap at 16 bits
      {"1.1.1.1:65537", true, 65537, 1, "1.1.1.1"},
      {"1.1.1.1:x", true, 0, 0, "1.1.1.1"},
      {"1.1.1.1:99999999999999999999", true, -2, -2, "1.1.1.1"},  // no overflow trap
      {"10.1", true, -1, 1, "10.0.0.1"},  // the short inet_aton forms
      {"127.1:7", true, 7, 7, "127.0.0.1"},
      {"0x7f000001", true, -1, 1, "127.0.0.1"},
      {"16909060", true, -1, 1, "1.2.3.4"},
      {"1.2.3.4.5", false, -1, 1, "1.2.3.4"},
      {"", false, -1, 1, "1.2.3.4"},
  };
  for (const auto& r : rows) {
    INet4::Addr a("1.2.3.4:1");
    int port = 12345;
    EXPECT_EQ(a.Assign(r.text, &port), r.ok) << r.text;
    if (r.port != -2) {
      EXPECT_EQ(port, r.portOut) << r.text;
      EXPECT_EQ(a.port(), r.port) << r.text;
    }
    EXPECT_STREQ(a.GetStrAddr(), r.addr) << r.text;
  }
  INet4::Addr a;
  a.port(99);
  a = std::string("10.0.0.1");
  EXPECT_EQ(show(a), "10.0.0.1:99");
}

TEST(INet4Addr, EqualityIgnoresFamily) {
  sockaddr_in sin{};
  sin.sin_family = AF_UNIX;
  sin.sin_port = htons(80);
  inet_aton("10.0.0.2", &sin.sin_addr);
  INet4::Addr a(sin);
  INet4::Addr b("10.0.0.2:80");
  EXPECT_TRUE(a == b);
  EXPECT_TRUE(a.IsEqual(b));
  b.port(81);
  EXPECT_FALSE(a == b);
  INet4::Addr c(b);
  EXPECT_TRUE(c == b);
}

void SetRoot(const char* root) {
  if (root) ::setenv("TESSAROD_ROOT", root, 1);
  else ::unsetenv("TESSAROD_ROOT");
  RootPath::reload();
}
}  // namespace

TEST(RootPath, PrefixesAbsolutePathsOnlyWhenRootIsSet) {
  SetRoot(nullptr);
  EXPECT_EQ(RootPath::resolve("/var/run/server.pid"), "/var/run/server.pid");
  SetRoot("/tmp/board//");
  EXPECT_EQ(RootPath::root(), "/tmp/board");
  EXPECT_EQ(RootPath::resolve("/var/run/server.pid"), "/tmp/board/var/run/server.pid");
  EXPECT_EQ(RootPath::resolve("relative/file"), "relative/file");
  SetRoot("/");
  EXPECT_EQ(RootPath::resolve("/dev/hal"), "/dev/hal");
  SetRoot(nullptr);
}

TEST(RootPath, OutsideNamesStayUnderTheRoot) {
  SetRoot("/tmp/board");
  const struct {
    std::string name, want;
  } rows[] = {
      {"/usr/local/sbin/pppd", "/tmp/board/usr/local/sbin/pppd"},
      {"/a", "/tmp/board/a"},
      {"/..a/b..", "/tmp/board/..a/b.."},
      {"/../../../../../../../../usr/bin/touch", ""},
      {"/usr/local/../../bin/sh", ""},
      {"/usr/./bin/sh", ""},
      {"/usr/bin/..", ""},
      {"/usr/bin/.", ""},
      {"usr/bin/touch", ""},
      {"touch", ""},
      {"./touch", ""},
      {"", ""},
      {"/", ""},
      {"//usr/bin", ""},
      {"/usr/bin/", ""},
      {std::string("/usr/bin\0/x", 11), ""},
  };
  for (const auto& r : rows) EXPECT_EQ(RootPath::resolveOutside(r.name), r.want) << r.name;
  SetRoot(nullptr);
}

TEST(RootPath, ProgramsMustBeExecutableRegularFilesUnderTheRoot) {
  char dir[] = "/tmp/rootpathXXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string root = dir;
  ::mkdir((root + "/bin").c_str(), 0755);
  std::ofstream(root + "/bin/run") << "#!/bin/sh\n";
  std::ofstream(root + "/bin/data") << "x";
  ::chmod((root + "/bin/run").c_str(), 0755);
  ::chmod((root + "/bin/data").c_str(), 0644);
  ASSERT_EQ(::symlink("/bin/true", (root + "/bin/out").c_str()), 0);
  ASSERT_EQ(::symlink("run", (root + "/bin/in").c_str()), 0);
  SetRoot(dir);
  const struct {
    const char* name;
    bool accepted;
  } rows[] = {{"/bin/run", true}, {"/bin/data", false}, {"/bin", false}, {"/bin/none", false},
              {"/bin/../bin/run", false}, {"bin/run", false}, {"/bin/out", false}, {"/bin/in", true}};
  for (const auto& r : rows)
    EXPECT_EQ(RootPath::resolveProgram(r.name), r.accepted ? root + r.name : "") << r.name;
  SetRoot(nullptr);
  std::system(("rm -rf " + root).c_str());
}
