#include "slots/modem_slot.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <iostream>
#include <utility>

#include "hardware/board/board.h"
#include "hardware/board/record.h"
#include "runtime/os/paths.h"
#include "slots/modem_auth.h"
#include "slots/modem_factory.h"

namespace {
const char kPppd[] = "/usr/local/sbin/pppd";
const char kFaxTransfer[] = "/usr/local/sbin/fax";
const char kFaxReceiver[] = "/usr/local/bin/fax";
const char kModemCtl[] = "/dev/mctl";

// Modem controller requests.
constexpr uint32_t kAnswer = 0xBB03;
constexpr uint32_t kOriginate = 0xBB04;
constexpr uint32_t kAllocate = 0xBB0B;
constexpr uint32_t kTimeslot = 0xBB15;
constexpr uint32_t kSetDdm = 0xBB16;
constexpr uint32_t kSetParam = 0xBB38;
constexpr uint32_t kResetParams = 0xBB3A;
constexpr uint32_t kFaxOriginate = 0xBB40;

int ModemRequest(int fd, uint32_t request, Board::WordRecord rec) { return Board::ioctl(fd, request, rec.data()); }

// One interface request on `sock`: the name, then (for SIOCWANDEV) the
// settings.
struct IfRequest {
  IfRequest(const std::string& name) {
    std::memset(&ifr, 0, sizeof ifr);
    std::strncpy(ifr.ifr_name, name.c_str(), IFNAMSIZ - 1);
  }
  int wan(int sock, unsigned type, void* buffer, unsigned size) {
    static_assert(sizeof(ModemNet::WanSettings) <= sizeof(ifr.ifr_ifru), "settings do not fit");
    ModemNet::WanSettings s{type, size, buffer};
    std::memcpy(&ifr.ifr_ifru, &s, sizeof s);
    return ModemNet::ioctl(sock, ModemNet::kSiocWanDev, &ifr);
  }
  struct ifreq ifr;
};
}  // namespace

namespace ModemNet {
IoctlFn ioctlFn = nullptr;
int ioctl(int sock, unsigned long request, void* ifr) {
  return ioctlFn ? ioctlFn(sock, request, ifr) : ::ioctl(sock, request, ifr);
}
}  // namespace ModemNet

// ---- ModemSlot --------------------------------------------------------------

ModemSlot::ModemSlot(const TERM::ModemParams& params) : mParams(params) {
  mWait.Bind(this, &ModemSlot::on_terminate);
}

ModemSlot::~ModemSlot() = default;

std::ostream& ModemSlot::PutHeader(std::ostream& os) const { return os << *this << ": "; }

void ModemSlot::fail(const char* what, int error) {
  PutHeader(std::cerr) << what << Errno(error) << std::endl;
  OnAbort(error);
}

int ModemSlot::Spawn(const std::string& program, const std::vector<std::string>& args, unsigned delaySec,
                     const char* banner, const char* execFailure) {
  // Everything the child needs is ready before the fork.
  // Every program is an absolute name under the root; a refused name leaves
  // the path empty and the child's exec fails.
  const std::string path = RootPath::resolveOutside(program);
  std::vector<std::string> copy = args;
  std::vector<char*> argv;
  for (auto& a : copy) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  pid_t pid = ::fork();
  if (pid != 0) return pid;
  ::sleep(delaySec);
  if (banner) {
    std::string line = std::string(banner) + "\n";
    (void)!::write(1, line.data(), line.size());
  }
  ::execv(path.c_str(), argv.data());
  if (execFailure) {
    std::string line = std::string(execFailure) + "\n";
    (void)!::write(1, line.data(), line.size());
  }
  ::_exit(2);
}

std::vector<std::string> ModemSlot::PppdArgs(const std::string& device, const std::string& optionsFile) const {
  std::vector<std::string> args;
  args.push_back(mParams.execfile_isPresent() ? std::string(mParams.get_execfile()) : kPppd);
  if (mParams.execargs_isPresent()) {
    for (const auto& a : mParams.get_execargs()) {
      if (args.size() >= kMaxArgs - 1) break;
      args.push_back(a);
    }
  } else {
    args.insert(args.end(), {"file", optionsFile, device});
    const std::string& cid = mParams.get_cid();
    if (!cid.empty()) args.insert(args.end(), {"remotenumber", cid});
  }
  return args;
}

