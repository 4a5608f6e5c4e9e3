#include "control/acceptor.h"

#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <iostream>
#include <utility>

#include "runtime/os/inet4.h"

namespace Control {

// ---- Acceptor ---------------------------------------------------------------

Acceptor::Acceptor() : port_(0) { init(); }

Acceptor::Acceptor(int port) : port_(static_cast<unsigned short>(port)) { init(); }

Acceptor::Acceptor(int port, bool verbose) : port_(static_cast<unsigned short>(port)) {
  set_verbose(verbose);
  init();
}

Acceptor::~Acceptor() = default;

void Acceptor::init() { listen_event_.Bind("Acceptor::OnSocketEvent", &Acceptor::OnSocketEvent, this); }

unsigned short Acceptor::bound_port() const {
  sockaddr_in sa;
  std::memset(&sa, 0, sizeof sa);
  socklen_t len = sizeof sa;
  if (!listen_fd_.is_valid() || ::getsockname(listen_fd_.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), &len) != 0)
    return 0;
  return ntohs(sa.sin_port);
}

bool Acceptor::ImplActivate() {
  int s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  Errno failure;  // before Fd's own calls overwrite errno
  listen_fd_ = Fd(s);
  if (!listen_fd_.is_valid()) {
    if (verbose()) std::cerr << "can't create socket:" << failure << std::endl;
    return false;
  }
  int on = 1;
  ::setsockopt(listen_fd_.lowlevel_fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  BindSocket();
  return true;
}

void Acceptor::ImplDeactivate() {
  bind_timer_.reset();
  accept_timer_.reset();
  listen_event_.Release();
  listen_fd_.close();
}

void Acceptor::BindSocket() {
  sockaddr_in sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_ANY);
  sa.sin_port = htons(port_);
  if (::bind(listen_fd_.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    if (verbose()) std::cerr << "can't bind to socket: \"" << Errno() << "\" " << " waiting..." << std::endl;
    bind_timer_.set(bind_retry_ms, &Acceptor::OnTimeout, this);
    return;
  }
  if (::listen(listen_fd_.lowlevel_fd(), 1) != 0) {
    if (verbose()) std::cerr << "can't listen socket: " << Errno() << std::endl;
    Deactivate();
    return;
  }
  if (!listen_fd_.NonBlock()) {
    if (verbose()) std::cerr << "can't set socket to non block mode: " << Errno() << std::endl;
    Deactivate();
    return;
  }
  WatchListener();
}

void Acceptor::WatchListener() {
  listen_event_.Schedule(listen_fd_, POLLIN);
  if (!listen_event_.IsActive()) PauseAccepting(Errno(), "dup: ");
}

void Acceptor::OnTimeout(Timer*) { BindSocket(); }

void Acceptor::OnSocketEvent(int, short revents) {
  if (!(revents & POLLIN)) return;
  for (;;) {
    INet4::Addr peer;
    socklen_t len = peer.size();
    int s = ::accept(listen_fd_.lowlevel_fd(), static_cast<sockaddr*>(peer), &len);
    if (s < 0) {
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) PauseAccepting(Errno(), "");
      return;
    }
    const bool inSpell = accept_failure_logged_;
    accept_failure_logged_ = false;
    Fd sock(s);
    if (GetState() == State::Connected) {
      if (verbose()) std::cerr << "refuse connection from " << peer << std::endl;
      ImplRefuseConnection();
      sock.close();
      continue;
    }
    if (!sock.NonBlock()) {
      if (verbose()) std::cerr << "can't set socket to non block mode: " << Errno() << std::endl;
      sock.close();
      continue;
    }
    if (verbose()) std::cout << "new connection from " << peer << std::endl;
    if (GetState() != State::Connecting) {
      // The link went down in this very pass (or is not active): nobody
      // would ever serve this connection, so it is closed rather than kept.
      sock.close();
      continue;
    }
    // The link's own copy: without a descriptor for it the newcomer is
    // closed and accepting pauses, as when accept() finds none.
    Fd link(sock);
    if (!link) {
      Errno e;
      accept_failure_logged_ = inSpell;  // still the same spell
      PauseAccepting(e, "dup: ");
      return;
    }
    Connected(std::move(link), peer);
    ImplConnected(std::move(sock));
  }
}

void Acceptor::PauseAccepting(const Errno& e, const char* call) {
  if (!accept_failure_logged_ && verbose())
    std::cerr << "can't accept connection: " << call << e << ", retrying every " << accept_retry_ms << " ms"
              << std::endl;
  accept_failure_logged_ = true;
  listen_event_.SetEvents(0);
  accept_timer_.set(accept_retry_ms, &Acceptor::OnAcceptRetry, this);
}

