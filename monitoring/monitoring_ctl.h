#pragma once
// The monitoring service: watches the board and the system on three
// periodic timers, keeps every monitored value (and the status files) in
// its data holder, forwards every change to the SNMP agents, drives the E1
// status LEDs, takes the controller's display command and sends it the
// power supply status.
#include <cstdint>
#include <iosfwd>
#include <string>

#include "control/ctrl_service.h"
#include "monitoring/data_holder.h"
#include "monitoring/snmp_agent.h"
#include "monitoring/snmp_agent_ctrl.h"
#include "runtime/config/inifile.h"
#include "runtime/loop/dpc.h"
#include "runtime/loop/timer.h"

class MonitoringCtl : public CtrlSrv::Service, public ISnmpAgentNotify {
 public:
  // Requests of "/dev/hal", each with a one-byte argument.
  static constexpr uint32_t kGetDip = 0xC0014205;
  static constexpr uint32_t kGetPower = 0xC0014206;
  static constexpr uint32_t kSetLed = 0xC0014207;

  static constexpr unsigned kBkgFirstMs = 1000, kBkgPeriodMs = 60000;
  static constexpr unsigned kPowerFirstMs = 2000, kPowerPeriodMs = 2000;
  static constexpr unsigned kControllerFirstMs = 5000, kControllerPeriodMs = 5000;

  static MonitoringCtl& instance();

  // Public for tests; the daemon uses instance().
  MonitoringCtl();
  ~MonitoringCtl() override;

  // One SNMP agent link per subsection of "snmpagent"; returns the number
  // of links bound.
  int Configure(IniFile::File& file);

  void OnConnect() override;
  void OnDisconnect() override;
  bool OnCommand(const LGCP::Command& command) override;
  void OnSnmpAgentConnect(const std::string& name) override;

  // False when the data holder refused the data (nothing stored or sent).
  bool OnDisplayCMD(const LGCP::DisplayParams& params);
  // The table row of a phone (its id + 1); false when no int holds it.
  static bool phoneRow(const LGCP::EmPhoneStatusParams& p, int& row);
  int setFramerLed(const LGCP::FramerInfo& info);
  bool IsOpen();

  void onBkgCheckTimer(Timer*);
  void onPowerCheckTimer(Timer*);
  void onControllerCheckTimer(Timer*);

  void doVersionsCheck();
  void doConfigCheck();
  void doFramerCheck();
  void doPowerCheck();
  void doDipCheck();
  void doNetIfCheck();
  void doControllerCheck();
  void sendPowerStatus();

  // Status senders: each queues the item values of one group with the
  // agent controller.
  void sendSnmpDriverBuild();
  void sendSnmpSoftwareBuild();
  void sendSnmpPowerStatus();
  void sendSnmpControllerStatus();
  void sendSnmpGatewayDip();
  void sendSnmpGatewayConfigVersion();
  void sendSnmpBoardStatus(const LGCP::BoardStatusParams& p);
  void sendSnmpBoardStatuses();
  void sendSnmpEmPhoneStatus(const LGCP::EmPhoneStatusParams& p);
  void sendSnmpEmPhoneStatuses();
  void sendSnmpRouterTermCnt();
  void sendSnmpControllerTermCnt();
  void sendSnmpServerTermCnt();
  void sendSnmpBoardTermCnt();
  void sendSnmpFramerStatus(const FramerDataHolder& f);
  void sendSnmpFramerStatus();
  void sendSnmpStatusBuildVersion();
  void sendSnmpStatusFPGAVersion();
  void sendSnmpStatusBootVersion();
  void sendSnmpStatusBoardVersion();
  void sendSnmpNetIfStatus(const NetIfDataHolder& n);
  void sendSnmpNetIfStatus();
  void sendSnmpTrapReceivers();
  void sendSnmpCommands();
  void sendSnmpCommands(const MON::SnmpSetCommands& cmds);
  // The full resend after an agent connected.
  void OnDpcSend();

  void PutHeader(std::ostream& os) const;

  MonitoringDataHolder& data() { return dataHolder; }
  SnmpAgentCtrl& agents() { return snmpAgentCtrl; }
  uint8_t leds() const { return ledState; }
  int halDescriptor() const { return halFd; }
  bool resendPending() const { return sendDpc.IsActive(); }
  // Milliseconds until each check group runs next.
  unsigned bkgCheckIn() const { return bkgCheckTimer.remaining(); }
  unsigned powerCheckIn() const { return powerCheckTimer.remaining(); }
  unsigned controllerCheckIn() const { return controllerCheckTimer.remaining(); }

 private:
  void sendTermCounters(int owner, SnmpAgentCtrl::MonitoringItemType item);
  bool halRequest(uint32_t request, uint8_t& byte);

  int halFd = -1;
  MonitoringDataHolder dataHolder;
  SnmpAgentCtrl snmpAgentCtrl;
  Timer bkgCheckTimer;
  Timer powerCheckTimer;
  Timer controllerCheckTimer;
  uint8_t ledState = 0;
  Dpc sendDpc;
};