void ModemSlot::pppd_exec(const char* device, const char* optionsFile) {
  if (pppd_executing()) return;
  std::vector<std::string> args = PppdArgs(device, optionsFile);
  int pid = Spawn(args[0], args, 0, nullptr, nullptr);
  if (pid < 0) {
    fail("vfork fail: ", errno);
    return;
  }
  mPid = pid;
  mWait.Bind(this, &ModemSlot::on_terminate);
  mWait.Attach(pid);
  PutHeader(std::clog) << "pppd executed" << " cid=\"" << std::string(mParams.get_cid()) << "\"" << " pid=" << pid
                       << std::endl;
}

void ModemSlot::pppd_kill() {
  if (mPid == -1) return;
  PutHeader(std::cerr) << "pppd isn't terminated, killing ..." << std::endl;
  ::kill(mPid, SIGKILL);
  ::sleep(0);
}

bool ModemSlot::IBeforeDestroy() {
  if (pppd_executing()) {
    PutHeader(std::cerr) << "sent HUP to pppd." << std::endl;
    ::kill(mPid, SIGHUP);
    mTimer.set(kTerminateTimeoutMs, &ModemSlot::on_terminate_timeout, this);
    return false;
  }
  unbind();
  return true;
}

void ModemSlot::finish_release() {
  mTimer.reset();
  unbind();
  on_release();  // deletes this slot
}

void ModemSlot::on_terminate(int status) {
  PutHeader(std::clog) << "pppd terminated with code " << status << std::endl;
  mPid = -1;
  if (is_releasing()) finish_release();
  else OnAbort(status);
}

void ModemSlot::on_terminate_timeout(Timer*) {
  PutHeader(std::cerr) << "pppd terminate timeout!" << std::endl;
  pppd_kill();
  if (is_releasing()) finish_release();
}

bool ModemSlot::IActivate(const TERM::TermActivateParams& params) {
  if (!params.modem_isSelected()) {
    PutHeader(std::cerr) << "modem's activation requests parameter." << std::endl;
    return false;
  }
  // A DSP modem slot without its modem has no session yet: its records
  // would reach the plug-in of an HDLC modem's session -1.
  if (!HasAuthSession()) {
    PutHeader(std::clog) << "no modem yet, nothing sent to the auth plug-in." << std::endl;
    return true;
  }
  const TERM::ModemUserParameters& user = params.get_modem();
  attr accept(attr::kAcceptSize, attr::Accept, modem_id());
  accept.setWord(12, 1);
  ModemFactory::instance().SendAuth(&accept);

  attr ip(attr::kIpParamsSize, attr::IpParams, modem_id());
  auto address = [](const std::string& text) { return ntohl(::inet_addr(text.c_str())); };
  ip.setWord(12, 0);
  ip.setWord(16, address(user.get_remoteAddr()));
  ip.setWord(20, address(user.get_netmask()));
  ip.setWord(24, address(user.get_gateway()));
  ip.setWord(28, address(user.get_dns()));
  ip.setWord(32, uint32_t(user.get_mtu().getValue()));
  ModemFactory::instance().SendAuth(&ip);
  return true;
}

namespace {
void Set64(BASE::INTEGER64Bits& v, uint64_t value) {
  v.set_high(int(uint32_t(value >> 32)));
  v.set_low(int(uint32_t(value)));
}
}  // namespace

void ModemSlot::OnAuth(const attr* record) {
  const uint32_t length = record->length();
  switch (record->type()) {
    case attr::AuthRequest: {
      if (length != attr::kAuthRequestSize) {
        PutHeader(std::cerr) << "auth request, invalid size: " << length << std::endl;
        return;
      }
      TERM::ModemProceeding p;
      TERM::MdmRequestUserAuth& auth = p.select_auth();
      auth.set_username(record->text(attr::kUserOffset, attr::kTextField));
      auth.set_password(record->text(attr::kPasswordOffset, attr::kTextField));
      OnModem(p);
      return;
    }
    case attr::Accept:
      PutHeader(std::cerr) << "auth accept, ignored." << std::endl;
      return;
    case attr::IpParams:
      PutHeader(std::cerr) << "auth ip, ignored." << std::endl;
      return;
    case attr::Accounting: {
      if (length != attr::kAccountingSize) {
        PutHeader(std::cerr) << "auth accounting, invalid size: " << length << std::endl;
        return;
      }
      TERM::ModemProceeding p;
      TERM::MdmAccounting& acct = p.select_acct();
      Set64(acct.set_octetsOut(), record->word64(24));
      Set64(acct.set_octetsIn(), record->word64(32));
      Set64(acct.set_packetsOut(), record->word64(40));
      Set64(acct.set_packetsIn(), record->word64(48));
      Set64(acct.set_time(), record->word(56));
      OnModem(p);
      return;
    }
    default:
      // The prefix is written out: showbase leaves it off a 0.
      PutHeader(std::cerr) << "unknown request from portslave: 0x" << std::hex << record->type() << std::dec
                           << std::endl;
  }
}

