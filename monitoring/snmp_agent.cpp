#include "monitoring/snmp_agent.h"

#include <iostream>
#include <sstream>
#include <vector>

#include "asn1/coder.h"
#include "runtime/os/clock.h"

const IniFile::Symbol<SnmpAgentInstance::MonitoringAddressType> monitoringAddressTypes[] = {
    {"vorkgw", SnmpAgentInstance::vorkgw},
    {"vorkgw.vm", SnmpAgentInstance::vorkgw_vm},
    {"ostr", SnmpAgentInstance::ostr},
    {nullptr, SnmpAgentInstance::MonitoringAddressType(0)},
};

SnmpAgentInstance::SnmpAgentInstance() {}

SnmpAgentInstance::~SnmpAgentInstance() {
  delete link;
  link = nullptr;
}

void SnmpAgentInstance::Activate(IniFile::SubSection& sub) {
  std::string host;
  IniFile::Reader reader("snmpagent: ", std::cerr);
  reader.mRequired.add<std::string>(&host, "host");
  reader.mRequired.add<std::string>(&name, "name");
  reader.mRequired.add<MonitoringAddressType>(&addrType, "name", monitoringAddressTypes);
  if (!reader(sub)) return;

  int port = -1;
  addr.Assign(host, &port);
  if (port < 0) return;

  state = Activated;
  link = new Control::Connector(addr.GetStrAddr(), static_cast<unsigned short>(port));
  std::ostringstream os;
  os << "snmpagent." << name << " " << addr;
  prefix = os.str();
  link->service_name(prefix);
  link->Bind(this);
  link->Activate();
  state = Activated;
}

void SnmpAgentInstance::Command(const MON::Command& cmd) {
  MON::Message msg;
  msg.set_pdu().select_command(cmd);
  Send(msg);
}

void SnmpAgentInstance::Send(const MON::Message& msg) {
  if (!link || !link->IsConnected()) return;
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  std::vector<char> bytes;
  if (!ASN1::encode(msg, &env, std::back_inserter(bytes))) {
    std::clog << prefix << ": encode MON message fail!!!" << std::endl;
    return;
  }
  if (bytes.size() > static_cast<std::size_t>(Control::Service::max_send_length)) {
    std::clog << prefix << ": MON message of " << bytes.size() << " bytes too long, dropped" << std::endl;
    return;
  }
  link->Send(bytes.data(), static_cast<int>(bytes.size()));
  SetPingTimer();
  uint32_t now = Mux::milliseconds();
  if (static_cast<int32_t>(now - stamp) > kSilenceMs) {
    std::clog << prefix << ": ping timeout !!!" << " now=" << now << " stamp=" << stamp << std::endl;
    link->Disconnect();
  }
}

void SnmpAgentInstance::SetPingTimer() { pingTimer.set(kPingMs, &SnmpAgentInstance::OnPingTimer, this); }

void SnmpAgentInstance::OnPingTimer(Timer*) {
  MON::Command ping{MON::Command::ping::Id(), ASN1::Null()};
  Command(ping);
}

void SnmpAgentInstance::OnConnect() {
  state = Connected;
  std::clog << prefix << ": connected." << std::endl;
  stamp = Mux::milliseconds();
  if (notify) notify->OnSnmpAgentConnect(name);
}

void SnmpAgentInstance::OnDisconnect() {
  std::clog << prefix << ": connection lost, reset snmpagent instance" << std::endl;
  pingTimer.reset();
  if (state == Connected) state = ConnectionLost;
}

void SnmpAgentInstance::OnMessage(const char* data, int length) {
  stamp = Mux::milliseconds();
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  MON::Message msg;
  if (length < 0 || !ASN1::decode(data, data + length, &env, msg, true)) {
    std::cerr << prefix << ": receive : decode error!" << std::endl;
    return;
  }
  OnMessage(msg);
}

void SnmpAgentInstance::OnMessage(const MON::Message& msg) {
  switch (msg.get_pdu().currentSelection()) {
    case 1: OnResponse(msg.get_pdu().get_response()); break;
    case 2: OnSignal(msg.get_pdu().get_signal()); break;
    default: std::cerr << prefix << ": receive unknown message type" << std::endl; break;
  }
}
