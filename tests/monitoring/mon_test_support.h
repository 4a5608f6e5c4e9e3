#pragma once
// Helpers shared by the monitoring tests: display data and snmp-set commands
// as a controller sends them, and a test SNMP agent.
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "asn1/coder.h"
#include "messages/LGCP.h"
#include "messages/MON.h"
#include "runtime/config/inifile.h"
#include "support/loopback.h"

namespace montest {

typedef std::vector<unsigned char> Bytes;
using Texts = std::vector<std::string>;

inline std::vector<char> V(const std::string& s) { return std::vector<char>(s.begin(), s.end()); }

// Bytes as hexadecimal text, "30 82 00 18"; Rep("61", 3) is "61 61 61".
inline std::string Hex(const unsigned char* p, std::size_t n) {
  static const char d[] = "0123456789ABCDEF";
  std::string s;
  for (std::size_t i = 0; i < n; ++i) s += std::string(i ? " " : "") + d[p[i] >> 4] + d[p[i] & 15];
  return s;
}
inline std::string Rep(const std::string& byte, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += (i ? " " : "") + byte;
  return s;
}

// Phone id: versions p1 c2 f3, ready, main, sleep, connected, disconnected.
inline void Phone(LGCP::DisplayParams& d, int id) {
  auto& p = d.select_emPhone().select_phoneStatus();
  p.set_id(id), p.set_panelSV(V("p1")), p.set_ctrlSV(V("c2")), p.set_fpgaSV(V("f3"));
  p.set_status(LGCP::EmPhoneStatus::ready), p.set_powerStatus(LGCP::POWERStatus::main);
  p.set_mode(LGCP::EmPhoneMode::sleep), p.set_hookStatus(LGCP::EmPhoneConnectionStatus::connected);
  p.set_baseStatus(LGCP::EmPhoneConnectionStatus::disconnected);
}

// Board at position: version b7, ready, ffe.
inline void Board(LGCP::DisplayParams& d, int position) {
  auto& b = d.select_board().select_boardStatus();
  b.set_position(position), b.set_version(V("b7"));
  b.set_status(LGCP::ExtBoardStatus::ready), b.set_type(LGCP::ExtBoardType::ffe);
}

// A counter; id < 0 leaves ownerId out.
inline void Counter(LGCP::DisplayParams& d, int owner, int id, int cnt) {
  auto& c = d.select_termCounter();
  c.set_owner(LGCP::TermCounterOwner::NamedNumber(owner));
  if (id >= 0) c.set_ownerId(id);
  c.set_cnt(cnt);
}

inline void Controller(LGCP::DisplayParams& d, const std::string& host, HSP::ControllerStatus::NamedNumber s,
                       int port = 0) {
  auto& c = d.select_controller();
  c.set_host().set_iaddr(host);
  c.set_host().set_port(port);
  c.set_status(s);
}

inline MON::SnmpSetCommand Named(const std::string& sec, int index, const std::string& name,
                                 const std::string& value = "v", int uniq = 7) {
  MON::SnmpSetCommand c;
  c.set_uniq(uniq);
  auto& n = c.set_id().select_name();
  n.set_section(sec), n.set_index(index), n.set_name(name);
  c.set_value(value);
  return c;
}

// A configuration file of one "[snmpagent]" section per host/name pair.
inline std::unique_ptr<IniFile::File> Config(const std::vector<std::pair<std::string, std::string>>& agents) {
  char name[] = "/tmp/tsd-mon-conf-XXXXXX";
  ::close(::mkstemp(name));
  std::ofstream out(name);
  for (const auto& a : agents) out << "[snmpagent]\nhost = " << a.first << "\nname = " << a.second << "\n";
  out.close();
  auto f = std::make_unique<IniFile::File>();
  f->Open(name);
  ::unlink(name);
  return f;
}

// An snmp-set command as "section/name/index=value" (by oid: "oid=value").
inline std::string Text(const MON::SnmpSetCommand& c) {
  if (!c.get_id().name_isSelected()) return std::string(c.get_id().get_oid()) + "=" + std::string(c.get_value());
  const MON::IniName& n = c.get_id().get_name();
  return std::string(n.get_section()) + "/" + std::string(n.get_name()) + "/" +
         std::to_string(n.get_index().getValue()) + "=" + std::string(c.get_value());
}

// The snmp-set commands given by name in a message, as texts.
inline Texts SetTexts(const MON::Message& m) {
  Texts out;
  if (m.get_pdu().currentSelection() != 0 || !m.get_pdu().get_command().snmp_set_isSelected()) return out;
  for (const MON::SnmpSetCommand& c : m.get_pdu().get_command().get_snmp_set().get_commands())
    if (c.get_id().name_isSelected()) out.push_back(Text(c));
  return out;
}

// Messages as lines: "ping", "sinks 10.0.0.1 10.0.0.2:162", or "set" with
// the uniq and text of each command, "set 2 a/b/0=v 3 c/d/1=w".
inline Texts Lines(const std::vector<MON::Message>& ms) {
  Texts out;
  for (const MON::Message& m : ms) {
    const MON::Command& c = m.get_pdu().get_command();
    std::string s = c.snmp_set_isSelected() ? "set" : c.snmp_trapsink_set_isSelected() ? "sinks" : "ping";
    if (c.snmp_trapsink_set_isSelected())
      for (const auto& t : c.get_snmp_trapsink_set().get_trapsinks())
        s += " " + std::string(t.get_host()) +
             (t.port_isPresent() ? ":" + std::to_string(t.get_port().getValue()) : std::string());
    if (c.snmp_set_isSelected())
      for (const auto& x : c.get_snmp_set().get_commands())
        s += " " + std::to_string(x.get_uniq().getValue()) + " " + Text(x);
    out.push_back(s);
  }
  return out;
}

inline bool IsPing(const MON::Message& m) {
  return m.get_pdu().currentSelection() == 0 && m.get_pdu().get_command().currentSelection() == 3;
}

inline Bytes Encode(const MON::Message& m) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  std::vector<char> out;
  env.encodePERBytes(m, out);
  return Bytes(out.begin(), out.end());
}