// ---- DspModemSlot -----------------------------------------------------------

DspModemSlot::DspModemSlot(const TERM::ModemParams& params) : ModemSlot(params) {}

DspModemSlot::~DspModemSlot() {
  pppd_kill();
  mCtl.close();
  unbind();  // a slot deleted without its release still leaves the factory's lists
}

void DspModemSlot::unbind() {
  if (!mBound) return;
  mBound = false;
  ModemFactory::instance().ReleaseModemSlot(this);
}

bool DspModemSlot::IOnOutputStream() {
  InitModem();
  return true;
}

bool DspModemSlot::IOnInputStream() {
  InitModem();
  return true;
}

std::vector<std::string> DspModemSlot::FaxArgs() const {
  std::vector<std::string> args{mParams.execfile_isPresent() ? std::string(mParams.get_execfile()) : kFaxTransfer,
                                "-m", std::to_string(mModem)};
  if (mParams.execargs_isPresent())
    for (const auto& a : mParams.get_execargs()) {
      if (args.size() >= kMaxArgs - 1) break;
      args.push_back(a);
    }
  return args;
}

void DspModemSlot::InitModem() {
  if (mModem >= 0) return;
  int raw = Board::open(kModemCtl, O_RDONLY | O_CLOEXEC);
  if (raw < 0) return fail("fail to open device: ", errno);
  Fd local(raw);
  const int fd = local.lowlevel_fd();
  const int modem = Board::ioctlValue(fd, kAllocate, 0);
  if (modem < 0) return fail("insufficient resources : ", errno);
  const int ts = Board::ioctlValue(fd, kTimeslot, 0);
  if (ts < 0) return fail("get timeslot fail : ", errno);
  if (mParams.ddm_isPresent()) {
    int32_t mask = 0;
    for (const auto& m : mParams.get_ddm()) {
      if (m.is_ddmV110()) mask |= 1;
      else if (m.is_ddm8BIT()) mask |= 2;
      else if (m.is_ddm7BIT()) mask |= 4;
    }
    if (ModemRequest(fd, kSetDdm, {modem, mask}) < 0) return fail("set DDM failed : ", errno);
  }
  if (ModemRequest(fd, kResetParams, {modem, -1}) < 0)
    PutHeader(std::cerr) << "reset dmp parameters failed : " << Errno() << std::endl;
  if (mParams.dmp_isPresent())
    for (const auto& p : mParams.get_dmp()) {
      const int offset = p.get_offset().getValue(), value = p.get_value().getValue();
      if (ModemRequest(fd, kSetParam, {modem, offset, value}) < 0)
        PutHeader(std::cerr) << "set dmp parameter " << "index=" << offset << " value=" << value
                             << " failed : " << Errno() << std::endl;
    }

  mTimeslot = ts;
  mModem = modem;
  mCtl = std::move(local);  // the modem stays allocated while the slot holds it
  OnChangeOutputStream(true);
  OnChangeInputStream(true);

  const bool originate = mParams.originate_isPresent();
  if (!mParams.fax_isPresent()) {
    const std::string device = "/dev/mdm" + std::to_string(unsigned(modem));
    if (originate) {
      if (ModemRequest(fd, kOriginate, {modem, -1}) == -1) return fail("originate failed : ", errno);
      pppd_exec(device.c_str(), "/usr/local/etc/ppp/coptions");
    } else {
      if (ModemRequest(fd, kAnswer, {modem, -1}) == -1) return fail("answer failed : ", errno);
      pppd_exec(device.c_str(), "/usr/local/etc/ppp/aoptions");
    }
    return;
  }
  if (mParams.execargs_isPresent()) {
    std::vector<std::string> args = FaxArgs();
    mCtl.close();
    int pid = Spawn(args[0], args, 0, "executing fax transfer", "fail to exec!");
    if (pid < 0) return fail("vfork fail: ", errno);
    mPid = pid;
    mWait.Bind(this, &DspModemSlot::on_fax_terminate);
    mWait.Attach(pid);
    PutHeader(std::clog) << "fax transfer executed" << " modem=" << mModem << " ts=" << mTimeslot << std::endl;
    return;
  }
  if (originate) {
    if (ModemRequest(fd, kFaxOriginate, {modem, -1}) == -1) return fail("originate failed : ", errno);
    return;
  }
  RunFaxReceiver();
}

