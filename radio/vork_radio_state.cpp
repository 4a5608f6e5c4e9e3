#include "radio/vork_radio_state.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Caller id text from a packet's callerID area (zero-filled, at most 255
// characters, ends where the packet's bytes end).
void caller_id_from(const std::uint8_t* area, int length, char* caller_id) {
  std::memset(caller_id, 0, sizeof(VorkRadioState::caller_id));
  if (length > 255) length = 255;
  std::memcpy(caller_id, area, static_cast<size_t>(length));
}

// Caller id into a packet's 256-byte area; the length is the text's.
void caller_id_to(const char* caller_id, std::uint8_t* area, std::uint8_t& length) {
  std::memset(area, 0, SIG_PROTO_CALLER_ID_SIZE);
  const size_t n = strnlen(caller_id, 255);
  std::memcpy(area, caller_id, n);
  length = static_cast<std::uint8_t>(n);
}

void caller_id_text(const std::string& text, char* caller_id) {
  std::memset(caller_id, 0, sizeof(VorkRadioState::caller_id));
  std::memcpy(caller_id, text.data(), text.size() < 255 ? text.size() : 255);
}

std::uint32_t addr_of(const sig_proto_payload& pl, bool sel_call) {
  return sel_call ? pl.wm_sel_call_trans.session_addr.s_addr : pl.wm_trans.session_addr.s_addr;
}

std::string dotted(std::uint32_t addr) {
  in_addr a;
  a.s_addr = addr;
  char text[INET_ADDRSTRLEN] = {0};
  inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}

std::string number_text(float v) {
  char text[256];
  std::snprintf(text, sizeof text, "%4.6f", static_cast<double>(v));
  return text;
}

void flags_from(const TERM::RadioFlags& f, VorkRadioState& s) {
  s.priority = f.get_prio().getValue();
  s.ptt = f.get_ptt() ? 1 : 0;
  s.bss = f.get_bss() ? 1 : 0;
  s.vad_rx = f.get_vad_rx() ? 1 : 0;
  s.vad_tx = f.get_vad_tx() ? 1 : 0;
  s.sql = f.get_sql() ? 1 : 0;
  s.sh = f.get_sh() ? 1 : 0;
  s.pwr = f.get_pwr() ? 1 : 0;
  s.rv = f.get_rv() ? 1 : 0;
  s.resv = f.get_resv() ? 1 : 0;
  s.li = static_cast<std::int32_t>(f.get_li().getValue());
  s.selcall = static_cast<std::int32_t>(f.get_selcall().getValue());
}

void flags_to(const VorkRadioState& s, TERM::RadioFlags& f) {
  f.set_prio(s.priority);
  f.set_ptt(s.ptt != 0);
  f.set_bss(s.bss != 0);
  f.set_vad_rx(s.vad_rx != 0);
  f.set_vad_tx(s.vad_tx != 0);
  f.set_sql(s.sql != 0);
  f.set_sh(s.sh != 0);
  f.set_pwr(s.pwr != 0);
  f.set_rv(s.rv != 0);
  f.set_resv(s.resv != 0);
  f.set_selcall(static_cast<unsigned>(s.selcall) & 3u);
  f.set_li(static_cast<unsigned>(s.li) & 511u);
}

void freq_to(const VorkRadioState& s, TERM::RadioFrequency& f) {
  f.set_channel(s.chan_id);
  f.set_frequency(number_text(s.freq));
}

// Squelch and emission class not yet configured (-1, no named value) go to
// the controller as no-config, which they mean.
void squelsh_to(int v, ASN1::ENUMERATED& e) { e.setFromInt(v >= 0 && v <= 2 ? v : 0); }
void rte_to(int v, ASN1::ENUMERATED& e) { e.setFromInt(v >= 0 && v <= 7 ? v : 0); }
void standby_to(int v, ASN1::ENUMERATED& e) { e.setFromInt(v >= -1 && v <= 1 ? v : -1); }
unsigned byte_to(int v) { return v >= 0 && v <= 255 ? static_cast<unsigned>(v) : 0u; }

}  // namespace

