#include "control/heartbeat.h"

#include <iostream>

#include "control/ctrl_server.h"

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

void HeartBeatCtl::ResetTimeOut() { timer_.set(timeout_ms, &HeartBeatCtl::OnHeartbeatTimeout, this); }

void HeartBeatCtl::OnHeartbeatTimeout(Timer*) {
  std::clog << "heartbeat timeout!!!" << std::endl;
  if (server()) server()->OnHeartbeatTimeout();
}

void HeartBeatCtl::PutHeader(std::ostream& os) const { os << "heartbeat: "; }
