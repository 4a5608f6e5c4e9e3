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

constexpr std::size_t kLogBytesPerRecord = 32;  // room for the argument bytes
constexpr std::size_t kLogMinBytes = 16384;      // beyond the largest record (8191)
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
  // The refresh disables outputs that are mostly disabled already.
  if (auto x = xpoint_.find(output); x != xpoint_.end()) xpoint_.erase(x);
  if (auto c = constant_.find(output); c != constant_.end()) constant_.erase(c);
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
    SetFdWatcher(b);
    if (const char* n = std::getenv("TESSAROD_SIM_LOG")) b->setLogCapacity(std::strtoul(n, nullptr, 10));
    b->startControl();
    attachToLoop(*b);
    // The socket goes with the process (the board itself outlives exit).
    std::atexit([] { instance().stopControl(); });
    return b;
  }();
  return *board;
}

Board::Board() {
  setLogCapacity(kDefaultLogRecords);
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
  if (const Device* d = device(path)) failures_.push_back({d, request, err, count});
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
  clearLog();
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
  bindFd(sv[0], s.get());
  sessions_[s->id] = std::move(s);
  return sv[0];
}

void Board::bindFd(int fd, Session* s) {
  if (fd < 0) return;
  if (std::size_t(fd) >= byFd_.size()) {
    if (!s) return;
    byFd_.resize(std::size_t(fd) + 1 + byFd_.size() / 2, nullptr);
  }
  byFd_[std::size_t(fd)] = s;
}

void Board::duplicated(int from, int to) {
  bindFd(to, from >= 0 && std::size_t(from) < byFd_.size() ? byFd_[std::size_t(from)] : nullptr);
}

void Board::closing(int fd) { bindFd(fd, nullptr); }

int Board::close(int fd) {
  closing(fd);
  return ::close(fd);
}

Session* Board::sessionOf(int fd) {
  if (fd >= 0 && std::size_t(fd) < byFd_.size() && byFd_[std::size_t(fd)]) return byFd_[std::size_t(fd)];
  // A copy the table has not seen (made without an Fd), or not ours: ask the
  // kernel which socket it is, once.
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) < 0) return nullptr;
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
  bindFd(fd, s->second.get());
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
  for (Session*& b : byFd_)
    if (b == s.get()) b = nullptr;
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
  for (std::size_t i = 0; i < logCount_; ++i) {
    const LogRecord& r = logAt(i);
    if (r.request != request || r.size < 4 || r.device->path() != path) continue;
    uint8_t w[4] = {logByte(r.at), logByte(r.at + 1), logByte(r.at + 2), logByte(r.at + 3)};
    v.push_back(int32_t(::Board::getBE32(w)));
  }
  return v;
}

void Board::setLogCapacity(std::size_t records) {
  auto pow2 = [](std::size_t n) {
    std::size_t p = 1;
    while (p < n) p <<= 1;
    return p;
  };
  records = pow2(std::min<std::size_t>(std::max<std::size_t>(records, 1), std::size_t(1) << 24));
  logRecords_.assign(records, LogRecord{});
  logBytes_.assign(pow2(std::max(kLogMinBytes, records * kLogBytesPerRecord)), 0);
  logRecords_.shrink_to_fit();
  logBytes_.shrink_to_fit();
  logEnd_ = 0;
  clearLog();
}

uint64_t Board::logBytes(const uint8_t* p, std::size_t n) {
  const uint64_t at = logEnd_;
  const std::size_t cap = logBytes_.size(), off = std::size_t(at) & (cap - 1), first = std::min(n, cap - off);
  if (first) std::memcpy(&logBytes_[off], p, first);
  if (n > first) std::memcpy(&logBytes_[0], p + first, n - first);
  logEnd_ += n;
  return at;
}

void Board::logRecord(const LogRecord& r) {
  // The oldest go when the ring is full or their bytes have been written over.
  const std::size_t n = logRecords_.size();
  while (logCount_ && (logCount_ == n || logAt(0).at + logBytes_.size() < logEnd_)) {
    logFirst_ = (logFirst_ + 1) & (n - 1);
    --logCount_;
  }
  logRecords_[(logFirst_ + logCount_) & (n - 1)] = r;
  ++logCount_;
}

Board::LogEntry Board::entry(const LogRecord& r) const {
  LogEntry e;
  e.device = r.device->path();
  e.request = r.request;
  for (std::size_t i = 0; i < r.size; ++i) e.in.push_back(logByte(r.at + i));
  e.byValue = r.byValue;
  e.value = static_cast<unsigned long>(r.value);
  e.result = r.result;
  e.err = r.err;
  return e;
}

std::vector<Board::LogEntry> Board::log() const {
  std::vector<LogEntry> v;
  v.reserve(logCount_);
  for (std::size_t i = 0; i < logCount_; ++i) v.push_back(entry(logAt(i)));
  return v;
}

int Board::request(int fd, Request& r) {
  Session* s = sessionOf(fd);
  if (!s) {
    errno = fd < 0 || ::fcntl(fd, F_GETFD) < 0 ? EBADF : ENOTTY;
    return -1;
  }
  // The record as it came in, before the device answers into it.
  LogRecord rec{s->device, 0, r.value, r.code, 0, 0, 0, r.byValue};
  if (r.record && r.size) {
    rec.size = uint16_t(std::min<std::size_t>(r.size, 0xFFFF));
    rec.at = logBytes(r.record, rec.size);
  } else {
    rec.at = logEnd_;
  }
  int rc = 0;
  for (auto it = failures_.begin(); it != failures_.end(); ++it) {
    if (it->device == s->device && (it->request == 0 || it->request == r.code)) {
      rc = -it->err;
      if (--it->count <= 0) failures_.erase(it);
      break;
    }
  }
  if (rc == 0) rc = s->device->onIoctl(*s, r);
  rec.result = rc < 0 ? -1 : rc;
  rec.err = uint16_t(rc < 0 ? -rc : 0);
  logRecord(rec);
  if (rc < 0) {
    errno = -rc;
    return -1;
  }
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
