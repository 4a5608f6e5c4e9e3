#include "hardware/sim/sim.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iomanip>
#include <iostream>
#include <sstream>

#include "hardware/board/record.h"
#include "hardware/board/requests.h"
#include "hardware/sim/dsp.h"
#include "hardware/sim/dtmf.h"
#include "hardware/sim/e1cas.h"
#include "hardware/sim/hal.h"
#include "hardware/sim/maintenance.h"
#include "hardware/sim/mon_hal.h"
#include "hardware/sim/mcc.h"
#include "hardware/sim/mcc_resources.h"
#include "hardware/sim/mixer.h"
#include "hardware/sim/modem.h"
#include "hardware/sim/rtp.h"
#include "hardware/sim/rtp_ext.h"
#include "runtime/os/paths.h"

namespace Sim {

namespace {

constexpr std::size_t kLogLimit = 50000;
constexpr std::size_t kFarEndFrames = 1024;  // kept per output until a test takes them
constexpr std::size_t kMaxRecord = 65536;

void setNonBlock(int fd) {
  int fl = ::fcntl(fd, F_GETFL);
  if (fl >= 0) ::fcntl(fd, F_SETFL, fl | O_NONBLOCK);
}

}  // namespace

// ---- Request ---------------------------------------------------------------

int32_t Request::word(std::size_t i) const {
  if (!record || (i + 1) * 4 > size) return 0;
  return int32_t(::Board::getBE32(record + i * 4));
}

void Request::setWord(std::size_t i, int32_t v) {
  if (record && (i + 1) * 4 <= size) ::Board::putBE32(record + i * 4, uint32_t(v));
}

// ---- Text helpers ----------------------------------------------------------

std::string hex(const Bytes& b) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (uint8_t c : b) {
    s += digits[c >> 4];
    s += digits[c & 15];
  }
  return s;
}

bool parseHex(const std::string& text, Bytes& out) {
  out.clear();
  int hi = -1;
  for (char ch : text) {
    int v;
    if (ch >= '0' && ch <= '9') v = ch - '0';
    else if (ch >= 'a' && ch <= 'f') v = ch - 'a' + 10;
    else if (ch >= 'A' && ch <= 'F') v = ch - 'A' + 10;
    else if (ch == ' ' || ch == ':' || ch == '-') continue;
    else return false;
    if (hi < 0) {
      hi = v;
    } else {
      out.push_back(uint8_t(hi << 4 | v));
      hi = -1;
    }
  }
  return hi < 0;
}

// ---- Tdm -------------------------------------------------------------------

void Tdm::connect(int output, int source) {
  xpoint_[output] = source;
  constant_.erase(output);
}

void Tdm::disable(int output) {
  xpoint_.erase(output);
  constant_.erase(output);
}

void Tdm::write(int channel, uint8_t byte) {
  xpoint_.erase(channel);
  constant_[channel] = byte;
}

uint8_t Tdm::read(int channel) const {
  auto c = constant_.find(channel);
  if (c != constant_.end()) return c->second;
  auto x = xpoint_.find(channel);
  if (x != xpoint_.end()) {
    auto sc = constant_.find(x->second);
    if (sc != constant_.end()) return sc->second;
    auto sd = driven_.find(x->second);
    if (sd != driven_.end()) return sd->second;
  }
  auto d = driven_.find(channel);
  if (d != driven_.end()) return d->second;
  return 0xFF;
}

void Tdm::drive(int channel, int byte) {
  if (byte < 0) driven_.erase(channel);
  else driven_[channel] = uint8_t(byte);
}

int Tdm::sourceOf(int output) const {
  auto x = xpoint_.find(output);
  return x == xpoint_.end() ? -1 : x->second;
}

