#include "radio/sig_proto.h"

#include "radio/text_printer.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const s_sig_proto_table_name kTypeNames[] = {
    {SIG_PROTO_GW_FLAG, "GW_FLAG"},
    {SIG_PROTO_GW_ADJUST_CHAN, "GW_ADJUST_CHAN"},
    {SIG_PROTO_GW_FLAG_PTT, "GW_FLAG_PTT"},
    {SIG_PROTO_GW_FLAG_BSS, "GW_FLAG_BSS"},
    {SIG_PROTO_GW_FLAG_RV, "GW_FLAG_RV"},
    {SIG_PROTO_GW_FLAG_SH, "GW_FLAG_SH"},
    {SIG_PROTO_GW_FLAG_PW, "GW_FLAG_PW"},
    {SIG_PROTO_GW_FLAG_RS, "GW_FLAG_RS"},
    {SIG_PROTO_GW_SEL_CALL, "GW_SEL_CALL"},
    {SIG_PROTO_GW_SELECT_RC_CHAN, "GW_SELECT_RC_CHAN"},
    {SIG_PROTO_GW_ADJUST_SQUELSHE, "GW_ADJUST_SQUELSHE"},
    {SIG_PROTO_GW_ADJUST_RTE, "GW_ADJUST_RTE"},
    {SIG_PROTO_GW_ADJUST_STANDBY, "GW_ADJUST_STANDBY"},
    {SIG_PROTO_WM_FLAG, "WM_FLAG"},
    {SIG_PROTO_WM_TRANS, "WM_TRANS"},
    {SIG_PROTO_WM_RADIO_QUALITY, "WM_RADIO_QUALITY"},
    {SIG_PROTO_WM_CHAN, "WM_CHAN"},
    {SIG_PROTO_WM_SEL_CALL_TRANS, "WM_SEL_CALL_TRANS"},
    {SIG_PROTO_WM_SELECT_RC_CHAN, "WM_SELECT_RC_CHAN"},
    {SIG_PROTO_WM_STANDBY, "WM_STANDBY"},
};

// Fills the name table at static initialisation: the twenty types, a
// terminating row of type -1, then unused rows.
struct NameTableBuilder {
  NameTableBuilder() {
    const int n = sizeof(kTypeNames) / sizeof(kTypeNames[0]);
    for (int i = 0; i < SIG_PROTO_NAME_ROWS; ++i) sig_proto_packet_const_name[i] = {0, ""};
    for (int i = 0; i < n; ++i) sig_proto_packet_const_name[i] = kTypeNames[i];
    sig_proto_packet_const_name[n] = {-1, ""};
  }
};

void put32(unsigned char* p, std::uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}

std::uint32_t get32(const unsigned char* p) {
  return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
         std::uint32_t(p[3]);
}

void putf(unsigned char* p, float f) {
  std::uint32_t v;
  std::memcpy(&v, &f, 4);
  put32(p, v);
}

float getf(const unsigned char* p) {
  std::uint32_t v = get32(p);
  float f;
  std::memcpy(&f, &v, 4);
  return f;
}

// The session address travels with its octets reversed: the last octet of
// the dotted form first. in_addr holds the octets in dotted order in memory
// on every host, so the reversal does not depend on the host's byte order.
void put_addr(unsigned char* p, const in_addr& a) {
  unsigned char o[4];
  std::memcpy(o, &a.s_addr, 4);
  p[0] = o[3];
  p[1] = o[2];
  p[2] = o[1];
  p[3] = o[0];
}

in_addr get_addr(const unsigned char* p) {
  unsigned char o[4] = {p[3], p[2], p[1], p[0]};
  in_addr a;
  std::memcpy(&a.s_addr, o, 4);
  return a;
}

int round4(int n) { return (n + 3) & ~3; }

bool header_only(int type) {
  return type == 1 || (type >= 3 && type <= 8) || type == 129;
}

bool has_layout(int type) {
  return type == 2 || (type >= 9 && type <= 13) || (type >= 130 && type <= 135);
}

