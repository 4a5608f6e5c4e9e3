#include "monitoring/data_holder.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <iostream>
#include <sstream>
#include <unordered_set>

#include "asn1/notation/printer.h"
#include "runtime/log/traces.h"
#include "runtime/os/net.h"
#include "runtime/os/paths.h"

namespace {

const char* const kMonDir = "/var/monitoring/";
const char* const kTermDir = "/var/monitoring/term_cnts/";
const char* const kControllerDir = "/var/monitoring/controller/";

std::string mon(const std::string& abs) { return RootPath::resolve(abs); }

// Octet strings are written as their bytes up to the first zero byte.
void putOctets(FILE* f, const ASN1::OCTET_STRING& s) {
  for (char c : s) {
    if (c == 0) break;
    std::fputc(c, f);
  }
}

template <class T>
std::string asText(const T& v) {
  std::ostringstream os;
  os << v;
  return os.str();
}

}  // namespace

std::string host2str(const TERM::HostAddress& host) { return host.get_iaddr(); }

MonitoringDataHolder::MonitoringDataHolder() {
  ClearMonitorFiles();
  powerStatus.set_unknown();
  selfControllerStatus.set_unknown();

  std::list<INet4::Addr> own;
  Net::ifconfig(own, Net::ifconfig_private);
  if (!own.empty()) selfHostAddress = own.front();
  else selfHostAddress = std::string("127.0.0.1");
  selfHostAddress.port(0);

  for (int n = 0; n < 4; ++n) {
    std::string path = "/proc/driver/hdlc/peb22554/" + std::to_string(n);
    struct stat st;
    if (::stat(RootPath::resolve(path).c_str(), &st) == 0) framers.emplace_back(n + 1, path);
  }

  if (FILE* f = std::fopen(RootPath::resolve("/proc/net/dev").c_str(), "r")) {
    char line[255];
    int i = 1;
    while (std::fgets(line, sizeof line, f)) {
      char* colon = std::strchr(line, ':');
      if (!colon) continue;
      char* start = line;
      for (char* p = line; p < colon; ++p)
        if (*p == ' ' || *p == '\t') start = p + 1;
      std::string name(start, colon);
      if (name.empty() || name.size() >= 64) continue;
      char carrier[256];
      std::snprintf(carrier, sizeof carrier, "/sys/class/net/%s/carrier", name.c_str());
      struct stat st;
      if (::stat(RootPath::resolve(carrier).c_str(), &st) == 0) netIfs.emplace_back(i, name, carrier);
      ++i;
    }
    std::fclose(f);
  }

  CheckForMonDir(kMonDir);
  CheckForMonDir(kTermDir);
}

MonitoringDataHolder::~MonitoringDataHolder() { ClearMonitorFiles(); }

// ---- files and directories -------------------------------------------------

void MonitoringDataHolder::ClearMonitorFiles() {
  std::string dir = mon(kMonDir);
  DIR* d = ::opendir(dir.c_str());
  if (!d) return;
  while (dirent* e = ::readdir(d)) {
    if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
    std::remove((dir + "/" + e->d_name).c_str());
  }
  ::closedir(d);
}

void MonitoringDataHolder::ClearControllerFiles() {
  std::string dir = mon(kMonDir);
  DIR* d = ::opendir(dir.c_str());
  if (!d) return;
  while (dirent* e = ::readdir(d)) {
    if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
    if (std::strncmp(e->d_name, "board", 5) != 0) continue;
    if (traces.monitoring.internal) std::clog << "remove monitoring info: " << e->d_name << std::endl;
    std::remove((dir + "/" + e->d_name).c_str());
  }
  ::closedir(d);
  boardStatus.clear();
}

bool MonitoringDataHolder::makeDir(const std::string& real) {
  if (::mkdir(real.c_str(), kDirMode) != 0) return false;
  ::chmod(real.c_str(), kDirMode);
  return true;
}

void MonitoringDataHolder::CheckForMonDir(const std::string& path) {
  std::string real = mon(path);
  if (DIR* d = ::opendir(real.c_str())) {
    ::closedir(d);
    return;
  }
  if (!makeDir(real))
    std::clog << "FAIL create monitoring catalog <" << path << "> with code=" << errno << std::endl;
}