void DspModemSlot::RunFaxReceiver() {
  mCtl.close();
  char file[64];
  std::time_t now = std::time(nullptr);
  struct tm local;
  ::localtime_r(&now, &local);
  if (std::strftime(file, sizeof file, "/var/fax-%H-%M-%S.g3", &local) == 0) file[0] = '\0';
  std::vector<std::string> args{kFaxReceiver, "-m", std::to_string(mModem), "receive", file};
  int pid = Spawn(kFaxReceiver, args, 1, "executing", "fail to exec!");
  if (pid < 0) return fail("vfork fail: ", errno);
  // The receiver is watched like a transfer: its end is reported and a
  // destroy hangs it up and waits for it.
  mPid = pid;
  mWait.Bind(this, &DspModemSlot::on_fax_terminate);
  mWait.Attach(pid);
  PutHeader(std::clog) << "fax receiver executed" << " modem=" << mModem << " ts=" << mTimeslot << std::endl;
}

void DspModemSlot::on_fax_terminate(int status) {
  PutHeader(std::clog) << "fax terminated with code " << status << std::endl;
  mPid = -1;
  if (status & 0xff) PutHeader(std::clog) << "fax transfer failed" << std::endl;
  const int pages = (status >> 8) & 0xff;
  PutHeader(std::clog) << "pages received: " << pages << std::endl;
  TERM::ModemProceeding p;
  TERM::MdmAccounting& acct = p.select_acct();
  Set64(acct.set_octetsOut(), 0);
  Set64(acct.set_octetsIn(), uint64_t(pages));
  Set64(acct.set_packetsOut(), 0);
  Set64(acct.set_packetsIn(), 0);
  Set64(acct.set_time(), 0);
  OnModem(p);
  if (is_releasing()) finish_release();
  else OnAbort(status);
}

// ---- HdlcModemSlot ----------------------------------------------------------

HdlcModemSlot::HdlcModemSlot(const TERM::ModemParams& params, const std::string& interfaceName)
    : ModemSlot(params), mInterface(interfaceName) {}

HdlcModemSlot::~HdlcModemSlot() {
  pppd_kill();
  int sock = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (sock >= 0) {
    IfRequest req(mInterface);
    unsigned char none[4] = {};
    if (ModemNet::ioctl(sock, SIOCGIFFLAGS, &req.ifr) != 0) {
      PutHeader(std::cerr) << "SIOCGIFFLAGS fail!!!" << std::endl;
    } else {
      req.ifr.ifr_flags = short(req.ifr.ifr_flags & ~IFF_UP);
      if (ModemNet::ioctl(sock, SIOCSIFFLAGS, &req.ifr) != 0)
        PutHeader(std::cerr) << "SIOCSIFFLAGS fail!!!" << std::endl;
      else if (IfRequest(mInterface).wan(sock, ModemNet::kIfProtoHdlc, none, sizeof none) != 0)
        PutHeader(std::cerr) << "SIOCWANDEV/IF_PROTO_HDLC fail!" << std::endl;
    }
    ::close(sock);
  }
  unbind();  // a slot deleted without its release still gives its interface back
}

void HdlcModemSlot::unbind() {
  if (!mBound) return;
  mBound = false;
  ModemFactory::instance().ReleaseModemSlot(this);
}

bool HdlcModemSlot::IOnOutputStream() {
  initModem();
  return true;
}

bool HdlcModemSlot::IOnInputStream() {
  initModem();
  return true;
}

void HdlcModemSlot::initModem() {
  if (pppd_executing()) return;
  int sock = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (sock < 0) return;
  uint32_t iface[32] = {};
  unsigned char none[4] = {};
  bool ok = false;
  if (IfRequest(mInterface).wan(sock, ModemNet::kIfGetIface, iface, sizeof iface) != 0) {
    PutHeader(std::cerr) << "SIOCWANDEV/IF_GET_IFACE fail!" << std::endl;
  } else {
    mChannel = int(iface[3]);
    if (IfRequest(mInterface).wan(sock, ModemNet::kIfProtoPpp, none, sizeof none) != 0)
      PutHeader(std::cerr) << "SIOCWANDEV/IF_PROTO_PPP fail!" << std::endl;
    else
      ok = true;
  }
  ::close(sock);
  if (ok) pppd_exec(mInterface.c_str(), "/usr/local/etc/ppp/ioptions");
}