using radio_text::Printer;

// Starts a printer after the header lines that sprintf_base writes.
bool payload_wanted(char* buffer, long size, sig_proto* r, int flags, int& base) {
  base = sprintf_base(buffer, size, r, flags);
  return buffer && r && size >= 1 && !(flags & SIG_PROTO_PRINT_FLAGS_ONLY);
}

// Printer for the text after what sprintf_base left in the buffer.
struct Tail {
  Printer p;
  Tail(char* buffer, long size)
      : p(buffer + std::strlen(buffer), size - static_cast<long>(std::strlen(buffer))) {}
};

void print_caller_id(Printer& p, const char* prefix, std::uint8_t len, const std::uint8_t* id) {
  p.add("%s.callerID_length: %d,\n", prefix, int(len));
  p.add("%s.callerID : \n", prefix);
  for (int i = 0; i < len; ++i) p.add("[%d] : 0x%02X,\n", i, unsigned(id[i]));
}

std::string dotted(const in_addr& a) {
  char text[32] = {0};
  if (!inet_ntop(AF_INET, &a, text, sizeof text)) text[0] = 0;
  return text;
}

void set_caller_id(std::uint8_t* area, std::uint8_t& length, const char* text,
                   std::uint8_t len) {
  if (text) {
    std::memset(area, 0, SIG_PROTO_CALLER_ID_SIZE);
    // Copies a C text up to its end, at most 255 bytes, never past it.
    for (int i = 0; i < SIG_PROTO_CALLER_ID_SIZE - 1 && text[i]; ++i)
      area[i] = static_cast<std::uint8_t>(text[i]);
    length = len;
  } else {
    area[0] = 0;
    length = 0;
  }
}

int compare_printed(sig_proto* a, sig_proto* b, int flags) {
  if (!a || !b) return -1;
  std::vector<char> ta(8192), tb(8192);
  sprintf_sig_proto(ta.data(), 8192, a, flags);
  sprintf_sig_proto(tb.data(), 8192, b, flags);
  long la = static_cast<long>(std::strlen(ta.data()));
  long lb = static_cast<long>(std::strlen(tb.data()));
  if (la != lb) return static_cast<int>(lb - la);
  return std::strncmp(ta.data(), tb.data(), static_cast<size_t>(la));
}

}  // namespace

s_sig_proto_table_name sig_proto_packet_const_name[SIG_PROTO_NAME_ROWS];
static NameTableBuilder g_name_table_builder;

const s_sig_proto_sprintf_row sig_proto_sprintf_table[SIG_PROTO_SPRINTF_ROWS] = {
    {0, sprintf_base},
    {SIG_PROTO_GW_FLAG, sprintf_base},
    {SIG_PROTO_GW_ADJUST_CHAN, sprintf_gw_adjust_chan},
    {SIG_PROTO_GW_FLAG_PTT, sprintf_base},
    {SIG_PROTO_GW_FLAG_BSS, sprintf_base},
    {SIG_PROTO_GW_FLAG_RV, sprintf_base},
    {SIG_PROTO_GW_FLAG_SH, sprintf_base},
    {SIG_PROTO_GW_FLAG_PW, sprintf_base},
    {SIG_PROTO_GW_FLAG_RS, sprintf_base},
    {SIG_PROTO_GW_SEL_CALL, sprintf_gw_selcall},
    {SIG_PROTO_GW_SELECT_RC_CHAN, sprintf_gw_select_rc_chan},
    {SIG_PROTO_GW_ADJUST_SQUELSHE, sprintf_gw_adjust_squelsh},
    {SIG_PROTO_GW_ADJUST_RTE, sprintf_gw_adjust_rte},
    {SIG_PROTO_GW_ADJUST_STANDBY, sprintf_gw_adjust_standby},
    {SIG_PROTO_WM_FLAG, sprintf_base},
    {SIG_PROTO_WM_TRANS, sprintf_wm_trans},
    {SIG_PROTO_WM_RADIO_QUALITY, sprintf_wm_radio_qulity},
    {SIG_PROTO_WM_CHAN, sprintf_wm_chan},
    {SIG_PROTO_WM_SEL_CALL_TRANS, sprintf_wm_selcall},
    {SIG_PROTO_WM_SELECT_RC_CHAN, sprintf_wm_select_rc_chan},
    {SIG_PROTO_WM_STANDBY, sprintf_wm_standby},
};

