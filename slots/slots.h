#pragma once
// Stand-in for the Slots control service: its singleton and the hardware
// resource report. It takes no slot command yet; the slot table and the
// command handlers arrive with the slot kinds.
#include "control/ctrl_service.h"

class Slots : public CtrlSrv::Service {
 public:
  static Slots& instance();

  void OnConnect() override {}
  void OnDisconnect() override {}
  bool OnCommand(const LGCP::Command&) override { return false; }

  // Sends the controller the resources the board offers, as the signal
  // query without a slot number. Every count is 0 and mux is on until the
  // factories contribute their own counts.
  void UpdateHardwareResources();

 private:
  Slots() = default;
};
