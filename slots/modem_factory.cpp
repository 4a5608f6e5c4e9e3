#include "slots/modem_factory.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <utility>

#include "hardware/board/board.h"
#include "runtime/os/paths.h"

namespace {
constexpr uint32_t kEnumerate = 0xBB0C;
constexpr int kMaxInterfaces = 256;
}  // namespace

ModemFactory& ModemFactory::instance() {
  static ModemFactory factory;
  return factory;
}

ModemFactory::ModemFactory() {
  IQuery();
  Init();
}

ModemFactory::~ModemFactory() = default;

std::ostream& ModemFactory::PutHeader(std::ostream& os) const {
  return os << "modem[" << mModemCount << "," << mAll.size() << "]: ";
}

// ---- resources --------------------------------------------------------------

void ModemFactory::IQuery() {
  update_modemDevices();
  update_hdlcDevices();
}

void ModemFactory::update_modemDevices() {
  mModemCount = 0;
  Fd ctl(Board::open("/dev/mctl", O_RDWR | O_CLOEXEC));
  if (!ctl) {
    Errno e;
    PutHeader(std::cerr) << "fail to open \"/dev/mctl\" : " << e << std::endl;
  }
  // Without the device the enumeration still runs: its first request
  // fails, and that failure is reported too.
  int index = -1;
  for (;;) {
    index = Board::ioctlValue(ctl.lowlevel_fd(), kEnumerate, static_cast<unsigned long>(index));
    if (index < 0) break;
    ++mModemCount;
  }
  if (errno != ENODEV) PutHeader(std::cerr) << "enum fail: " << Errno() << std::endl;
}

void ModemFactory::update_hdlcDevices() {
  mFreeIfaces.clear();
  int sock = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (sock < 0) return;
  for (int n = 0; n < kMaxInterfaces; ++n) {
    struct ifreq ifr;
    std::memset(&ifr, 0, sizeof ifr);
    std::snprintf(ifr.ifr_name, IFNAMSIZ, "hdlc%d", n);
    if (ModemNet::ioctl(sock, SIOCGIFINDEX, &ifr) != 0) break;
    if (ModemNet::ioctl(sock, SIOCGIFFLAGS, &ifr) != 0) break;
    if (!(ifr.ifr_flags & IFF_POINTOPOINT) || (ifr.ifr_flags & IFF_LOOPBACK)) continue;
    // An interface a live slot runs on is not free, whatever its flags say.
    const std::string name = ifr.ifr_name;
    if (std::any_of(mHdlc.begin(), mHdlc.end(), [&](HdlcModemSlot* s) { return s->deviceName() == name; }))
      continue;
    mFreeIfaces.push_back(name);
  }
  ::close(sock);
  if (!mFreeIfaces.empty()) {
    std::clog << "found point-o-point devices:";
    for (const auto& name : mFreeIfaces) std::clog << " " << name;
    std::clog << std::endl;
  }
}

void ModemFactory::Query(LGCP::Resources& resources) {
  IQuery();
  resources.set_modem(mModemCount);
  resources.set_digital_modems(int(mFreeIfaces.size()));
}

// ---- slots ------------------------------------------------------------------

Slot* ModemFactory::INewSlot(const LGCP::CreateParams& params) {
  if (!params.modem_isSelected()) return nullptr;
  const TERM::ModemParams& p = params.get_modem();
  // The controller may name the program, but only an executable file under
  // the root: never a path that climbs out of it or depends on our folder.
  if (p.execfile_isPresent() && RootPath::resolveProgram(p.get_execfile()).empty()) {
    PutHeader(std::cerr) << "execfile refused: \"" << std::string(p.get_execfile()) << "\"" << std::endl;
    return nullptr;
  }
  if (p.ddm_isPresent() && p.get_ddm().size() > 0 && !mFreeIfaces.empty()) {
    auto* slot = new HdlcModemSlot(p, mFreeIfaces.front());
    mFreeIfaces.pop_front();
    mAll.push_back(slot);
    mHdlc.push_back(slot);
    return slot;
  }
  auto* slot = new DspModemSlot(p);
  mAll.push_back(slot);
  mDsp.push_back(slot);
  return slot;
}

void ModemFactory::ReleaseModemSlot(DspModemSlot* slot) {
  mAll.remove(slot);
  mDsp.remove(slot);
}