int Tdm::send(int source, const Bytes& frame) {
  // Collect first: a receiver may change the crosspoints while we deliver.
  std::vector<int> outputs;
  for (const auto& [out, src] : xpoint_)
    if (src == source) outputs.push_back(out);
  for (int out : outputs) {
    auto ep = endpoints_.find(out);
    if (ep != endpoints_.end()) ep->second->receive(frame);
    else if (auto& q = farEnd_[out]; q.push_back(frame), q.size() > kFarEndFrames)
      q.pop_front();  // nobody takes them: keep the most recent
  }
  return int(outputs.size());
}

void Tdm::attach(int channel, Endpoint* ep) { endpoints_[channel] = ep; }

void Tdm::detach(int channel, Endpoint* ep) {
  auto it = endpoints_.find(channel);
  if (it != endpoints_.end() && it->second == ep) endpoints_.erase(it);
}

std::vector<Bytes> Tdm::takeFarEnd(int output) {
  std::vector<Bytes> v;
  auto it = farEnd_.find(output);
  if (it == farEnd_.end()) return v;
  v.assign(it->second.begin(), it->second.end());
  farEnd_.erase(it);
  return v;
}

void Tdm::reset() {
  xpoint_.clear();
  constant_.clear();
  driven_.clear();
  farEnd_.clear();
  // Endpoints belong to sessions, which detach themselves.
}

// ---- Board: construction ---------------------------------------------------

Board& Board::instance() {
  static Board* board = [] {
    auto* b = new Board();  // lives for the whole process
    b->startControl();
    attachToLoop(*b);
    // The socket goes with the process (the board itself outlives exit).
    std::atexit([] { instance().stopControl(); });
    return b;
  }();
  return *board;
}

Board::Board() {
  epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
  auto hal = std::make_unique<MonHalDevice>();  // the hal with the monitoring registers
  hal_ = hal.get();
  addDevice(std::move(hal));
  auto mcc = std::make_unique<MccResourcesDevice>();  // with the resource request
  mcc_ = mcc.get();
  addDevice(std::move(mcc));
  addDevice(std::make_unique<DtmfDevice>());
  addDevice(std::make_unique<DspDevice>());
  addDevice(std::make_unique<MaintenanceDevice>());
  addDevice(std::make_unique<E1CasDevice>());
  addDevice(std::make_unique<MixerDevice>());
  addDevice(std::make_unique<ModemDevice>());
  addDevice(std::make_unique<RtpDevice>());
  addDevice(std::make_unique<RtpExtDevice>());
  addDevice(std::make_unique<VoiceDevice>());
}

Board::~Board() {
  while (!sessions_.empty()) closeSession(sessions_.begin()->first);
  stopControl();
  if (epoll_ >= 0) ::close(epoll_);
}

void Board::addDevice(std::unique_ptr<Device> d) {
  d->board = this;
  devices_.push_back(std::move(d));
}

Device* Board::device(const std::string& path) const {
  for (const auto& d : devices_)
    if (d->path() == path) return d.get();
  return nullptr;
}

void Board::setPresent(const std::string& path, bool present) {
  if (present) absent_.erase(path);
  else absent_.insert(path);
}

void Board::failNext(const std::string& path, uint32_t request, int err, int count) {
  failures_.push_back({path, request, err, count});
}

void Board::reset() {
  // Open descriptors stay open (a process-wide user such as the multiplexer
  // keeps its descriptor across tests); everything else starts afresh.
  reap();
  std::vector<int> held;
  for (auto& [id, s] : sessions_)
    if (s->held) held.push_back(id);
  // Releasing drains, and a device may end sessions while taking records.
  for (int id : held) {
    auto it = sessions_.find(id);
    if (it != sessions_.end()) hold(*it->second, false);
  }
  tdm_.reset();
  for (auto& d : devices_) d->reset();
  absent_.clear();
  failures_.clear();
  log_.clear();
}

// ---- Board: sessions -------------------------------------------------------

void Board::watch(int fd, bool on) {
  if (epoll_ < 0) return;
  if (on) {
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = fd;
    if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev) < 0 && errno == EEXIST)
      ::epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &ev);
  } else {
    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
  }
}