int VorkRadioStateMaps::DecodeProto(sig_proto const& p, VorkRadioState& s) {
  s.command = p.type;
  s.from_addr = static_cast<std::uint32_t>(p.rcv_info[0]);
  s.from_ssrc = static_cast<std::uint32_t>(p.rcv_info[1]);
  s.priority = p.priority;
  s.vad_tx = p.flag_t;
  s.ptt = p.flag_p;
  s.vad_rx = p.flag_r;
  s.sql = p.flag_s;
  s.bss = p.flag_b;
  s.rv = p.flag_rv;
  s.sh = p.flag_sh;
  s.resv = p.flag_rs;
  s.pwr = p.flag_pw;
  s.selcall = p.flag_c;
  s.li = p.status;
  const sig_proto_payload& pl = p.payload;
  switch (p.type) {
    case 1: case 3: case 4: case 5: case 6: case 7: case 8: case 129:
      return 0;
    case 2:
      s.chan_id = static_cast<std::int32_t>(pl.gw_adjust_chan.id);
      s.freq = pl.gw_adjust_chan.freq;
      return 0;
    case 9:
      caller_id_from(pl.gw_sel_call.callerID, pl.gw_sel_call.callerID_length, s.caller_id);
      return 0;
    case 10:
      s.remote_no = pl.gw_select_rc_chan.interface;
      s.remote_ch = pl.gw_select_rc_chan.channel;
      return 0;
    case 11: s.squelsh = pl.gw_adjust_squelsh.squelsh; return 0;
    case 12: s.rte = pl.gw_adjust_rte.rte; return 0;
    case 13: s.standby_state = pl.gw_adjust_standby.state; return 0;
    case 130:
      s.session_addr = addr_of(pl, false);
      s.ssrc = pl.wm_trans.ssrc;
      return 0;
    case 131: s.quality = pl.wm_radio_quality.radio_quality; return 0;
    case 132:
      s.chan_id = static_cast<std::int32_t>(pl.wm_chan.id);
      s.freq = pl.wm_chan.freq;
      s.squelsh = pl.wm_chan.squelsh;
      s.rte = pl.wm_chan.rte;
      return 0;
    case 133:
      s.session_addr = addr_of(pl, true);
      s.ssrc = pl.wm_sel_call_trans.ssrc;
      caller_id_from(pl.wm_sel_call_trans.callerID, pl.wm_sel_call_trans.callerID_length,
                     s.caller_id);
      return 0;
    case 134:
      s.remote_no = pl.wm_select_rc_chan.interface;
      s.remote_ch = pl.wm_select_rc_chan.channel;
      return 0;
    case 135:
      s.standby_state = pl.wm_standby.state;
      s.standby_group = pl.wm_standby.group;
      s.standby_receiver = pl.wm_standby.receiver_state;
      return 0;
    default:
      return -1;
  }
}

void VorkRadioStateMaps::EncodeHeader(VorkRadioState const& s, sig_proto& p) {
  p.type = s.command;
  p.rcv_info[0] = static_cast<std::int32_t>(s.from_addr);
  p.rcv_info[1] = static_cast<std::int32_t>(s.from_ssrc);
  p.priority = s.priority;
  p.flag_t = s.vad_tx;
  p.flag_p = s.ptt;
  p.flag_r = s.vad_rx;
  p.flag_s = s.sql;
  p.flag_b = s.bss;
  p.flag_rv = s.rv;
  p.flag_sh = s.sh;
  p.flag_rs = s.resv;
  p.flag_pw = s.pwr;
  p.flag_c = s.selcall;
  p.status = s.li;
}

int VorkRadioGWStateMaps::EncodeProto(VorkRadioState const& s, sig_proto& p) {
  if (s.command < 129 || s.command > 135) return -1;
  EncodeHeader(s, p);
  sig_proto_payload& pl = p.payload;
  auto u8 = [](int v) { return static_cast<std::uint8_t>(v & 0xFF); };
  switch (s.command) {
    case 130:
      pl.wm_trans.session_addr.s_addr = s.session_addr;
      pl.wm_trans.ssrc = s.ssrc;
      break;
    case 131: pl.wm_radio_quality.radio_quality = s.quality; break;
    case 132:
      pl.wm_chan.id = static_cast<std::uint32_t>(s.chan_id);
      pl.wm_chan.freq = s.freq;
      pl.wm_chan.squelsh = u8(s.squelsh);
      pl.wm_chan.rte = u8(s.rte);
      break;
    case 133:
      pl.wm_sel_call_trans.session_addr.s_addr = s.session_addr;
      pl.wm_sel_call_trans.ssrc = s.ssrc;
      caller_id_to(s.caller_id, pl.wm_sel_call_trans.callerID, pl.wm_sel_call_trans.callerID_length);
      break;
    case 134:
      pl.wm_select_rc_chan.interface = u8(s.remote_no);
      pl.wm_select_rc_chan.channel = u8(s.remote_ch);
      break;
    case 135:
      pl.wm_standby.state = u8(s.standby_state);
      pl.wm_standby.group = u8(s.standby_group);
      pl.wm_standby.receiver_state = u8(s.standby_receiver);
      break;
    default:
      break;  // 129: header only
  }
  return 0;
}

