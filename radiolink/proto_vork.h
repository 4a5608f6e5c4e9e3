#pragma once
// Radio serial link codec: frames on the line <-> fixed command records.
//
// Plain functions over plain records. Every function returns 0 or a
// negative status code (CONVERT_*); each record carries the status of its
// message in cmdStatus.
#include <cstdint>

#include "radiolink/proto_set_config.h"
#include "radiolink/proto_maintenance.h"
#include "radiolink/proto_line_cmd.h"

// ---------------------------------------------------------------- frame

enum { sizeStart = 4 };
extern const unsigned char msgStart[sizeStart];

enum {
  PROTO_FRAME_HEADER = 16,    // marker + length + sequence + id + flags + src + dst
  PROTO_FRAME_OVERHEAD = 18,  // header + checksum
  PROTO_MAX_LENGTH = 768,     // largest accepted payload length in words
};

unsigned short calc_crc16(unsigned char* data, int length);
int get_protocol_version(unsigned short flags);

// ---------------------------------------------------------------- status codes

enum {
  CONVERT_NOT_ENOUGHT_RAW_DATA = -202,
  CONVERT_BAD_PARAM = -201,
  CONVERT_NOT_ENOUGHT_PAYLOAD_DATA = -200,
  CONVERT_NOT_ENOUGHT_MEMORY = -199,
  CONVERT_QUEUE_FULL = -198,
  CONVERT_BAD_MODE = -197,
  CONVERT_BAD_ADDR = -196,
  CONVERT_BAD_CRC = -195,
  CONVERT_BAD_LENGHT = -194,
  CONVERT_BAD_ID = -193,
  CONVERT_BAD_SEQNUM = -192,
  CONVERT_BAD_START = -191,
  CONVERT_BAD_PROTOCOL_VERSION = -190,
  CONVERT_UNKNOWN_ERROR = -2,
  CONVERT_ERROR = -1,
  CONVERT_OK = 0,
};

enum { PROTO_MODE_GATEWAY = 0, PROTO_MODE_ANALOG = 1, PROTO_MODE_DIGITAL = 2 };

// Destination masks of the record's dstAddr.
enum { PROTO_ADDR_LGW = 1, PROTO_ADDR_RGW = 2, PROTO_ADDR_DLI = 4, PROTO_ADDR_ALI = 8 };

// ---------------------------------------------------------------- message ids

enum {
  GW_GET_ID = 0x1001,
  GW_KEEP_ALIVE = 0x1002,
  GW_SET_CONFIG = 0x1003,
  GW_GET_CONFIG = 0x1004,
  GW_GET_NUMBER = 0x1005,
  GW_REMOTE_KEEP_ALIVE = 0x1006,
  GW_RAD_PTT_ON = 0x1014,
  GW_RAD_PTT_OFF = 0x1015,
  GW_RAD_SH_ON = 0x1016,
  GW_RAD_SH_OFF = 0x1017,
  GW_RAD_BSS_ON = 0x1018,
  GW_RAD_BSS_OFF = 0x1019,
  GW_RAD_RS485_CMD = 0x1020,
  GW_RAD_RX_ON = 0x1021,
  GW_RAD_RX_OFF = 0x1022,
  GW_RAD_RST_ON = 0x1023,
  GW_RAD_RST_OFF = 0x1024,
  GW_RAD_AUX_ON = 0x1025,
  GW_RAD_AUX_OFF = 0x1026,
  GW_RAD_SELECT_CHANNEL = 0x1027,
  GW_GGS_COMMAND = 0x1100,
  GW_GGS_STATE = 0x1101,
  GW_DCON_COMMAND = 0x1110,
  GW_DCON_STATE = 0x1111,
  GW_RAD_COMMAND = 0x1120,
  GW_RAD_STATE = 0x1121,
  GW_TEST = 0x1200,
  GW_CLIENT_P1 = 0x1300,
  GW_SHOW_DEBUG = 0x1400,
  GW_SET_DEBUG = 0x1401,
  GW_GET_INFO = 0x1402,
  GW_SERVICE_CMD = 0x1403,
  DLI_SET_ID = 0x2000,
  DLI_KEEP_ALIVE = 0x2010,
  DLI_GET_CONFIG = 0x2011,
  DLI_SET_CONFIG = 0x2012,
  DLI_SET_NUMBER = 0x2013,
  DLI_RAD_BSS_QUAL = 0x2020,
  DLI_RAD_LINK_ERR = 0x2021,
  DLI_RAD_SELECT_CHANNEL = 0x2022,
  DLI_DEBUG = 0x2101,
  DLI_TEST_KEEP_ALIVE = 0x2102,
  DLI_GGS_COMMAND = 0x2103,
  DLI_GGS_STATE = 0x2104,
  DLI_DCON_COMMAND = 0x2105,
  DLI_DCON_STATE = 0x2106,
  DLI_RAD_COMMAND = 0x2107,
  DLI_RAD_STATE = 0x2108,
  DLI_SERVER_P1 = 0x2300,
  DLI_HW_STATE = 0x2400,
  DLI_SET_INFO = 0x2500,
  ALI_SET_ID = 0x3000,
  ALI_KEEP_ALIVE = 0x3010,
  ALI_GET_CONFIG = 0x3011,
  ALI_SET_CONFIG = 0x3012,
  ALI_RAD_RS485_STS = 0x3020,
  ALI_DEBUG = 0x3101,
  ALI_TEST_KEEP_ALIVE = 0x3102,
  ALI_GGS_COMMAND = 0x3103,
  ALI_GGS_STATE = 0x3104,
  ALI_RAD_COMMAND = 0x3105,
  ALI_RAD_STATE = 0x3106,
  ALI_HW_STATE = 0x3200,
  ALI_SERVER_P1 = 0x3300,
};

