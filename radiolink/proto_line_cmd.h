#pragma once
// Line-signalling (GGS, DCON) and version-2 radio (RAD) command and state
// records of the radio link, with their converters and printers.
//
// Included by radiolink/proto_vork.h, which puts the records into the
// payload union of s_data_cmd; include that header, not this one.
#include <cstdint>

// ---------------------------------------------------------------- GGS

enum { PROTO_LINE_PARAM_MAX = 255, PROTO_PACKET_PARAM_MAX = 20 };

struct s_proto_ggs_command {
  uint8_t channel;
  uint16_t ggs_type_call;
  uint8_t command;
  uint8_t param_size;
  uint8_t param[PROTO_LINE_PARAM_MAX];
};
struct s_proto_ggs_state {
  uint8_t channel;
  uint8_t state;
  uint8_t error;
};
// Starts like s_proto_ggs_state.
struct s_proto_ggs_digital_state {
  uint8_t channel;
  uint8_t state;
  uint8_t error;
  uint8_t flag_detected_rx;
  uint8_t flag_detected_tx;
};

// ---------------------------------------------------------------- DCON

struct s_proto_dcon_command {
  uint8_t channel;
  uint16_t type_signal;
  uint8_t command;
  uint8_t param_size;
  uint8_t param[PROTO_LINE_PARAM_MAX];
};
struct s_proto_dcon_state {
  uint8_t channel;
  uint16_t type_signal;
  uint8_t state;
  uint8_t error;
};
// Starts like s_proto_dcon_state.
struct s_proto_dcon_digital_state {
  uint8_t channel;
  uint16_t type_signal;
  uint8_t state;
  uint8_t error;
  uint8_t flag_detected_rx;
  uint8_t flag_detected_tx;
};

// ---------------------------------------------------------------- RAD (version 2)

// Command numbers of the gateway's radio command.
enum {
  RAD_CMD_GET_STATE_BITS = 0,
  RAD_CMD_PTT_ON = 1,
  RAD_CMD_PTT_OFF = 2,
  RAD_CMD_RX_ON = 3,
  RAD_CMD_RX_OFF = 4,
  RAD_CMD_SH_ON = 5,
  RAD_CMD_SH_OFF = 6,
  RAD_CMD_BSS_ON = 7,
  RAD_CMD_BSS_OFF = 8,
  RAD_CMD_RS485 = 9,
  RAD_CMD_RST_ON = 10,
  RAD_CMD_RST_OFF = 11,
  RAD_CMD_AUX_ON = 12,
  RAD_CMD_AUX_OFF = 13,
  RAD_CMD_SEL_CH = 14,
  RAD_CMD_DEACT_CH = 15,
  RAD_CMD_ACT_CH = 16,
};
// State types and the interfaces' own command numbers.
enum {
  RAD_STATE_BITS = 0,
  RAD_STATE_SEL_CH = 14,
  RAD_DIG_CMD_SEL_CH = 14,
  RAD_DIG_CMD_BSS_SCORE = 64,
  RAD_DIG_CMD_SQL_ON = 65,
  RAD_DIG_CMD_SQL_OFF = 66,
  RAD_ANA_CMD_RS485 = 128,
  RAD_ANA_CMD_SQL_ON = 129,
  RAD_ANA_CMD_SQL_OFF = 130,
};

struct s_proto_rad_ptt {
  uint8_t param_size;
  uint8_t param[PROTO_PACKET_PARAM_MAX];
};
struct s_proto_rad_bytes {
  uint8_t payload_size;
  uint8_t payload[PROTO_LINE_PARAM_MAX];
};
struct s_proto_rad_select {
  uint8_t select_interface;
  uint8_t select_channel;
};
struct s_proto_rad_bss {
  float snr;
};
struct s_proto_rad_digital_bits {
  uint8_t flag_rc;
  uint8_t flag_ptt;
  uint8_t flag_ptt_selcall;
  uint8_t flag_self_hear;
  uint8_t flag_receiver;
  uint8_t flag_bss;
  uint8_t flag_detector_rx;
  uint8_t flag_detector_tx;
  uint8_t flag_rc_line_state;
};
struct s_proto_rad_analog_bits {
  uint8_t flag_attach;
  uint8_t flag_ptt;
  uint8_t flag_self_hear;
  uint8_t flag_radio_power;
  uint8_t flag_radio_reserv;
  uint8_t flag_detected_rx;
  uint8_t flag_detected_tx;
  uint8_t flag_rs_tx;
  uint8_t flag_rs_error;
};

struct s_proto_rad_command {
  uint8_t channel;
  uint8_t command;
  union {
    s_proto_rad_ptt ptt;
    s_proto_rad_bytes rs485_cmd;
    s_proto_rad_select select_channel;
  };
};
struct s_proto_rad_state {
  uint8_t channel;
  uint8_t type;
  union {
    s_proto_rad_select select_channel;
  };
};
struct s_proto_rad_digital_command {
  uint8_t channel;
  uint8_t command;
  union {
    s_proto_rad_select select_channel;
    s_proto_rad_bss bss;
  };
};
struct s_proto_rad_digital_state {
  uint8_t channel;
  uint8_t type;
  union {
    s_proto_rad_digital_bits state;
    s_proto_rad_select select_channel;
  };
};
struct s_proto_rad_analog_command {
  uint8_t channel;
  uint8_t command;
  union {
    s_proto_rad_bytes rs485_status;
  };
};
struct s_proto_rad_analog_state {
  uint8_t channel;
  uint8_t type;
  union {
    s_proto_rad_analog_bits state;
  };
};

// ---------------------------------------------------------------- converters and printers

struct s_proto_transiver_event;
struct s_data_cmd;

#define PROTO_LINE_CONVERTER(kind)                                                                                     \
  int convert_recv_##kind(s_proto_transiver_event* row, unsigned short* flags, unsigned char* src, unsigned char* dst, \
                          unsigned char* payload, int size, s_data_cmd* record);                                       \
  int convert_trans_##kind(s_proto_transiver_event* row, unsigned short* flags, unsigned char* src,                    \
                           unsigned char* dst, unsigned char* payload, int size, s_data_cmd* record);                  \
  int sprintf_##kind(char* buffer, long size, s_data_cmd* record, int flags);

PROTO_LINE_CONVERTER(ggs_command)
PROTO_LINE_CONVERTER(ggs_state)
PROTO_LINE_CONVERTER(ggs_digital_state)
PROTO_LINE_CONVERTER(dcon_command)
PROTO_LINE_CONVERTER(dcon_digital_command)
PROTO_LINE_CONVERTER(dcon_state)
PROTO_LINE_CONVERTER(dcon_digital_state)
PROTO_LINE_CONVERTER(rad_command)
PROTO_LINE_CONVERTER(rad_state)
PROTO_LINE_CONVERTER(rad_digital_command)
PROTO_LINE_CONVERTER(rad_digital_state)
PROTO_LINE_CONVERTER(rad_analog_command)
PROTO_LINE_CONVERTER(rad_analog_state)
#undef PROTO_LINE_CONVERTER
