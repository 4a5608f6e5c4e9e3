#include "monitoring/monitoring_ctl.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <vector>

#include "asn1/notation/printer.h"
#include "hardware/board/board.h"
#include "runtime/log/traces.h"
#include "runtime/os/paths.h"

MonitoringCtl& MonitoringCtl::instance() {
  static MonitoringCtl service;
  return service;
}

MonitoringCtl::MonitoringCtl() {
  bkgCheckTimer.set(kBkgFirstMs, &MonitoringCtl::onBkgCheckTimer, this);
  powerCheckTimer.set(kPowerFirstMs, &MonitoringCtl::onPowerCheckTimer, this);
  controllerCheckTimer.set(kControllerFirstMs, &MonitoringCtl::onControllerCheckTimer, this);
  sendDpc.Bind(this, &MonitoringCtl::OnDpcSend);
}

MonitoringCtl::~MonitoringCtl() {
  if (halFd >= 0) {
    ledState = 0;
    Board::ioctl(halFd, kSetLed, &ledState);
    Board::close(halFd);
    halFd = -1;
  }
}

int MonitoringCtl::Configure(IniFile::File& file) {
  snmpAgentCtrl.CreateInstances(*file["snmpagent"]);
  return snmpAgentCtrl.Bind(this);
}

void MonitoringCtl::PutHeader(std::ostream& os) const { os << "monitoring: "; }

// ---- the board device ------------------------------------------------------

bool MonitoringCtl::IsOpen() {
  if (halFd >= 0) return true;
  ledState = 0;
  halFd = Board::open("/dev/hal", O_RDWR | O_CLOEXEC);
  if (halFd >= 0) Board::ioctl(halFd, kSetLed, &ledState);
  return halFd >= 0;
}

bool MonitoringCtl::halRequest(uint32_t request, uint8_t& byte) {
  if (!IsOpen()) return false;
  byte = 0;
  return Board::ioctl(halFd, request, &byte) >= 0;
}

int MonitoringCtl::setFramerLed(const LGCP::FramerInfo& info) {
  if (!IsOpen()) return false;
  // Framers 0..3 own two bits each; a higher number has no bit in the byte.
  const unsigned e = info.get_e1().getValue();
  const uint8_t link = e < 4 ? uint8_t(1u << (2 * e)) : 0;
  const uint8_t line = e < 4 ? uint8_t(1u << (2 * e + 1)) : 0;
  const LGCP::FramerInfoData& d = info.get_info();
  if (d.link_isSelected()) {
    if (d.get_link()) ledState &= uint8_t(~link);
    else ledState |= link;
  }
  if (d.line_isSelected()) {
    if (d.get_line()) {
      if (!(ledState & line)) ledState |= link;
      ledState |= line;
    } else {
      ledState &= uint8_t(~(line | link));
    }
  }
  return Board::ioctl(halFd, kSetLed, &ledState);
}

// ---- timers ----------------------------------------------------------------

void MonitoringCtl::onBkgCheckTimer(Timer*) {
  doVersionsCheck();
  doConfigCheck();
  doFramerCheck();
  bkgCheckTimer.set(kBkgPeriodMs, &MonitoringCtl::onBkgCheckTimer, this);
}

void MonitoringCtl::onPowerCheckTimer(Timer*) {
  doPowerCheck();
  doDipCheck();
  doNetIfCheck();
  powerCheckTimer.set(kPowerPeriodMs, &MonitoringCtl::onPowerCheckTimer, this);
}

void MonitoringCtl::onControllerCheckTimer(Timer*) {
  doControllerCheck();
  controllerCheckTimer.set(kControllerPeriodMs, &MonitoringCtl::onControllerCheckTimer, this);
}

// ---- checks ----------------------------------------------------------------