const std::int32_t init_sig_proto_type[17] = {1, 3, 4, 5, 6, 7, 8, 2, 9, 10, 13, 129, 130, 132, 131, 133, 135};

int sig_proto_init(sig_proto* record) {
  if (record) std::memset(record, 0, sizeof *record);
  return 0;
}

int sig_proto_pack(sig_proto* r, unsigned char* buf, int size) {
  if (!r || !buf) return 0;
  if (size < 4) return SIG_PROTO_ERR_SHORT;
  std::memset(buf, 0, static_cast<size_t>(size));
  buf[0] = static_cast<unsigned char>(r->type);
  buf[1] = static_cast<unsigned char>(((r->priority & 0xF) << 4) | ((r->flag_t & 1) << 3) |
                                      ((r->flag_p & 1) << 2) | ((r->flag_r & 1) << 1) |
                                      (r->flag_s & 1));
  buf[2] = static_cast<unsigned char>(((r->flag_b & 1) << 7) | ((r->flag_rv & 1) << 6) |
                                      ((r->flag_sh & 1) << 5) | ((r->flag_pw & 1) << 4) |
                                      ((r->status >> 5) & 0xF));
  buf[3] = static_cast<unsigned char>(((r->status & 0x1F) << 3) | ((r->flag_c & 3) << 1) |
                                      (r->flag_rs & 1));
  const std::uint32_t type = static_cast<std::uint32_t>(r->type);
  if (type > 135 || !has_layout(static_cast<int>(type))) return 4;

  const sig_proto_payload& pl = r->payload;
  int need = 0;
  switch (type) {
    case 2:
    case 130: need = 12; break;
    case 132: need = 16; break;
    case 9: need = pl.gw_sel_call.callerID_length + 12; break;
    case 133: need = pl.wm_sel_call_trans.callerID_length + 20; break;
    default: need = 8; break;
  }
  if (size < need) return SIG_PROTO_ERR_SHORT;

  switch (type) {
    case 2:
      put32(buf + 4, pl.gw_adjust_chan.id);
      putf(buf + 8, pl.gw_adjust_chan.freq);
      return 12;
    case 9: {
      const int len = pl.gw_sel_call.callerID_length;
      buf[4] = static_cast<unsigned char>(len);
      std::memcpy(buf + 5, pl.gw_sel_call.callerID, static_cast<size_t>(len));
      return round4(5 + len);
    }
    case 10:
      buf[4] = pl.gw_select_rc_chan.interface;
      buf[5] = pl.gw_select_rc_chan.channel;
      return 8;
    case 11: buf[4] = pl.gw_adjust_squelsh.squelsh; return 8;
    case 12: buf[4] = pl.gw_adjust_rte.rte; return 8;
    case 13: buf[4] = pl.gw_adjust_standby.state; return 8;
    case 130:
      put_addr(buf + 4, pl.wm_trans.session_addr);
      put32(buf + 8, pl.wm_trans.ssrc);
      return 12;
    case 131: putf(buf + 4, pl.wm_radio_quality.radio_quality); return 8;
    case 132:
      put32(buf + 4, pl.wm_chan.id);
      putf(buf + 8, pl.wm_chan.freq);
      buf[12] = pl.wm_chan.squelsh;
      buf[13] = pl.wm_chan.rte;
      return 16;
    case 133: {
      const int len = pl.wm_sel_call_trans.callerID_length;
      put_addr(buf + 4, pl.wm_sel_call_trans.session_addr);
      put32(buf + 8, pl.wm_sel_call_trans.ssrc);
      buf[12] = static_cast<unsigned char>(len);
      std::memcpy(buf + 13, pl.wm_sel_call_trans.callerID, static_cast<size_t>(len));
      return round4(13 + len);
    }
    case 134:
      buf[4] = pl.wm_select_rc_chan.interface;
      buf[5] = pl.wm_select_rc_chan.channel;
      return 8;
    case 135:
      buf[4] = pl.wm_standby.state;
      buf[5] = pl.wm_standby.group;
      buf[6] = pl.wm_standby.receiver_state;
      return 8;
  }
  return 4;
}