int VorkRadioWSStateMaps::EncodeProto(VorkRadioState const& s, sig_proto& p) {
  if (s.command < 1 || s.command > 13) return -1;
  EncodeHeader(s, p);
  sig_proto_payload& pl = p.payload;
  auto u8 = [](int v) { return static_cast<std::uint8_t>(v & 0xFF); };
  switch (s.command) {
    case 2:
      pl.gw_adjust_chan.id = static_cast<std::uint32_t>(s.chan_id);
      pl.gw_adjust_chan.freq = s.freq;
      break;
    case 9: caller_id_to(s.caller_id, pl.gw_sel_call.callerID, pl.gw_sel_call.callerID_length); break;
    case 10:
      pl.gw_select_rc_chan.interface = u8(s.remote_no);
      pl.gw_select_rc_chan.channel = u8(s.remote_ch);
      break;
    case 11: pl.gw_adjust_squelsh.squelsh = u8(s.squelsh); break;
    case 12: pl.gw_adjust_rte.rte = u8(s.rte); break;
    case 13: pl.gw_adjust_standby.state = u8(s.standby_state); break;
    default:
      break;  // header only
  }
  return 0;
}

int VorkRadioStateMaps::MergeReport(VorkRadioState const& s, VorkRadioState& t, bool gateway) {
  const int c = s.command;
  const bool all = c <= 0;
  t.command = s.command;
  t.priority = s.priority;
  t.li = s.li;
  t.ptt = s.ptt;
  t.bss = s.bss;
  t.vad_rx = s.vad_rx;
  t.vad_tx = s.vad_tx;
  t.sql = s.sql;
  t.sh = s.sh;
  t.pwr = s.pwr;
  t.rv = s.rv;
  t.resv = s.resv;
  t.selcall = s.selcall;
  if (!gateway) {
    t.session_addr = s.from_addr;
    t.ssrc = s.from_ssrc;
  }
  if (all || c == 132) {
    t.chan_id = s.chan_id;
    t.freq = s.freq;
    t.squelsh = s.squelsh;
    t.rte = s.rte;
  }
  if (all || c == 134) {
    t.remote_no = s.remote_no;
    t.remote_ch = s.remote_ch;
  }
  if (all || c == 133 || (gateway && c == 130)) {
    t.session_addr = s.session_addr;
    t.ssrc = s.ssrc;
  }
  if (all || c == 131) t.quality = s.quality;
  if (all || c == 135) {
    t.standby_state = s.standby_state;
    t.standby_group = s.standby_group;
    t.standby_receiver = s.standby_receiver;
  }
  return all ? -1 : 0;
}

int VorkRadioStateMaps::MergeCommand(VorkRadioState const& s, VorkRadioState& t, bool gateway) {
  const int c = s.command;
  const bool all = c <= 0;
  if (gateway) {
    t.session_addr = s.from_addr;
    t.ssrc = s.from_ssrc;
  }
  t.command = s.command;
  t.priority = s.priority;
  if (all || c == 1 || c == 3) t.ptt = s.ptt;
  if (all || c == 1 || c == 4) t.bss = s.bss;
  if (all || c == 1 || c == 6) t.sh = s.sh;
  if (all || c == 1 || c == 5) t.rv = s.rv;
  if (all || c == 1 || c == 7) t.pwr = s.pwr;
  if (all || c == 1 || c == 8) t.resv = s.resv;
  if (all || c == 2) {
    t.chan_id = s.chan_id;
    t.freq = s.freq;
  }
  if (all || c == 9) std::memcpy(t.caller_id, s.caller_id, sizeof t.caller_id);
  if (all || c == 10) {
    t.remote_no = s.remote_no;
    t.remote_ch = s.remote_ch;
  }
  if (all || c == 11) t.squelsh = s.squelsh;
  if (all || c == 12) t.rte = s.rte;
  if (all || c == 13) t.standby_state = s.standby_state;
  return all ? -1 : 0;
}

