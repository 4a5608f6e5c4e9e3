#pragma once
// Register protocol of the Zolta 7 radio station on a serial line, framed as
// Modbus RTU: [address][function][data][CRC-16/MODBUS, low byte first].
//
// A channel (s_proto_zl7_ctrl) turns received bytes into decoded message
// records and queued message records into bytes to send, in the controller
// role (requests out, responses in) or the station role (the reverse).
// Plain functions over plain records; results are counts or negative codes.
#include <cstdint>

enum {
  PROTO_ZL7_CONVERT_OK = 0,
  PROTO_ZL7_CONVERT_ERROR = -1,
  PROTO_ZL7_CONVERT_UNKNOWN_ERROR = -2,
  PROTO_ZL7_CONVERT_BAD_START = -191,
  PROTO_ZL7_CONVERT_BAD_ID = -193,
  PROTO_ZL7_CONVERT_BAD_LENGHT = -194,
  PROTO_ZL7_CONVERT_BAD_CRC = -195,
  PROTO_ZL7_CONVERT_BAD_ADDR = -196,
  PROTO_ZL7_CONVERT_BAD_MODE = -197,
  PROTO_ZL7_CONVERT_QUEUE_FULL = -198,
  PROTO_ZL7_CONVERT_NOT_ENOUGHT_MEMORY = -199,
  PROTO_ZL7_CONVERT_NOT_ENOUGHT_PAYLOAD_DATA = -200,
  PROTO_ZL7_CONVERT_BAD_PARAM = -201,
  PROTO_ZL7_CONVERT_NOT_ENOUGHT_RAW_DATA = -202,
};

enum {
  PROTO_MODE_ZL7_CONTROLER = 0,
  PROTO_MODE_ZL7_RADIO_STATION = 1,
};

// Function codes.
enum {
  CTL_GET_REGS = 3,
  CTL_CALL_SUB = 8,
  CTL_SET_REGS = 16,
  CTL_GET_ID = 17,
  CTL_SET_CONFIG = 19,
  RST_GET_REGS = 3,
  RST_CALL_SUB = 8,
  RST_SET_REGS = 16,
  RST_GET_ID = 17,
  RST_ERR_GET_REGS = 131,
  RST_ERR_CALL_SUB = 136,
  RST_ERR_SET_REGS = 144,
  RST_ERR_GET_ID = 145,
  RST_ERR_SET_CONFIG = 147,
};

constexpr int ZL7_MAX_REGS = 32;
constexpr int ZL7_RAW_SIZE = 1024;
constexpr int ZL7_QUEUE_SIZE = 64;
constexpr int ZL7_MAX_FRAME = 768;  // more held bytes than this is a broken stream

struct s_zl7_cmd {
  std::int32_t status;
  std::uint8_t address;
  std::uint8_t function;
  std::uint16_t length;
  union {
    struct {
      std::uint16_t reg_addr;
      std::uint16_t regs_count;
    } ctl_get_regs;
    struct {
      std::uint16_t sub_func;
    } ctl_call_sub;
    struct {
      std::uint16_t reg_addr;
      std::uint16_t regs_count;
      std::uint8_t bytes_count;
      std::uint16_t regs[ZL7_MAX_REGS];
    } ctl_set_regs;
    struct {
      std::uint8_t baudrate;
    } ctl_set_config;
    struct {
      std::uint8_t bytes_count;
      std::uint16_t regs[ZL7_MAX_REGS];
    } rst_get_regs;
    struct {
      std::uint16_t reg_addr;
      std::uint16_t regs_count;
    } rst_set_regs;
    struct {
      std::uint8_t id, poweron, flag_tx, flag_rx, flag_ak, flag_p, version_major, version_minor;
    } rst_id;
    struct {
      std::uint8_t error;
    } rst_error;
  } body;
};

struct s_proto_zl7_header {
  std::uint8_t address;
  std::uint8_t function;
  std::uint16_t length;  // buffered bytes after the two header bytes
};

struct s_proto_zl7_transiver_event;
struct s_proto_zl7_ctrl;
// A converter: (row, address, function, data, length or room, record).
typedef int (*proto_zl7_converter)(const s_proto_zl7_transiver_event* row, unsigned char address,
                                   unsigned char function, unsigned char* data, int length,
                                   s_zl7_cmd* cmd);
struct s_proto_zl7_transiver_event {
  std::uint8_t function;
  proto_zl7_converter convert;
};

struct s_proto_zl7_ctrl {
  std::int32_t mode;
  std::uint8_t address;
  std::uint8_t marker[1];
  int marker_length;

  unsigned char* out_raw;
  int out_raw_size;
  int out_raw_count;

  unsigned char* in_raw;
  int in_raw_size;
  int in_raw_count;
  int in_sync;

  s_zl7_cmd* recv_queue;
  int recv_capacity;
  int recv_count;

  s_zl7_cmd* out_queue;
  int out_capacity;
  int out_count;

  s_zl7_cmd* written_queue;
  int written_capacity;
  int written_count;

  unsigned char* scratch;
  int scratch_set;
  int scratch_size;
};

// One register value.
struct s_zl7_reg {
  std::uint8_t address;
  union {
    std::int32_t cw;
    std::uint16_t data;
    struct { std::uint8_t request; } cntr;
    struct { std::uint8_t kf; std::uint16_t f; } frrs;
    struct { std::uint8_t power, kfamp; } pkm;
    struct { std::uint8_t kf; } ksw;
    struct { std::uint8_t tki, tr; } tc;
    struct { std::uint8_t kf, v; } varu;
    struct { std::uint8_t sql; } sql;
  } value;
};

