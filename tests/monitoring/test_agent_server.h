#pragma once
// A test SNMP agent: a TCP server on the loopback address that takes the
// daemon's link, cuts the byte stream into TPKT frames and decodes each
// payload as a PER-encoded MON::Message. Every call is non-blocking, so it
// serves both an in-process event loop (called from its conditions) and the
// real daemon (with the waiting helpers).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "asn1/coder.h"
#include "messages/MON.h"

namespace agenttest {

typedef std::vector<unsigned char> Bytes;

class AgentServer {
 public:
  AgentServer() {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    int one = 1;
    ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listen_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    ::listen(listen_, 4);
    socklen_t len = sizeof sa;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&sa), &len);
    port_ = ntohs(sa.sin_port);
  }
  ~AgentServer() {
    Drop();
    if (listen_ >= 0) ::close(listen_);
  }
  AgentServer(const AgentServer&) = delete;
  AgentServer& operator=(const AgentServer&) = delete;

  unsigned short port() const { return port_; }
  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
  bool connected() const { return conn_ >= 0; }
  int accepted() const { return accepted_; }

  // Takes a pending connection (replacing the current one).
  bool TryAccept() {
    int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return false;
    Drop();
    conn_ = fd;
    eof_ = false;
    ++accepted_;
    return true;
  }
  void Drop() {
    if (conn_ >= 0) ::close(conn_);
    conn_ = -1;
    in_.clear();
  }

  // Reads what is there; true once the daemon closed the connection.
  bool Eof() {
    Pull();
    return eof_;
  }

  // Takes the next complete frame's payload.
  bool TakeFrame(Bytes& payload) {
    Pull();
    if (in_.size() < 4) return false;
    unsigned len = (unsigned(in_[2]) << 8) | in_[3];
    if (len < 4 || in_.size() < len) return false;
    frames_.push_back(Bytes(in_.begin(), in_.begin() + 4));
    payload.assign(in_.begin() + 4, in_.begin() + len);
    in_.erase(in_.begin(), in_.begin() + len);
    return true;
  }
  // Takes and decodes the next message; undecodable payloads count as bad.
  bool TakeMessage(MON::Message& m) {
    Bytes p;
    while (TakeFrame(p)) {
      if (Decode(p, m)) return true;
      ++bad_;
    }
    return false;
  }
  int bad() const { return bad_; }
  // TPKT headers of every frame taken, in order.
  const std::deque<Bytes>& headers() const { return frames_; }

  bool SendPayload(const Bytes& payload) {
    Bytes f = {3, 0, static_cast<unsigned char>((payload.size() + 4) >> 8),
               static_cast<unsigned char>((payload.size() + 4) & 0xFF)};
    f.insert(f.end(), payload.begin(), payload.end());
    return ::send(conn_, f.data(), f.size(), MSG_NOSIGNAL) == ssize_t(f.size());
  }
  bool SendMessage(const MON::Message& m) { return SendPayload(Encode(m)); }

  static Bytes Encode(const MON::Message& m) {
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per);
    std::vector<char> out;
    env.encodePERBytes(m, out);
    return Bytes(out.begin(), out.end());
  }
  static bool Decode(const Bytes& p, MON::Message& m) {
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per);
    const char* b = reinterpret_cast<const char*>(p.data());
    return ASN1::decode(b, b + p.size(), &env, m, true);
  }

 private:
  void Pull() {
    if (conn_ < 0) return;
    unsigned char buf[65536];
    for (;;) {
      ssize_t r = ::recv(conn_, buf, sizeof buf, MSG_DONTWAIT);
      if (r > 0) {
        in_.insert(in_.end(), buf, buf + r);
        continue;
      }
      if (r == 0 || (errno != EAGAIN && errno != EINTR)) eof_ = true;
      return;
    }
  }

  int listen_ = -1;
  int conn_ = -1;
  unsigned short port_ = 0;
  bool eof_ = false;
  int accepted_ = 0;
  int bad_ = 0;
  Bytes in_;
  std::deque<Bytes> frames_;
};

// Waits in real time (for the daemon in another process).
inline bool WaitUntil(const std::function<bool()>& cond, int ms = 10000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!cond()) {
    if (std::chrono::steady_clock::now() > end) return false;
    ::poll(nullptr, 0, 5);
  }
  return true;
}

// The snmp-set commands of a message as "section/name/index=value" texts.
inline std::vector<std::string> SetTexts(const MON::Message& m) {
  std::vector<std::string> out;
  if (m.get_pdu().currentSelection() != 0 || !m.get_pdu().get_command().snmp_set_isSelected()) return out;
  for (const MON::SnmpSetCommand& c : m.get_pdu().get_command().get_snmp_set().get_commands()) {
    if (!c.get_id().name_isSelected()) continue;
    const MON::IniName& n = c.get_id().get_name();
    out.push_back(std::string(n.get_section()) + "/" + std::string(n.get_name()) + "/" +
                  std::to_string(n.get_index().getValue()) + "=" + std::string(c.get_value()));
  }
  return out;
}

inline bool IsPing(const MON::Message& m) {
  return m.get_pdu().currentSelection() == 0 && m.get_pdu().get_command().currentSelection() == 3;
}

}  // namespace agenttest
