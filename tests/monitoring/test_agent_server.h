#pragma once
// A test SNMP agent: a loopback TCP server that takes the daemon's link,
// cuts the byte stream into TPKT frames and decodes each payload as a
// PER-encoded MON::Message. Every call is non-blocking, so it serves both an
// in-process event loop (called from its conditions) and the real daemon.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
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
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    ::bind(listen_, reinterpret_cast<sockaddr*>(&sa), len);
    ::listen(listen_, 4);
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&sa), &len);
    host_ = "127.0.0.1:" + std::to_string(ntohs(sa.sin_port));
  }
  ~AgentServer() {
    Drop();
    ::close(listen_);
  }

  const std::string& host() const { return host_; }
  bool connected() const { return conn_ >= 0; }
  int accepted() const { return accepted_; }
  int bad() const { return bad_; }

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
  // True once the daemon closed the connection.
  bool Eof() {
    Pull();
    return eof_;
  }
  // Takes and decodes the next complete frame; undecodable ones count as bad.
  bool TakeMessage(MON::Message& m) {
    for (Pull(); in_.size() >= 4;) {
      unsigned len = (unsigned(in_[2]) << 8) | in_[3];
      if (len < 4 || in_.size() < len) return false;
      Bytes payload(in_.begin() + 4, in_.begin() + len);
      in_.erase(in_.begin(), in_.begin() + len);
      if (Decode(payload, m)) return true;
      ++bad_;
    }
    return false;
  }
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
    unsigned char buf[65536];
    ssize_t r;
    while (conn_ >= 0 && (r = ::recv(conn_, buf, sizeof buf, MSG_DONTWAIT)) > 0) in_.insert(in_.end(), buf, buf + r);
    if (conn_ >= 0 && (r == 0 || (errno != EAGAIN && errno != EINTR))) eof_ = true;
  }

  int listen_ = -1, conn_ = -1, accepted_ = 0, bad_ = 0;
  bool eof_ = false;
  std::string host_;
  Bytes in_;
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