// Name tables: rows of (code, text) ended by a row without text.
struct s_proto_zl7_table_name {
  std::int32_t id;
  const char* name;
};
extern const s_proto_zl7_table_name proto_zl7_status_const_name[];
extern const s_proto_zl7_table_name proto_zl7_packet_const_name[];
extern const s_proto_zl7_table_name proto_zl7_mode_const_name[];
extern const s_proto_zl7_table_name proto_zl7_error[];

const char* proto_zl7_find_name_by_id(const s_proto_zl7_table_name* table, int id);
int proto_zl7_find_id_by_name(const s_proto_zl7_table_name* table, const char* text);

// Converter tables of the two roles.
extern const s_proto_zl7_transiver_event controler_trans_table_event[5];
extern const s_proto_zl7_transiver_event radio_recv_table_event[5];
extern const s_proto_zl7_transiver_event radio_trans_table_event[9];
extern const s_proto_zl7_transiver_event controler_recv_table_event[9];

int calc_crc16(int init, const void* data, int length);

int proto_zl7_chan_open(s_proto_zl7_ctrl* ctrl, unsigned char address, int mode);
int proto_zl7_chan_close(s_proto_zl7_ctrl* ctrl);
int proto_zl7_chan_write_input(s_proto_zl7_ctrl* ctrl, const void* bytes, int n);
int proto_zl7_chan_read_output(s_proto_zl7_ctrl* ctrl, s_zl7_cmd* out, int n);
int proto_zl7_chan_write_output(s_proto_zl7_ctrl* ctrl, const s_zl7_cmd* in, int n);
int proto_zl7_chan_read_input(s_proto_zl7_ctrl* ctrl, void* bytes, int n);
int proto_zl7_chan_read_written_output(s_proto_zl7_ctrl* ctrl, s_zl7_cmd* out, int n);

int convert_event_recv(s_proto_zl7_ctrl* ctrl, s_proto_zl7_header* header, const unsigned char* data,
                       s_zl7_cmd* cmd);
int convert_event_trans(s_proto_zl7_ctrl* ctrl, const s_proto_zl7_transiver_event* row,
                        s_zl7_cmd* cmd);
const s_proto_zl7_transiver_event* find_event_trans(s_proto_zl7_ctrl* ctrl, unsigned char function);
int proto_zl7_chan_input2output(s_proto_zl7_ctrl* ctrl);
int proto_zl7_chan_output2input(s_proto_zl7_ctrl* ctrl);

#define ZL7_CONVERTER(name)                                                            \
  int name(const s_proto_zl7_transiver_event* row, unsigned char address,              \
           unsigned char function, unsigned char* data, int length, s_zl7_cmd* cmd)
ZL7_CONVERTER(convert_recv_rst_get_regs);
ZL7_CONVERTER(convert_recv_rst_call_sub);
ZL7_CONVERTER(convert_recv_rst_set_regs);
ZL7_CONVERTER(convert_recv_rst_get_id);
ZL7_CONVERTER(convert_recv_rst_error);
ZL7_CONVERTER(convert_recv_ctl_get_regs);
ZL7_CONVERTER(convert_recv_ctl_call_sub);
ZL7_CONVERTER(convert_recv_ctl_set_regs);
ZL7_CONVERTER(convert_recv_ctl_get_id);
ZL7_CONVERTER(convert_recv_ctl_set_config);
ZL7_CONVERTER(convert_trans_rst_get_regs);
ZL7_CONVERTER(convert_trans_rst_call_sub);
ZL7_CONVERTER(convert_trans_rst_set_regs);
ZL7_CONVERTER(convert_trans_rst_get_id);
ZL7_CONVERTER(convert_trans_rst_error);
ZL7_CONVERTER(convert_trans_ctl_get_regs);
ZL7_CONVERTER(convert_trans_ctl_call_sub);
ZL7_CONVERTER(convert_trans_ctl_set_regs);
ZL7_CONVERTER(convert_trans_ctl_get_id);
ZL7_CONVERTER(convert_trans_ctl_set_config);
#undef ZL7_CONVERTER

int pack_zl7_reg(s_zl7_cmd* cmd, const s_proto_zl7_header* header, const s_zl7_reg* reg);
int unpack_zl7_reg(s_zl7_reg* reg, unsigned int register_number, const unsigned short* words);

namespace radio_text {
class Printer;
}
// Printer table of the register values: one row per register number that has
// a kind (0-14, 16-27), whose printer writes the value's fields after the
// "reg.addr" line.
struct s_proto_zl7_reg_sprintf_row {
  std::uint8_t address;
  void (*print)(radio_text::Printer& p, const s_zl7_reg& reg);
};
extern const s_proto_zl7_reg_sprintf_row proto_zl7_regs_sprintf_table[27];

// Printer tables of the messages: one row per function of the role (the
// controller's requests, the station's responses), whose printer writes the
// body's fields after the "msgAddr" and "msgFunc" lines.
struct s_proto_zl7_cmd_sprintf_row {
  std::uint8_t function;
  void (*print)(radio_text::Printer& p, const s_zl7_cmd& cmd);
};
extern const s_proto_zl7_cmd_sprintf_row proto_zl7_controler_sprintf_table[5];
extern const s_proto_zl7_cmd_sprintf_row proto_zl7_radio_sprintf_table[9];

int sprintf_zl7_cmd(char* buffer, long size, const s_zl7_cmd* cmd, int mode, int flags);
int sprintf_zl7_reg(char* buffer, long size, const s_zl7_reg* reg, int flags);
int cmp_zl7_cmd(const s_zl7_cmd* a, const s_zl7_cmd* b, int mode);
int cmp_zl7_reg(const s_zl7_reg* a, const s_zl7_reg* b);
