#pragma once
// The daemon's link to one SNMP agent process: a TCP client (TPKT frames of
// PER-encoded MON::Message values) that pings the agent after 5000 ms
// without a send and drops the connection when, at a send, the agent has
// been silent for more than 30000 ms.
#include <cstdint>
#include <string>

#include "control/connector.h"
#include "messages/MON.h"
#include "runtime/config/inifile.h"
#include "runtime/loop/timer.h"
#include "runtime/os/inet4.h"

class ISnmpAgentNotify {
 public:
  virtual ~ISnmpAgentNotify() {}
  virtual void OnSnmpAgentConnect(const std::string& name) { (void)name; }
};

class SnmpAgentInstance : public Control::Notify {
 public:
  // A fixed underlying type: "name" may be any number an int holds, and
  // the value read must be a value of the type.
  enum MonitoringAddressType : int { vorkgw = 1, ostr = 2, vorkgw_vm = 4 };
  enum State { Idle = 0, Activated = 1, Connected = 2, ConnectionLost = 3 };

  static constexpr unsigned int kPingMs = 5000;
  static constexpr int kSilenceMs = 30000;

  SnmpAgentInstance();
  ~SnmpAgentInstance() override;
  SnmpAgentInstance(const SnmpAgentInstance&) = delete;
  SnmpAgentInstance& operator=(const SnmpAgentInstance&) = delete;

  // Reads "host" and "name" and starts connecting; stays idle when the
  // subsection is invalid or the host has no port.
  void Activate(IniFile::SubSection& sub);
  void Bind(ISnmpAgentNotify* n) { notify = n; }
  void UnBind() { notify = nullptr; }

  void Command(const MON::Command& cmd);
  void Send(const MON::Message& msg);
  void SetPingTimer();
  void OnPingTimer(Timer*);

  void OnConnect() override;
  void OnDisconnect() override;
  void OnMessage(const char* data, int length) override;
  void OnMessage(const MON::Message& msg);
  void OnResponse(const MON::Response&) {}
  void OnSignal(const MON::Signal&) {}

  // For inspection.
  Control::Connector* connector() const { return link; }
  MonitoringAddressType addressType() const { return addrType; }
  const std::string& getName() const { return name; }
  const std::string& logPrefix() const { return prefix; }
  const INet4::Addr& address() const { return addr; }
  int getState() const { return state; }
  uint32_t lastHeard() const { return stamp; }
  bool pingPending() const { return pingTimer.is_running(); }
  unsigned pingIn() const { return pingTimer.remaining(); }
  ISnmpAgentNotify* getNotify() const { return notify; }

 private:
  Control::Connector* link = nullptr;
  MonitoringAddressType addrType = MonitoringAddressType(0);
  std::string name;
  std::string prefix;
  INet4::Addr addr;
  int state = Idle;
  uint32_t stamp = 0;
  Timer pingTimer;
  ISnmpAgentNotify* notify = nullptr;
};

// "name" key texts and their address types.
extern const IniFile::Symbol<SnmpAgentInstance::MonitoringAddressType> monitoringAddressTypes[];
