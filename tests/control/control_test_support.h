#pragma once
// Helpers of the control tests: run the event loop until a condition holds
// (with a real-time limit), loopback TCP clients, TPKT framing and stream
// capture.
#include <arpa/inet.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "control/lgcp_codec.h"
#include "runtime/loop/multiplexer.h"
#include "runtime/loop/timer.h"
#include "runtime/os/clock.h"
#include "runtime/test_loop_support.h"

namespace ctltest {

typedef std::vector<unsigned char> Bytes;

// Redirects a standard stream into a string while alive.
class Capture {
 public:
  explicit Capture(std::ostream& os) : os_(os), old_(os.rdbuf(buf_.rdbuf())) {}
  ~Capture() { os_.rdbuf(old_); }
  std::string text() const { return buf_.str(); }
  size_t count(const std::string& needle) const {
    std::string t = text();
    size_t n = 0;
    for (size_t p = t.find(needle); p != std::string::npos; p = t.find(needle, p + 1)) ++n;
    return n;
  }

 private:
  std::ostream& os_;
  std::ostringstream buf_;
  std::streambuf* old_;
};

// Runs the loop in short passes until cond() holds or the real-time limit
// passes; returns whether cond() held. cond() may consume what it tests.
class Loop {
 public:
  bool RunUntil(const std::function<bool()>& cond, unsigned int limit_ms = 30000) {
    if (cond()) return true;
    cond_ = cond;
    met_ = false;
    deadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
    tick_.set(1, &Loop::OnTick, this);
    multiplexer.run(false, true);
    tick_.reset();
    return met_;
  }
  void RunFor(unsigned int ms) { RunUntil([] { return false; }, ms); }

 private:
  void OnTick() {
    met_ = cond_();
    if (met_ || std::chrono::steady_clock::now() >= deadline_) return stopper_.stop();
    tick_.set(1, &Loop::OnTick, this);
  }
  LoopStopper stopper_;
  std::function<bool()> cond_;
  bool met_ = false;
  std::chrono::steady_clock::time_point deadline_;
  Timer tick_;
};

// Bytes from hex text ("80 01 01 18"; spaces optional).
inline Bytes H(const std::string& hex) {
  Bytes b;
  for (size_t i = 0; i < hex.size(); ++i)
    if (hex[i] != ' ') b.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i++, 2), nullptr, 16)));
  return b;
}

inline Bytes Tpkt(const Bytes& payload) {
  size_t len = payload.size() + 4;
  Bytes f = {0x03, 0x00, static_cast<unsigned char>(len >> 8), static_cast<unsigned char>(len & 0xFF)};
  f.insert(f.end(), payload.begin(), payload.end());
  return f;
}

// The payloads as one stream of TPKT frames.
inline Bytes Frames(const std::vector<Bytes>& payloads) {
  Bytes all;
  for (const Bytes& p : payloads) {
    Bytes f = Tpkt(p);
    all.insert(all.end(), f.begin(), f.end());
  }
  return all;
}

inline std::string Hex(const Bytes& b) {
  std::string s;
  char two[4];
  for (size_t i = 0; i < b.size(); ++i) {
    std::snprintf(two, sizeof two, "%02X", b[i]);
    s += (i ? " " : "") + std::string(two);
  }
  return s;
}

inline Bytes Encode(const LGCP::Message& m) {
  std::vector<char> out;
  LgcpCodec::Encode(m, out);
  return Bytes(out.begin(), out.end());
}

inline bool Decode(const Bytes& b, LGCP::Message& m) {
  return LgcpCodec::Decode(reinterpret_cast<const char*>(b.data()), reinterpret_cast<const char*>(b.data() + b.size()), m);
}

inline LGCP::Message Decode(const Bytes& b) {
  LGCP::Message m;
  Decode(b, m);
  return m;
}