int VorkRadioStateMaps::DecodeASN(TERM::VorkRadioStatus const& st, VorkRadioState& s) {
  s.command = 0;
  flags_from(st.get_flags(), s);
  s.chan_id = st.get_freq().get_channel().getValue();
  s.freq = static_cast<float>(std::atof(st.get_freq().get_frequency().c_str()));
  s.rte = st.get_rte().asInt();
  s.squelsh = st.get_squelshe().asInt();
  s.remote_no = static_cast<std::int32_t>(st.get_remote().get_no().getValue());
  s.remote_ch = static_cast<std::int32_t>(st.get_remote().get_ch().getValue());
  s.standby_state = st.get_standby_state_channel().asInt();
  s.standby_group = static_cast<std::int32_t>(st.get_standby_group().getValue());
  s.standby_receiver = st.get_standby_state_receiver().asInt();
  return 0;
}

int VorkRadioStateMaps::DecodeASN(TERM::VorkRadioModifier const& m, VorkRadioState& s) {
  s.command = 0;
  s.from_addr = inet_addr(m.get_addr().get_session_addr().c_str());
  s.from_ssrc = m.get_addr().get_session_ssrc().getValue();
  const TERM::RadioModifierParams& p = m.get_params();
  // Packet type of each alternative, in alternative order.
  static const int kCommand[20] = {1, 2, 3, 4, 6, 7, 5, 8, 9, 10, 11, 12, 13,
                                   129, 130, 131, 132, 133, 134, 135};
  const int alt = p.currentSelection();
  if (alt < 0 || alt >= 20) return 0;  // unknown alternative: a whole status
  s.command = kCommand[alt];
  switch (alt) {
    case 0: flags_from(p.get_gw_set_flags().get_flags(), s); break;
    case 1:
      s.chan_id = p.get_gw_set_freq().get_freq().get_channel().getValue();
      s.freq = static_cast<float>(std::atof(p.get_gw_set_freq().get_freq().get_frequency().c_str()));
      break;
    case 2: flags_from(p.get_gw_set_ptt().get_flags(), s); break;
    case 3: flags_from(p.get_gw_set_bss().get_flags(), s); break;
    case 4: flags_from(p.get_gw_set_sh().get_flags(), s); break;
    case 5: flags_from(p.get_gw_set_pwr().get_flags(), s); break;
    case 6: flags_from(p.get_gw_set_rv().get_flags(), s); break;
    case 7: flags_from(p.get_gw_set_resv().get_flags(), s); break;
    case 8: {
      const auto& c = p.get_gw_set_selcall();
      flags_from(c.get_flags(), s);
      s.session_addr = inet_addr(c.get_ip().c_str());
      s.ssrc = c.get_ssrc().getValue();
      caller_id_text(c.get_cid(), s.caller_id);
      break;
    }
    case 9:
      s.remote_no = static_cast<std::int32_t>(p.get_gw_set_remote().get_remote().get_no().getValue());
      s.remote_ch = static_cast<std::int32_t>(p.get_gw_set_remote().get_remote().get_ch().getValue());
      break;
    case 10: s.squelsh = p.get_gw_set_squelshe().get_squelshe().asInt(); break;
    case 11: s.rte = p.get_gw_set_rte().get_rte().asInt(); break;
    case 12: s.standby_state = p.get_gw_set_standby().get_state().asInt(); break;
    case 13: flags_from(p.get_wm_flags().get_flags(), s); break;
    case 14: {
      const auto& c = p.get_wm_trans();
      flags_from(c.get_flags(), s);
      s.session_addr = inet_addr(c.get_ip().c_str());
      s.ssrc = c.get_ssrc().getValue();
      break;
    }
    case 15: s.quality = static_cast<float>(std::atof(p.get_wm_quality().get_bss_val().c_str())); break;
    case 16: {
      const auto& c = p.get_wm_chan();
      s.chan_id = c.get_freq().get_channel().getValue();
      s.freq = static_cast<float>(std::atof(c.get_freq().get_frequency().c_str()));
      s.rte = c.get_rte().asInt();
      s.squelsh = c.get_squelshe().asInt();
      break;
    }
    case 17: {
      const auto& c = p.get_wm_selcall();
      flags_from(c.get_flags(), s);
      s.session_addr = inet_addr(c.get_ip().c_str());
      s.ssrc = c.get_ssrc().getValue();
      caller_id_text(c.get_cid(), s.caller_id);
      break;
    }
    case 18:
      s.remote_no = static_cast<std::int32_t>(p.get_wm_remote().get_remote().get_no().getValue());
      s.remote_ch = static_cast<std::int32_t>(p.get_wm_remote().get_remote().get_ch().getValue());
      break;
    case 19: {
      const auto& c = p.get_wm_standby();
      s.standby_state = c.get_state_channel().asInt();
      s.standby_group = static_cast<std::int32_t>(c.get_group().getValue());
      s.standby_receiver = c.get_state_receiver().asInt();
      break;
    }
  }
  return 0;
}