void MonitoringDataHolder::CheckForMonControllerDir(const INet4::Addr& addr) {
  std::string top = mon(kControllerDir);
  DIR* d = ::opendir(top.c_str());
  if (!d) {
    if (!makeDir(top)) {
      std::clog << "FAIL create monitoring catalog <" << kControllerDir << "> with code=" << errno
                << std::endl;
      return;
    }
    d = ::opendir(top.c_str());
  }
  std::string path = std::string(kControllerDir) + addr.GetStrAddr();
  std::string real = mon(path);
  if (DIR* own = ::opendir(real.c_str())) {
    ::closedir(own);
  } else {
    if (!makeDir(real))
      std::clog << "FAIL create monitoring catalog <" << path << "> with code=" << errno << std::endl;
    if (addr == selfHostAddress &&
        ::symlink(real.c_str(), mon(std::string(kControllerDir) + "self").c_str()) != 0)
      std::clog << "FAIL create symlink to monitoring catalog <" << path << "> with code=" << errno
                << std::endl;
  }
  if (d) ::closedir(d);
}

bool MonitoringDataHolder::SaveStatusToFile(const std::string& path, Saver saver,
                                            const SaveStatusArg* arg, bool atomic) {
  std::string real = mon(path);
  std::string target = real;
  std::string open = real;
  if (atomic) {
    target = real + "_cmp";
    open = real + "_tmp";
    std::remove(target.c_str());
  }
  // Created or truncated like fopen "w", but with kFileMode whatever the
  // umask or an older file's mode.
  FILE* f = nullptr;
  int fd = ::open(open.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kFileMode);
  if (fd >= 0) {
    ::fchmod(fd, kFileMode);
    f = ::fdopen(fd, "w");
    if (!f) {
      int err = errno;
      ::close(fd);
      errno = err;
    }
  }
  if (!f) {
    std::clog << "FAIL create temporary file <" << open << "> with code=" << errno << std::endl;
    return false;
  }
  (this->*saver)(f, arg);
  std::fclose(f);
  if (atomic) std::rename(open.c_str(), target.c_str());
  return true;
}

// ---- savers ----------------------------------------------------------------

void MonitoringDataHolder::DipStatusSaver(FILE* f, const SaveStatusArg*) {
  std::fprintf(f, "%d", dipValue);
}

void MonitoringDataHolder::PowerStatusSaver(FILE* f, const SaveStatusArg*) {
  const char* c = powerStatus.is_main() ? "2" : powerStatus.is_standby() ? "1" : powerStatus.is_both() ? "3" : "0";
  std::fputs(c, f);
}

void MonitoringDataHolder::ConfigVersionSaver(FILE* f, const SaveStatusArg*) {
  std::fprintf(f, "%08x-%016llx", unsigned(configVersion), static_cast<unsigned long long>(configStamp));
}

void MonitoringDataHolder::BoardStatusSaver(FILE* f, const SaveStatusArg* arg) {
  if (!arg || !arg->board) return;
  const LGCP::BoardStatusParams& p = *arg->board;
  std::fprintf(f, "%d\n", p.get_status().asInt());
  putOctets(f, p.get_version());
  std::fprintf(f, "\n%d\n", p.get_type().asInt());
}

void MonitoringDataHolder::PhoneStatusSaver(FILE* f, const SaveStatusArg* arg) {
  if (!arg || !arg->phone) return;
  const LGCP::EmPhoneStatusParams& p = *arg->phone;
  putOctets(f, p.get_panelSV());
  std::fputc('\n', f);
  putOctets(f, p.get_ctrlSV());
  std::fputc('\n', f);
  putOctets(f, p.get_fpgaSV());
  std::fprintf(f, "\n%d\n%d\n%d\n%d\n%d\n", p.get_status().asInt(), p.get_powerStatus().asInt(),
               p.get_mode().asInt(), p.get_hookStatus().asInt(), p.get_baseStatus().asInt());
}

void MonitoringDataHolder::ControllerStatusSaver(FILE* f, const SaveStatusArg* arg) {
  if (!arg || !arg->controller) return;
  std::fprintf(f, "%d", arg->controller->asInt());
}

void MonitoringDataHolder::TermCounterSaver(FILE* f, const SaveStatusArg* arg) {
  if (!arg) return;
  std::fprintf(f, "%d", int(arg->count));
}

void MonitoringDataHolder::StringParamSaver(FILE* f, const SaveStatusArg* arg) {
  if (!arg || !arg->text) return;
  std::fwrite(arg->text->data(), 1, arg->text->size(), f);
}