int sig_proto_unpack(sig_proto* r, const unsigned char* d, int length) {
  if (!r || !d) return SIG_PROTO_ERR_NULL;
  if (length < 4) return SIG_PROTO_ERR_SHORT;
  const int type = d[0];
  if (!header_only(type) && !has_layout(type)) {
    r->type = type;
    return SIG_PROTO_ERR_TYPE;
  }
  sig_proto_payload pl = r->payload;
  switch (type) {
    case 2:
      if (length < 12) return SIG_PROTO_ERR_SHORT;
      pl.gw_adjust_chan.id = get32(d + 4);
      pl.gw_adjust_chan.freq = getf(d + 8);
      break;
    case 9: {
      if (length < 5) return SIG_PROTO_ERR_SHORT;
      const int len = d[4];
      if (length < 5 + len) return SIG_PROTO_ERR_SHORT;
      pl.gw_sel_call.callerID_length = static_cast<std::uint8_t>(len);
      std::memcpy(pl.gw_sel_call.callerID, d + 5, static_cast<size_t>(len));
      break;
    }
    case 10:
    case 134: {
      if (length < 8) return SIG_PROTO_ERR_SHORT;
      sig_proto_rc_chan& c = type == 10 ? pl.gw_select_rc_chan : pl.wm_select_rc_chan;
      c.interface = d[4];
      c.channel = d[5];
      break;
    }
    case 11:
      if (length < 8) return SIG_PROTO_ERR_SHORT;
      pl.gw_adjust_squelsh.squelsh = d[4];
      break;
    case 12:
      if (length < 8) return SIG_PROTO_ERR_SHORT;
      pl.gw_adjust_rte.rte = d[4];
      break;
    case 13:
      if (length < 8) return SIG_PROTO_ERR_SHORT;
      pl.gw_adjust_standby.state = d[4];
      break;
    case 130:
      if (length < 12) return SIG_PROTO_ERR_SHORT;
      pl.wm_trans.session_addr = get_addr(d + 4);
      pl.wm_trans.ssrc = get32(d + 8);
      break;
    case 131:
      if (length < 8) return SIG_PROTO_ERR_SHORT;
      pl.wm_radio_quality.radio_quality = getf(d + 4);
      break;
    case 132:
      if (length < 16) return SIG_PROTO_ERR_SHORT;
      pl.wm_chan.id = get32(d + 4);
      pl.wm_chan.freq = getf(d + 8);
      pl.wm_chan.squelsh = d[12];
      pl.wm_chan.rte = d[13];
      break;
    case 133: {
      if (length < 13) return SIG_PROTO_ERR_SHORT;
      const int len = d[12];
      if (length < 13 + len) return SIG_PROTO_ERR_SHORT;
      pl.wm_sel_call_trans.session_addr = get_addr(d + 4);
      pl.wm_sel_call_trans.ssrc = get32(d + 8);
      pl.wm_sel_call_trans.callerID_length = static_cast<std::uint8_t>(len);
      std::memcpy(pl.wm_sel_call_trans.callerID, d + 13, static_cast<size_t>(len));
      break;
    }
    case 135:
      if (length < 8) return SIG_PROTO_ERR_SHORT;
      pl.wm_standby.state = d[4];
      pl.wm_standby.group = d[5];
      pl.wm_standby.receiver_state = d[6];
      break;
    default:
      break;  // header only
  }
  r->type = type;
  r->priority = d[1] >> 4;
  r->flag_t = (d[1] >> 3) & 1;
  r->flag_p = (d[1] >> 2) & 1;
  r->flag_r = (d[1] >> 1) & 1;
  r->flag_s = d[1] & 1;
  r->flag_b = (d[2] >> 7) & 1;
  r->flag_rv = (d[2] >> 6) & 1;
  r->flag_sh = (d[2] >> 5) & 1;
  r->flag_pw = (d[2] >> 4) & 1;
  r->status = 32 * (d[2] & 0xF) + (d[3] >> 3);
  r->flag_c = (d[3] >> 1) & 3;
  r->flag_rs = d[3] & 1;
  r->payload = pl;
  return 0;
}