// Resident memory (kB) and open descriptors of a process.
inline long RssKb(int pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/status");
  std::string s((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  size_t p = s.find("VmRSS:");
  return p == std::string::npos ? -1 : std::atol(s.c_str() + p + 6);
}
inline int FdCount(int pid) {
  int n = 0;
  if (DIR* d = ::opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
    while (dirent* e = ::readdir(d)) n += e->d_name[0] != '.';
    ::closedir(d);
  }
  return n;
}

// A link user that counts what it hears.
template <class Notify>
class Recorder : public Notify {
 public:
  void OnConnect() override { ++connects; }
  void OnDisconnect() override { ++disconnects; }
  void OnMessage(const char* d, int n) override { messages.push_back(Bytes(d, d + n)); }
  int connects = 0;
  int disconnects = 0;
  std::vector<Bytes> messages;
};

// A blocking TCP client on 127.0.0.1; reads are non-blocking.
class Client {
 public:
  Client() = default;
  explicit Client(unsigned short port) { Connect(port); }
  ~Client() { Close(); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool Connect(unsigned short port) {
    Close();
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (rcvbuf > 0) ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    eof_ = false;
    return ::connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
  }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    in_.clear();
  }
  // Closes with a reset (SO_LINGER 0).
  void Reset() {
    linger l{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    Close();
  }
  int fd() const { return fd_; }
  bool Send(const Bytes& b) {
    ssize_t r = 0;
    for (size_t done = 0; done < b.size(); done += r > 0 ? size_t(r) : 0)
      if ((r = ::send(fd_, b.data() + done, b.size() - done, MSG_NOSIGNAL)) < 0 && errno != EINTR) return false;
    return true;
  }
  bool SendFrame(const Bytes& payload) { return Send(Tpkt(payload)); }
  // Pulls whatever is readable into the input buffer; notes EOF and resets.
  void Poll() {
    unsigned char buf[65536];
    ssize_t r;
    while ((r = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT)) > 0) in_.insert(in_.end(), buf, buf + r);
    if (r == 0 || (errno != EAGAIN && errno != EINTR)) eof_ = true;
  }
  bool eof() { return Poll(), eof_; }
  size_t available() { return Poll(), in_.size(); }
  // Takes one complete TPKT frame's payload from the input; false if none.
  bool TakeFrame(Bytes& payload) {
    Poll();
    size_t len = in_.size() < 4 ? 0 : (size_t(in_[2]) << 8) | in_[3];
    if (in_.size() < 4 || in_.size() < len) return false;
    payload.assign(in_.begin() + 4, in_.begin() + len);
    in_.erase(in_.begin(), in_.begin() + len);
    return true;
  }
  Bytes& input() { return in_; }

  int rcvbuf = 0;  // receive buffer asked for before connecting (0: the system's)

 private:
  int fd_ = -1;
  bool eof_ = false;
  Bytes in_;
};

}  // namespace ctltest

#ifdef CTLTEST_SOCKET_FAKES
// Socket calls of this program, with what a test tells them to report: a
// full descriptor table on socket() or accept(), a TCP state, congestion state or
// pending error on getsockopt(), a socket that stays full on poll() for
// output, a send() that takes time; setsockopt() keepalive values are
// recorded; the switch to non-blocking mode fails, a connect() is made at once.
namespace fake {
int socket_errno = 0;
int nonblock_errno = 0;       // fcntl(F_SETFL) adding O_NONBLOCK fails with it
bool connect_at_once = false;  // a non-blocking connect() waits until it is made
int accept_errno = 0, accept_calls = 0;
int tcp_state = -1, ca_state = -1, tcp_info_calls = 0;
int so_error = 0;
std::vector<int> keepalive;  // SO_KEEPALIVE, TCP_KEEPIDLE, TCP_KEEPINTVL, TCP_KEEPCNT values set
bool poll_full = false;      // single-descriptor output waits are served below
std::vector<int> poll_ready;  // ms each wait takes before the socket is writable
std::vector<int> poll_waits;  // the time-outs asked for
int send_ms = 0;              // ms of the loop's clock each send() takes
}  // namespace fake

extern "C" ssize_t send(int fd, const void* buf, size_t n, int flags) {
  if (fake::send_ms) Mux::advanceClock(static_cast<unsigned int>(fake::send_ms));
  return static_cast<ssize_t>(::syscall(SYS_sendto, fd, buf, n, flags, nullptr, 0));
}

extern "C" int socket(int domain, int type, int protocol) {
  if (fake::socket_errno) {
    errno = fake::socket_errno;
    return -1;
  }
  return static_cast<int>(::syscall(SYS_socket, domain, type, protocol));
}

extern "C" int fcntl(int fd, int cmd, ...) {
  va_list ap;
  va_start(ap, cmd);
  long arg = va_arg(ap, long);
  va_end(ap);
  if (cmd == F_SETFL && (arg & O_NONBLOCK) && fake::nonblock_errno) return errno = fake::nonblock_errno, -1;
  return static_cast<int>(::syscall(SYS_fcntl, fd, cmd, arg));
}

extern "C" int connect(int fd, const sockaddr* addr, socklen_t len) {
  int r = static_cast<int>(::syscall(SYS_connect, fd, addr, len));
  pollfd p{fd, POLLOUT, 0};
  timespec ts{10, 0};
  return r && errno == EINPROGRESS && fake::connect_at_once && ::ppoll(&p, 1, &ts, nullptr) == 1 ? 0 : r;
}

extern "C" int accept(int fd, sockaddr* addr, socklen_t* len) {
  ++fake::accept_calls;
  if (fake::accept_errno) {
    errno = fake::accept_errno;
    return -1;
  }
  return static_cast<int>(::syscall(SYS_accept4, fd, addr, len, 0));
}

extern "C" int getsockopt(int fd, int level, int opt, void* v, socklen_t* l) {
  int r = static_cast<int>(::syscall(SYS_getsockopt, fd, level, opt, v, l));
  if (level == IPPROTO_TCP && opt == TCP_INFO) {
    ++fake::tcp_info_calls;
    if (r == 0 && fake::tcp_state >= 0) static_cast<unsigned char*>(v)[0] = static_cast<unsigned char>(fake::tcp_state);
    if (r == 0 && fake::ca_state >= 0) static_cast<unsigned char*>(v)[1] = static_cast<unsigned char>(fake::ca_state);
  }
  if (level == SOL_SOCKET && opt == SO_ERROR && fake::so_error) *static_cast<int*>(v) = fake::so_error;
  return r;
}

extern "C" int setsockopt(int fd, int level, int opt, const void* v, socklen_t l) {
  if ((level == SOL_SOCKET && opt == SO_KEEPALIVE) ||
      (level == IPPROTO_TCP && (opt == TCP_KEEPIDLE || opt == TCP_KEEPINTVL || opt == TCP_KEEPCNT)))
    fake::keepalive.push_back(*static_cast<const int*>(v));
  return static_cast<int>(::syscall(SYS_setsockopt, fd, level, opt, v, l));
}

#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
extern "C" int poll(pollfd* fds, nfds_t n, int timeout) {
  if (fake::poll_full && n == 1 && fds[0].events == POLLOUT) {
    fake::poll_waits.push_back(timeout);
    int took = timeout;
    if (!fake::poll_ready.empty()) {
      took = fake::poll_ready.front();
      fake::poll_ready.erase(fake::poll_ready.begin());
    }
    Mux::advanceClock(static_cast<unsigned int>(took < timeout ? took : timeout));
    fds[0].revents = took < timeout ? POLLOUT : 0;
    return took < timeout ? 1 : 0;
  }
  timespec ts{timeout / 1000, (timeout % 1000) * 1000000L};
  return ::ppoll(fds, n, timeout < 0 ? nullptr : &ts, nullptr);
}
#endif
