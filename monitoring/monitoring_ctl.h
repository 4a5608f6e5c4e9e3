#pragma once
// Stand-in for the monitoring controller: its singleton, a control service
// that takes no command yet, and the reading of the SNMP agent section of
// the configuration. No agent link is created until the links land.
#include <string>
#include <vector>

#include "control/ctrl_service.h"
#include "runtime/config/inifile.h"

class MonitoringCtl : public CtrlSrv::Service {
 public:
  struct AgentConfig {
    std::string host;
    std::string name;
  };

  static MonitoringCtl& instance();

  // Reads every subsection of "snmpagent" (keys "host" and "name", both
  // required; complaints on the error stream with the prefix "snmpagent: ").
  // Returns the number of agents configured.
  int Configure(IniFile::File& file);

  const std::vector<AgentConfig>& agents() const { return mAgents; }

  void OnConnect() override {}
  void OnDisconnect() override {}
  bool OnCommand(const LGCP::Command&) override { return false; }

 private:
  MonitoringCtl() = default;
  std::vector<AgentConfig> mAgents;
};