void MonitoringDataHolder::BoardChannelStatusSaver(FILE*, const SaveStatusArg*) {}

// ---- setters ---------------------------------------------------------------

bool MonitoringDataHolder::setDipValue(int v) {
  if (v == dipValue) return false;
  dipValue = v;
  SaveStatusToFile("/var/monitoring/dip", &MonitoringDataHolder::DipStatusSaver, nullptr);
  return true;
}

bool MonitoringDataHolder::setPowerStatus(const LGCP::POWERStatus& p) {
  if (p == powerStatus) return false;
  powerStatus = p;
  SaveStatusToFile("/var/monitoring/powerstatus", &MonitoringDataHolder::PowerStatusSaver, nullptr);
  return true;
}

bool MonitoringDataHolder::setConfigVersion(unsigned long version, unsigned long long stamp) {
  if (uint32_t(version) == configVersion && uint64_t(stamp) == configStamp) return false;
  configVersion = uint32_t(version);
  configStamp = uint64_t(stamp);
  SaveStatusToFile("/var/monitoring/config_version", &MonitoringDataHolder::ConfigVersionSaver, nullptr);
  return true;
}

namespace {
bool assignChanged(std::string& field, std::string& v) {
  if (field == v) return false;
  field.swap(v);
  return true;
}
}  // namespace

bool MonitoringDataHolder::setBuildVersion(std::string v) { return assignChanged(buildVersion, v); }
bool MonitoringDataHolder::setFPGAVersion(std::string v) { return assignChanged(fpgaVersion, v); }
bool MonitoringDataHolder::setBootVersion(std::string v) { return assignChanged(bootVersion, v); }
bool MonitoringDataHolder::setBoardVersion(std::string v) { return assignChanged(boardVersion, v); }

// The stored statuses are kept whether or not their file could be written:
// the agents' full resend reads them, and a full disk must not lose them.
void MonitoringDataHolder::refreshBoard(const LGCP::BoardStatusParams& p) {
  for (auto& b : boardStatus)
    if (b.get_position() == p.get_position()) {
      b.set_type(p.get_type());
      b.set_version(p.get_version());
      b.set_status(p.get_status());
      return;
    }
  boardStatus.push_back(p);
}

void MonitoringDataHolder::refreshPhone(const LGCP::EmPhoneStatusParams& p) {
  for (auto& e : emPhoneStatus)
    if (e.get_id() == p.get_id()) {
      e = p;
      return;
    }
  emPhoneStatus.push_back(p);
}

void MonitoringDataHolder::setBoardStatus(const LGCP::BoardInfo& info) {
  if (!info.boardStatus_isSelected()) return;
  const LGCP::BoardStatusParams& p = info.get_boardStatus();
  SaveStatusArg arg;
  arg.board = &p;
  SaveStatusToFile(std::string(kMonDir) + "board" + asText(p.get_position()),
                   &MonitoringDataHolder::BoardStatusSaver, &arg);
  refreshBoard(p);
}

void MonitoringDataHolder::setEmPhoneInfo(const LGCP::EmPhoneInfo& info) {
  if (!info.phoneStatus_isSelected()) return;
  const LGCP::EmPhoneStatusParams& p = info.get_phoneStatus();
  SaveStatusArg arg;
  arg.phone = &p;
  SaveStatusToFile(std::string(kMonDir) + "emphone" + asText(p.get_id()),
                   &MonitoringDataHolder::PhoneStatusSaver, &arg);
  refreshPhone(p);
}

namespace {
// Whether counter c updates the stored entry t: same owner, and t carries
// no ownerId or c's ownerId (an entry with an id never takes a counter
// without one). Board entries keep to their own board: a counter with a
// board number never lands on the entry without one, nor the reverse
// (that would lose a board's count).
bool sameTermEntry(const LGCP::TermCounter& t, const LGCP::TermCounter& c) {
  if (t.get_owner() != c.get_owner()) return false;
  if (c.get_owner().asInt() == LGCP::TermCounterOwner::extBoard && t.ownerId_isPresent() != c.ownerId_isPresent())
    return false;
  if (!t.ownerId_isPresent()) return true;
  return c.ownerId_isPresent() && t.get_ownerId().getValue() == c.get_ownerId().getValue();
}
}  // namespace

