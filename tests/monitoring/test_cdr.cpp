// Call records sent as UDP datagrams to loopback receivers.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
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

struct Datagram {
  std::string data;
  std::string to;  // destination address the datagram carried
  int from_port;
};

// A receiver on every local address, so that a datagram sent to the wrong
// loopback address (0.0.0.0 reaches the host too) would be seen as well.
class Receiver {
 public:
  Receiver() {
    fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    int on = 1;
    ::setsockopt(fd_, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t len = sizeof a;
    EXPECT_EQ(0, ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a));
    EXPECT_EQ(0, ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len));
    port_ = ntohs(a.sin_port);
  }
  ~Receiver() { ::close(fd_); }
  std::string at(const char* addr) const { return std::string(addr) + ":" + std::to_string(port_); }
  int port() const { return port_; }

  // Everything queued within the wait, with the address each was sent to.
  std::vector<Datagram> Drain(int wait_ms = 200) {
    std::vector<Datagram> out;
    pollfd p{fd_, POLLIN, 0};
    for (char buf[70000], ctl[256]; ::poll(&p, 1, wait_ms) > 0; wait_ms = 50) {
      sockaddr_in from{};
      iovec iov{buf, sizeof buf};
      msghdr m{&from, sizeof from, &iov, 1, ctl, sizeof ctl, 0};
      ssize_t n = ::recvmsg(fd_, &m, 0);
      if (n < 0) break;
      Datagram d{std::string(buf, static_cast<size_t>(n)), "", ntohs(from.sin_port)};
      for (cmsghdr* c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c)) {
        in_pktinfo info;
        std::memcpy(&info, CMSG_DATA(c), sizeof info);
        d.to = inet_ntoa(info.ipi_addr);
      }
      out.push_back(d);
    }
    return out;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
};

int OpenDescriptors() {
  int n = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (::readdir(d)) ++n;
    ::closedir(d);
  }
  return n;
}

TEST(CdrSender, SendsOneEqualDatagramPerAddressInOrder) {
  Receiver r;
  CDR_Sender::Sender s;
  const std::string rec = "call 1 from 100 to 200 duration 42", binary("a\0b\0", 4);
  struct Row { std::string record, list; std::vector<std::string> to; } rows[] = {
      {rec, "  " + r.at("127.0.0.1") + "\n\t" + r.at("127.0.0.2") + " \n", {"127.0.0.1", "127.0.0.2"}},
      {"", r.at("127.0.0.1") + " " + r.at("127.0.0.1"), {"127.0.0.1", "127.0.0.1"}},  // by length: empty ones too
      {binary, r.at("127.0.0.1"), {"127.0.0.1"}},                                      // and zero bytes
      {rec, "", {}},
      {rec, " \t\n\r ", {}}};
  int source = -1;
  for (const Row& row : rows) {
    std::string record = row.record;
    EXPECT_TRUE(s.SendTo(record, row.list));
    EXPECT_EQ(row.record, record);
    std::vector<Datagram> got = r.Drain(row.to.empty() ? 100 : 200);
    ASSERT_EQ(row.to.size(), got.size()) << row.list;
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(row.record, got[i].data);
      EXPECT_EQ(row.to[i], got[i].to);
      if (source < 0) source = got[i].from_port;
      EXPECT_EQ(source, got[i].from_port);  // one socket for the sender's life
    }
  }
}

TEST(CdrSender, BadWordsAreSkippedAndReported) {
  Receiver r;
  CDR_Sender::Sender s;
  std::string rec = "record";
  std::string port = std::to_string(r.port());
  // Neither a name, a missing or zero port nor a port that would wrap may
  // send the record anywhere, the host's own addresses included; the good
  // address after them is still served.
  const std::string bad[] = {"nohost:" + port, "127.0.0.1", "127.0.0.1:", "127.0.0.1:0",
                             "127.0.0.1:" + std::to_string(r.port() + 65536), "127.0.0.1:x" + port,
                             ":" + port};
  for (const std::string& word : bad) {
    EXPECT_FALSE(s.SendTo(rec, word + " " + r.at("127.0.0.1"))) << word;
    std::vector<Datagram> got = r.Drain(100);
    ASSERT_EQ(1u, got.size()) << word;
    EXPECT_EQ("127.0.0.1", got[0].to) << word;
  }
  // A record too large for one datagram is reported, not cut.
  std::string huge(70000, 'z');
  EXPECT_FALSE(s.SendTo(huge, r.at("127.0.0.1")));
  EXPECT_TRUE(r.Drain(100).empty());
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
  ASSERT_GE(lowest, 0);
  ::close(lowest);
  rlimit old;
  ASSERT_EQ(0, ::getrlimit(RLIMIT_NOFILE, &old));
  rlimit low = old;
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
