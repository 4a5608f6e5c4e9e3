#include "monitoring/monitoring_ctl.h"

#include <iostream>

MonitoringCtl& MonitoringCtl::instance() {
  static MonitoringCtl service;
  return service;
}

int MonitoringCtl::Configure(IniFile::File& file) {
  for (IniFile::SubSection& sub : *file["snmpagent"]) {
    AgentConfig agent;
    IniFile::Reader reader("snmpagent: ", std::cerr);
    reader.mRequired.add<std::string>(&agent.host, "host");
    reader.mRequired.add<std::string>(&agent.name, "name");
    if (reader(sub)) mAgents.push_back(agent);
  }
  return static_cast<int>(mAgents.size());
}