const char* sig_proto_find_name_by_id(const s_sig_proto_table_name* table, int type) {
  if (!table) return nullptr;
  for (int i = 0; i < SIG_PROTO_NAME_ROWS && table[i].type >= 0; ++i)
    if (table[i].type == type) return table[i].name;
  return nullptr;
}

int sig_proto_find_id_by_name(const s_sig_proto_table_name* table, const char* name) {
  if (!table || !name) return -1;
  for (int i = 0; i < SIG_PROTO_NAME_ROWS && table[i].type >= 0; ++i)
    if (table[i].name && std::strcmp(table[i].name, name) == 0) return table[i].type;
  return -1;
}

int sprintf_sig_proto(char* buffer, long size, sig_proto* r, int flags) {
  if (!buffer || !r || size < 1) return 0;
  std::memset(buffer, 0, static_cast<size_t>(size));
  for (const auto& row : sig_proto_sprintf_table)
    if (row.type == r->type) return row.printer ? row.printer(buffer, size, r, flags) : 0;
  return 0;
}

int sprintf_base(char* buffer, long size, sig_proto* r, int flags) {
  if (!buffer || !r || size < 1) return 0;
  std::memset(buffer, 0, static_cast<size_t>(size));
  Printer p(buffer, size);
  const unsigned long type_hex = static_cast<std::uint32_t>(r->type);
  if (flags & SIG_PROTO_PRINT_TYPE_NAME) {
    const char* name = sig_proto_find_name_by_id(sig_proto_packet_const_name, r->type);
    if (name)
      p.add("type      : %s,\n", name);
    else
      p.add("type      : 0x%08lX,\n", type_hex);
  } else if (flags & SIG_PROTO_PRINT_TYPE_HEX) {
    p.add("type      : 0x%08lX,\n", type_hex);
  }
  p.add("flag_t   : %ld,\n", long(r->flag_t));
  p.add("flag_p   : %ld,\n", long(r->flag_p));
  p.add("flag_r   : %ld,\n", long(r->flag_r));
  p.add("flag_s   : %ld,\n", long(r->flag_s));
  p.add("flag_b   : %ld,\n", long(r->flag_b));
  p.add("flag_rv  : %ld,\n", long(r->flag_rv));
  p.add("flag_sh  : %ld,\n", long(r->flag_sh));
  p.add("flag_rs  : %ld,\n", long(r->flag_rs));
  p.add("flag_pw  : %ld,\n", long(r->flag_pw));
  p.add("flag_c   : %ld,\n", long(r->flag_c));
  if (!(flags & SIG_PROTO_PRINT_FLAGS_ONLY)) {
    p.add("priority : %ld,\n", long(r->priority));
    p.add("status   : %ld,\n", long(r->status));
  }
  return p.total();
}

#define SIG_PROTO_PRINTER(name, body)                                  \
  int name(char* buffer, long size, sig_proto* r, int flags) {         \
    int base = 0;                                                      \
    if (!payload_wanted(buffer, size, r, flags, base)) return base;    \
    Tail t(buffer, size);                                              \
    const sig_proto_payload& pl = r->payload;                          \
    body;                                                              \
    return base + t.p.total();                                         \
  }

