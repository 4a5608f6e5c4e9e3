#pragma once
// The radio signalling packet carried in RTP header extensions on the
// RTP-extension driver: a 4-byte header (type, priority, flags, status)
// followed by a payload whose layout the type fixes.
//
// Plain functions over plain records: nothing is allocated, no state is
// kept between calls, failures are negative results.
#include <netinet/in.h>

#include <cstdint>

enum {
  SIG_PROTO_GW_FLAG = 1,
  SIG_PROTO_GW_ADJUST_CHAN = 2,
  SIG_PROTO_GW_FLAG_PTT = 3,
  SIG_PROTO_GW_FLAG_BSS = 4,
  SIG_PROTO_GW_FLAG_RV = 5,
  SIG_PROTO_GW_FLAG_SH = 6,
  SIG_PROTO_GW_FLAG_PW = 7,
  SIG_PROTO_GW_FLAG_RS = 8,
  SIG_PROTO_GW_SEL_CALL = 9,
  SIG_PROTO_GW_SELECT_RC_CHAN = 10,
  SIG_PROTO_GW_ADJUST_SQUELSHE = 11,
  SIG_PROTO_GW_ADJUST_RTE = 12,
  SIG_PROTO_GW_ADJUST_STANDBY = 13,
  SIG_PROTO_WM_FLAG = 129,
  SIG_PROTO_WM_TRANS = 130,
  SIG_PROTO_WM_RADIO_QUALITY = 131,
  SIG_PROTO_WM_CHAN = 132,
  SIG_PROTO_WM_SEL_CALL_TRANS = 133,
  SIG_PROTO_WM_SELECT_RC_CHAN = 134,
  SIG_PROTO_WM_STANDBY = 135,
};

// Results.
enum {
  SIG_PROTO_ERR_NULL = -7,      // missing record or data
  SIG_PROTO_ERR_TYPE = -8,      // type without a payload layout
  SIG_PROTO_ERR_SHORT = -9,     // buffer or data too short
};

// Print flags.
enum {
  SIG_PROTO_PRINT_TYPE_HEX = 1,
  SIG_PROTO_PRINT_TYPE_NAME = 2,
  SIG_PROTO_PRINT_FLAGS_ONLY = 4,
};

constexpr int SIG_PROTO_CALLER_ID_SIZE = 256;

struct sig_proto_gw_adjust_chan {
  std::uint32_t id;
  float freq;
};
struct sig_proto_gw_sel_call {
  std::uint8_t callerID_length;
  std::uint8_t callerID[SIG_PROTO_CALLER_ID_SIZE];
};
struct sig_proto_rc_chan {
  std::uint8_t interface;
  std::uint8_t channel;
};
struct sig_proto_gw_adjust_squelsh {
  std::uint8_t squelsh;
};
struct sig_proto_gw_adjust_rte {
  std::uint8_t rte;
};
struct sig_proto_gw_adjust_standby {
  std::uint8_t state;
};
struct sig_proto_wm_trans {
  in_addr session_addr;  // network byte order
  std::uint32_t ssrc;
};
struct sig_proto_wm_radio_quality {
  float radio_quality;
};
struct sig_proto_wm_chan {
  std::uint32_t id;
  float freq;
  std::uint8_t squelsh;
  std::uint8_t rte;
};
struct sig_proto_wm_sel_call_trans {
  in_addr session_addr;
  std::uint32_t ssrc;
  std::uint8_t callerID_length;
  std::uint8_t callerID[SIG_PROTO_CALLER_ID_SIZE];
};
struct sig_proto_wm_standby {
  std::uint8_t state;
  std::uint8_t group;
  std::uint8_t receiver_state;
};

union sig_proto_payload {
  sig_proto_gw_adjust_chan gw_adjust_chan;
  sig_proto_gw_sel_call gw_sel_call;
  sig_proto_rc_chan gw_select_rc_chan;
  sig_proto_gw_adjust_squelsh gw_adjust_squelsh;
  sig_proto_gw_adjust_rte gw_adjust_rte;
  sig_proto_gw_adjust_standby gw_adjust_standby;
  sig_proto_wm_trans wm_trans;
  sig_proto_wm_radio_quality wm_radio_quality;
  sig_proto_wm_chan wm_chan;
  sig_proto_wm_sel_call_trans wm_sel_call_trans;
  sig_proto_rc_chan wm_select_rc_chan;
  sig_proto_wm_standby wm_standby;
};

struct sig_proto {
  std::int32_t rcv_info[2];  // set by the radio control; pack/unpack leave it
  std::int32_t type;
  std::int32_t priority;
  std::int32_t flag_t;
  std::int32_t flag_p;
  std::int32_t flag_r;
  std::int32_t flag_s;
  std::int32_t flag_b;
  std::int32_t flag_rv;
  std::int32_t flag_sh;
  std::int32_t flag_rs;
  std::int32_t flag_pw;
  std::int32_t flag_c;
  std::int32_t status;
  sig_proto_payload payload;
};

