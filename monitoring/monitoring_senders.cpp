// The status senders of the monitoring service: each turns one group of
// monitored values into the value texts of the monitoring items and queues
// them with the agent controller, which batches them per loop pass.
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "monitoring/monitoring_ctl.h"
#include "runtime/log/version.h"
#include "runtime/os/paths.h"

namespace {

typedef SnmpAgentCtrl A;

std::string udec(long long v) { return std::to_string(static_cast<uint32_t>(v)); }
std::string dec(long long v) { return std::to_string(v); }
std::string octets(const ASN1::OCTET_STRING& s) { return std::string(s.begin(), s.end()); }

}  // namespace

void MonitoringCtl::sendSnmpDriverBuild() {
  FILE* f = std::fopen(RootPath::resolve("/proc/voice/version").c_str(), "rb");
  if (!f) return;
  char line[128] = {};
  if (!std::fgets(line, sizeof line, f)) {
    std::fclose(f);
    return;
  }
  std::vector<std::string> words;
  for (char* save = nullptr, *w = strtok_r(line, " ", &save); w; w = strtok_r(nullptr, " ", &save)) {
    std::string word = w;
    static const char* const blanks = " \t\n\r\f\v";
    std::size_t b = word.find_first_not_of(blanks);
    if (b == std::string::npos) word.clear();
    else word = word.substr(b, word.find_last_not_of(blanks) - b + 1);
    words.push_back(word);
  }
  std::string text = "none";
  if (words.size() >= 4) text = words[1] + " [" + words[2] + " " + words[3] + "]";
  else if (words.size() == 3) text = words[1] + " [" + words[2] + "]";
  snmpAgentCtrl.Send(A::driverBuild, 0, text);
  std::fclose(f);
}

void MonitoringCtl::sendSnmpSoftwareBuild() { snmpAgentCtrl.Send(A::softwareBuild, Version::current.tag()); }

void MonitoringCtl::sendSnmpPowerStatus() {
  snmpAgentCtrl.Send(A::powerStatus, udec(dataHolder.getPowerStatus().asInt()));
}

void MonitoringCtl::sendSnmpControllerStatus() {
  snmpAgentCtrl.Send(A::controllerStatus, udec(dataHolder.getSelfControllerStatus().asInt()));
}

void MonitoringCtl::sendSnmpGatewayDip() { snmpAgentCtrl.Send(A::gatewayDip, udec(dataHolder.getDipValue())); }

void MonitoringCtl::sendSnmpGatewayConfigVersion() {
  snmpAgentCtrl.Send(A::gatewayConfigVersion, udec(dataHolder.getConfigVersion()));
}

void MonitoringCtl::sendSnmpBoardStatus(const LGCP::BoardStatusParams& p) {
  int index = p.get_position().getValue();
  snmpAgentCtrl.Send(A::extBoardStatus, index, dec(p.get_status().asInt()));
  snmpAgentCtrl.Send(A::extBoardSoftVer, index, octets(p.get_version()));
  snmpAgentCtrl.Send(A::extBoardType, index, dec(p.get_type().asInt()));
}

void MonitoringCtl::sendSnmpBoardStatuses() {
  for (const auto& b : dataHolder.GetBoardStatus()) sendSnmpBoardStatus(b);
}

bool MonitoringCtl::phoneRow(const LGCP::EmPhoneStatusParams& p, int& row) {
  long long r = static_cast<long long>(p.get_id().getValue()) + 1;
  if (r > std::numeric_limits<int>::max()) return false;
  row = static_cast<int>(r);
  return true;
}

void MonitoringCtl::sendSnmpEmPhoneStatus(const LGCP::EmPhoneStatusParams& p) {
  int index;
  if (!phoneRow(p, index)) return;
  snmpAgentCtrl.Send(A::emPhonePanelSoftVer, index, octets(p.get_panelSV()));
  snmpAgentCtrl.Send(A::emPhoneCtrlSoftVer, index, octets(p.get_ctrlSV()));
  snmpAgentCtrl.Send(A::emPhoneFpgaSoftVer, index, octets(p.get_fpgaSV()));
  snmpAgentCtrl.Send(A::emPhoneStatus, index, dec(p.get_status().asInt()));
  snmpAgentCtrl.Send(A::emPhonePowerStatus, index, dec(p.get_powerStatus().asInt()));
  snmpAgentCtrl.Send(A::emPhoneMode, index, dec(p.get_mode().asInt()));
  snmpAgentCtrl.Send(A::emPhoneHookStatus, index, dec(p.get_hookStatus().asInt()));
  snmpAgentCtrl.Send(A::emPhoneBaseStatus, index, dec(p.get_baseStatus().asInt()));
}

void MonitoringCtl::sendSnmpEmPhoneStatuses() {
  for (const auto& e : dataHolder.GetEmPhoneStatus()) sendSnmpEmPhoneStatus(e);
}

