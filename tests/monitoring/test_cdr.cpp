// Call records sent as UDP datagrams to loopback receivers.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "monitoring/cdr_sender.h"

namespace {

// A receiver on every local address, so that a datagram sent to the wrong
// address (0.0.0.0 reaches the host too) is seen as well. Drain gives
// "<address sent to> <source port> <data>" per datagram queued within the wait.
class Receiver {
 public:
  Receiver() : fd_(::socket(AF_INET, SOCK_DGRAM, 0)) {
    int on = 1;
    ::setsockopt(fd_, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    socklen_t len = sizeof a;
    EXPECT_EQ(0, ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a));
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
  }
  ~Receiver() { ::close(fd_); }
  std::string at(const char* addr) const { return std::string(addr) + ":" + std::to_string(port); }
  std::vector<std::string> Drain(int wait_ms) {
    std::vector<std::string> out;
    pollfd p{fd_, POLLIN, 0};
    for (char buf[70000], ctl[256]; ::poll(&p, 1, wait_ms) > 0; wait_ms = 50) {
      sockaddr_in from{};
      iovec iov{buf, sizeof buf};
      msghdr m{&from, sizeof from, &iov, 1, ctl, sizeof ctl, 0};
      ssize_t n = ::recvmsg(fd_, &m, 0);
      in_pktinfo info{};
      if (cmsghdr* c = CMSG_FIRSTHDR(&m)) std::memcpy(&info, CMSG_DATA(c), sizeof info);
      out.push_back(std::string(inet_ntoa(info.ipi_addr)) + " " + std::to_string(ntohs(from.sin_port)) + " " +
                    std::string(buf, n < 0 ? 0 : size_t(n)));
    }
    return out;
  }
  int port = 0;

 private:
  int fd_;
};

int OpenDescriptors() {
  int n = 0;
  DIR* d = ::opendir("/proc/self/fd");
  while (::readdir(d)) ++n;
  return ::closedir(d), n;
}

TEST(CdrSender, OneEqualDatagramPerGoodAddressInOrderBadWordsReported) {
  Receiver r;
  CDR_Sender::Sender s;
  const std::string rec = "call 1 from 100 to 200 duration 42", binary("a\0b\0", 4), one = r.at("127.0.0.1");
  const std::string port = std::to_string(r.port);
  struct Row { std::string record, list; bool ok; std::vector<std::string> to; } rows[] = {
      {rec, "  " + one + "\n\t" + r.at("127.0.0.2") + " \n", true, {"127.0.0.1", "127.0.0.2"}},
      {"", one + " " + one, true, {"127.0.0.1", "127.0.0.1"}},  // by length: empty ones too
      {binary, one, true, {"127.0.0.1"}},                      // and zero bytes
      {rec, "", true, {}},
      {rec, " \t\n\r ", true, {}},
      // The port is what atoi reads: leading zeros, a sign, trailing text.
      {rec, "127.0.0.1:0000000000" + port, true, {"127.0.0.1"}},
      {rec, "127.0.0.1:+" + port, true, {"127.0.0.1"}},
      {rec, one + "x", true, {"127.0.0.1"}},
      // Neither a name, a missing or zero port nor a port that would wrap
      // may send the record anywhere; the good address after them is served.
      {rec, "nohost:" + port + " " + one, false, {"127.0.0.1"}},
      {rec, "127.0.0.1 " + one, false, {"127.0.0.1"}},
      {rec, "127.0.0.1: " + one, false, {"127.0.0.1"}},
      {rec, "127.0.0.1:0 " + one, false, {"127.0.0.1"}},
      {rec, "127.0.0.1:" + std::to_string(r.port + 65536) + " " + one, false, {"127.0.0.1"}},
      {rec, "127.0.0.1:-" + port + " " + one, false, {"127.0.0.1"}},
      {rec, "127.0.0.1:x" + port + " " + one, false, {"127.0.0.1"}},
      {rec, ":" + port + " " + one, false, {"127.0.0.1"}},
      {std::string(70000, 'z'), one, false, {}}};  // too large for one datagram: reported, not cut
  std::string source;
  for (const Row& row : rows) {
    std::string record = row.record;
    EXPECT_EQ(row.ok, s.SendTo(record, row.list)) << row.list;
    EXPECT_EQ(row.record, record);
    std::vector<std::string> got = r.Drain(row.to.empty() ? 100 : 200);
    ASSERT_EQ(row.to.size(), got.size()) << row.list;
    for (std::size_t i = 0; i < got.size(); ++i) {
      // One socket for the sender's life: the same source port every time.
      std::size_t a = got[i].find(' ') + 1;
      if (source.empty()) source = got[i].substr(a, got[i].find(' ', a) - a);
      EXPECT_EQ(row.to[i] + " " + source + " " + row.record, got[i]);
    }
  }
}

TEST(CdrSender, SocketLifetime) {
  int before = OpenDescriptors();
  {
    CDR_Sender::Sender s;
    EXPECT_EQ(before + 1, OpenDescriptors());
  }
  EXPECT_EQ(before, OpenDescriptors());
  // Without a socket (descriptor limit reached) nothing is sent.
  Receiver r;
  int lowest = ::dup(0);
  ::close(lowest);
  rlimit old, low;
  ASSERT_EQ(0, ::getrlimit(RLIMIT_NOFILE, &old));
  low = old;
  low.rlim_cur = static_cast<rlim_t>(lowest);
  ASSERT_EQ(0, ::setrlimit(RLIMIT_NOFILE, &low));
  CDR_Sender::Sender s;
  ASSERT_EQ(0, ::setrlimit(RLIMIT_NOFILE, &old));
  std::string rec = "x";
  EXPECT_FALSE(s.SendTo(rec, r.at("127.0.0.1")));
  EXPECT_FALSE(s.SendTo(rec, ""));
  EXPECT_TRUE(r.Drain(100).empty());
}

}  // namespace
