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

// Copies are independent close-on-exec descriptors (they do not leak into
// child programs); assignment closes the old one, self-assignment keeps it.
TEST(FdOwnership, CopiesAssignmentAndBlockingMode) {
  Pipe p;
  const int rd = p.rd.lowlevel_fd();
  EXPECT_TRUE(cloexec(rd));
  Fd b(p.rd);
  EXPECT_NE(b.lowlevel_fd(), rd);
  EXPECT_TRUE(cloexec(b.lowlevel_fd()));
  p.rd = p.rd;
  EXPECT_EQ(p.rd.lowlevel_fd(), rd);
  EXPECT_TRUE(is_open(rd));
  p.rd = p.wr;
  EXPECT_FALSE(is_open(rd) && p.rd.lowlevel_fd() != rd);
  EXPECT_NE(p.rd.lowlevel_fd(), p.wr.lowlevel_fd());
  { Fd scoped(p.wr); }
  EXPECT_TRUE(is_open(p.wr.lowlevel_fd()));
  EXPECT_TRUE(p.wr.NonBlock());
  EXPECT_TRUE(::fcntl(p.wr.lowlevel_fd(), F_GETFL) & O_NONBLOCK);
  EXPECT_TRUE(BlockMode(p.wr.lowlevel_fd()));
  EXPECT_FALSE(::fcntl(p.wr.lowlevel_fd(), F_GETFL) & O_NONBLOCK);
  EXPECT_EQ(p.wr.close(), 0);
  p.rd.close();
  char c;
  EXPECT_EQ(read(b, &c, 1), 0);  // the copy still reads: end of the pipe
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

// Assign on an address holding 1.2.3.4:1: the result, the port it reports
// (-1: none given; -2: any), then what the address shows.
TEST(INet4Addr, AssignForms) {
  const struct {
    const char* text;
    bool ok;
    int portOut;
    const char* shown;
  } rows[] = {
      {"192.168.1.10:5004", true, 5004, "192.168.1.10:5004"},
      {"192.168.1.10", true, -1, "192.168.1.10:1"},  // no port: the stored one stays
      {"host:80", false, 80, "1.2.3.4:80"},          // no look-up; the old address stays
      {"1.1.1.1:65536", true, 65536, "1.1.1.1:0"},   // ports wrap at 16 bits
      {"1.1.1.1:65537", true, 65537, "1.1.1.1:1"},
      {"1.1.1.1:x", true, 0, "1.1.1.1:0"},
      {"1.1.1.1:99999999999999999999", true, -2, nullptr},  // no overflow trap
      {"1.2.3.4:99999999999999999999", true, 1661992959, "1.2.3.4:65535"},  // read on 32 bits
      {"1.2.3.4:\v80", true, 80, "1.2.3.4:80"}, {"1.2.3.4:\n80", true, 80, "1.2.3.4:80"},  // every blank atoi skips
      {"1.2.3.4:\f80", true, 80, "1.2.3.4:80"}, {"1.2.3.4:\r80", true, 80, "1.2.3.4:80"},
      {"1.2.3.4: \t80", true, 80, "1.2.3.4:80"}, {"1.2.3.4:x80", true, 0, "1.2.3.4:0"},
      {"10.1", true, -1, "10.0.0.1:1"},  // the short inet_aton forms
      {"127.1:7", true, 7, "127.0.0.1:7"},
      {"0x7f000001", true, -1, "127.0.0.1:1"},
      {"16909060", true, -1, "1.2.3.4:1"},
      {"1.2.3.4.5", false, -1, "1.2.3.4:1"},
      {"", false, -1, "1.2.3.4:1"},
  };
  for (const auto& r : rows) {
    INet4::Addr a("1.2.3.4:1");
    int port = 12345;
    EXPECT_EQ(a.Assign(r.text, &port), r.ok) << r.text;
    EXPECT_TRUE(r.portOut == -2 || port == r.portOut) << r.text << " " << port;
    EXPECT_EQ(r.shown ? show(a) : "", r.shown ? r.shown : "") << r.text;
  }
  INet4::Addr a("192.168.1.10:5004");
  EXPECT_STREQ(a.GetStrAddr(), "192.168.1.10");
  EXPECT_EQ(a.GetString(), "192.168.1.10:5004");
  EXPECT_EQ(a.sockaddr_in_ref().sin_port, htons(5004));
  EXPECT_EQ(a.GetVector(), (std::vector<unsigned char>{192, 168, 1, 10}));
  a.port(99);
  a = std::string("10.0.0.1");
  EXPECT_EQ(show(a), "10.0.0.1:99");
}

// Equality compares address and port, not the family.
TEST(INet4Addr, EqualityIgnoresFamily) {
  sockaddr_in sin{};
  sin.sin_family = AF_UNIX;
  sin.sin_port = htons(80);
  inet_aton("10.0.0.2", &sin.sin_addr);
  INet4::Addr a(sin);
  INet4::Addr b("10.0.0.2:80");
  EXPECT_TRUE(a == b && a.IsEqual(b));
  b.port(81);
  EXPECT_FALSE(a == b);
}

void SetRoot(const char* root) {
  if (root) ::setenv("TESSAROD_ROOT", root, 1);
  else ::unsetenv("TESSAROD_ROOT");
  RootPath::reload();
}

TEST(RootPath, PrefixesAbsolutePathsOnlyWhenRootIsSet) {
  SetRoot(nullptr);
  EXPECT_EQ(RootPath::resolve("/var/run/server.pid"), "/var/run/server.pid");
  SetRoot("/tmp/board//");
  EXPECT_EQ(RootPath::root(), "/tmp/board");
  EXPECT_EQ(RootPath::resolve("/var/run/server.pid"), "/tmp/board/var/run/server.pid");
  EXPECT_EQ(RootPath::resolve("relative/file"), "relative/file");
  SetRoot("/");
  EXPECT_EQ(RootPath::resolve("/dev/hal"), "/dev/hal");
  // A relative root is taken against the working directory of the moment,
  // and child programs see it absolute too.
  ASSERT_EQ(::chdir("/tmp"), 0);
  SetRoot("board/");
  ASSERT_EQ(::chdir("/"), 0);
  EXPECT_EQ(RootPath::resolve("/var/run/server.pid"), "/tmp/board/var/run/server.pid");
  EXPECT_STREQ(std::getenv("TESSAROD_ROOT"), "/tmp/board");
  SetRoot(nullptr);
}

// A name from outside is taken only as an absolute path without empty, "."
// or ".." components and without a NUL, and stays under the root.
TEST(RootPath, OutsideNamesStayUnderTheRoot) {
  SetRoot("/tmp/board");
  for (const char* good : {"/usr/local/sbin/pppd", "/a", "/..a/b.."})
    EXPECT_EQ(RootPath::resolveOutside(good), std::string("/tmp/board") + good);
  for (const std::string& bad : std::vector<std::string>
       {"/../../../../../../../../usr/bin/touch", "/usr/local/../../bin/sh", "/usr/./bin/sh", "/usr/bin/..", "/usr/bin/.",
        "usr/bin/touch", "touch", "./touch", "", "/", "//usr/bin", "/usr/bin/", std::string("/usr/bin\0/x", 11)})
    EXPECT_EQ(RootPath::resolveOutside(bad), "") << bad;
  SetRoot(nullptr);
}

// A program must be an executable regular file under the root, reached by a
// clean absolute path; a link may lead only to another such file.
TEST(RootPath, ProgramsMustBeExecutableRegularFilesUnderTheRoot) {
  TempRoot root;
  root.mkdirs("/bin");
  std::ofstream(root.file("/bin/run")) << "#!/bin/sh\n";
  std::ofstream(root.file("/bin/data")) << "x";
  ::chmod(root.file("/bin/run").c_str(), 0755);
  ::chmod(root.file("/bin/data").c_str(), 0644);
  ASSERT_EQ(::symlink("/bin/true", root.file("/bin/out").c_str()), 0);
  ASSERT_EQ(::symlink("run", root.file("/bin/in").c_str()), 0);
  for (const char* good : {"/bin/run", "/bin/in"}) EXPECT_EQ(RootPath::resolveProgram(good), root.file(good));
  for (const char* bad : {"/bin/data", "/bin", "/bin/none", "/bin/../bin/run", "bin/run", "/bin/out"})
    EXPECT_EQ(RootPath::resolveProgram(bad), "") << bad;
}

}  // namespace
