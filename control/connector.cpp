#include "control/connector.h"

#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <iostream>
#include <utility>

namespace Control {

Connector::Connector() { init(); }

Connector::Connector(const std::string& host, unsigned short port) : port_(port), host_(host) { init(); }

Connector::Connector(const std::string& address) {
  INet4::Addr a;
  a = address;
  port_ = a.port();
  host_ = a.GetStrAddr();
  init();
}

Connector::~Connector() = default;

void Connector::init() { connect_event_.Bind("Connector::OnSocketEvent", &Connector::OnSocketEvent, this); }

INet4::Addr Connector::PeerAddress() const {
  INet4::Addr a;
  a.port(port_);
  a = host_;
  return a;
}

bool Connector::ImplActivate() {
  quick_left_ = quick_retries;
  TryConnect();
  return true;
}

void Connector::ImplDeactivate() {
  Release();
  socket_.close();
  retry_timer_.reset();
  connect_event_.Release();
}

void Connector::ImplOnDisconnect() { retry_timer_.set(reconnect_ms, &Connector::OnTimeout, this); }

void Connector::OnTimeout(Timer*) { TryConnect(); }

void Connector::RetryLater(unsigned int ms) {
  if (quick_left_ > 0) {
    --quick_left_;
    retry_timer_.set(quick_retry_ms, &Connector::OnTimeout, this);
  } else {
    retry_timer_.set(ms, &Connector::OnTimeout, this);
  }
}

void Connector::TryConnect() {
  INet4::Addr peer = PeerAddress();
  int s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  Errno failure;  // before Fd's own calls overwrite errno
  socket_ = Fd(s);
  if (!socket_.is_valid()) {
    // Out of descriptors or memory is passing: count it as a failed attempt
    // and keep the retry schedule rather than leaving the link dead.
    std::cerr << "can't create socket:" << failure << std::endl;
    RetryLater(connect_fail_retry_ms);
    return;
  }
  if (!socket_.NonBlock()) {
    std::cerr << "can't set socket to non block mode: " << Errno() << std::endl;
    Deactivate();
    return;
  }
  if (::connect(socket_.lowlevel_fd(), static_cast<const sockaddr*>(peer), peer.size()) == 0) {
    std::clog << "already connected to " << peer << std::endl;
    Connected(std::move(socket_), peer);  // handed to the link, nothing duplicated
    return;
  }
  if (errno == EINPROGRESS) {
    connect_event_.Schedule(socket_, POLLOUT);
    if (!connect_event_.IsActive()) {
      // An attempt nobody watches would never end: it fails and is retried.
      std::cerr << "can't dup socket: " << Errno() << std::endl;
      socket_.close();
      RetryLater(connect_fail_retry_ms);
    }
    return;
  }
  std::cerr << "can't connect to " << peer << " : " << Errno() << std::endl;
  socket_.close();
  RetryLater(connect_fail_retry_ms);
}

void Connector::OnSocketEvent(int, short revents) {
  INet4::Addr peer = PeerAddress();
  if (revents & (POLLERR | POLLHUP)) {
    std::cerr << "fail to connect to " << peer << std::endl;
    connect_event_.Release();
    socket_.close();
    RetryLater(pending_error_retry_ms);
    return;
  }
  if (!(revents & POLLOUT)) return;
  connect_event_.Release();
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(socket_.lowlevel_fd(), SOL_SOCKET, SO_ERROR, &err, &len) != 0) {
    std::cerr << "getsockopt(SOL_SOCKET,SO_ERROR) fail: " << Errno() << std::endl;
    Deactivate();
    return;
  }
  if (err == 0) {
    std::cout << "connected to " << peer << "." << std::endl;
    Connected(std::move(socket_), peer);
    return;
  }
  std::cerr << "fail to connect to " << peer << std::endl;
  socket_.close();
  RetryLater(connect_error_retry_ms);
}

}  // namespace Control