int Board::open(const char* path, int flags) {
  Device* d = device(path);
  if (!d || absent_.count(path)) {
    errno = ENOENT;
    return -1;
  }
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) < 0) return -1;
  // sv[0] is the daemon's, sv[1] the simulator's.
  if (!(flags & O_CLOEXEC)) {
    int fl = ::fcntl(sv[0], F_GETFD);
    ::fcntl(sv[0], F_SETFD, fl & ~FD_CLOEXEC);
  }
  if (flags & O_NONBLOCK) setNonBlock(sv[0]);
  setNonBlock(sv[1]);
  struct stat st {};
  ::fstat(sv[0], &st);

  auto s = std::make_unique<Session>();
  s->id = nextId_++;
  s->device = d;
  s->driverFd = sv[1];
  s->inode = st.st_ino;
  int rc = d->onOpen(*s);
  if (rc < 0) {
    ::close(sv[0]);
    ::close(sv[1]);
    errno = -rc;
    return -1;
  }
  byInode_[s->inode] = s->id;
  watch(s->driverFd, true);
  sessions_[s->id] = std::move(s);
  return sv[0];
}

Session* Board::sessionOf(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) < 0) return nullptr;
  auto it = byInode_.find(st.st_ino);
  if (it == byInode_.end()) return nullptr;
  auto s = sessions_.find(it->second);
  if (s == sessions_.end()) return nullptr;
  // A descriptor whose pair we have already let go of is not ours any more.
  pollfd p{s->second->driverFd, 0, 0};
  if (::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP)) {
    drain(*s->second);
    closeSession(it->second);
    return nullptr;
  }
  return s->second.get();
}

Session* Board::sessionByChannel(const std::string& path, int channel) {
  for (auto& [id, s] : sessions_)
    if (s->device->path() == path && s->channel == channel) return s.get();
  return nullptr;
}

std::vector<Session*> Board::sessions(const std::string& path) {
  std::vector<Session*> v;
  for (auto& [id, s] : sessions_)
    if (path.empty() || s->device->path() == path) v.push_back(s.get());
  return v;
}

bool Board::deliver(Session& s, const Bytes& record) {
  ssize_t n = ::send(s.driverFd, record.data(), record.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
  if (n < 0) {
    ++s.rxDropped;
    return false;
  }
  ++s.rxFrames;
  return true;
}

void Board::endSession(Session& s) { closeSession(s.id); }

void Board::failRead(Session& s, int err) {
  s.readError = err;
  // A marker record makes the descriptor readable; read() swallows it.
  uint8_t marker = 0;
  ::send(s.driverFd, &marker, 1, MSG_DONTWAIT | MSG_NOSIGNAL);
}

void Board::hold(Session& s, bool on) {
  s.held = on;
  watch(s.driverFd, !on);
  if (!on) drain(s);
}

void Board::reap() {
  std::vector<int> gone;
  for (auto& [id, s] : sessions_) {
    pollfd p{s->driverFd, 0, 0};
    if (::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP)) gone.push_back(id);
  }
  for (int id : gone) closeSession(id);
}

void Board::closeSession(int id) {
  auto it = sessions_.find(id);
  if (it == sessions_.end()) return;
  std::unique_ptr<Session> s = std::move(it->second);
  sessions_.erase(it);
  byInode_.erase(s->inode);
  s->device->onClose(*s);
  watch(s->driverFd, false);
  ::close(s->driverFd);
}

void Board::drain(Session& s) {
  const int id = s.id;
  std::vector<uint8_t> buf(kMaxRecord);
  for (;;) {
    ssize_t n = ::recv(s.driverFd, buf.data(), buf.size(), MSG_DONTWAIT);
    if (n <= 0) break;
    ++s.txFrames;
    s.device->onWrite(s, Bytes(buf.begin(), buf.begin() + n));
    // The device may have ended the session while handling the record.
    if (!sessions_.count(id)) return;
  }
}