// ---------------------------------------------------------------- records

struct s_proto_id {
  uint8_t id;
};
struct s_proto_number {
  uint8_t number;
};
struct s_proto_channel {
  uint8_t channel;
};
struct s_proto_select_channel {
  uint8_t channel;
  uint8_t select_interface;
  uint8_t select_channel;
};

enum { PROTO_RADIO_PARAM_MAX = 255 };
struct s_proto_radio_command {
  uint8_t channel;
  uint8_t param_size;
  uint8_t param[PROTO_RADIO_PARAM_MAX];
};

// Configuration query answer of a line interface.
struct s_proto_gateway_config {
  uint8_t id;
  uint8_t channels_count;
  uint16_t major_version;
  uint16_t minor_version;
  uint16_t major_boot_version;
  uint16_t minor_boot_version;
  uint16_t major_sub_system_version;
  uint16_t minor_sub_system_version;
};

struct s_proto_rd_bss {
  uint8_t channel;
  float snr;
};

// Keep-alive payloads.
struct s_proto_v2_keep_alive {
  uint8_t gateway_id;
  uint16_t bus_windows_size;
};
struct s_proto_remote_keep_alive {
  uint8_t state;
  uint8_t mode;
  uint8_t id;
};
struct s_proto_digital_ka_channel {
  uint8_t flag_rc;
  uint8_t flag_ptt;
  uint8_t flag_ptt_selcall;
  uint8_t flag_self_hear;
  uint8_t flag_receiver;
  uint8_t flag_bss;
  uint8_t flag_detector_rx;
  uint8_t flag_detector_tx;
  uint8_t flag_sql;
  uint8_t flag_rc_line_state;
};
struct s_proto_analog_ka_channel {
  uint8_t flag_ptt;
  uint8_t flag_self_hear;
  uint8_t flag_radio_power;
  uint8_t flag_radio_reserv;
  uint8_t flag_detected_rx;
  uint8_t flag_detected_tx;
  uint8_t flag_sql;
  uint8_t flag_rs_tx;
  uint8_t flag_rs_error;
};
// A version-1 radio interface has one radio channel; the record keeps room
// for a few more so that a record built by a user never overruns.
constexpr int PROTO_KA_CHANNELS_MAX = 4;
struct s_proto_rd_keep_alive {
  uint8_t id;
  uint8_t channels_count;
  s_proto_digital_ka_channel channels[PROTO_KA_CHANNELS_MAX];
};
struct s_proto_ra_keep_alive {
  uint8_t id;
  uint8_t channels_count;
  s_proto_analog_ka_channel channels[PROTO_KA_CHANNELS_MAX];
};
struct s_proto_tst_keep_alive {
  uint8_t id;
  uint8_t test_mode;
};

