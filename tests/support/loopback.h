#pragma once
// Loopback TCP ports of the tests: a listener on a free (or given) port and
// a port nobody listens on. Header-only and free of project libraries.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace looptest {

// A socket listening on 127.0.0.1:port, port 0 for one the system picks;
// port then holds the port bound. -1 when binding or listening fails.
// flags go with SOCK_STREAM (SOCK_CLOEXEC, SOCK_NONBLOCK).
inline int listenLoopback(unsigned short& port, int backlog = 4, int flags = SOCK_CLOEXEC) {
  int s = ::socket(AF_INET, SOCK_STREAM | flags, 0);
  int on = 1;
  ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  socklen_t len = sizeof a;
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s, backlog) != 0) {
    ::close(s);
    return -1;
  }
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  port = ntohs(a.sin_port);
  return s;
}

// A loopback port nobody listens on right now (0 when none was found).
inline unsigned short closedPort() {
  unsigned short port = 0;
  int s = listenLoopback(port, 1);
  if (s < 0) return 0;
  ::close(s);
  return port;
}

}  // namespace looptest