void MonitoringCtl::doVersionsCheck() {
  struct VersionFile {
    const char* path;
    const char* trace;
    bool (MonitoringDataHolder::*set)(std::string);
    void (MonitoringCtl::*send)();
  };
  static const VersionFile files[] = {
      {"/var/version", "BuildVersion - ", &MonitoringDataHolder::setBuildVersion,
       &MonitoringCtl::sendSnmpStatusBuildVersion},
      {"/var/u-boot-version", "BootVersion - ", &MonitoringDataHolder::setBootVersion,
       &MonitoringCtl::sendSnmpStatusBootVersion},
      {"/var/fpga-version", "FPGAVersion - ", &MonitoringDataHolder::setFPGAVersion,
       &MonitoringCtl::sendSnmpStatusFPGAVersion},
      {"/var/board-version", "BoardVersion - ", &MonitoringDataHolder::setBoardVersion,
       &MonitoringCtl::sendSnmpStatusBoardVersion},
  };
  for (const VersionFile& v : files) {
    FILE* f = std::fopen(RootPath::resolve(v.path).c_str(), "r");
    if (!f) continue;
    char buf[256] = {};
    if (!std::fgets(buf, 255, f)) buf[0] = 0;
    std::fclose(f);
    if (traces.monitoring.internal) std::clog << v.trace << buf << std::endl;
    if ((dataHolder.*v.set)(buf)) (this->*v.send)();
  }
}

namespace {

// The leading hexadecimal digits of text[from, from+len); false when the
// field starts without one.
template <class T>
bool hexField(const std::string& text, std::size_t from, std::size_t len, T& out) {
  out = 0;
  std::size_t i = from;
  for (; i < text.size() && i < from + len && std::isxdigit(static_cast<unsigned char>(text[i])); ++i) {
    char c = text[i];
    int d = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
    out = T(out * 16 + T(d));
  }
  return i > from;
}

}  // namespace