union u_proto_payload {
  s_proto_id id;
  s_proto_number number;
  s_proto_channel channel;
  s_proto_select_channel select_channel;
  s_proto_radio_command radio_command;
  s_proto_rd_bss rd_bss;
  s_proto_gateway_config gateway_config;
  s_proto_v2_keep_alive v2_keep_alive;
  s_proto_remote_keep_alive remote_keep_alive;
  s_proto_rd_keep_alive rd_keep_alive;
  s_proto_id rd_v2_keep_alive;
  s_proto_id gd_keep_alive;
  s_proto_id dcon_dig_keep_alive;
  s_proto_ra_keep_alive ra_keep_alive;
  s_proto_id ra_v2_keep_alive;
  s_proto_id ga_keep_alive;
  s_proto_tst_keep_alive tst_keep_alive;
  s_proto_ggs_command ggs_command;
  s_proto_ggs_state ggs_state;
  s_proto_ggs_digital_state gd_state;
  s_proto_dcon_command dcon_command;
  s_proto_dcon_command dcon_dig_command;
  s_proto_dcon_state dcon_state;
  s_proto_dcon_digital_state dcon_dig_state;
  s_proto_rad_command rad_command;
  s_proto_rad_state rad_state;
  s_proto_rad_digital_command rad_dig_command;
  s_proto_rad_digital_state rad_dig_state;
  s_proto_rad_analog_command rad_analog_command;
  s_proto_rad_analog_state rad_analog_state;
  s_proto_ra_config ra_config;
  s_proto_ga_config ga_config;
  s_proto_ra_v2_config ra_v2_config;
  s_proto_rd_config rd_config;
  s_proto_gd_config gd_config;
  s_proto_dcon_dig_config dcon_dig_config;
  s_proto_rd_v2_config rd_v2_config;
  s_proto_ahw_state ahw_state;
  s_proto_dhw_state dhw_state;
  s_proto_get_info get_info;
  s_proto_digital_set_info digital_set_info;
  s_proto_debug_msg debug;
  s_proto_set_debug set_debug;
  s_proto_show_debug show_debug;
  s_proto_service_command service_command;
  s_proto_test_config test_config;
  s_proto_bytes rs485_cmd;
  s_proto_bytes ra_rs485_status;
  s_proto_p1 p1;
};

struct s_data_cmd {
  int32_t cmdStatus;
  uint16_t msgID;
  uint32_t msgSeqNum;
  uint32_t msgLength;
  uint8_t stateMaster;
  uint8_t stateProtocol;
  uint8_t stateMode;
  uint8_t srcAddr;
  uint8_t srcChannel;
  uint8_t dstAddr;
  uint8_t dstChannel;
  u_proto_payload payload;
};

// ---------------------------------------------------------------- name tables

struct s_proto_const_name {
  int code;
  const char* name;
};
extern const s_proto_const_name proto_status_const_name[];
extern const s_proto_const_name proto_mode_const_name[];
extern const s_proto_const_name proto_packet_const_name[];
extern const s_proto_const_name proto_state_error_const_name[];
extern const s_proto_const_name proto_dcon_state_error_const_name[];

const char* proto_find_name_by_id(const s_proto_const_name* table, int id);
int proto_find_id_by_name(const s_proto_const_name* table, const char* name);
int proto_packet_is_gw_packet(const s_data_cmd* record);
int proto_packet_is_dli_packet(const s_data_cmd* record);
int proto_packet_is_ali_packet(const s_data_cmd* record);

// ---------------------------------------------------------------- channel

struct s_protov2_header {
  unsigned char dst;
  unsigned char src;
  uint16_t id;
  uint16_t flags;
  uint16_t length;
  uint32_t seq;
};

struct s_proto_transiver_event;
typedef int (*proto_convert_fn)(s_proto_transiver_event* row, unsigned short* flags, unsigned char* src,
                                unsigned char* dst, unsigned char* payload, int size, s_data_cmd* record);

struct s_proto_transiver_event {
  uint16_t first_id;
  uint16_t id_count;
  uint32_t seq;
  proto_convert_fn convert;
};

