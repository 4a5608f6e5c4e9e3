#pragma once
// Clock bus control: selects the source of the board's TDM clock on the
// controller's clockCfg command through "/dev/hal", and falls back to the
// free-running clock whenever the controller link comes up or goes down.
// With "--disable-clock" (DisableControl) it leaves the clock alone and
// refuses clockCfg with `unsupported`.
#include <iosfwd>
#include <string>

#include "control/ctrl_service.h"

class BusCtl : public CtrlSrv::Service {
 public:
  // Clock source values as the driver takes them.
  enum { SourceFreeRun = 4, SourceX3 = 5 };

  static BusCtl& instance();

  // The process uses instance(); tests make their own.
  BusCtl() = default;
  ~BusCtl() override;

  // Writes "clock control disabled." to the log stream; from then on the
  // board's clock source is left alone.
  void DisableControl();
  bool ClockControl() const { return mClockControl; }

  // True when "/dev/hal" is open, opening it when control is enabled.
  bool IsOpen();

  void OnConnect() override;
  void OnDisconnect() override;
  bool OnCommand(const LGCP::Command& command) override;

  void SetDefaultClock();
  void SetClockSrc(const LGCP::ClockCfg& cfg);
  void DrvSetClkSrc(int source);

  void PutHeader(std::ostream& os) const;

  // The log name of a clock source value ("f2", "freerun"); sources
  // outside the driver's table print as their number.
  static std::string SourceName(int source);

  int device() const { return mDevice; }

 private:
  int mDevice = -1;
  bool mClockControl = true;
};
