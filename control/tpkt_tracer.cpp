#include "control/tpkt_tracer.h"

#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <cstring>
#include <iostream>
#include <utility>

#include "runtime/os/fd.h"
#include "runtime/os/inet4.h"

TPKTTracer::~TPKTTracer() {
  for (Connection* c : connections_) delete c;
  connections_.clear();
  current_ = connections_.end();
}

bool TPKTTracer::Listen(unsigned short port) {
  Fd s(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!s.is_valid()) return false;
  sockaddr_in sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_ANY);
  sa.sin_port = htons(port);
  if (::bind(s.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
      ::listen(s.lowlevel_fd(), 1) != 0 || !s.NonBlock())
    return false;
  listen_event_.Bind("TPKTTracer::OnEvent", &TPKTTracer::OnEvent, this);
  listen_event_.Schedule(std::move(s), POLLIN);  // handed over: no copy to fail
  return true;
}

unsigned short TPKTTracer::bound_port() const {
  sockaddr_in sa;
  std::memset(&sa, 0, sizeof sa);
  socklen_t len = sizeof sa;
  if (!listen_event_.IsActive() ||
      ::getsockname(listen_event_.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), &len) != 0)
    return 0;
  return ntohs(sa.sin_port);
}

void TPKTTracer::OnEvent(int fd, short revents) {
  if (!(revents & POLLIN)) return;
  for (;;) {
    INet4::Addr peer;
    socklen_t len = peer.size();
    int c = ::accept(fd, static_cast<sockaddr*>(peer), &len);
    if (c < 0) {
      // Out of descriptors the listener stays readable: look again later
      // rather than spinning on it.
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        listen_event_.SetEvents(0);
        accept_timer_.set(accept_retry_ms, &TPKTTracer::OnAcceptRetry, this);
      }
      return;
    }
    Fd sock(c);
    std::clog << "ACP connection open from " << peer << std::endl;
    if (!sock.NonBlock()) continue;
    Connection* conn = new Connection;
    conn->event.Bind("TPKTTracer::OnDataEvent", &TPKTTracer::OnDataEvent, this);
    conn->event.Schedule(std::move(sock), POLLIN);  // handed over: no copy to fail
    connections_.push_back(conn);
  }
}

void TPKTTracer::OnAcceptRetry() { listen_event_.SetEvents(POLLIN); }

TPKTTracer::Connections::iterator TPKTTracer::FindConnection(int fd) {
  for (Connections::iterator it = connections_.begin(); it != connections_.end(); ++it)
    if ((*it)->event.lowlevel_fd() == fd) return it;
  return connections_.end();
}

void TPKTTracer::CloseConnection(Connections::iterator it) {
  if (it == current_) current_ = connections_.end();
  delete *it;
  connections_.erase(it);
}

void TPKTTracer::OnDataEvent(int fd, short revents) {
  current_ = FindConnection(fd);
  if (current_ == connections_.end()) return;
  if (revents & (POLLERR | POLLHUP)) {
    CloseConnection(current_);
    return;
  }
  if (!(revents & POLLIN)) {
    current_ = connections_.end();
    return;
  }
  for (;;) {
    Connection* c = *current_;
    ssize_t n = ::recv(fd, c->buffer + c->received, c->expected - c->received, MSG_NOSIGNAL);
    if (n == 0) {
      CloseConnection(current_);
      break;
    }
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN) CloseConnection(current_);
      break;
    }
    c->received += static_cast<unsigned int>(n);
    if (c->received < c->expected) break;
    if (!c->header) {
      if (listener_) listener_->OnMessage(c->buffer, c->expected);
      if (current_ == connections_.end()) break;  // closed by the listener
      c->header = true;
      c->expected = 4;
      c->received = 0;
      continue;
    }
    if (c->buffer[0] != 3 || c->buffer[1] != 0) {
      CloseConnection(current_);
      break;
    }
    unsigned int len = c->buffer[2] * 256u + c->buffer[3];
    if (len < 4 || len - 4 > max_payload) {
      CloseConnection(current_);
      break;
    }
    c->received = 0;
    if (len == 4) {
      c->expected = 4;
      continue;
    }
    c->header = false;
    c->expected = len - 4;
  }
  current_ = connections_.end();
}

void TPKTTracer::Send(const void* data, unsigned length) {
  unsigned int total = length + 4;
  unsigned char header[4] = {3, 0, static_cast<unsigned char>((total >> 8) & 0xFF),
                             static_cast<unsigned char>(total & 0xFF)};
  iovec iov[2];
  iov[0].iov_base = header;
  iov[0].iov_len = 4;
  iov[1].iov_base = const_cast<void*>(data);
  iov[1].iov_len = length;
  msghdr msg;
  std::memset(&msg, 0, sizeof msg);
  msg.msg_iov = iov;
  msg.msg_iovlen = 2;

  // Returns false when the client had to be closed.
  auto write_to = [&](Connections::iterator it) {
    ssize_t n = ::sendmsg((*it)->event.lowlevel_fd(), &msg, MSG_NOSIGNAL);
    if ((n < 0 && errno != EINTR) || (n >= 0 && static_cast<size_t>(n) != total)) CloseConnection(it);
  };
  if (current_ != connections_.end()) {
    write_to(current_);
    return;
  }
  for (Connections::iterator it = connections_.begin(); it != connections_.end();) {
    Connections::iterator next = it;
    ++next;
    write_to(it);
    it = next;
  }
}
