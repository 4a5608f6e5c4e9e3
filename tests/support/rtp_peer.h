#pragma once
// A UDP socket on the loopback address standing for an RTP peer's RTCP
// port (or holding a port number for a moment) in the RTP slot tests.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace rtptest {

struct UdpPort {
  UdpPort() {
    fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    port = ntohs(a.sin_port);
  }
  ~UdpPort() { ::close(fd); }
  UdpPort(const UdpPort&) = delete;
  UdpPort& operator=(const UdpPort&) = delete;
  // The next packet within ms ("" when none came).
  std::string Receive(int ms = 3000) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, ms) != 1) return "";
    char buf[2048];
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, size_t(n)) : std::string();
  }
  int fd;
  unsigned port;
};

// The RTP port just below a UDP port that was free a moment ago, so that
// its RTCP port (one above) is free too.
inline unsigned FreeRtpPort() { return UdpPort().port - 1; }

// The local port a socket is bound to.
inline unsigned BoundPort(int fd) {
  sockaddr_in a{};
  socklen_t n = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
  return ntohs(a.sin_port);
}

}  // namespace rtptest