void MonitoringDataHolder::setTermCounter(const LGCP::TermCounter& c) {
  std::string path;
  switch (c.get_owner().asInt()) {
    case LGCP::TermCounterOwner::router: path = std::string(kTermDir) + "router"; break;
    case LGCP::TermCounterOwner::controller: path = std::string(kTermDir) + "controller"; break;
    case LGCP::TermCounterOwner::server: path = std::string(kTermDir) + "server"; break;
    case LGCP::TermCounterOwner::extBoard:
      if (c.ownerId_isPresent()) path = std::string(kTermDir) + "board" + asText(c.get_ownerId());
      break;
    default: break;
  }
  if (!path.empty()) {
    SaveStatusArg arg;
    arg.count = c.get_cnt().getValue();
    SaveStatusToFile(path, &MonitoringDataHolder::TermCounterSaver, &arg);
  }
  // The first matching entry takes the count only; none: c is appended.
  for (auto& t : termCounters) {
    if (sameTermEntry(t, c)) {
      t.set_cnt(c.get_cnt().getValue());
      return;
    }
  }
  termCounters.push_back(c);
}

uint64_t MonitoringDataHolder::controllerKey(const TERM::HostAddress& host, INet4::Addr& addr) {
  addr = INet4::Addr(host2str(host));
  return uint64_t(addr.host_order()) << 32 | uint64_t(addr.port()) << 16 |
         uint64_t(host.get_port().getValue() & 0xFFFF);
}

bool MonitoringDataHolder::setControllerStatus(const LGCP::ControllerInfo& info) {
  INet4::Addr addr;
  const uint64_t key = controllerKey(info.get_host(), addr);
  const HSP::ControllerStatus& status = info.get_status();
  bool self = addr == selfHostAddress;
  if (self) selfControllerStatus = status;

  // One entry per host, compared by value: another spelling of a stored
  // address and port is that entry.
  bool changed = true;
  auto found = controllerIndex.find(key);
  if (found != controllerIndex.end()) {
    changed = found->second->get_status() != status;
    found->second->set_status(status);
  } else {
    controllers.push_back(info);
    controllerIndex.emplace(key, &controllers.back());
    if (self) ++ownControllers;
  }

  if (changed) {
    if (traces.monitoring.internal)
      std::clog << "New controller " << addr.GetStrAddr() << " status - " << status << std::endl;
    CheckForMonControllerDir(addr);
    SaveStatusArg arg;
    arg.controller = &status;
    SaveStatusToFile(std::string(kControllerDir) + addr.GetStrAddr() + "/status",
                     &MonitoringDataHolder::ControllerStatusSaver, &arg);
  }
  return changed && self;
}

void MonitoringDataHolder::setSnmpTrapReceivers(
    const ASN1::SEQUENCE_OF<ASN1::IA5String, ASN1::EmptyConstraint>& list) {
  trapHosts.clear();
  if (traces.monitoring.internal) std::clog << "Trap receivers:" << list << std::endl;
  for (const auto& h : list) trapHosts.push_back(h);
}

