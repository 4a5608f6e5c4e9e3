#pragma once
// E1 trunk control: reports the synchronisation state of the four E1 trunks
// read from "/dev/maintenance" as trunkStatus signals (at every controller
// connect and then once a second for the rest of the run), keeps the TCLK
// mask that the trunkCfg command sets, and carries the trunks' CAS
// signalling over "/dev/e1-cas" for slot-less ioctl commands.
#include <cstdint>
#include <iosfwd>

#include "control/ctrl_service.h"
#include "hardware/cas.h"
#include "runtime/loop/event.h"
#include "runtime/loop/timer.h"
#include "runtime/os/fd.h"

class E1Ctl : public CtrlSrv::Service {
 public:
  static constexpr int kTrunks = 4;
  static constexpr unsigned kStatusPeriod = 1000;  // ms
  // Maintenance status record: its size and the word offsets read.
  static constexpr std::size_t kStatusSize = 80;
  enum { OffSlips = 36, OffLossBF = 40, OffLossCarrier = 44, OffLossAIS = 48, OffLossRAI = 52, OffState = 76 };

  static E1Ctl& instance();

  // The process uses instance(); tests make their own. Opens nothing.
  E1Ctl() = default;
  ~E1Ctl() override;

  void OnConnect() override;
  void OnDisconnect() override {}
  bool OnCommand(const LGCP::Command& command) override;

  void SetMode(const LGCP::TrunkCfg& cfg);
  void UpdateTclk();
  void select_source(int source);
  void SendStatus();
  bool IsOpen();
  void SetTimer();
  void OnCheckStatus(Timer*);

  // CAS signalling.
  bool CheckOpenCas();
  void OnUpdateCas(int fd, short events);
  void HandleCas(const LGCP::IoctlParams& params);
  void HandleCasOpen(const cas_channel& ch, int tx);
  void HandleCasClose(const cas_channel& ch);
  void HandleCasSet(const cas_channel& ch, int tx);
  void HandleCasGet(const cas_channel& ch);
  void SendCASSignal(int path, int timeslot, int rx, int tx);
  void SendCASTrunkStatus(int trunk, int result);
  static void Assign(LGCP::CasChannel& to, cas_channel from);

  void PutHeader(std::ostream& os) const;

  // Inspection.
  uint32_t tclkMask() const { return tclk_; }
  bool casOpen(int trunk) const { return trunk >= 0 && trunk < kTrunks && casOpen_[trunk] != 0; }
  int maintenanceFd() const { return maintenance_; }
  int casFd() const { return casFd_.lowlevel_fd(); }
  bool polling() const { return statusTimer_.is_running(); }
  unsigned statusRemaining() const { return statusTimer_.remaining(); }

 private:
  // Reads the channel's bits back from the driver and signals them.
  void ReportCas(const cas_channel& ch);

  int maintenance_ = -1;
  Timer statusTimer_;
  Fd casFd_;
  Event casEvent_;
  int casOpen_[kTrunks] = {};
  uint32_t tclk_ = 0;
};