void Acceptor::OnAcceptRetry(Timer*) {
  if (listen_event_.IsActive())
    listen_event_.SetEvents(POLLIN);
  else
    WatchListener();
}

// ---- AcceptorCheckConnection -----------------------------------------------

AcceptorCheckConnection::AcceptorCheckConnection() = default;
AcceptorCheckConnection::AcceptorCheckConnection(int port) : Acceptor(port) {}
AcceptorCheckConnection::AcceptorCheckConnection(int port, bool verbose) : Acceptor(port, verbose) {}
AcceptorCheckConnection::~AcceptorCheckConnection() = default;

bool AcceptorCheckConnection::ImplActivate() {
  Acceptor::ImplActivate();
  CheckConnection();
  return true;
}

void AcceptorCheckConnection::ImplDeactivate() {
  check_timer_.reset();
  Acceptor::ImplDeactivate();
}

void AcceptorCheckConnection::ImplOnDisconnect() {
  // The link is down: let go of our duplicate too, so that the peer sees
  // its connection end instead of a half-dead socket. The check state is
  // left as it is.
  check_fd_.close();
}

void AcceptorCheckConnection::ImplConnected(Fd fd) { check_fd_ = std::move(fd); }

void AcceptorCheckConnection::ImplRefuseConnection() {
  if (check_state_ != CheckConnectionState::Idle) return;
  check_state_ = CheckConnectionState::CheckConnection;
  remaining_ = 2;
  SetupKeepAlive(true);
  if (verbose()) std::cerr << "CheckConnectionState CheckConnection" << std::endl;
}

void AcceptorCheckConnection::SetupKeepAlive(bool check) {
  int s = check_fd_.lowlevel_fd();
  int keepalive = check ? TCPKeepAlive : TCPKeepAliveDefault;
  int idle = check ? TCPKeepAliveIdle : TCPKeepAliveIdleDefault;
  int intvl = check ? TCPKeepAliveIntvl : TCPKeepAliveIntvlDefault;
  int cnt = check ? TCPKeepAliveCnt : TCPKeepAliveCntDefault;
  ::setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, &keepalive, sizeof keepalive);
  ::setsockopt(s, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  ::setsockopt(s, IPPROTO_TCP, TCP_KEEPINTVL, &intvl, sizeof intvl);
  ::setsockopt(s, IPPROTO_TCP, TCP_KEEPCNT, &cnt, sizeof cnt);
}

void AcceptorCheckConnection::CheckConnection() {
  if (IsConnected()) {
    bool close_link = false;
    unsigned char buf[92];
    std::memset(buf, 0, sizeof buf);
    socklen_t len = sizeof buf;
    if (::getsockopt(check_fd_.lowlevel_fd(), IPPROTO_TCP, TCP_INFO, buf, &len) == 0) {
      // tcpi_state and tcpi_ca_state are the first two bytes of tcp_info.
      unsigned char state = buf[0];
      unsigned char ca_state = buf[1];
      if (state != TCP_ESTABLISHED) {
        if (verbose())
          std::cerr << "connection from " << GetIPAddr() << " closed: tcp socket change state." << std::endl;
        close_link = true;
      }
      if (check_state_ == CheckConnectionState::CheckConnection) {
        if (ca_state == 0) {
          check_state_ = CheckConnectionState::Idle;
          SetupKeepAlive(false);
          if (verbose()) std::cerr << "CheckConnectionState Idle" << std::endl;
        } else {
          if (remaining_ > 0) --remaining_;
          if (remaining_ <= 0) {
            if (verbose())
              std::cerr << "connection from " << GetIPAddr() << " closed: tcp socket change ca_state." << std::endl;
            close_link = true;
          }
        }
      }
    }
    int err = 0;
    socklen_t elen = sizeof err;
    int r = ::getsockopt(check_fd_.lowlevel_fd(), SOL_SOCKET, SO_ERROR, &err, &elen);
    if (r != 0 || err != 0) {
      if (r == 0) errno = err;
      if (verbose()) std::cerr << "connection from " << GetIPAddr() << " closed: " << Errno() << std::endl;
      close_link = true;
    }
    if (close_link) {
      check_state_ = CheckConnectionState::Idle;
      SetupKeepAlive(false);
      Disconnect();
      if (verbose()) std::cerr << "CheckConnectionState Idle" << std::endl;
    }
  }
  check_timer_.set(check_period_ms, &AcceptorCheckConnection::OnCheckConnectionTimeout, this);
}

void AcceptorCheckConnection::OnCheckConnectionTimeout(Timer*) { CheckConnection(); }

}  // namespace Control
