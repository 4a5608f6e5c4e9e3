#pragma once
// Stand-in for the E1 control service: only its singleton, a control service that takes no
// command yet. Replaced by the real service when it lands.
#include "control/ctrl_service.h"

class E1Ctl : public CtrlSrv::Service {
 public:
  static E1Ctl& instance();

  void OnConnect() override {}
  void OnDisconnect() override {}
  bool OnCommand(const LGCP::Command&) override { return false; }

 private:
  E1Ctl() = default;
};
