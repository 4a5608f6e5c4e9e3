#include "runtime/os/net.h"

#include <dirent.h>
#include <fcntl.h>
#include <net/if.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>

#include "runtime/os/paths.h"

namespace Net {

std::string hostname() {
  char buf[512];
  if (::gethostname(buf, sizeof buf) != 0) return std::string();
  buf[sizeof buf - 1] = 0;
  return buf;
}

int hostname(const std::string& name) { return ::sethostname(name.c_str(), name.size()); }

bool ifconfig_selects(const char* ifname, unsigned int a, ifconfig_mode_t mode) {
  if (mode == 0) return true;
  if ((mode & ifconfig_not_loopback) && strcasecmp(ifname, "lo") != 0) return true;
  if ((mode & ifconfig_link_local) && (a & 0xFFFF0000u) == 0xA9FE0000u) return true;
  if ((mode & ifconfig_private) &&
      ((a & 0xFFFF0000u) == 0xC0A80000u || (a & 0xFFF00000u) == 0xAC100000u || (a & 0xFF000000u) == 0x0A000000u))
    return true;
  return false;
}

std::list<IfEntry> ifconf_entries(const void* records, int bytes) {
  std::list<IfEntry> out;
  const unsigned char* p = static_cast<const unsigned char*>(records);
  int n = bytes / static_cast<int>(sizeof(struct ifreq));
  for (int i = 0; i < n; ++i) {
    struct ifreq r;
    std::memcpy(&r, p + static_cast<std::size_t>(i) * sizeof r, sizeof r);
    if (r.ifr_addr.sa_family != AF_INET) continue;
    sockaddr_in sin;
    std::memcpy(&sin, &r.ifr_addr, sizeof sin);
    sin.sin_port = 0;
    char name[IFNAMSIZ + 1];
    std::memcpy(name, r.ifr_name, IFNAMSIZ);
    name[IFNAMSIZ] = 0;
    out.push_back(IfEntry{name, INet4::Addr(sin)});
  }
  return out;
}

int ifconfig(std::list<INet4::Addr>& out, ifconfig_mode_t mode) {
  int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s < 0) return -1;
  // Room for 16 interface records of this platform's size.
  struct ifreq reqs[16];
  std::memset(reqs, 0, sizeof reqs);
  struct ifconf ifc;
  ifc.ifc_len = sizeof reqs;
  ifc.ifc_req = reqs;
  if (::ioctl(s, SIOCGIFCONF, &ifc) < 0) {
    ::close(s);
    return -1;
  }
  int count = 0;
  for (const IfEntry& e : ifconf_entries(reqs, ifc.ifc_len)) {
    if (!ifconfig_selects(e.name.c_str(), e.addr.host_order(), mode)) continue;
    struct ifreq q;
    std::memset(&q, 0, sizeof q);
    std::strncpy(q.ifr_name, e.name.c_str(), IFNAMSIZ - 1);
    if (::ioctl(s, SIOCGIFADDR, &q) < 0) continue;
    out.push_back(e.addr);
    ++count;
  }
  ::close(s);
  return count;
}

}  // namespace Net

namespace {

// True when "/proc/<pid>/stat" names the process `name`.
bool proc_has_name(int pid, const char* name) {
  std::string path = RootPath::resolve("/proc/" + std::to_string(pid) + "/stat");
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buf[256];
  ssize_t n = ::read(fd, buf, 255);
  ::close(fd);
  if (n <= 0) return false;
  buf[n] = 0;
  char* open = std::strchr(buf, '(');
  char* close = std::strrchr(buf, ')');
  if (!open || !close || close < open) return false;
  *close = 0;
  return std::strcmp(open + 1, name) == 0;
}

}  // namespace

int find_proc_by_name(const char* name, int pid) {
  if (pid > 0 && proc_has_name(pid, name)) return pid;
  std::string proc = RootPath::resolve("/proc");
  DIR* d = ::opendir(proc.c_str());
  if (!d) return -1;
  int found = -1;
  while (struct dirent* e = ::readdir(d)) {
    int cand = std::atoi(e->d_name);
    if (cand > 0 && proc_has_name(cand, name)) {
      found = cand;
      break;
    }
  }
  ::closedir(d);
  return found;
}

std::ostream& timestamp(std::ostream& os) {
  time_t t = ::time(nullptr);
  if (t == static_cast<time_t>(-1)) return os;
  struct tm lt;
  if (!::localtime_r(&t, &lt)) return os;
  char buf[256];
  std::strftime(buf, sizeof buf, "%d/%m %H:%M:%S", &lt);
  return os << buf;
}

namespace Console {

void SwitchToBinaryMode() {
  struct termios t;
  std::memset(&t, 0, sizeof t);
  if (::tcgetattr(0, &t) != 0) std::cerr << "can't obtain terminal attributes" << std::endl;
  t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHOE | ECHOK | ECHONL | ECHOPRT | ECHOCTL);
  if (::tcsetattr(0, TCSADRAIN, &t) != 0) std::cerr << "can't set terminal attributes" << std::endl;
}

void SwitchToNonBlockMode() {
  int one = 1;
  if (::ioctl(0, FIONBIO, &one) != 0) std::cerr << "can't switch terminal to blocked mode" << std::endl;
}

}  // namespace Console
