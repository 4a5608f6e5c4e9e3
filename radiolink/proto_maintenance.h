#pragma once
// Hardware state, information, debug, service, test and RS-485 records.
// Included by proto_vork.h: these are members of the payload union.
#include <cstdint>

constexpr int PROTO_SOUND_PATHS = 13;   // rtx1 .. spi
constexpr int PROTO_2WIRE_LINES = 3;
constexpr int PROTO_BYTES_MAX = 255;    // byte lists carry an 8-bit size

struct s_proto_ahw_state {
  uint16_t processor_load;
  uint8_t voltage_primary_power;
  uint8_t voltage_secondary_power;
  uint8_t fault_power[2];
  uint8_t fault_interface[4];
  uint8_t lose_sound[PROTO_SOUND_PATHS];
  uint8_t fault_sound[PROTO_SOUND_PATHS];
};
struct s_proto_dhw_state {
  uint8_t fault_power[2];
  uint8_t fault_codec[PROTO_2WIRE_LINES];
  uint8_t fault_line[PROTO_2WIRE_LINES];
};
struct s_proto_get_info {
  uint16_t request_code;
};
struct s_proto_echo_power {
  float power;
};
struct s_proto_digital_set_info {
  uint16_t request_code;
  s_proto_echo_power echo_power;
};

struct s_proto_debug_msg {
  uint8_t msg_size;
  unsigned char msg[PROTO_BYTES_MAX];
};
struct s_proto_set_debug {
  uint16_t debug_num;
};
struct s_proto_show_debug {
  uint16_t trace_num;
};
struct s_proto_service_command {
  uint8_t command;
};
struct s_proto_test_config {
  uint8_t test_mode;
  uint8_t payload_size;
  uint8_t payload[PROTO_BYTES_MAX];
};
struct s_proto_bytes {
  uint8_t payload_size;
  uint8_t payload[PROTO_BYTES_MAX];
};

// File transfer: the P1 bytes carried opaquely on the link.
constexpr int PROTO_P1_MAX = 1400;
struct s_proto_p1 {
  int32_t payload_size;
  uint8_t payload[PROTO_P1_MAX];
};