void MonitoringCtl::sendTermCounters(int owner, SnmpAgentCtrl::MonitoringItemType item) {
  for (const LGCP::TermCounter& c : dataHolder.GetTermCounters()) {
    if (c.get_owner().asInt() != owner) continue;
    if (owner == LGCP::TermCounterOwner::extBoard) {
      if (c.ownerId_isPresent()) snmpAgentCtrl.Send(item, c.get_ownerId().getValue(), udec(c.get_cnt().getValue()));
    } else {
      snmpAgentCtrl.Send(item, udec(c.get_cnt().getValue()));
    }
  }
}

void MonitoringCtl::sendSnmpRouterTermCnt() { sendTermCounters(LGCP::TermCounterOwner::router, A::routerTermCnt); }
void MonitoringCtl::sendSnmpControllerTermCnt() {
  sendTermCounters(LGCP::TermCounterOwner::controller, A::controllerTermCnt);
}
void MonitoringCtl::sendSnmpServerTermCnt() { sendTermCounters(LGCP::TermCounterOwner::server, A::serverTermCnt); }
void MonitoringCtl::sendSnmpBoardTermCnt() {
  sendTermCounters(LGCP::TermCounterOwner::extBoard, A::extBoardTermCnt);
}

void MonitoringCtl::sendSnmpFramerStatus(const FramerDataHolder& f) {
  snmpAgentCtrl.Send(A::e1Connected, f.number, dec(f.connected));
  snmpAgentCtrl.Send(A::e1StatusDsc, f.number, f.statusDsc);
  snmpAgentCtrl.Send(A::e1SignalLoss, f.number, dec(f.signalLoss));
  snmpAgentCtrl.Send(A::e1FrameAlignLoss, f.number, dec(f.frameAlignLoss));
  snmpAgentCtrl.Send(A::e1NegSlipCount, f.number, dec(f.negSlipCount));
  snmpAgentCtrl.Send(A::e1PosSlipCount, f.number, dec(f.posSlipCount));
}

void MonitoringCtl::sendSnmpFramerStatus() {
  for (const FramerDataHolder& f : dataHolder.GetFramers()) sendSnmpFramerStatus(f);
}

void MonitoringCtl::sendSnmpStatusBuildVersion() { snmpAgentCtrl.Send(A::sgBuildVersion, dataHolder.getBuildVersion()); }
void MonitoringCtl::sendSnmpStatusFPGAVersion() { snmpAgentCtrl.Send(A::sgFPGAVersion, dataHolder.getFPGAVersion()); }
void MonitoringCtl::sendSnmpStatusBootVersion() { snmpAgentCtrl.Send(A::sgBootVersion, dataHolder.getBootVersion()); }
void MonitoringCtl::sendSnmpStatusBoardVersion() { snmpAgentCtrl.Send(A::sgBoardVersion, dataHolder.getBoardVersion()); }

void MonitoringCtl::sendSnmpNetIfStatus(const NetIfDataHolder& n) {
  snmpAgentCtrl.Send(A::ifOperStatus, n.index, dec(n.operStatus));
  snmpAgentCtrl.Send(A::ifAdminStatus, n.index, dec(n.adminStatus));
  snmpAgentCtrl.Send(A::ifDescr, n.index, n.name);
}

void MonitoringCtl::sendSnmpNetIfStatus() {
  for (const NetIfDataHolder& n : dataHolder.GetNetIfs()) sendSnmpNetIfStatus(n);
}

void MonitoringCtl::sendSnmpTrapReceivers() { snmpAgentCtrl.SendTrapsink(dataHolder.GetTrapHosts()); }

void MonitoringCtl::sendSnmpCommands() { snmpAgentCtrl.Send(dataHolder.GetSnmpCommands()); }

void MonitoringCtl::sendSnmpCommands(const MON::SnmpSetCommands& cmds) { snmpAgentCtrl.Send(cmds); }

void MonitoringCtl::OnDpcSend() {
  sendSnmpTrapReceivers();
  sendSnmpDriverBuild();
  sendSnmpSoftwareBuild();
  sendSnmpPowerStatus();
  sendSnmpControllerStatus();
  sendSnmpGatewayDip();
  sendSnmpGatewayConfigVersion();
  sendSnmpStatusBuildVersion();
  sendSnmpStatusFPGAVersion();
  sendSnmpStatusBootVersion();
  sendSnmpStatusBoardVersion();
  sendSnmpBoardStatuses();
  sendSnmpEmPhoneStatuses();
  sendSnmpRouterTermCnt();
  sendSnmpControllerTermCnt();
  sendSnmpServerTermCnt();
  sendSnmpBoardTermCnt();
  sendSnmpFramerStatus();
  sendSnmpNetIfStatus();
  sendSnmpCommands();
  sendDpc.Deactivate();
}