// A test SNMP agent: a loopback TCP server that takes the daemon's link and
// decodes each TPKT frame as a PER MON::Message. Every call is non-blocking,
// so it serves an in-process loop and the real daemon alike.
class AgentServer {
 public:
  AgentServer() : listen_(looptest::listenLoopback(port_, 4, SOCK_CLOEXEC | SOCK_NONBLOCK)) {}
  ~AgentServer() { Drop(), ::close(listen_); }
  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
  bool connected() const { return conn_ >= 0; }
  int accepted() const { return accepted_; }
  int bad() const { return bad_; }

  // Takes a pending connection (replacing the current one).
  bool TryAccept() {
    int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return false;
    Drop();
    conn_ = fd, eof_ = false, ++accepted_;
    return true;
  }
  void Drop() {
    if (conn_ >= 0) ::close(conn_);
    conn_ = -1, in_.clear();
  }
  // True once the daemon closed the connection.
  bool Eof() { return Pull(), eof_; }
  // Takes and decodes the next complete frame; undecodable ones count as bad.
  bool TakeMessage(MON::Message& m) {
    for (Pull(); in_.size() >= 4;) {
      unsigned len = (unsigned(in_[2]) << 8) | in_[3];
      if (len < 4 || in_.size() < len) return false;
      std::vector<char> p(in_.begin() + 4, in_.begin() + len);
      in_.erase(in_.begin(), in_.begin() + len);
      ASN1::CoderEnv env;
      env.set_encodingRule(ASN1::CoderEnv::per);
      if (ASN1::decode(p.data(), p.data() + p.size(), &env, m, true)) return true;
      ++bad_;
    }
    return false;
  }

 private:
  void Pull() {
    unsigned char buf[65536];
    ssize_t r = 0;
    while (conn_ >= 0 && (r = ::recv(conn_, buf, sizeof buf, MSG_DONTWAIT)) > 0) in_.insert(in_.end(), buf, buf + r);
    if (conn_ >= 0 && (r == 0 || (errno != EAGAIN && errno != EINTR))) eof_ = true;
  }
  unsigned short port_ = 0;
  int listen_, conn_ = -1, accepted_ = 0, bad_ = 0;
  bool eof_ = false;
  Bytes in_;
};

}  // namespace montest
