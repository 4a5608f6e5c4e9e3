#pragma once
// Display data and snmp-set commands as the monitoring tests send them.
#include <string>
#include <vector>

#include "messages/LGCP.h"
#include "messages/MON.h"

namespace montest {

inline std::vector<char> V(const std::string& s) { return std::vector<char>(s.begin(), s.end()); }

// Phone id: versions p1 c2 f3, ready, main, sleep, connected, disconnected.
inline void Phone(LGCP::DisplayParams& d, int id) {
  auto& p = d.select_emPhone().select_phoneStatus();
  p.set_id(id);
  p.set_panelSV(V("p1"));
  p.set_ctrlSV(V("c2"));
  p.set_fpgaSV(V("f3"));
  p.set_status(LGCP::EmPhoneStatus::ready);
  p.set_powerStatus(LGCP::POWERStatus::main);
  p.set_mode(LGCP::EmPhoneMode::sleep);
  p.set_hookStatus(LGCP::EmPhoneConnectionStatus::connected);
  p.set_baseStatus(LGCP::EmPhoneConnectionStatus::disconnected);
}

// Board at position: version b7, ready, ffe.
inline void Board(LGCP::DisplayParams& d, int position) {
  auto& b = d.select_board().select_boardStatus();
  b.set_position(position);
  b.set_version(V("b7"));
  b.set_status(LGCP::ExtBoardStatus::ready);
  b.set_type(LGCP::ExtBoardType::ffe);
}

// A counter; id < 0 leaves ownerId out.
inline void Counter(LGCP::DisplayParams& d, int owner, int id, int cnt) {
  auto& c = d.select_termCounter();
  c.set_owner(LGCP::TermCounterOwner::NamedNumber(owner));
  if (id >= 0) c.set_ownerId(id);
  c.set_cnt(cnt);
}

inline MON::SnmpSetCommand Named(const std::string& sec, int index, const std::string& name,
                                 const std::string& value = "v", int uniq = 7) {
  MON::SnmpSetCommand c;
  c.set_uniq(uniq);
  auto& n = c.set_id().select_name();
  n.set_section(sec);
  n.set_index(index);
  n.set_name(name);
  c.set_value(value);
  return c;
}

}  // namespace montest
