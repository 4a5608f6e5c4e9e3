#pragma once
// Channel configuration records of the line interfaces (set-configuration
// payloads). Included by proto_vork.h: these are members of the payload union.
#include <cstdint>

constexpr int PROTO_RA_CHANNELS_MAX = 1;      // radio analog, version 1
constexpr int PROTO_RA_V2_CHANNELS_MAX = 2;   // radio analog, version 2
constexpr int PROTO_GGS_CHANNELS_MAX = 2;     // GGS, analog and digital
constexpr int PROTO_RD_CHANNELS_MAX = 1;      // radio digital, version 1
constexpr int PROTO_RD_V2_CHANNELS_MAX = 2;   // radio digital, version 2
constexpr int PROTO_DCON_CHANNELS_MAX = 3;    // DCON digital
constexpr int PROTO_GAINS_V1_MAX = 11;
constexpr int PROTO_GAINS_V2_MAX = 2;
constexpr int PROTO_PATTERN_MAX = 64;
constexpr int PROTO_LINES_COUNT = 2;          // 2-wire lines of a digital interface
constexpr int PROTO_GGS_TYPE_MAX = 12;

// GGS signalling types (numbers of the line's type field).
enum {
  GGS_TYPE_NONE = 0,
  GGS_TYPE_DC = 1,
  GGS_TYPE_TONE = 2,
  GGS_TYPE_VOICE = 3,
  GGS_TYPE_FXO = 4,
  GGS_TYPE_FXS = 5,
  GGS_TYPE_MB = 6,
  GGS_TYPE_IVA = 7,
  GGS_TYPE_DPU60 = 8,
  GGS_TYPE_DPUA = 9,
  GGS_TYPE_DPUVI = 10,
  GGS_TYPE_PRB = 11,
  GGS_TYPE_EMVI = 12,
};

struct s_proto_uart_config {
  uint32_t baud;
  uint8_t data_bits;
  uint8_t parity_bit;
  uint8_t stop_bits;
  uint8_t mode;
};

// ---------------------------------------------------------------- analog

struct s_radio_channel_analog_config {
  uint16_t radio_type;
  uint16_t radio_conn;
  uint8_t flag_agc1_tx_state;
  uint8_t flag_agc2_rx_state;
  uint8_t flag_mixer_doc_state;
  s_proto_uart_config uart_config;
};
struct s_proto_ra_config {
  uint8_t channels_count;
  s_radio_channel_analog_config channels[PROTO_RA_CHANNELS_MAX];
  uint8_t gains_count;
  uint8_t gain_id[PROTO_GAINS_V1_MAX];
  uint8_t gain_value[PROTO_GAINS_V1_MAX];
  uint8_t pattern_size;
  uint8_t pattern[PROTO_PATTERN_MAX];
};

// Every GGS analog type begins with these two flags.
struct s_ggs_analog_simple {
  uint8_t flag_agc_state;
  uint8_t ggs_mode;
};
struct s_ggs_analog_fxo {
  uint8_t flag_agc_state;
  uint8_t ggs_mode;
  uint8_t pulse_make;
  uint8_t pulse_break;
  uint16_t pulse_pause;
  uint16_t flash;
  uint16_t seize;
  uint16_t ring_det;
  uint16_t ring_off;
};
struct s_ggs_analog_fxs {
  uint8_t flag_agc_state;
  uint8_t ggs_mode;
  uint8_t flag_pulse_det;
  uint8_t pulse_make_det;
  uint8_t pulse_break_det;
  uint16_t pulse_pause_det;
  uint16_t flash_det;
  uint16_t seize_det;
  uint8_t ring_seq;
  uint8_t ring_form;
};
struct s_ggs_analog_mb {
  uint8_t flag_agc_state;
  uint8_t ggs_mode;
  uint16_t ring_det;
  uint16_t ring_off;
  uint8_t ring_form;
};
struct s_ggs_channel_analog_config {
  uint16_t ggs_type_call;
  union {
    s_ggs_analog_simple dc, tone, voice, iva, dpu60, dpua, dpuvi, prb, emvi;
    s_ggs_analog_fxo fxo;
    s_ggs_analog_fxs fxs;
    s_ggs_analog_mb mb;
  };
};
struct s_proto_ga_config {
  uint8_t channels_count;
  uint8_t wire;
  s_ggs_channel_analog_config channels[PROTO_GGS_CHANNELS_MAX];
  uint8_t gains_count;
  uint8_t gain_id[PROTO_GAINS_V1_MAX];
  uint8_t gain_value[PROTO_GAINS_V1_MAX];
  uint8_t pattern_size;
  uint8_t pattern[PROTO_PATTERN_MAX];
};

struct s_radio_v2_channel_analog_config {
  uint32_t enable;
  uint8_t flag_agc1_tx_state;
  uint8_t flag_agc2_rx_state;
  uint8_t flag_mixer_doc_state;
  uint8_t flag_wire;
  uint8_t gains_count;
  uint8_t gain_id[PROTO_GAINS_V2_MAX];
  uint8_t gain_value[PROTO_GAINS_V2_MAX];
  uint8_t pattern_size;
  uint8_t pattern[PROTO_PATTERN_MAX];
  s_proto_uart_config uart_config;
};
struct s_proto_ra_v2_config {
  uint8_t channels_count;
  s_radio_v2_channel_analog_config channels[PROTO_RA_V2_CHANNELS_MAX];
};

