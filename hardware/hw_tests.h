#pragma once
// Stand-in for the bus-test service: only its singleton, a control service that takes no
// command yet. Replaced by the real service when it lands.
#include "control/ctrl_service.h"

class HwTests : public CtrlSrv::Service {
 public:
  static HwTests& instance();

  void OnConnect() override {}
  void OnDisconnect() override {}
  bool OnCommand(const LGCP::Command&) override { return false; }

 private:
  HwTests() = default;
};