// ---- Board: requests -------------------------------------------------------

std::string Board::LogEntry::text() const {
  std::ostringstream o;
  o << device << " 0x" << std::hex << std::setw(8) << std::setfill('0') << request << std::dec;
  if (byValue) {
    o << " =" << value;
  } else if (!in.empty() && in.size() % 4 == 0) {
    for (std::size_t i = 0; i < in.size(); i += 4) o << ' ' << int32_t(::Board::getBE32(&in[i]));
  } else if (!in.empty()) {
    o << " " << hex(in);
  }
  o << " -> " << result;
  if (result < 0) o << " " << std::strerror(err);
  return o.str();
}

std::vector<int32_t> Board::firstWords(const std::string& path, uint32_t request) const {
  std::vector<int32_t> v;
  for (const auto& e : log_)
    if (e.device == path && e.request == request && e.in.size() >= 4)
      v.push_back(int32_t(::Board::getBE32(e.in.data())));
  return v;
}

void Board::record(Session& s, const Request& r, const Bytes& in, int result, int err) {
  LogEntry e;
  e.device = s.device->path();
  e.request = r.code;
  e.in = in;
  e.byValue = r.byValue;
  e.value = r.value;
  e.result = result;
  e.err = err;
  log_.push_back(std::move(e));
  while (log_.size() > kLogLimit) log_.pop_front();
}

int Board::request(int fd, Request& r) {
  struct stat st {};
  if (::fstat(fd, &st) < 0) return -1;  // EBADF
  Session* s = sessionOf(fd);
  if (!s) {
    errno = ENOTTY;
    return -1;
  }
  Bytes in;
  if (r.record) in.assign(r.record, r.record + r.size);
  for (auto it = failures_.begin(); it != failures_.end(); ++it) {
    if (it->path == s->device->path() && (it->request == 0 || it->request == r.code)) {
      int err = it->err;
      if (--it->count <= 0) failures_.erase(it);
      record(*s, r, in, -1, err);
      errno = err;
      return -1;
    }
  }
  int rc = s->device->onIoctl(*s, r);
  if (rc < 0) {
    record(*s, r, in, -1, -rc);
    errno = -rc;
    return -1;
  }
  record(*s, r, in, rc, 0);
  return rc;
}

int Board::ioctl(int fd, uint32_t code, void* rec) {
  Request r;
  r.code = code;
  r.size = rec ? ::Board::requestSize(code) : 0;
  r.record = static_cast<uint8_t*>(rec);
  return request(fd, r);
}

int Board::ioctlValue(int fd, uint32_t code, unsigned long value) {
  Request r;
  r.code = code;
  r.byValue = true;
  r.value = value;
  return request(fd, r);
}

ssize_t Board::read(int fd, void* buf, size_t len) {
  Session* s = sessionOf(fd);
  if (s && s->readError) {
    uint8_t marker;
    ::recv(fd, &marker, 1, MSG_DONTWAIT);
    errno = s->readError;
    s->readError = 0;
    return -1;
  }
  return ::read(fd, buf, len);
}

ssize_t Board::write(int fd, const void* buf, size_t len) { return ::write(fd, buf, len); }

// ---- Board: serving --------------------------------------------------------

void Board::pump() {
  // Records the daemon wrote, and sessions it closed.
  std::vector<int> ids;
  for (auto& [id, s] : sessions_) ids.push_back(id);
  for (int id : ids) {
    auto it = sessions_.find(id);
    if (it == sessions_.end()) continue;
    Session& s = *it->second;
    pollfd p{s.driverFd, POLLIN, 0};
    if (::poll(&p, 1, 0) != 1) continue;
    if (!s.held) drain(s);
    if (!sessions_.count(id)) continue;
    if (p.revents & (POLLHUP | POLLERR)) {
      // Read what is left even when held: the daemon is gone.
      drain(s);
      closeSession(id);
    }
  }
  serveControl();
}

}  // namespace Sim