void ModemFactory::ReleaseModemSlot(HdlcModemSlot* slot) {
  mAll.remove(slot);
  mHdlc.remove(slot);
  mFreeIfaces.push_back(slot->deviceName());
}

ModemSlot* ModemFactory::FindModemByDsp(int id) {
  for (ModemSlot* s : mAll)
    if (s->modem_id() == id) return s;
  return nullptr;
}

// ---- auth link --------------------------------------------------------------

void ModemFactory::Init() {
  int raw = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (raw < 0) {
    PutHeader(std::cerr) << "fail to bind auth socket: " << Errno() << std::endl;
    return;
  }
  Fd sock(raw);
  // A restarted daemon must get its port back while old connections linger.
  int on = 1;
  ::setsockopt(raw, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(kAuthPort);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(raw, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    PutHeader(std::cerr) << "fail to bind auth socket: " << Errno() << std::endl;
    return;
  }
  if (::listen(raw, kAuthBacklog) != 0) {
    PutHeader(std::cerr) << "fail to listen auth socket: " << Errno() << std::endl;
    return;
  }
  if (!NonBlockMode(raw)) {
    PutHeader(std::cerr) << "can't set socket to non block mode: " << Errno() << std::endl;
    return;
  }
  mListenEvent.Bind("ModemFactory::OnSocketEvent", &ModemFactory::OnSocketEvent, this);
  mListenEvent.Schedule(sock, POLLIN);
  if (!mListenEvent.IsActive()) {
    Errno e;
    PutHeader(std::cerr) << "fail to listen auth socket: dup: " << e << std::endl;
    return;
  }
  mListen = std::move(sock);
}

void ModemFactory::OnSocketEvent(int, short events) {
  if (events & (POLLERR | POLLHUP | POLLNVAL)) {
    PutHeader(std::cerr) << "auth server socket error." << std::endl;
    mListen.close();
    mListenEvent.Release();
    mListenEvent.UnBind();
    return;
  }
  if (!(events & POLLIN)) return;
  sockaddr_in peer{};
  socklen_t len = sizeof peer;
  int raw = ::accept4(mListen.lowlevel_fd(), reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
  if (raw < 0) {
    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) PauseAccepting();
    return;  // otherwise the peer went before we took it
  }
  mAcceptFailureLogged = false;
  Fd fd(raw);
  if (!NonBlockMode(raw)) {
    PutHeader(std::cerr) << "fail to set nonblock mode." << std::endl;
    return;
  }
  AuthClient* c = AcceptClient(std::move(fd), INet4::Addr(peer));
  if (c) PutHeader(std::cerr) << "incoming auth connection from " << c->GetAddr() << std::endl;
}

void ModemFactory::PauseAccepting() {
  Errno e;
  if (!mAcceptFailureLogged)
    PutHeader(std::cerr) << "fail to accept auth connection: " << e << ", retrying every " << kAcceptRetryMs << " ms"
                         << std::endl;
  mAcceptFailureLogged = true;
  mListenEvent.SetEvents(0);
  mAcceptTimer.set(kAcceptRetryMs, &ModemFactory::OnAcceptRetry, this);
}

void ModemFactory::OnAcceptRetry() { mListenEvent.SetEvents(POLLIN); }

AuthClient* ModemFactory::AcceptClient(Fd fd, const INet4::Addr& peer) {
  auto* c = new AuthClient(std::move(fd), peer, *this);
  if (!c->Activate()) {
    // A connection nobody reads would stay in the list for ever.
    Errno e;
    PutHeader(std::cerr) << "auth connection from " << peer << " refused: dup: " << e << std::endl;
    delete c;
    return nullptr;
  }
  mClients.push_back(c);
  return c;
}

void ModemFactory::OnAuth(const attr* record) {
  for (ModemSlot* s : mAll)
    if (s->EqAuthId(record->session())) {
      s->OnAuth(record);
      return;
    }
  PutHeader(std::cerr) << "receive auth request for unknown session " << record->session() << std::endl;
}

bool ModemFactory::SendAuth(const attr* record) {
  for (AuthClient* c : mClients)
    if (c->GetSessionId() == record->session()) return c->Send(record);
  PutHeader(std::clog) << "send error: unknown auth " << record->session() << " session." << std::endl;
  return false;
}

void ModemFactory::OnAuthSocketDisconnect(AuthClient* client) {
  PutHeader(std::clog) << "auth client " << client->GetAddr() << " disconnected." << std::endl;
  mClients.remove(client);
  delete client;
}