struct s_proto_raw {
  unsigned char* buffer;
  int size;
  int count;
};
struct s_proto_queue {
  s_data_cmd* records;
  int capacity;
  int count;
};
struct s_proto_safe_packets {
  unsigned char initialised;
  int size;
  unsigned char* buffer;
};

enum { PROTO_RAW_SIZE = 16384, PROTO_QUEUE_SIZE = 64, PROTO_SAFE_STEP = 16384 };

struct s_proto_ctrl {
  int mode;
  s_proto_raw raw_out;
  int no_seq_check;
  s_proto_raw raw_in;
  unsigned char synced;
  s_proto_queue recv_queue;
  s_proto_queue send_queue;
  s_proto_queue written_queue;
  s_proto_safe_packets safe_packets;
};

int proto_chan_open(s_proto_ctrl* chan, int seq_mode);
int proto_chan_close(s_proto_ctrl* chan);
int proto_chan_write_input(s_proto_ctrl* chan, const unsigned char* data, int count);
int proto_chan_read_output(s_proto_ctrl* chan, s_data_cmd* records, int max_count);
int proto_chan_write_output(s_proto_ctrl* chan, const s_data_cmd* records, int count);
int proto_chan_read_input(s_proto_ctrl* chan, unsigned char* buffer, int size);
int proto_chan_read_written_output(s_proto_ctrl* chan, s_data_cmd* records, int max_count);
int proto_chan_input2output(s_proto_ctrl* chan);
int proto_chan_output2input(s_proto_ctrl* chan);
int convert_event_recv(s_proto_ctrl* chan, s_protov2_header* header, unsigned char* payload, s_data_cmd* record);
int convert_event_trans(s_proto_ctrl* chan, s_proto_transiver_event* row, s_data_cmd* record);
s_proto_transiver_event* find_event_trans(s_proto_ctrl* chan, int id, int version);

int init_safe_packets(s_proto_ctrl* chan);
unsigned char* get_safe_packets(s_proto_ctrl* chan);
int resize_safe_packets(s_proto_ctrl* chan);
int close_safe_packets(s_proto_ctrl* chan);

// ---------------------------------------------------------------- converters

#define PROTO_CONVERTER(kind)                                                                                          \
  int convert_recv_##kind(s_proto_transiver_event* row, unsigned short* flags, unsigned char* src, unsigned char* dst, \
                          unsigned char* payload, int size, s_data_cmd* record);                                       \
  int convert_trans_##kind(s_proto_transiver_event* row, unsigned short* flags, unsigned char* src,                    \
                           unsigned char* dst, unsigned char* payload, int size, s_data_cmd* record);

PROTO_CONVERTER(dummy)
PROTO_CONVERTER(id)
PROTO_CONVERTER(number)
PROTO_CONVERTER(channel)
PROTO_CONVERTER(select_channel)
PROTO_CONVERTER(get_config)
PROTO_CONVERTER(radio_command)
PROTO_CONVERTER(bss_quality)
PROTO_CONVERTER(v2_keep_alive)
PROTO_CONVERTER(remote_keep_alive)
PROTO_CONVERTER(digital_keep_alive)
PROTO_CONVERTER(v2_digital_keep_alive)
PROTO_CONVERTER(analog_keep_alive)
PROTO_CONVERTER(v2_analog_keep_alive)
PROTO_CONVERTER(test_keep_alive)
#undef PROTO_CONVERTER

// The parameters every converter takes.
#define PROTO_CONV_ARGS                                                                                                \
  s_proto_transiver_event *row, unsigned short *flags, unsigned char *src, unsigned char *dst, unsigned char *payload, \
      int size, s_data_cmd *record

// Header fields <-> flags word and address bytes.
int convert_recv_flags(PROTO_CONV_ARGS);
int convert_trans_flags(PROTO_CONV_ARGS);
int convert_recv_src_dst(PROTO_CONV_ARGS);
int convert_trans_src_dst(PROTO_CONV_ARGS);
// The common start of every receive converter (flags and addresses into the
// record) and of every send converter (zeroed, then filled from the record).
int proto_recv_header(PROTO_CONV_ARGS);
int proto_trans_header(PROTO_CONV_ARGS);