void MonitoringCtl::doConfigCheck() {
  // The folder becomes the working directory and stays so (the root folder
  // was made absolute at start-up, so no other path depends on it). A
  // missing folder stops the check, silently; the entries are looked at by
  // full path, so a refused change of directory changes nothing else.
  std::string dir = RootPath::resolve("/usr/local/etc/");
  DIR* d = ::opendir(dir.c_str());
  if (!d) return;
  [[maybe_unused]] const int moved = ::fchdir(::dirfd(d));
  unsigned long version = 0;
  unsigned long long stamp = 0;
  static const std::string prefix = "config.";
  while (dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    struct stat st;
    if (::lstat((dir + "/" + name).c_str(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    if (name.compare(0, 20, "config.2save.tar.bz2") == 0) continue;
    std::string fields = name.substr(prefix.size(), 25);
    uint32_t v32;
    uint64_t v64;
    // A name without digits in either field names no configuration archive.
    if (!hexField(fields, 0, 8, v32) || !hexField(fields, 9, 16, v64)) continue;
    version = v32;
    stamp = v64;
    if (dataHolder.setConfigVersion(version, stamp)) sendSnmpGatewayConfigVersion();
  }
  ::closedir(d);
}

namespace {

// One read of at most 1024 bytes; false (traced) when the file cannot be
// opened or reads nothing.
bool readStatusFile(const std::string& path, std::vector<unsigned char>& buf) {
  int fd = ::open(RootPath::resolve(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (traces.monitoring.internal)
      std::clog << "Error open file: \"" << path << "\" errno=\"" << std::strerror(errno) << "\"" << std::endl;
    return false;
  }
  buf.assign(1024, 0);
  ssize_t n = ::read(fd, buf.data(), buf.size());
  int err = errno;
  ::close(fd);
  if (n <= 0) {
    if (traces.monitoring.internal)
      std::clog << "Error read file: \"" << path << "\" errno=\"" << std::strerror(n < 0 ? err : 0) << "\""
                << std::endl;
    return false;
  }
  buf.resize(static_cast<std::size_t>(n));
  return true;
}

}  // namespace

void MonitoringCtl::doFramerCheck() {
  std::vector<unsigned char> buf;
  for (FramerDataHolder& f : dataHolder.GetFramers())
    if (readStatusFile(f.procPath, buf) && f.setFramerStatus(buf)) sendSnmpFramerStatus(f);
}

void MonitoringCtl::doNetIfCheck() {
  std::vector<unsigned char> buf;
  for (NetIfDataHolder& n : dataHolder.GetNetIfs())
    if (readStatusFile(n.carrierPath, buf) && n.setNetIfStatus(buf)) sendSnmpNetIfStatus(n);
}

void MonitoringCtl::doPowerCheck() {
  uint8_t raw = 0;
  if (!halRequest(kGetPower, raw)) return;
  LGCP::POWERStatus status;
  switch (raw) {
    case 0: status = LGCP::POWERStatus::both; break;
    case 1: status = LGCP::POWERStatus::standby; break;
    case 2: status = LGCP::POWERStatus::main; break;
    case 3: status = LGCP::POWERStatus::both; break;
    default: status = LGCP::POWERStatus::unknown; break;
  }
  if (!dataHolder.setPowerStatus(status)) return;
  if (traces.monitoring.internal) std::clog << "New power status - " << status << std::endl;
  sendPowerStatus();
  sendSnmpPowerStatus();
}

void MonitoringCtl::doDipCheck() {
  uint8_t dip = 0;
  if (!halRequest(kGetDip, dip)) return;
  if (!dataHolder.setDipValue(dip)) return;
  if (traces.monitoring.internal) std::clog << "New dip - " << int(dip) << std::endl;
  sendSnmpGatewayDip();
}

void MonitoringCtl::doControllerCheck() {
  bool connected = false;
  HSP::ControllerStatus status;
  if (!CheckServerConnection(connected) || !connected) {
    status = dataHolder.updateControllerPID() > 0 ? HSP::ControllerStatus::notconnection
                                                  : HSP::ControllerStatus::notrun;
  } else {
    status = dataHolder.getSelfControllerStatus();
  }
  LGCP::ControllerInfo info;
  info.set_host().set_iaddr(dataHolder.getSelfHostAddress().GetStrAddr());
  info.set_status(status);
  if (dataHolder.setControllerStatus(info)) sendSnmpControllerStatus();
}

void MonitoringCtl::sendPowerStatus() {
  LGCP::Signal sig;
  sig.select_power() = dataHolder.getPowerStatus();
  SendSignal(sig);
}

// ---- the control service ---------------------------------------------------

void MonitoringCtl::OnConnect() {
  doPowerCheck();
  sendPowerStatus();
  doControllerCheck();
}

void MonitoringCtl::OnDisconnect() {
  dataHolder.ClearControllerFiles();
  doControllerCheck();
}

bool MonitoringCtl::OnCommand(const LGCP::Command& command) {
  if (!command.display_isSelected()) return false;
  const LGCP::DisplayParams& p = command.get_display();
  int row;
  if (p.emPhone_isSelected() && p.get_emPhone().phoneStatus_isSelected() &&
      !phoneRow(p.get_emPhone().get_phoneStatus(), row)) {
    std::clog << "monitoring: display refused: phone id " << p.get_emPhone().get_phoneStatus().get_id().getValue()
              << " has no table row" << std::endl;
    Error(LGCP::ErrorCause::invalidParams);
    return true;
  }
  if (OnDisplayCMD(p)) Success();
  else Error(LGCP::ErrorCause::insufficientResources);
  return true;
}

bool MonitoringCtl::OnDisplayCMD(const LGCP::DisplayParams& p) {
  if (!dataHolder.setDisplayStatus(p)) return false;
  if (p.board_isSelected()) {
    if (p.get_board().boardStatus_isSelected()) sendSnmpBoardStatus(p.get_board().get_boardStatus());
  } else if (p.snmpTrapReceivers_isSelected()) {
    sendSnmpTrapReceivers();
  } else if (p.framer_isSelected()) {
    setFramerLed(p.get_framer());
  } else if (p.emPhone_isSelected()) {
    if (p.get_emPhone().phoneStatus_isSelected()) sendSnmpEmPhoneStatus(p.get_emPhone().get_phoneStatus());
  } else if (p.controller_isSelected()) {
    sendSnmpControllerStatus();
  } else if (p.termCounter_isSelected()) {
    sendSnmpRouterTermCnt();
    sendSnmpControllerTermCnt();
    sendSnmpServerTermCnt();
    sendSnmpBoardTermCnt();
  } else if (p.snmp_set_isSelected()) {
    sendSnmpCommands(p.get_snmp_set());
  }
  return true;
}

void MonitoringCtl::OnSnmpAgentConnect(const std::string&) { sendDpc.Activate(); }