struct s_sig_proto_table_name {
  std::int32_t type;
  const char* name;
};

constexpr int SIG_PROTO_NAME_ROWS = 128;
extern s_sig_proto_table_name sig_proto_packet_const_name[SIG_PROTO_NAME_ROWS];

typedef int (*sig_proto_printer)(char* buffer, long size, sig_proto* record, int flags);
struct s_sig_proto_sprintf_row {
  std::int32_t type;
  sig_proto_printer printer;
};
constexpr int SIG_PROTO_SPRINTF_ROWS = 21;
extern const s_sig_proto_sprintf_row sig_proto_sprintf_table[SIG_PROTO_SPRINTF_ROWS];

constexpr int SIG_PROTO_QUEUE_SIZE = 32;
struct sig_proto_queue {
  sig_proto records[SIG_PROTO_QUEUE_SIZE];
  std::int32_t words[SIG_PROTO_QUEUE_SIZE];
};
extern const std::int32_t init_sig_proto_type[17];

int sig_proto_init(sig_proto* record);
int sig_proto_pack(sig_proto* record, unsigned char* buffer, int size);
int sig_proto_unpack(sig_proto* record, const unsigned char* data, int length);

const char* sig_proto_find_name_by_id(const s_sig_proto_table_name* table, int type);
int sig_proto_find_id_by_name(const s_sig_proto_table_name* table, const char* name);

int sprintf_sig_proto(char* buffer, long size, sig_proto* record, int flags);
int sprintf_base(char* buffer, long size, sig_proto* record, int flags);
int sprintf_gw_adjust_chan(char* buffer, long size, sig_proto* record, int flags);
int sprintf_gw_selcall(char* buffer, long size, sig_proto* record, int flags);
int sprintf_gw_select_rc_chan(char* buffer, long size, sig_proto* record, int flags);
int sprintf_gw_adjust_squelsh(char* buffer, long size, sig_proto* record, int flags);
int sprintf_gw_adjust_rte(char* buffer, long size, sig_proto* record, int flags);
int sprintf_gw_adjust_standby(char* buffer, long size, sig_proto* record, int flags);
int sprintf_wm_trans(char* buffer, long size, sig_proto* record, int flags);
int sprintf_wm_radio_qulity(char* buffer, long size, sig_proto* record, int flags);
int sprintf_wm_chan(char* buffer, long size, sig_proto* record, int flags);
int sprintf_wm_selcall(char* buffer, long size, sig_proto* record, int flags);
int sprintf_wm_select_rc_chan(char* buffer, long size, sig_proto* record, int flags);
int sprintf_wm_standby(char* buffer, long size, sig_proto* record, int flags);

int cmp_sig_proto(sig_proto* a, sig_proto* b);
int cmp_sig_proto_flags(sig_proto* a, sig_proto* b);

int sig_proto_is_ptt_command(const sig_proto* record);
int init_sig_proto_queue(sig_proto_queue* queue);

int sig_proto_set_base(sig_proto* record, int priority, int t, int p, int r, int s, int b,
                       int rv, int sh, int pw, int rs, int c, int status);
int sig_proto_set_ptt(sig_proto* record, int p);
int sig_proto_set_gw_adjust_chan(sig_proto* record, std::uint32_t id, float freq);
int sig_proto_set_gw_adjust_squelsh(sig_proto* record, std::uint8_t squelsh);
int sig_proto_set_gw_adjust_rte(sig_proto* record, std::uint8_t rte);
int sig_proto_set_gw_adjust_standby(sig_proto* record, std::uint8_t state);
int sig_proto_set_gw_selcall(sig_proto* record, const char* caller_id, std::uint8_t length);
int sig_proto_set_gw_select_rc_chan(sig_proto* record, std::uint8_t interface,
                                    std::uint8_t channel);
int sig_proto_set_wm_transmite(sig_proto* record, in_addr address, std::uint32_t ssrc);
int sig_proto_set_wm_radio_quality(sig_proto* record, float quality);
int sig_proto_set_wm_chan(sig_proto* record, std::uint32_t id, float freq, std::uint8_t squelsh,
                          std::uint8_t rte);
int sig_proto_set_wm_selcall_transmite(sig_proto* record, in_addr address, std::uint32_t ssrc,
                                       const char* caller_id, std::uint8_t length);
int sig_proto_set_wm_select_rc_chan(sig_proto* record, std::uint8_t interface,
                                    std::uint8_t channel);
int sig_proto_set_wm_standby(sig_proto* record, std::uint8_t state, std::uint8_t group,
                             std::uint8_t receiver_state);
