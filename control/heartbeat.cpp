#include "control/heartbeat.h"

#include <iostream>

#include "control/ctrl_server.h"
#include "runtime/os/clock.h"

HeartBeatCtl& HeartBeatCtl::instance() {
  static HeartBeatCtl the;
  return the;
}

void HeartBeatCtl::OnConnect() {}

void HeartBeatCtl::OnDisconnect() { timer_.reset(); }

bool HeartBeatCtl::OnCommand(const LGCP::Command& command) {
  ResetTimeOut();
  if (command.ping_isSelected()) {
    Success();
    return true;
  }
  return false;
}

void HeartBeatCtl::ResetTimeOut() {
  deadline_ = Mux::milliseconds() + timeout_ms;
  if (!timer_.is_running()) timer_.set(timeout_ms, &HeartBeatCtl::OnTimer, this);
}

void HeartBeatCtl::OnTimer(Timer* t) {
  int left = static_cast<int>(deadline_ - Mux::milliseconds());
  if (left > 0)
    timer_.set(static_cast<unsigned int>(left), &HeartBeatCtl::OnTimer, this);
  else
    OnHeartbeatTimeout(t);
}

void HeartBeatCtl::OnHeartbeatTimeout(Timer*) {
  std::clog << "heartbeat timeout!!!" << std::endl;
  if (server()) server()->OnHeartbeatTimeout();
}

void HeartBeatCtl::PutHeader(std::ostream& os) const { os << "heartbeat: "; }
