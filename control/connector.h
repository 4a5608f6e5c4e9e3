#pragma once
// The client side of a control link: connects a non-blocking TCP socket to
// an IPv4 address and port. A failed attempt is retried after 1000 ms while
// the 7 quick retries of an activation last, then after the long delay of
// its failure path (20000 ms when connect fails at once, 15000 ms on an error
// or hang-up of the pending socket, 12000 ms when the pending connect ends
// with an error). An established link that is lost is retried 10000 ms later.
//
//   Control::Connector* link = new Control::Connector("10.0.0.5:20002");
//   link->service_name("snmpagent.main 10.0.0.5:20002");
//   link->Bind(this);            // Control::Notify
//   link->Activate();
#include <string>

#include "control/service.h"
#include "runtime/loop/event.h"
#include "runtime/loop/timer.h"
#include "runtime/os/fd.h"
#include "runtime/os/inet4.h"

namespace Control {

class Connector : public Service {
 public:
  static const int quick_retries = 7;
  static const unsigned int quick_retry_ms = 1000;
  static const unsigned int connect_fail_retry_ms = 20000;
  static const unsigned int pending_error_retry_ms = 15000;
  static const unsigned int connect_error_retry_ms = 12000;
  static const unsigned int reconnect_ms = 10000;

  Connector();
  Connector(const std::string& host, unsigned short port);
  explicit Connector(const std::string& address);
  ~Connector() override;

  const std::string& host() const { return host_; }
  unsigned short port() const { return port_; }
  int quick_retries_left() const { return quick_left_; }
  bool retry_pending() const { return retry_timer_.is_running(); }
  unsigned int retry_remaining() const { return retry_timer_.remaining(); }
  bool attempt_pending() const { return connect_event_.IsActive(); }

 protected:
  bool ImplActivate() override;
  void ImplDeactivate() override;
  void ImplOnDisconnect() override;

  void TryConnect();
  void OnSocketEvent(int fd, short revents);
  void OnTimeout(Timer* t);

 private:
  void init();
  INet4::Addr PeerAddress() const;
  // Arms the next attempt after a failure whose long delay is `ms`.
  void RetryLater(unsigned int ms);

  unsigned short port_ = 0;
  std::string host_;
  Fd socket_;
  Timer retry_timer_;
  Event connect_event_;
  int quick_left_ = quick_retries;
};

}  // namespace Control
