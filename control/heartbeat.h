#pragma once
// Controller supervision: every command restarts a 120000 ms timer, and
// "ping" is answered with success here. When the timer runs out the server
// drops the controller's connection. Bound first of all services, so it
// sees every command. A command only moves the deadline; the timer is armed
// when none is pending and, on expiry before the deadline, armed again for
// the rest, so a steady flow of commands does not touch the timer list.
#include <iosfwd>

#include "control/ctrl_service.h"
#include "runtime/loop/timer.h"

class HeartBeatCtl : public CtrlSrv::Service {
 public:
  static const unsigned int timeout_ms = 120000;

  static HeartBeatCtl& instance();

  void OnConnect() override;
  void OnDisconnect() override;
  bool OnCommand(const LGCP::Command& command) override;

  void ResetTimeOut();
  void OnHeartbeatTimeout(Timer* t);
  void PutHeader(std::ostream& os) const;

  bool watching() const { return timer_.is_running(); }

 private:
  HeartBeatCtl() = default;
  void OnTimer(Timer* t);
  Timer timer_;
  unsigned int deadline_ = 0;
};