SIG_PROTO_PRINTER(sprintf_gw_adjust_chan, {
  t.p.add("gw_adjust_chan.id   : %ld,\n", long(pl.gw_adjust_chan.id));
  t.p.add("gw_adjust_chan.freq : %4.4f,\n", double(pl.gw_adjust_chan.freq));
})
SIG_PROTO_PRINTER(sprintf_gw_selcall, {
  print_caller_id(t.p, "gw_sel_call", pl.gw_sel_call.callerID_length, pl.gw_sel_call.callerID);
})
SIG_PROTO_PRINTER(sprintf_gw_select_rc_chan, {
  t.p.add("gw_select_rc_chan.interface : %d,\n", int(pl.gw_select_rc_chan.interface));
  t.p.add("gw_select_rc_chan.channel   : %d,\n", int(pl.gw_select_rc_chan.channel));
})
SIG_PROTO_PRINTER(sprintf_gw_adjust_squelsh,
                  { t.p.add("gw_adjust_squelsh.squelsh   : %d,\n", int(pl.gw_adjust_squelsh.squelsh)); })
SIG_PROTO_PRINTER(sprintf_gw_adjust_rte,
                  { t.p.add("gw_adjust_rte.rte   : %d,\n", int(pl.gw_adjust_rte.rte)); })
SIG_PROTO_PRINTER(sprintf_gw_adjust_standby,
                  { t.p.add("gw_adjust_standby.state   : %d,\n", int(pl.gw_adjust_standby.state)); })
SIG_PROTO_PRINTER(sprintf_wm_trans, {
  t.p.add("wm_trans.session_addr : %s,\n", dotted(pl.wm_trans.session_addr).c_str());
  t.p.add("wm_trans.ssrc         : 0x%08lX,\n", static_cast<unsigned long>(pl.wm_trans.ssrc));
})
SIG_PROTO_PRINTER(sprintf_wm_radio_qulity, {
  t.p.add("wm_radio_quality.radio_quality : %4.5f,\n", double(pl.wm_radio_quality.radio_quality));
})
SIG_PROTO_PRINTER(sprintf_wm_chan, {
  t.p.add("wm_chan.id   : %ld,\n", long(pl.wm_chan.id));
  t.p.add("wm_chan.freq : %4.4f,\n", double(pl.wm_chan.freq));
  t.p.add("wm_chan.squelsh : %d,\n", int(pl.wm_chan.squelsh));
  t.p.add("wm_chan.rte     : %d,\n", int(pl.wm_chan.rte));
})
SIG_PROTO_PRINTER(sprintf_wm_selcall, {
  t.p.add("wm_sel_call_trans.session_addr : %s,\n",
          dotted(pl.wm_sel_call_trans.session_addr).c_str());
  t.p.add("wm_sel_call_trans.ssrc         : 0x%08lX,\n",
          static_cast<unsigned long>(pl.wm_sel_call_trans.ssrc));
  print_caller_id(t.p, "wm_sel_call_trans", pl.wm_sel_call_trans.callerID_length,
                  pl.wm_sel_call_trans.callerID);
})
SIG_PROTO_PRINTER(sprintf_wm_select_rc_chan, {
  t.p.add("wm_select_rc_chan.interface : %d,\n", int(pl.wm_select_rc_chan.interface));
  t.p.add("wm_select_rc_chan.channel   : %d,\n", int(pl.wm_select_rc_chan.channel));
})
SIG_PROTO_PRINTER(sprintf_wm_standby, {
  t.p.add("wm_standby.state           : %d,\n", int(pl.wm_standby.state));
  t.p.add("wm_standby.group           : %d,\n", int(pl.wm_standby.group));
  t.p.add("wm_standby.receiver_state  : %d,\n", int(pl.wm_standby.receiver_state));
})

#undef SIG_PROTO_PRINTER

int cmp_sig_proto(sig_proto* a, sig_proto* b) {
  return compare_printed(a, b, SIG_PROTO_PRINT_TYPE_HEX);
}

int cmp_sig_proto_flags(sig_proto* a, sig_proto* b) {
  return compare_printed(a, b, SIG_PROTO_PRINT_FLAGS_ONLY);
}

int sig_proto_is_ptt_command(const sig_proto* r) {
  if (!r) return 0;
  switch (r->type) {
    case 1: case 3: case 9: case 129: case 130: case 133: return 1;
    default: return 0;
  }
}

