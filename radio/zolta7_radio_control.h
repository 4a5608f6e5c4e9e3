#pragma once
// Station control of the Zolta 7 radio station: the poll-and-update state
// machine that reads the station's identification and registers and writes
// frequency and squelch changes over the register protocol (controller
// role). The owner feeds received bytes, takes bytes to send and steps the
// machine with the current time.
#include <cstdint>

#include "radio/proto_zl7.h"
#include "runtime/os/clock.h"

enum { ZL7_STATE_NO_CONNECTION = 0, ZL7_STATE_WORK = 1 };
enum {
  ZL7_SUBSTATE_NONE = 0,
  ZL7_SUBSTATE_SEND_REQUEST = 1,
  ZL7_SUBSTATE_WAIT_RESPONSE = 2,
  ZL7_SUBSTATE_TO_REQUEST = 3,
};
enum {
  ZL7_TASK_NONE = 0,
  ZL7_TASK_GET_ID = 1,
  ZL7_TASK_GET_ALL_REGS = 2,
  ZL7_TASK_SET_FREQ = 3,
  ZL7_TASK_SET_SQUELSH = 4,
};
enum {
  ZL7_UPDATE_NONE = 0,
  ZL7_UPDATE_NEED = 1,
  ZL7_UPDATE_SEND = 2,
  ZL7_UPDATE_WAS = 3,
};

constexpr int ZL7_TEXT_SIZE = 8192;

struct s_zolta7_radio_control {
  std::int32_t address;
  std::int64_t response_timeout;  // ms
  std::int64_t poll_period;       // ms
  float freq_min, freq_max, freq_step;  // MHz

  std::int32_t state;
  std::int32_t substate;
  std::int32_t task;
  Mux::timeval now;
  Mux::timeval request_time;
  std::int32_t last_error;

  std::int32_t freq_update;
  std::int32_t sql_update;
  std::int32_t last_error_set_regs;
  std::int32_t initialised;
  float wanted_freq;
  std::int32_t wanted_sql;
  std::int32_t wanted_type_emission;
  struct {
    std::uint8_t kf;
    std::uint16_t f;
  } wanted_frrs;
  std::uint16_t wanted_mr1;

  std::int32_t id_update;
  std::int32_t last_error_id;
  Mux::timeval id_request_time;
  struct {
    std::uint8_t id, poweron, flag_tx, flag_rx, flag_ak, flag_p, version_major, version_minor;
  } id;

  std::int32_t regs_update;
  std::int32_t last_error_get_regs;
  Mux::timeval regs_read_time;
  std::uint16_t regs_start;
  std::uint16_t regs_count;

  float cur_freq;
  std::int32_t cur_sql;
  std::int32_t cur_type_emission;

  // Register images.
  std::int32_t cw;
  std::uint8_t cntr_request;
  std::uint16_t mr1, mr2;
  struct {
    std::uint8_t kf;
    std::uint16_t f;
  } frrs;
  std::uint8_t pkm_power, pkm_kfamp;
  std::uint8_t ksw_kf;
  std::uint8_t tc_tki, tc_tr;
  std::uint8_t varu_kf, varu_v;
  std::uint8_t sql;
  std::uint16_t din, dto, strs, pout;
  std::uint16_t ad[8];
  std::uint16_t dv[4];  // dv1..dv4

  s_proto_zl7_ctrl chan;
  s_zl7_cmd received;
  s_zl7_cmd to_send;
  char text[ZL7_TEXT_SIZE];
};

// Name tables of the status dump.
extern const s_proto_zl7_table_name proto_zl7_state[];
extern const s_proto_zl7_table_name proto_zl7_substate[];
extern const s_proto_zl7_table_name proto_zl7_task[];
extern const s_proto_zl7_table_name proto_zl7_task_state[];
extern const s_proto_zl7_table_name proto_zl7_squelsh[];
extern const s_proto_zl7_table_name proto_zl7_transmiter[];
extern const s_proto_zl7_table_name proto_zl7_aru[];
extern const s_proto_zl7_table_name proto_zl7_sql[];

int zolta7_radio_control_open(s_zolta7_radio_control* r);
int zolta7_radio_control_close(s_zolta7_radio_control* r);
int zolta7_radio_control_read(s_zolta7_radio_control* r, void* buffer, int size);
int zolta7_radio_control_write(s_zolta7_radio_control* r, const void* data, int size);
int zolta7_radio_control_process(s_zolta7_radio_control* r, const Mux::timeval& now);
int zolta7_radio_control_set_freq(s_zolta7_radio_control* r, float mhz);
float zolta7_radio_control_get_freq(const s_zolta7_radio_control* r);
int zolta7_radio_control_set_sql(s_zolta7_radio_control* r, int value);
int zolta7_radio_control_get_sql(const s_zolta7_radio_control* r);
int zolta7_radio_control_set_type_emission(s_zolta7_radio_control* r, int value);
int zolta7_radio_control_get_type_emission(const s_zolta7_radio_control* r);
int zolta7_radio_control_isconnected(const s_zolta7_radio_control* r);
int zolta7_radio_control_protocol_error(const s_zolta7_radio_control* r);
int zolta7_radio_control_hardware_error(const s_zolta7_radio_control* r);
int zolta7_radio_control_show(s_zolta7_radio_control* r, void* buffer, int size);
int zolta7_radio_control_showfd(s_zolta7_radio_control* r, int fd);
int zolta7_show_uni(const s_zolta7_radio_control* r, char* buffer, int size);