// Checks that no converter argument is missing, then runs the common start;
// false (nothing done) when one is missing.
inline bool proto_recv_begin(PROTO_CONV_ARGS) {
  if (!(row && flags && src && dst && payload && record)) return false;
  proto_recv_header(row, flags, src, dst, payload, size, record);
  return true;
}
inline bool proto_trans_begin(PROTO_CONV_ARGS) {
  if (!(row && flags && src && dst && payload && record)) return false;
  proto_trans_header(row, flags, src, dst, payload, size, record);
  return true;
}

// ---------------------------------------------------------------- record helpers

int cmp_data_cmd(s_data_cmd* a, s_data_cmd* b);
// Copies of one payload member (destination, source); each returns 0 and
// copies nothing when either record is missing.
int cpy_rac(s_data_cmd* dst, const s_data_cmd* src);     // ra_config
int cpy_raka(s_data_cmd* dst, const s_data_cmd* src);    // ra_keep_alive
int cpy_rdc(s_data_cmd* dst, const s_data_cmd* src);     // rd_config
int cpy_rdka(s_data_cmd* dst, const s_data_cmd* src);    // rd_keep_alive
int cpy_gac(s_data_cmd* dst, const s_data_cmd* src);     // ga_config
int cpy_gaka(s_data_cmd* dst, const s_data_cmd* src);    // ga_keep_alive
int cpy_gdc(s_data_cmd* dst, const s_data_cmd* src);     // gd_config
int cpy_gdka(s_data_cmd* dst, const s_data_cmd* src);    // gd_keep_alive
int cpy_gc(s_data_cmd* dst, const s_data_cmd* src);      // ggs_command
int cpy_gs(s_data_cmd* dst, const s_data_cmd* src);      // ggs_state
int cpy_channel(s_data_cmd* dst, const s_data_cmd* src); // channel
int cpy_id(s_data_cmd* dst, const s_data_cmd* src);      // id
int cpy_bss(s_data_cmd* dst, const s_data_cmd* src);     // rd_bss
int cpy_ggc(s_data_cmd* dst, const s_data_cmd* src);     // gateway_config
int cpy_debug(s_data_cmd* dst, const s_data_cmd* src);   // debug
int cpy_tstcfg(s_data_cmd* dst, const s_data_cmd* src);  // test_config
int cpy_tstka(s_data_cmd* dst, const s_data_cmd* src);   // tst_keep_alive

struct s_packet_history_entry {
  s_data_cmd record;
  double time;
};
struct packet_history {
  int next;
  int capacity;
  s_packet_history_entry* entries;
};
int malloc_packet_history(packet_history* history, int count);
int free_packet_history(packet_history* history);
int add_packet_history(packet_history* history, const s_data_cmd* record, const double* time);
int find_packet_history(packet_history* history, s_data_cmd* record, int depth);
s_data_cmd* find_by_id_packet_history(packet_history* history, int id);

// ---------------------------------------------------------------- text dump

enum { PROTO_DUMP_STATUS = 1, PROTO_DUMP_NAMES = 2 };
typedef int (*proto_sprintf_fn)(char* buffer, long size, s_data_cmd* record, int flags);
struct s_proto_sprintf_row {
  uint16_t id;
  proto_sprintf_fn print;
};
extern const s_proto_sprintf_row proto_sprintf_table[];
extern const int proto_sprintf_table_size;

int sprintf_data_cmd(char* buffer, long size, s_data_cmd* record, int flags);
int sprintf_dummy(char* buffer, long size, s_data_cmd* record, int flags);
int sprintf_id(char* buffer, long size, s_data_cmd* record, int flags);
int sprintf_channel(char* buffer, long size, s_data_cmd* record, int flags);
int sprintf_select_channel(char* buffer, long size, s_data_cmd* record, int flags);
int sprintf_get_config(char* buffer, long size, s_data_cmd* record, int flags);
int sprintf_radio_command(char* buffer, long size, s_data_cmd* record, int flags);
int sprintf_bss_quality(char* buffer, long size, s_data_cmd* record, int flags);
int sprintf_keep_alive(char* buffer, long size, s_data_cmd* record, int flags);
int sprintf_digital_keep_alive(char* buffer, long size, s_data_cmd* record, int flags);
int sprintf_analog_keep_alive(char* buffer, long size, s_data_cmd* record, int flags);
int sprintf_test_keep_alive(char* buffer, long size, s_data_cmd* record, int flags);

