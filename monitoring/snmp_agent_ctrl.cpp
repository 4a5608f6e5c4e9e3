#include "monitoring/snmp_agent_ctrl.h"

#include <vector>

#include "asn1/coder.h"
#include "control/service.h"

namespace {

struct ItemRow {
  SnmpAgentCtrl::MonitoringItemType type;
  int mask;
  const char* table;
  const char* column;
};

typedef SnmpAgentCtrl S;
const ItemRow kItems[] = {
    {S::driverBuild, 6, "gatewayCommon", "driverBuild"},
    {S::softwareBuild, 6, "gatewayCommon", "softwareBuild"},
    {S::powerStatus, 6, "gatewayCommon", "powerStatus"},
    {S::controllerStatus, 6, "gatewayCommon", "controllerStatus"},
    {S::gatewayDip, 6, "gatewayCommon", "gatewayDip"},
    {S::gatewayConfigVersion, 6, "gatewayCommon", "gatewayConfigVersion"},
    {S::extBoardStatus, 2, "extBoardTable", "extBoardStatus"},
    {S::extBoardSoftVer, 2, "extBoardTable", "extBoardSoftVer"},
    {S::extBoardType, 2, "extBoardTable", "extBoardType"},
    {S::emPhonePanelSoftVer, 2, "emPhoneTable", "emPhonePanelSoftVer"},
    {S::emPhoneCtrlSoftVer, 2, "emPhoneTable", "emPhoneCtrlSoftVer"},
    {S::emPhoneFpgaSoftVer, 2, "emPhoneTable", "emPhoneFpgaSoftVer"},
    {S::emPhoneStatus, 2, "emPhoneTable", "emPhoneStatus"},
    {S::emPhonePowerStatus, 2, "emPhoneTable", "emPhonePowerStatus"},
    {S::emPhoneMode, 2, "emPhoneTable", "emPhoneMode"},
    {S::emPhoneHookStatus, 2, "emPhoneTable", "emPhoneHookStatus"},
    {S::emPhoneBaseStatus, 2, "emPhoneTable", "emPhoneBaseStatus"},
    {S::routerTermCnt, 6, "gatewayTermCounters", "routerTermCnt"},
    {S::controllerTermCnt, 6, "gatewayTermCounters", "controllerTermCnt"},
    {S::serverTermCnt, 6, "gatewayTermCounters", "serverTermCnt"},
    {S::extBoardTermCnt, 2, "extBoardTermCntTable", "extBoardTermCnt"},
    {S::e1Connected, 2, "e1Table", "e1Connected"},
    {S::e1StatusDsc, 2, "e1Table", "e1StatusDsc"},
    {S::e1SignalLoss, 2, "e1Table", "e1SignalLoss"},
    {S::e1FrameAlignLoss, 2, "e1Table", "e1FrameAlignLoss"},
    {S::e1NegSlipCount, 2, "e1Table", "e1NegSlipCount"},
    {S::e1PosSlipCount, 2, "e1Table", "e1PosSlipCount"},
    {S::sgBuildVersion, 4, "statusGeneral", "sgBuildVersion"},
    {S::sgFPGAVersion, 4, "statusGeneral", "sgFPGAVersion"},
    {S::sgBootVersion, 4, "statusGeneral", "sgBootVersion"},
    {S::sgBoardVersion, 4, "statusGeneral", "sgBoardVersion"},
    {S::ifDescr, 6, "ifTable", "ifDescr"},
    {S::ifAdminStatus, 6, "ifTable", "ifAdminStatus"},
    {S::ifOperStatus, 6, "ifTable", "ifOperStatus"},
};

}  // namespace

SnmpAgentCtrl::SnmpAgentCtrl() {
  for (const ItemRow& r : kItems) items.push_back(new MonitoringItem(r.type, r.mask, r.table, r.column));
  batches[0] = nullptr;
  batches[1] = nullptr;
  batches[4] = new MON::Command;
  batches[4]->select_snmp_set();
  batches[2] = new MON::Command;
  batches[2]->select_snmp_set();
  sendCall.Bind(this, &SnmpAgentCtrl::OnDpcSend);
}