int init_sig_proto_queue(sig_proto_queue* q) {
  if (!q) return 0;
  std::memset(q, 0, sizeof *q);
  for (int i = 0; i < SIG_PROTO_QUEUE_SIZE; ++i) q->records[i].type = i < 17 ? init_sig_proto_type[i] : -1;
  return 0;
}

int sig_proto_set_base(sig_proto* r, int priority, int t, int p, int rr, int s, int b, int rv,
                       int sh, int pw, int rs, int c, int status) {
  if (!r) return 0;
  auto set = [](std::int32_t& field, int v) {
    if (v >= 0) field = v;
  };
  set(r->priority, priority);
  set(r->flag_t, t);
  set(r->flag_p, p);
  set(r->flag_r, rr);
  set(r->flag_s, s);
  set(r->flag_b, b);
  set(r->flag_rv, rv);
  set(r->flag_sh, sh);
  set(r->flag_pw, pw);
  set(r->flag_rs, rs);
  set(r->flag_c, c);
  set(r->status, status);
  return 0;
}

int sig_proto_set_ptt(sig_proto* r, int p) {
  if (r && p >= 0) r->flag_p = p;
  return 0;
}

int sig_proto_set_gw_adjust_chan(sig_proto* r, std::uint32_t id, float freq) {
  if (r) r->payload.gw_adjust_chan = {id, freq};
  return 0;
}

int sig_proto_set_gw_adjust_squelsh(sig_proto* r, std::uint8_t squelsh) {
  if (r) r->payload.gw_adjust_squelsh.squelsh = squelsh;
  return 0;
}

int sig_proto_set_gw_adjust_rte(sig_proto* r, std::uint8_t rte) {
  if (r) r->payload.gw_adjust_rte.rte = rte;
  return 0;
}

int sig_proto_set_gw_adjust_standby(sig_proto* r, std::uint8_t state) {
  if (r) r->payload.gw_adjust_standby.state = state;
  return 0;
}

int sig_proto_set_gw_selcall(sig_proto* r, const char* caller_id, std::uint8_t length) {
  if (r)
    set_caller_id(r->payload.gw_sel_call.callerID, r->payload.gw_sel_call.callerID_length,
                  caller_id, length);
  return 0;
}

int sig_proto_set_gw_select_rc_chan(sig_proto* r, std::uint8_t interface, std::uint8_t channel) {
  if (r) r->payload.gw_select_rc_chan = {interface, channel};
  return 0;
}

int sig_proto_set_wm_transmite(sig_proto* r, in_addr address, std::uint32_t ssrc) {
  if (r) r->payload.wm_trans = {address, ssrc};
  return 0;
}

int sig_proto_set_wm_radio_quality(sig_proto* r, float quality) {
  if (r) r->payload.wm_radio_quality.radio_quality = quality;
  return 0;
}

int sig_proto_set_wm_chan(sig_proto* r, std::uint32_t id, float freq, std::uint8_t squelsh,
                          std::uint8_t rte) {
  if (r) r->payload.wm_chan = {id, freq, squelsh, rte};
  return 0;
}

int sig_proto_set_wm_selcall_transmite(sig_proto* r, in_addr address, std::uint32_t ssrc,
                                       const char* caller_id, std::uint8_t length) {
  if (!r) return 0;
  auto& w = r->payload.wm_sel_call_trans;
  w.session_addr = address;
  w.ssrc = ssrc;
  set_caller_id(w.callerID, w.callerID_length, caller_id, length);
  return 0;
}

int sig_proto_set_wm_select_rc_chan(sig_proto* r, std::uint8_t interface, std::uint8_t channel) {
  if (r) r->payload.wm_select_rc_chan = {interface, channel};
  return 0;
}

int sig_proto_set_wm_standby(sig_proto* r, std::uint8_t state, std::uint8_t group,
                             std::uint8_t receiver_state) {
  if (r) r->payload.wm_standby = {state, group, receiver_state};
  return 0;
}
