#pragma once
// The last known value of every monitored item, and the status files under
// "/var/monitoring/" that programs outside the daemon read. Setters store a
// value, rewrite its file where it has one and (mostly) report a change.
#include <cstdint>
#include <cstdio>
#include <list>
#include <string>
#include <unordered_map>

#include "messages/LGCP.h"
#include "messages/MON.h"
#include "monitoring/link_data.h"
#include "runtime/os/inet4.h"

// Dotted address text of a host, without the port.
std::string host2str(const TERM::HostAddress& host);

class MonitoringDataHolder {
 public:
  // What a setter hands through SaveStatusToFile to its saver.
  union SaveStatusArg {
    const LGCP::BoardStatusParams* board;
    const LGCP::EmPhoneStatusParams* phone;
    const HSP::ControllerStatus* controller;
    const std::string* text;
    int32_t count;
  };
  typedef void (MonitoringDataHolder::*Saver)(FILE* f, const SaveStatusArg* arg);

  MonitoringDataHolder();
  ~MonitoringDataHolder();
  MonitoringDataHolder(const MonitoringDataHolder&) = delete;
  MonitoringDataHolder& operator=(const MonitoringDataHolder&) = delete;

  bool setDipValue(int v);
  bool setPowerStatus(const LGCP::POWERStatus& p);
  bool setConfigVersion(unsigned long version, unsigned long long stamp);
  bool setBuildVersion(std::string v);
  bool setFPGAVersion(std::string v);
  bool setBootVersion(std::string v);
  bool setBoardVersion(std::string v);
  void setBoardStatus(const LGCP::BoardInfo& info);
  void setEmPhoneInfo(const LGCP::EmPhoneInfo& info);
  void setTermCounter(const LGCP::TermCounter& c);
  bool setControllerStatus(const LGCP::ControllerInfo& info);
  void setSnmpTrapReceivers(const ASN1::SEQUENCE_OF<ASN1::IA5String, ASN1::EmptyConstraint>& list);
  void setFramerStatusChanged(const LGCP::FramerInfo&) {}
  void setSnmpCommands(const MON::SnmpSetCommands& cmds);
  // Hands a display command's data to its setter; false (with a log line,
  // nothing stored) when it would store more than the limits below.
  bool setDisplayStatus(const LGCP::DisplayParams& params);

  // Pid of the local process named "controller" (not positive: none).
  int updateControllerPID();

  const INet4::Addr& getSelfHostAddress() const { return selfHostAddress; }
  const HSP::ControllerStatus& getSelfControllerStatus() const { return selfControllerStatus; }
  const LGCP::POWERStatus& getPowerStatus() const { return powerStatus; }
  int getDipValue() const { return dipValue; }
  uint32_t getConfigVersion() const { return configVersion; }
  const std::string& getBuildVersion() const { return buildVersion; }
  const std::string& getFPGAVersion() const { return fpgaVersion; }
  const std::string& getBootVersion() const { return bootVersion; }
  const std::string& getBoardVersion() const { return boardVersion; }
  const std::list<LGCP::BoardStatusParams>& GetBoardStatus() const { return boardStatus; }
  const std::list<LGCP::EmPhoneStatusParams>& GetEmPhoneStatus() const { return emPhoneStatus; }
  const std::list<LGCP::TermCounter>& GetTermCounters() const { return termCounters; }
  const std::list<std::string>& GetTrapHosts() const { return trapHosts; }
  const MON::SnmpSetCommands& GetSnmpCommands() const { return snmpCommands; }
  std::list<FramerDataHolder>& GetFramers() { return framers; }
  std::list<NetIfDataHolder>& GetNetIfs() { return netIfs; }

  // Removes every top-level entry of "/var/monitoring/".
  void ClearMonitorFiles();
  // Removes the board status files and forgets the board statuses.
  void ClearControllerFiles();
  void CheckForMonDir(const std::string& path);
  void CheckForMonControllerDir(const INet4::Addr& addr);
  // Rewrites one file whole; atomic: written as path"_tmp", renamed to
  // path"_cmp". False when the file could not be opened.
  bool SaveStatusToFile(const std::string& path, Saver saver, const SaveStatusArg* arg,
                        bool atomic = false);

  // Savers.
  void DipStatusSaver(FILE* f, const SaveStatusArg* arg);
  void PowerStatusSaver(FILE* f, const SaveStatusArg* arg);
  void ConfigVersionSaver(FILE* f, const SaveStatusArg* arg);
  void BoardStatusSaver(FILE* f, const SaveStatusArg* arg);
  void PhoneStatusSaver(FILE* f, const SaveStatusArg* arg);
  void ControllerStatusSaver(FILE* f, const SaveStatusArg* arg);
  void TermCounterSaver(FILE* f, const SaveStatusArg* arg);
  void StringParamSaver(FILE* f, const SaveStatusArg* arg);
  void BoardChannelStatusSaver(FILE* f, const SaveStatusArg* arg);

  // Modes of the directories and files made under "/var/monitoring/",
  // whatever the process umask.
  static constexpr unsigned kDirMode = 0755;
  static constexpr unsigned kFileMode = 0644;

  // What a controller can make the daemon keep: distinct snmp-set names
  // (each a file), and board, phone, counter and controller entries. The
  // board's own address keeps a few controller entries of its own beyond
  // kMaxEntries, so that the own controller's status can always be stored.
  static constexpr std::size_t kMaxSnmpCommands = 4096;
  static constexpr std::size_t kMaxEntries = 1024;
  static constexpr std::size_t kMaxOwnControllers = 16;

 private:
  void refreshBoard(const LGCP::BoardStatusParams& p);
  void refreshPhone(const LGCP::EmPhoneStatusParams& p);
  // Why the display data cannot be stored (null: it can), and the limit.
  const char* overLimit(const LGCP::DisplayParams& params, std::size_t& limit) const;
  // A controller host by value: the address as inet_aton reads it (with a
  // port written after ":" in the text) and the port field, so that "127.1"
  // and "127.0.0.1" name the same entry.
  static uint64_t controllerKey(const TERM::HostAddress& host, INet4::Addr& addr);
  // mkdir with kDirMode whatever the umask; false (errno set) on failure.
  static bool makeDir(const std::string& real);

  INet4::Addr selfHostAddress;
  HSP::ControllerStatus selfControllerStatus;
  int controllerPid = -1;
  std::list<LGCP::ControllerInfo> controllers;
  // Each stored controller's key to its entry; entries at the own address.
  std::unordered_map<uint64_t, LGCP::ControllerInfo*> controllerIndex;
  std::size_t ownControllers = 0;
  LGCP::POWERStatus powerStatus;
  std::list<LGCP::BoardStatusParams> boardStatus;
  std::list<LGCP::EmPhoneStatusParams> emPhoneStatus;
  std::list<LGCP::TermCounter> termCounters;
  std::list<std::string> trapHosts;
  int dipValue = -1;
  uint64_t configStamp = ~uint64_t(0);
  uint32_t configVersion = ~uint32_t(0);
  std::string buildVersion;
  std::string fpgaVersion;
  std::string bootVersion;
  std::string boardVersion;
  MON::SnmpSetCommands snmpCommands;
  // Identity of each stored snmp-set command to its place in the list.
  std::unordered_map<std::string, std::size_t> snmpIndex;
  std::string lastSnmpValue;
  std::list<FramerDataHolder> framers;
  std::list<NetIfDataHolder> netIfs;
};