// ---------------------------------------------------------------- digital

struct s_line_digital_config {
  uint8_t line_control;
  float line_echo_threshold;
};

struct s_radio_channel_digital_config {
  uint16_t radio_type;
  uint16_t radio_conn;
  uint16_t rc_state;
  uint16_t radio_call;
  uint8_t flag_rc_mode;
  uint8_t flag_ptt_prio;
  uint8_t flag_sql_prio;
  uint8_t flag_wire;
  uint8_t flag_agc_rx;
  float snr;
  int32_t delay_rx;
  int32_t delay_tx;
  uint16_t vad_timeout;
  uint16_t vad_window;
  uint8_t vad_det_level;
  int16_t signal_level;
  int16_t detector_level;
};
struct s_proto_rd_config {
  uint8_t channels_count;
  s_radio_channel_digital_config channels[PROTO_RD_CHANNELS_MAX];
  s_line_digital_config line_config[PROTO_LINES_COUNT];
};

struct s_radio_v2_channel_digital_config {
  uint32_t enable;
  uint8_t flag_rc_mode;
  uint8_t flag_ptt_prio;
  uint8_t flag_sql_prio;
  uint8_t flag_wire;
  uint8_t flag_agc_rx;
  float snr;
  int32_t delay_rx;
  int32_t delay_tx;
  uint16_t radio_call;
  uint16_t rc_state;
  uint16_t vad_timeout;
  uint16_t vad_window;
  uint8_t vad_det_level;
  int16_t detector_level;
  int16_t signal_level;
  uint8_t gain_tx;
  uint8_t gain_rx;
  uint8_t gain_sh;
};
struct s_proto_rd_v2_config {
  uint8_t channels_count;
  s_radio_v2_channel_digital_config channels[PROTO_RD_V2_CHANNELS_MAX];
  s_line_digital_config line_config[PROTO_LINES_COUNT];
};

// Every GGS digital type begins with these three flags.
struct s_ggs_digital_basic {  // dc, mb, dpu60, dpua, prb
  uint8_t flag_enable_ec;
  uint8_t flag_agc_rx;
  uint8_t ggs_mode;
  uint16_t vad_timeout;
  uint16_t vad_window;
  uint8_t vad_det_level;
};
struct s_ggs_digital_delay {  // voice, dpuvi, emvi
  uint8_t flag_enable_ec;
  uint8_t flag_agc_rx;
  uint8_t ggs_mode;
  uint16_t vad_timeout;
  uint16_t vad_window;
  uint8_t vad_det_level;
  int32_t delay_rx;
};
struct s_ggs_digital_tone {
  uint8_t flag_enable_ec;
  uint8_t flag_agc_rx;
  uint8_t ggs_mode;
  uint16_t vad_timeout;
  uint16_t vad_window;
  uint8_t vad_det_level;
  int16_t signal_level;
  int16_t detector_level;
  int32_t delay_rx;
};
struct s_ggs_digital_fxo {
  uint8_t flag_enable_ec;
  uint8_t flag_agc_rx;
  uint8_t ggs_mode;
  uint16_t vad_timeout;
  uint16_t vad_window;
  uint8_t vad_det_level;
  int16_t dtmf_signal_level;
  uint16_t dtmf_mark_time;
  uint16_t dtmf_space_time;
};
struct s_ggs_digital_fxs {
  uint8_t flag_enable_ec;
  uint8_t flag_agc_rx;
  uint8_t ggs_mode;
  uint8_t flag_enable_dtmf;
  uint16_t vad_timeout;
  uint16_t vad_window;
  uint8_t vad_det_level;
  int16_t dtmf_det_level;
  uint16_t dtmf_det_mark_min;
  uint16_t dtmf_det_mark_max;
  uint16_t dtmf_det_space;
};
struct s_ggs_digital_iva {
  uint8_t flag_enable_ec;
  uint8_t flag_agc_rx;
  uint8_t ggs_mode;
  uint16_t trans_interval;
  uint16_t detector_interval;
  int16_t detector_level;
  int16_t signal_level;
  uint16_t vad_timeout;
  uint16_t vad_window;
  uint8_t vad_det_level;
  int32_t delay_rx;
};
struct s_ggs_channel_digital_config {
  uint16_t ggs_type_call;
  union {
    s_ggs_digital_basic dc, mb, dpu60, dpua, prb;
    s_ggs_digital_delay voice, dpuvi, emvi;
    s_ggs_digital_tone tone;
    s_ggs_digital_fxo fxo;
    s_ggs_digital_fxs fxs;
    s_ggs_digital_iva iva;
  };
};
struct s_proto_gd_config {
  uint8_t channels_count;
  uint8_t wire;
  s_ggs_channel_digital_config channels[PROTO_GGS_CHANNELS_MAX];
  s_line_digital_config line_config[PROTO_LINES_COUNT];
};

struct s_dcon_channel_digital_config {
  uint16_t type_signal;
};
struct s_proto_dcon_dig_config {
  uint8_t channels_count;
  s_dcon_channel_digital_config channels[PROTO_DCON_CHANNELS_MAX];
};