SnmpAgentCtrl::~SnmpAgentCtrl() {
  for (SnmpAgentInstance* a : agentLinks) delete a;
  agentLinks.clear();
  for (MonitoringItem* i : items) delete i;
  items.clear();
  for (auto& b : batches) delete b.second;
  batches.clear();
}

void SnmpAgentCtrl::CreateInstances(IniFile::Section& section) {
  for (IniFile::SubSection& sub : section) {
    SnmpAgentInstance* a = new SnmpAgentInstance;
    agentLinks.push_back(a);
    a->Activate(sub);
  }
}

int SnmpAgentCtrl::Bind(ISnmpAgentNotify* n) {
  notify = n;
  for (SnmpAgentInstance* a : agentLinks) a->Bind(n);
  return static_cast<int>(agentLinks.size());
}

void SnmpAgentCtrl::UnBind() {
  notify = nullptr;
  for (SnmpAgentInstance* a : agentLinks) a->UnBind();
}

void SnmpAgentCtrl::Send(MonitoringItemType type, const std::string& value) { Send(type, 0, value); }

void SnmpAgentCtrl::Send(MonitoringItemType type, int index, const std::string& value) {
  const MonitoringItem* item = nullptr;
  for (const MonitoringItem* i : items)
    if (i->type == type) {
      item = i;
      break;
    }
  if (!item) return;
  for (auto& b : batches) {
    if (!(b.first & item->mask) || !b.second || !b.second->snmp_set_isSelected()) continue;
    MON::SnmpSetCommand cmd;
    cmd.set_uniq(uniq);
    // Never reset: after 2^31 values it wraps instead of overflowing.
    uniq = static_cast<int>(static_cast<unsigned>(uniq) + 1u);
    MON::IniName& n = cmd.set_id().select_name();
    n.set_section(item->table);
    n.set_name(item->column);
    n.set_index(index);
    cmd.set_value(value);
    b.second->ref_snmp_set().ref_commands().push_back(cmd);
    sendCall.Activate();
  }
}

const MON::Command* SnmpAgentCtrl::batch(int type) const {
  auto it = batches.find(type);
  return it == batches.end() ? nullptr : it->second;
}

void SnmpAgentCtrl::ToAll(const MON::Command& cmd) {
  for (SnmpAgentInstance* a : agentLinks) a->Command(cmd);
}

namespace {

bool fits(const MON::Command& cmd) {
  MON::Message msg;
  msg.set_pdu().select_command(cmd);
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  std::vector<char> bytes;
  // A value that does not encode is left to the link, which reports it.
  if (!env.encodePERBytes(msg, bytes)) return true;
  return bytes.size() <= static_cast<std::size_t>(Control::Service::max_send_length);
}

}  // namespace

void SnmpAgentCtrl::SendBatch(const MON::SnmpSetCommands& cmds) {
  const auto& list = cmds.get_commands();
  MON::Command whole;
  whole.select_snmp_set(cmds);
  if (list.size() <= 1 || (list.size() <= kMaxBatch && fits(whole))) {
    ToAll(whole);
    return;
  }
  // Too large for one message: send it in two halves, in order.
  std::size_t half = list.size() / 2, i = 0;
  MON::SnmpSetCommands first, second;
  for (const MON::SnmpSetCommand& c : list) (i++ < half ? first : second).set_commands().push_back(c);
  SendBatch(first);
  SendBatch(second);
}

void SnmpAgentCtrl::OnDpcSend() {
  for (auto& b : batches) {
    MON::Command* cmd = b.second;
    if (!cmd || !cmd->snmp_set_isSelected() || cmd->get_snmp_set().get_commands().empty()) continue;
    SendBatch(cmd->get_snmp_set());
    cmd->ref_snmp_set().ref_commands().clear();
  }
  sendCall.Deactivate();
}

void SnmpAgentCtrl::Send(const MON::SnmpSetCommands& commands) {
  if (commands.get_commands().empty()) return;
  SendBatch(commands);
}

void SnmpAgentCtrl::SendTrapsink(const std::list<std::string>& hosts) {
  if (hosts.empty()) return;
  MON::Command cmd;
  auto& list = cmd.select_snmp_trapsink_set().set_trapsinks();
  for (const std::string& h : hosts) {
    MON::SnmpTrapsink t;
    t.set_host(h);
    list.push_back(t);
  }
  ToAll(cmd);
}
