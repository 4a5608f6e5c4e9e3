#pragma once
// Stand-in for the clock-bus control service: its singleton and the switch
// that "--disable-clock" clears; it takes no command yet. Replaced by the
// real service when it lands.
#include "control/ctrl_service.h"

class BusCtl : public CtrlSrv::Service {
 public:
  static BusCtl& instance();

  // Writes "clock control disabled." to the log stream; from then on the
  // board's clock source is left alone.
  void DisableControl();
  bool ClockControl() const { return mClockControl; }

  void OnConnect() override {}
  void OnDisconnect() override {}
  bool OnCommand(const LGCP::Command&) override { return false; }

 private:
  BusCtl() = default;
  bool mClockControl = true;
};