namespace {

// One text per identity: oids and names never share one, and the section's
// length keeps every section and name apart, whatever bytes they hold.
std::string identity(const MON::SnmpSetCommandId& id) {
  if (id.oid_isSelected()) return "o" + static_cast<const std::string&>(id.get_oid());
  if (!id.name_isSelected()) return std::string();
  const MON::IniName& n = id.get_name();
  const std::string& section = n.get_section();
  std::string key = "n" + std::to_string(n.get_index().getValue()) + " " + std::to_string(section.size()) + " ";
  key += section;
  key += static_cast<const std::string&>(n.get_name());
  return key;
}

// A section or key name taken from the controller is part of a path below
// "/var/monitoring/": it must not climb out of it (a ".." component) nor be
// cut short (a zero byte).
bool staysInside(const std::string& s) {
  if (s.find('\0') != std::string::npos) return false;
  for (std::string::size_type start = 0;;) {
    std::string::size_type end = s.find('/', start);
    if (s.compare(start, end == std::string::npos ? std::string::npos : end - start, "..") == 0) return false;
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

}  // namespace

void MonitoringDataHolder::setSnmpCommands(const MON::SnmpSetCommands& cmds) {
  for (const MON::SnmpSetCommand& c : cmds.get_commands()) {
    std::string key = identity(c.get_id());
    auto found = key.empty() ? snmpIndex.end() : snmpIndex.find(key);
    if (found != snmpIndex.end()) {
      snmpCommands.set_commands()[found->second].set_value(c.get_value());
    } else {
      if (!key.empty()) snmpIndex.emplace(key, snmpCommands.get_commands().size());
      snmpCommands.set_commands().push_back(c);
    }

    if (!c.get_id().name_isSelected()) continue;
    const MON::IniName& n = c.get_id().get_name();
    const std::string& section = n.get_section();
    const std::string& name = n.get_name();
    if (!staysInside(section) || !staysInside(name)) {
      std::clog << "monitoring: refused snmp-set file name <" << section << "/" << name << ">" << std::endl;
      continue;
    }
    std::string dir = std::string(kMonDir) + section;
    CheckForMonDir(dir);
    dir += "/" + std::to_string(n.get_index().getValue());
    CheckForMonDir(dir);
    lastSnmpValue = c.get_value();
    SaveStatusArg arg;
    arg.text = &lastSnmpValue;
    SaveStatusToFile(dir + "/" + name, &MonitoringDataHolder::StringParamSaver, &arg);
  }
}

const char* MonitoringDataHolder::overLimit(const LGCP::DisplayParams& params, std::size_t& limit) const {
  limit = kMaxEntries;
  if (params.snmp_set_isSelected()) {
    limit = kMaxSnmpCommands;
    std::unordered_set<std::string> added;
    std::size_t unnamed = 0;  // no identity: each one is kept apart
    for (const MON::SnmpSetCommand& c : params.get_snmp_set().get_commands()) {
      std::string key = identity(c.get_id());
      if (key.empty()) ++unnamed;
      else if (!snmpIndex.count(key)) added.insert(key);
    }
    std::size_t total = snmpCommands.get_commands().size() + added.size() + unnamed;
    return total > kMaxSnmpCommands ? "snmp-set names" : nullptr;
  }
  if (params.emPhone_isSelected() && params.get_emPhone().phoneStatus_isSelected()) {
    int id = params.get_emPhone().get_phoneStatus().get_id().getValue();
    for (const auto& e : emPhoneStatus)
      if (e.get_id().getValue() == id) return nullptr;
    return emPhoneStatus.size() >= kMaxEntries ? "phone statuses" : nullptr;
  }
  if (params.board_isSelected() && params.get_board().boardStatus_isSelected()) {
    int position = params.get_board().get_boardStatus().get_position().getValue();
    for (const auto& b : boardStatus)
      if (b.get_position().getValue() == position) return nullptr;
    return boardStatus.size() >= kMaxEntries ? "board statuses" : nullptr;
  }
  if (params.termCounter_isSelected()) {
    const LGCP::TermCounter& c = params.get_termCounter();
    for (const auto& t : termCounters)
      if (sameTermEntry(t, c)) return nullptr;
    return termCounters.size() >= kMaxEntries ? "terminal counters" : nullptr;
  }
  if (params.controller_isSelected()) {
    INet4::Addr addr;
    if (controllerIndex.count(controllerKey(params.get_controller().get_host(), addr))) return nullptr;
    // The board's own address has places of its own, whatever the others
    // hold, but only a few: each port or spelling must not make one more.
    if (addr == selfHostAddress) {
      limit = kMaxOwnControllers;
      return ownControllers >= kMaxOwnControllers ? "controllers at the board's own address" : nullptr;
    }
    return controllers.size() >= kMaxEntries ? "controllers" : nullptr;
  }
  return nullptr;
}

bool MonitoringDataHolder::setDisplayStatus(const LGCP::DisplayParams& params) {
  std::size_t limit = 0;
  if (const char* what = overLimit(params, limit)) {
    std::clog << "monitoring: display refused: it would store more " << what << " than the limit of " << limit
              << std::endl;
    return false;
  }
  if (params.emPhone_isSelected()) setEmPhoneInfo(params.get_emPhone());
  else if (params.board_isSelected()) setBoardStatus(params.get_board());
  else if (params.snmpTrapReceivers_isSelected()) setSnmpTrapReceivers(params.get_snmpTrapReceivers());
  else if (params.framer_isSelected()) setFramerStatusChanged(params.get_framer());
  else if (params.controller_isSelected()) setControllerStatus(params.get_controller());
  else if (params.termCounter_isSelected()) setTermCounter(params.get_termCounter());
  else if (params.snmp_set_isSelected()) setSnmpCommands(params.get_snmp_set());
  return true;
}

int MonitoringDataHolder::updateControllerPID() {
  controllerPid = find_proc_by_name("controller", controllerPid);
  return controllerPid;
}
