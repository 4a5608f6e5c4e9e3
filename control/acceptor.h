#pragma once
// The listening side of a control link. Listens on a TCP port of every local
// address (backlog 1), serves one connection at a time and closes newcomers
// at once while a link is up; a failed bind is retried every 5000 ms. When
// no descriptor is left for a newcomer, accepting pauses for 1000 ms at a
// time (one log line per such spell) instead of polling a listener that
// stays readable.
//
// AcceptorCheckConnection adds a watch on the live connection: every
// 1000 ms it reads the socket's TCP state and pending error, and after a
// newcomer was refused it switches the live socket to a fast keepalive
// profile and drops the link when its congestion state stays abnormal.
#include <poll.h>

#include "control/service.h"
#include "runtime/loop/event.h"
#include "runtime/loop/timer.h"
#include "runtime/os/fd.h"

namespace Control {

// Keepalive profiles (seconds): probing after a refusal, and normal.
const int TCPKeepAlive = 1;
const int TCPKeepAliveIdle = 1;
const int TCPKeepAliveIntvl = 1;
const int TCPKeepAliveCnt = 3;
const int TCPKeepAliveDefault = 1;
const int TCPKeepAliveIdleDefault = 7200;
const int TCPKeepAliveIntvlDefault = 75;
const int TCPKeepAliveCntDefault = 9;

class Acceptor : public Service {
 public:
  static const unsigned int bind_retry_ms = 5000;
  static const unsigned int accept_retry_ms = 1000;

  Acceptor();
  explicit Acceptor(int port);
  Acceptor(int port, bool verbose);
  ~Acceptor() override;

  unsigned short port() const { return port_; }
  // The port actually bound (differs from port() when port() is 0).
  unsigned short bound_port() const;
  bool listening() const { return listen_fd_.is_valid() && listen_event_.IsActive(); }
  // False while accepting pauses for want of descriptors.
  bool accepting() const { return listening() && (listen_event_.events() & POLLIN); }

 protected:
  bool ImplActivate() override;
  void ImplDeactivate() override;
  void ImplOnDisconnect() override {}

  virtual void ImplRefuseConnection() {}
  virtual void ImplConnected(Fd) {}

  void BindSocket();
  void OnTimeout(Timer* t);
  void OnSocketEvent(int fd, short revents);

 private:
  void init();
  // accept() (or the copy of what it gave, or the listener's watch, `call`
  // naming it) found no descriptor or memory: stop polling the listener and
  // look again after accept_retry_ms, logging once per spell.
  void PauseAccepting(const Errno& e, const char* call);
  // Watches the listener for newcomers; pauses when it cannot.
  void WatchListener();
  void OnAcceptRetry(Timer*);

  unsigned short port_;
  Fd listen_fd_;
  Timer bind_timer_;
  Timer accept_timer_;
  Event listen_event_;
  bool accept_failure_logged_ = false;
};

class AcceptorCheckConnection : public Acceptor {
 public:
  struct CheckConnectionState {
    enum Type { Idle = 0, CheckConnection = 1 };
  };

  static const unsigned int check_period_ms = 1000;

  AcceptorCheckConnection();
  explicit AcceptorCheckConnection(int port);
  AcceptorCheckConnection(int port, bool verbose);
  ~AcceptorCheckConnection() override;

  CheckConnectionState::Type check_state() const { return check_state_; }
  int remaining_checks() const { return remaining_; }
  // True while a duplicate of the live connection is held.
  bool holds_check_socket() const { return check_fd_.is_valid(); }

 protected:
  bool ImplActivate() override;
  void ImplDeactivate() override;
  void ImplOnDisconnect() override;
  void ImplRefuseConnection() override;
  void ImplConnected(Fd fd) override;

  void CheckConnection();
  void SetupKeepAlive(bool check);
  void OnCheckConnectionTimeout(Timer* t);

 private:
  Timer check_timer_;
  Fd check_fd_;
  CheckConnectionState::Type check_state_ = CheckConnectionState::Idle;
  int remaining_ = 0;
};

}  // namespace Control