// Appends one formatted line at offset len of a dump of the given size,
// cutting it to the room left; returns the new full length.
int proto_dump_line(char* buffer, long size, int len, const char* format, ...) __attribute__((format(printf, 4, 5)));

// ---------------------------------------------------------------- channel configuration

#define PROTO_CONFIG_CONVERTER(kind)                                                                              \
  int convert_recv_##kind(s_proto_transiver_event* row, unsigned short* flags, unsigned char* src, unsigned char* dst, \
                          unsigned char* payload, int size, s_data_cmd* record);                                       \
  int convert_trans_##kind(s_proto_transiver_event* row, unsigned short* flags, unsigned char* src,                    \
                           unsigned char* dst, unsigned char* payload, int size, s_data_cmd* record);
PROTO_CONFIG_CONVERTER(config)
PROTO_CONFIG_CONVERTER(v2_config)
PROTO_CONFIG_CONVERTER(analog_config)
PROTO_CONFIG_CONVERTER(v2_analog_config)
PROTO_CONFIG_CONVERTER(digital_config)
PROTO_CONFIG_CONVERTER(v2_digital_config)
PROTO_CONFIG_CONVERTER(analog_hw_state)
PROTO_CONFIG_CONVERTER(digital_hw_state)
PROTO_CONFIG_CONVERTER(get_info)
PROTO_CONFIG_CONVERTER(digital_set_info)
PROTO_CONFIG_CONVERTER(debug_msg)
PROTO_CONFIG_CONVERTER(set_debug)
PROTO_CONFIG_CONVERTER(show_debug)
PROTO_CONFIG_CONVERTER(service_command)
PROTO_CONFIG_CONVERTER(test_config)
PROTO_CONFIG_CONVERTER(rs485_cmd)
PROTO_CONFIG_CONVERTER(rs485_status)
PROTO_CONFIG_CONVERTER(p1_packet)
#undef PROTO_CONFIG_CONVERTER
int recv_ggs_channel_analog(s_ggs_channel_analog_config* channel, int type, const unsigned char* data, int length);
int trans_ggs_channel_analog(const s_ggs_channel_analog_config* channel, unsigned char* buffer, int capacity);
int recv_ggs_channel_digital(s_ggs_channel_digital_config* channel, int type, const unsigned char* data, int length);
int trans_ggs_channel_digital(const s_ggs_channel_digital_config* channel, unsigned char* buffer, int capacity);
int recv_dcon_channel_digital(s_dcon_channel_digital_config* channel, int type, const unsigned char* data, int length);
int trans_dcon_channel_digital(const s_dcon_channel_digital_config* channel, unsigned char* buffer, int capacity);
int sprintf_config(char* buffer, long size, s_data_cmd* record, int flags);
int sprintf_analog_config(char* buffer, long size, s_data_cmd* record, int flags);
int sprintf_digital_config(char* buffer, long size, s_data_cmd* record, int flags);

// ---------------------------------------------------------------- hardware state and maintenance

int sprintf_analog_hw_state(char* buffer, long size, s_data_cmd* record, int flags);
int sprintf_digital_hw_state(char* buffer, long size, s_data_cmd* record, int flags);
int sprintf_get_info(char* buffer, long size, s_data_cmd* record, int flags);
int sprintf_digital_set_info(char* buffer, long size, s_data_cmd* record, int flags);
int sprintf_debug_msg(char* buffer, long size, s_data_cmd* record, int flags);
int sprintf_set_debug(char* buffer, long size, s_data_cmd* record, int flags);
int sprintf_show_debug(char* buffer, long size, s_data_cmd* record, int flags);
int sprintf_service_command(char* buffer, long size, s_data_cmd* record, int flags);
int sprintf_test_config(char* buffer, long size, s_data_cmd* record, int flags);
int sprintf_rs485_cmd(char* buffer, long size, s_data_cmd* record, int flags);
int sprintf_rs485_status(char* buffer, long size, s_data_cmd* record, int flags);
int sprintf_p1_packet(char* buffer, long size, s_data_cmd* record, int flags);