int VorkRadioStateMaps::EncodeStatusASN(VorkRadioState const& s, TERM::RtpRadioRequest& request) {
  TERM::VorkRadioStatus& st = request.set_status().select_vork();
  flags_to(s, st.set_flags());
  freq_to(s, st.set_freq());
  st.set_remote().set_no(byte_to(s.remote_no));
  st.set_remote().set_ch(byte_to(s.remote_ch));
  squelsh_to(s.squelsh, st.set_squelshe());
  rte_to(s.rte, st.set_rte());
  standby_to(s.standby_state, st.set_standby_state_channel());
  st.set_standby_group(byte_to(s.standby_group));
  standby_to(s.standby_receiver, st.set_standby_state_receiver());
  return 0;
}

int VorkRadioStateMaps::EncodeASN(VorkRadioState const& radio, VorkRadioState const& r,
                                  TERM::RtpRadioRequest& request) {
  EncodeStatusASN(radio, request);
  TERM::VorkRadioModifier m;
  m.set_addr().set_session_addr(dotted(r.from_addr));
  m.set_addr().set_session_ssrc(r.from_ssrc);
  TERM::RadioModifierParams& p = m.set_params();
  switch (r.command) {
    case 1: flags_to(r, p.select_gw_set_flags().set_flags()); break;
    case 2: freq_to(r, p.select_gw_set_freq().set_freq()); break;
    case 3: flags_to(r, p.select_gw_set_ptt().set_flags()); break;
    case 4: flags_to(r, p.select_gw_set_bss().set_flags()); break;
    case 5: flags_to(r, p.select_gw_set_rv().set_flags()); break;
    case 6: flags_to(r, p.select_gw_set_sh().set_flags()); break;
    case 7: flags_to(r, p.select_gw_set_pwr().set_flags()); break;
    case 8: flags_to(r, p.select_gw_set_resv().set_flags()); break;
    case 9: {
      auto& c = p.select_gw_set_selcall();
      flags_to(r, c.set_flags());
      c.set_ip(dotted(r.session_addr));
      c.set_ssrc(r.ssrc);
      c.set_cid(std::string(r.caller_id, strnlen(r.caller_id, 255)));
      break;
    }
    case 10: {
      auto& c = p.select_gw_set_remote().set_remote();
      c.set_no(byte_to(r.remote_no));
      c.set_ch(byte_to(r.remote_ch));
      break;
    }
    case 11: squelsh_to(r.squelsh, p.select_gw_set_squelshe().set_squelshe()); break;
    case 12: rte_to(r.rte, p.select_gw_set_rte().set_rte()); break;
    case 13: standby_to(r.standby_state, p.select_gw_set_standby().set_state()); break;
    case 129: flags_to(r, p.select_wm_flags().set_flags()); break;
    case 130: {
      auto& c = p.select_wm_trans();
      flags_to(r, c.set_flags());
      c.set_ip(dotted(r.session_addr));
      c.set_ssrc(r.ssrc);
      break;
    }
    case 131: p.select_wm_quality().set_bss_val(number_text(r.quality)); break;
    case 132: {
      auto& c = p.select_wm_chan();
      freq_to(r, c.set_freq());
      squelsh_to(r.squelsh, c.set_squelshe());
      rte_to(r.rte, c.set_rte());
      break;
    }
    case 133: {
      auto& c = p.select_wm_selcall();
      flags_to(r, c.set_flags());
      c.set_ip(dotted(r.session_addr));
      c.set_ssrc(r.ssrc);
      c.set_cid(std::string(r.caller_id, strnlen(r.caller_id, 255)));
      break;
    }
    case 134: {
      auto& c = p.select_wm_remote().set_remote();
      c.set_no(byte_to(r.remote_no));
      c.set_ch(byte_to(r.remote_ch));
      break;
    }
    case 135: {
      auto& c = p.select_wm_standby();
      standby_to(r.standby_state, c.set_state_channel());
      c.set_group(byte_to(r.standby_group));
      standby_to(r.standby_receiver, c.set_state_receiver());
      break;
    }
    default:
      return -1;
  }
  request.set_request().select_vork(m);
  return 0;
}
