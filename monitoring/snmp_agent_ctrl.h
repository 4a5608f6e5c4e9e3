#pragma once
// Fan-out between the monitoring controller and the SNMP agents: the agent
// links, the table of the 34 monitoring items, and one pending batch of
// snmp-set commands per agent address type, sent to every link on the next
// run of deferred calls.
#include <list>
#include <map>
#include <string>

#include "messages/MON.h"
#include "monitoring/snmp_agent.h"
#include "runtime/config/inifile.h"
#include "runtime/loop/dpc.h"

class SnmpAgentCtrl {
 public:
  enum MonitoringItemType {
    driverBuild, softwareBuild, powerStatus, controllerStatus, gatewayDip, gatewayConfigVersion,
    extBoardStatus, extBoardSoftVer, extBoardType,
    emPhonePanelSoftVer, emPhoneCtrlSoftVer, emPhoneFpgaSoftVer, emPhoneStatus, emPhonePowerStatus,
    emPhoneMode, emPhoneHookStatus, emPhoneBaseStatus,
    routerTermCnt, controllerTermCnt, serverTermCnt, extBoardTermCnt,
    e1Connected, e1StatusDsc, e1SignalLoss, e1FrameAlignLoss, e1NegSlipCount, e1PosSlipCount,
    sgBuildVersion, sgFPGAVersion, sgBootVersion, sgBoardVersion,
    ifDescr, ifAdminStatus, ifOperStatus,
  };

  class MonitoringItem {
   public:
    MonitoringItem(MonitoringItemType t, int m, const char* tbl, const char* col)
        : type(t), mask(m), table(tbl), column(col) {}
    MonitoringItemType type;
    int mask;
    std::string table;
    std::string column;
  };

  // The most snmp-set commands one message carries (the agents' decoders
  // take at most 128 list elements).
  static constexpr unsigned kMaxBatch = 128;

  SnmpAgentCtrl();
  virtual ~SnmpAgentCtrl();
  SnmpAgentCtrl(const SnmpAgentCtrl&) = delete;
  SnmpAgentCtrl& operator=(const SnmpAgentCtrl&) = delete;

  // One link per subsection, activated at once.
  void CreateInstances(IniFile::Section& section);
  int Bind(ISnmpAgentNotify* n);
  void UnBind();

  void Send(MonitoringItemType type, const std::string& value);
  void Send(MonitoringItemType type, int index, const std::string& value);
  void Send(const MON::SnmpSetCommands& commands);
  void SendTrapsink(const std::list<std::string>& hosts);
  void OnDpcSend();

  const std::list<SnmpAgentInstance*>& agents() const { return agentLinks; }
  const std::list<MonitoringItem*>& itemTable() const { return items; }
  int nextUniq() const { return uniq; }
  bool sendPending() const { return sendCall.IsActive(); }
  // The pending commands of the batch of an address type (null: none).
  const MON::Command* batch(int type) const;

 private:
  void ToAll(const MON::Command& cmd);
  // Sends one batch, cut into messages that each fit a link packet.
  void SendBatch(const MON::SnmpSetCommands& cmds);

  std::list<SnmpAgentInstance*> agentLinks;
  std::list<MonitoringItem*> items;
  Dpc sendCall;
  int uniq = 1;
  ISnmpAgentNotify* notify = nullptr;
  std::map<int, MON::Command*> batches;
};
