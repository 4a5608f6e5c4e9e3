// Version-2 radio commands and states of the gateway and the line
// interfaces. Every payload is: channel, command or state type, a count d of
// data bytes, the data, and a pad byte when the length is odd.
#include "radiolink/proto_line_util.h"

using namespace proto_line;

namespace {

bool to_ali(const s_data_cmd* r) { return (r->dstAddr & PROTO_ADDR_ALI) != 0; }
bool to_dli(const s_data_cmd* r) { return (r->dstAddr & PROTO_ADDR_DLI) != 0; }

// Common head of every send: -199 when even the head does not fit.
int start_trans(unsigned char* payload, int size, uint8_t channel, uint8_t number) {
  if (size < 3) return CONVERT_NOT_ENOUGHT_MEMORY;
  payload[0] = channel;
  payload[1] = number;
  payload[2] = 0;
  return 3;
}

// A counted byte list as data; the length, or -199.
int trans_bytes(unsigned char* payload, int size, const uint8_t* bytes, int n) {
  if (3 + n > size) return CONVERT_NOT_ENOUGHT_MEMORY;
  payload[2] = static_cast<unsigned char>(n);
  std::memcpy(payload + 3, bytes, static_cast<size_t>(n));
  return 3 + n;
}

int trans_select(unsigned char* payload, int size, const s_proto_rad_select& s) {
  if (5 > size) return CONVERT_NOT_ENOUGHT_MEMORY;
  payload[2] = 2;
  payload[3] = s.select_interface;
  payload[4] = s.select_channel;
  return 5;
}

// A status set on the way wins; otherwise the padded length.
int end_trans(unsigned char* payload, int len, int size) { return len < 0 ? len : finish(payload, len, size); }

// Whether d data bytes (at least need of them) are present.
bool has_data(int size, int d, int need) { return 3 + d <= size && d >= need; }

int recv_select(const unsigned char* payload, int size, int d, s_proto_rad_select& s) {
  if (!has_data(size, d, 2)) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  s.select_interface = payload[3];
  s.select_channel = payload[4];
  return CONVERT_OK;
}

int recv_bytes(const unsigned char* payload, int size, int d, s_proto_rad_bytes& b) {
  if (!has_data(size, d, 0)) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  b.payload_size = static_cast<uint8_t>(d);
  std::memcpy(b.payload, payload + 3, static_cast<size_t>(d));
  return CONVERT_OK;
}

void put_digital_bits(unsigned char* out, const s_proto_rad_digital_bits& s) {
  out[0] = static_cast<unsigned char>((s.flag_rc & 1) | (s.flag_ptt & 1) << 1 | (s.flag_self_hear & 1) << 2 |
                                      (s.flag_receiver & 1) << 3 | (s.flag_bss & 1) << 4 |
                                      (s.flag_ptt_selcall & 1) << 5 | (s.flag_detector_rx & 1) << 6 |
                                      (s.flag_detector_tx & 1) << 7);
  out[1] = s.flag_rc_line_state & 1;
}

void get_digital_bits(const unsigned char* in, s_proto_rad_digital_bits& s) {
  s.flag_rc = in[0] & 1;
  s.flag_ptt = (in[0] >> 1) & 1;
  s.flag_self_hear = (in[0] >> 2) & 1;
  s.flag_receiver = (in[0] >> 3) & 1;
  s.flag_bss = (in[0] >> 4) & 1;
  s.flag_ptt_selcall = (in[0] >> 5) & 1;
  s.flag_detector_rx = (in[0] >> 6) & 1;
  s.flag_detector_tx = (in[0] >> 7) & 1;
  s.flag_rc_line_state = in[1] & 1;
}

void put_analog_bits(unsigned char* out, const s_proto_rad_analog_bits& s) {
  out[0] = static_cast<unsigned char>((s.flag_attach & 1) | (s.flag_ptt & 1) << 1 | (s.flag_self_hear & 1) << 2 |
                                      (s.flag_radio_power & 1) << 3 | (s.flag_radio_reserv & 1) << 4 |
                                      (s.flag_detected_rx & 1) << 5 | (s.flag_detected_tx & 1) << 6 |
                                      (s.flag_rs_tx & 1) << 7);
  out[1] = s.flag_rs_error & 1;
}

void get_analog_bits(const unsigned char* in, s_proto_rad_analog_bits& s) {
  s.flag_attach = in[0] & 1;
  s.flag_ptt = (in[0] >> 1) & 1;
  s.flag_self_hear = (in[0] >> 2) & 1;
  s.flag_radio_power = (in[0] >> 3) & 1;
  s.flag_radio_reserv = (in[0] >> 4) & 1;
  s.flag_detected_rx = (in[0] >> 5) & 1;
  s.flag_detected_tx = (in[0] >> 6) & 1;
  s.flag_rs_tx = (in[0] >> 7) & 1;
  s.flag_rs_error = in[1] & 1;
}

int dump_select(char* buffer, long size, int len, const s_proto_rad_select& s) {
  len = proto_dump_line(buffer, size, len, "select_channel.select_channel   : %d,\n", s.select_channel);
  return proto_dump_line(buffer, size, len, "select_channel.select_interface : %d,\n", s.select_interface);
}

}  // namespace

// ---------------------------------------------------------------- send

int convert_trans_rad_command(PROTO_CONV_ARGS) {
  if (!present(row, flags, src, dst, payload, record)) return CONVERT_ERROR;
  proto_trans_header(flags, src, dst, record);
  s_proto_rad_command& c = record->payload.rad_command;
  int len = start_trans(payload, size, c.channel, c.command);
  if (len < 0) return len;
  switch (c.command) {
    case RAD_CMD_PTT_ON: {
      int n = c.ptt.param_size;
      if (3 + n > size) {
        len = CONVERT_NOT_ENOUGHT_MEMORY;
        break;
      }
      if (n > PROTO_PACKET_PARAM_MAX) n = PROTO_PACKET_PARAM_MAX;
      len = trans_bytes(payload, size, c.ptt.param, n);
      break;
    }
    case RAD_CMD_RS485:
      len = to_dli(record) ? CONVERT_BAD_PARAM
                           : trans_bytes(payload, size, c.rs485_cmd.payload, c.rs485_cmd.payload_size);
      break;
    case RAD_CMD_SEL_CH:
      len = to_ali(record) ? CONVERT_BAD_PARAM : trans_select(payload, size, c.select_channel);
      break;
    case RAD_CMD_RX_ON:
    case RAD_CMD_RX_OFF:
    case RAD_CMD_BSS_ON:
    case RAD_CMD_BSS_OFF:
      if (to_ali(record)) len = CONVERT_BAD_PARAM;
      break;
    case RAD_CMD_RST_ON:
    case RAD_CMD_RST_OFF:
    case RAD_CMD_AUX_ON:
    case RAD_CMD_AUX_OFF:
    case RAD_CMD_DEACT_CH:
    case RAD_CMD_ACT_CH:
      if (to_dli(record)) len = CONVERT_BAD_PARAM;
      break;
    default:
      break;
  }
  return end_trans(payload, len, size);
}

int convert_trans_rad_state(PROTO_CONV_ARGS) {
  if (!present(row, flags, src, dst, payload, record)) return CONVERT_ERROR;
  proto_trans_header(flags, src, dst, record);
  s_proto_rad_state& s = record->payload.rad_state;
  int len = start_trans(payload, size, s.channel, s.type);
  if (len < 0) return len;
  if (s.type == RAD_STATE_SEL_CH)
    len = to_ali(record) ? CONVERT_BAD_PARAM : trans_select(payload, size, s.select_channel);
  return end_trans(payload, len, size);
}

int convert_trans_rad_digital_command(PROTO_CONV_ARGS) {
  if (!present(row, flags, src, dst, payload, record)) return CONVERT_ERROR;
  proto_trans_header(flags, src, dst, record);
  s_proto_rad_digital_command& c = record->payload.rad_dig_command;
  int len = start_trans(payload, size, c.channel, c.command);
  if (len < 0) return len;
  if (c.command == RAD_DIG_CMD_SEL_CH) {
    len = trans_select(payload, size, c.select_channel);
  } else if (c.command == RAD_DIG_CMD_BSS_SCORE) {
    if (7 > size) {
      len = CONVERT_NOT_ENOUGHT_MEMORY;
    } else {
      payload[2] = 4;
      put_float(payload + 3, c.bss.snr);
      len = 7;
    }
  }
  return end_trans(payload, len, size);
}

int convert_trans_rad_digital_state(PROTO_CONV_ARGS) {
  if (!present(row, flags, src, dst, payload, record)) return CONVERT_ERROR;
  proto_trans_header(flags, src, dst, record);
  s_proto_rad_digital_state& s = record->payload.rad_dig_state;
  int len = start_trans(payload, size, s.channel, s.type);
  if (len < 0) return len;
  if (s.type == RAD_STATE_BITS) {
    if (5 > size) {
      len = CONVERT_NOT_ENOUGHT_MEMORY;
    } else {
      payload[2] = 2;
      put_digital_bits(payload + 3, s.state);
      len = 5;
    }
  } else if (s.type == RAD_STATE_SEL_CH) {
    len = trans_select(payload, size, s.select_channel);
  }
  return end_trans(payload, len, size);
}

int convert_trans_rad_analog_command(PROTO_CONV_ARGS) {
  if (!present(row, flags, src, dst, payload, record)) return CONVERT_ERROR;
  proto_trans_header(flags, src, dst, record);
  s_proto_rad_analog_command& c = record->payload.rad_analog_command;
  int len = start_trans(payload, size, c.channel, c.command);
  if (len < 0) return len;
  if (c.command == RAD_ANA_CMD_RS485)
    len = trans_bytes(payload, size, c.rs485_status.payload, c.rs485_status.payload_size);
  return end_trans(payload, len, size);
}

int convert_trans_rad_analog_state(PROTO_CONV_ARGS) {
  if (!present(row, flags, src, dst, payload, record)) return CONVERT_ERROR;
  proto_trans_header(flags, src, dst, record);
  s_proto_rad_analog_state& s = record->payload.rad_analog_state;
  int len = start_trans(payload, size, s.channel, s.type);
  if (len < 0) return len;
  if (s.type == RAD_STATE_BITS) {
    if (5 > size) {
      len = CONVERT_NOT_ENOUGHT_MEMORY;
    } else {
      payload[2] = 2;
      put_analog_bits(payload + 3, s.state);
      len = 5;
    }
  }
  return end_trans(payload, len, size);
}

// ---------------------------------------------------------------- receive

int convert_recv_rad_command(PROTO_CONV_ARGS) {
  if (!present(row, flags, src, dst, payload, record)) return CONVERT_ERROR;
  proto_recv_header(flags, src, dst, record);
  if (size < 3) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  s_proto_rad_command& c = record->payload.rad_command;
  c.channel = payload[0];
  c.command = payload[1];
  int d = payload[2];
  switch (c.command) {
    case RAD_CMD_PTT_ON: {
      if (!has_data(size, d, 0)) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
      int n = d > PROTO_PACKET_PARAM_MAX ? PROTO_PACKET_PARAM_MAX : d;
      c.ptt.param_size = static_cast<uint8_t>(n);
      std::memcpy(c.ptt.param, payload + 3, static_cast<size_t>(n));
      return CONVERT_OK;
    }
    case RAD_CMD_RS485:
      return recv_bytes(payload, size, d, c.rs485_cmd);
    case RAD_CMD_SEL_CH:
      return recv_select(payload, size, d, c.select_channel);
    default:
      return CONVERT_OK;
  }
}

int convert_recv_rad_state(PROTO_CONV_ARGS) {
  if (!present(row, flags, src, dst, payload, record)) return CONVERT_ERROR;
  proto_recv_header(flags, src, dst, record);
  if (size < 3) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  s_proto_rad_state& s = record->payload.rad_state;
  s.channel = payload[0];
  s.type = payload[1];
  if (s.type == RAD_STATE_SEL_CH) return recv_select(payload, size, payload[2], s.select_channel);
  return CONVERT_OK;
}

int convert_recv_rad_digital_command(PROTO_CONV_ARGS) {
  if (!present(row, flags, src, dst, payload, record)) return CONVERT_ERROR;
  proto_recv_header(flags, src, dst, record);
  if (size < 3) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  s_proto_rad_digital_command& c = record->payload.rad_dig_command;
  c.channel = payload[0];
  c.command = payload[1];
  int d = payload[2];
  if (c.command == RAD_DIG_CMD_SEL_CH) return recv_select(payload, size, d, c.select_channel);
  if (c.command == RAD_DIG_CMD_BSS_SCORE) {
    if (!has_data(size, d, 4)) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
    c.bss.snr = get_float(payload + 3);
  }
  return CONVERT_OK;
}

int convert_recv_rad_digital_state(PROTO_CONV_ARGS) {
  if (!present(row, flags, src, dst, payload, record)) return CONVERT_ERROR;
  proto_recv_header(flags, src, dst, record);
  if (size < 3) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  s_proto_rad_digital_state& s = record->payload.rad_dig_state;
  s.channel = payload[0];
  s.type = payload[1];
  int d = payload[2];
  if (s.type == RAD_STATE_SEL_CH) return recv_select(payload, size, d, s.select_channel);
  if (s.type == RAD_STATE_BITS) {
    if (!has_data(size, d, 2)) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
    get_digital_bits(payload + 3, s.state);
  }
  return CONVERT_OK;
}

int convert_recv_rad_analog_command(PROTO_CONV_ARGS) {
  if (!present(row, flags, src, dst, payload, record)) return CONVERT_ERROR;
  proto_recv_header(flags, src, dst, record);
  if (size < 3) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  s_proto_rad_analog_command& c = record->payload.rad_analog_command;
  c.channel = payload[0];
  c.command = payload[1];
  if (c.command == RAD_ANA_CMD_RS485) return recv_bytes(payload, size, payload[2], c.rs485_status);
  return CONVERT_OK;
}

int convert_recv_rad_analog_state(PROTO_CONV_ARGS) {
  if (!present(row, flags, src, dst, payload, record)) return CONVERT_ERROR;
  proto_recv_header(flags, src, dst, record);
  if (size < 3) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  s_proto_rad_analog_state& s = record->payload.rad_analog_state;
  s.channel = payload[0];
  s.type = payload[1];
  if (s.type == RAD_STATE_BITS) {
    if (!has_data(size, payload[2], 2)) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
    get_analog_bits(payload + 3, s.state);
  }
  return CONVERT_OK;
}

// ---------------------------------------------------------------- dumps

int sprintf_rad_command(char* buffer, long size, s_data_cmd* r, int flags) {
  int len = sprintf_dummy(buffer, size, r, flags);
  if (len == 0) return 0;
  const s_proto_rad_command& c = r->payload.rad_command;
  len = proto_dump_line(buffer, size, len, "rad_command.channel: %d,\n", c.channel);
  len = proto_dump_line(buffer, size, len, "rad_command.command: %d,\n", c.command);
  switch (c.command) {
    case RAD_CMD_RS485:
      len = proto_dump_line(buffer, size, len, "rs485_cmd.payload_size: %d,\n", c.rs485_cmd.payload_size);
      len = proto_dump_line(buffer, size, len, "rs485_cmd.payload : \n");
      return dump_bytes(buffer, size, len, c.rs485_cmd.payload, c.rs485_cmd.payload_size);
    case RAD_CMD_SEL_CH:
      return dump_select(buffer, size, len, c.select_channel);
    case RAD_CMD_PTT_ON: {
      len = proto_dump_line(buffer, size, len, "ptt.param_size: %d,\n", c.ptt.param_size);
      len = proto_dump_line(buffer, size, len, "ptt.param : \n");
      // The record holds at most 20 parameter bytes whatever the size says.
      int n = c.ptt.param_size;
      if (n > PROTO_PACKET_PARAM_MAX) n = PROTO_PACKET_PARAM_MAX;
      return dump_bytes(buffer, size, len, c.ptt.param, n);
    }
    default:
      return len;
  }
}

int sprintf_rad_state(char* buffer, long size, s_data_cmd* r, int flags) {
  int len = sprintf_dummy(buffer, size, r, flags);
  if (len == 0) return 0;
  const s_proto_rad_state& s = r->payload.rad_state;
  len = proto_dump_line(buffer, size, len, "rad_state.channel: %d,\n", s.channel);
  len = proto_dump_line(buffer, size, len, "rad_state.type   : %d,\n", s.type);
  if (s.type == RAD_STATE_SEL_CH) len = dump_select(buffer, size, len, s.select_channel);
  return len;
}

int sprintf_rad_digital_command(char* buffer, long size, s_data_cmd* r, int flags) {
  int len = sprintf_dummy(buffer, size, r, flags);
  if (len == 0) return 0;
  const s_proto_rad_digital_command& c = r->payload.rad_dig_command;
  len = proto_dump_line(buffer, size, len, "rad_dig_command.channel : %d,\n", c.channel);
  len = proto_dump_line(buffer, size, len, "rad_dig_command.command : %d,\n", c.command);
  if (c.command == RAD_DIG_CMD_SEL_CH) len = dump_select(buffer, size, len, c.select_channel);
  if (c.command == RAD_DIG_CMD_BSS_SCORE)
    len = proto_dump_line(buffer, size, len, "bss.snr   : %4.2f,\n", static_cast<double>(c.bss.snr));
  return len;
}

int sprintf_rad_digital_state(char* buffer, long size, s_data_cmd* r, int flags) {
  int len = sprintf_dummy(buffer, size, r, flags);
  if (len == 0) return 0;
  const s_proto_rad_digital_state& s = r->payload.rad_dig_state;
  len = proto_dump_line(buffer, size, len, "rad_dig_state.channel: %d,\n", s.channel);
  len = proto_dump_line(buffer, size, len, "rad_dig_state.type   : %d,\n", s.type);
  if (s.type == RAD_STATE_BITS) {
    const s_proto_rad_digital_bits& b = s.state;
    len = proto_dump_line(buffer, size, len, "state.flag_rc            : %d,\n", b.flag_rc);
    len = proto_dump_line(buffer, size, len, "state.flag_ptt           : %d,\n", b.flag_ptt);
    len = proto_dump_line(buffer, size, len, "state.flag_self_hear     : %d,\n", b.flag_self_hear);
    len = proto_dump_line(buffer, size, len, "state.flag_receiver      : %d,\n", b.flag_receiver);
    len = proto_dump_line(buffer, size, len, "state.flag_bss           : %d,\n", b.flag_bss);
    len = proto_dump_line(buffer, size, len, "state.flag_ptt_selcall   : %d,\n", b.flag_ptt_selcall);
    len = proto_dump_line(buffer, size, len, "state.flag_rc_line_state : %d,\n", b.flag_rc_line_state);
    len = proto_dump_line(buffer, size, len, "state.flag_detector_rx   : %d,\n", b.flag_detector_rx);
    len = proto_dump_line(buffer, size, len, "state.flag_detector_tx   : %d,\n", b.flag_detector_tx);
  } else if (s.type == RAD_STATE_SEL_CH) {
    len = dump_select(buffer, size, len, s.select_channel);
  }
  return len;
}

int sprintf_rad_analog_command(char* buffer, long size, s_data_cmd* r, int flags) {
  int len = sprintf_dummy(buffer, size, r, flags);
  if (len == 0) return 0;
  const s_proto_rad_analog_command& c = r->payload.rad_analog_command;
  len = proto_dump_line(buffer, size, len, "rad_analog_command.channel : %d,\n", c.channel);
  len = proto_dump_line(buffer, size, len, "rad_analog_command.command : %d,\n", c.command);
  if (c.command == RAD_ANA_CMD_RS485) {
    len = proto_dump_line(buffer, size, len, "rs485_status.payload_size: %d,\n", c.rs485_status.payload_size);
    len = proto_dump_line(buffer, size, len, "rs485_status.payload : \n");
    len = dump_bytes(buffer, size, len, c.rs485_status.payload, c.rs485_status.payload_size);
  }
  return len;
}

int sprintf_rad_analog_state(char* buffer, long size, s_data_cmd* r, int flags) {
  int len = sprintf_dummy(buffer, size, r, flags);
  if (len == 0) return 0;
  const s_proto_rad_analog_state& s = r->payload.rad_analog_state;
  len = proto_dump_line(buffer, size, len, "rad_analog_state.channel: %d,\n", s.channel);
  len = proto_dump_line(buffer, size, len, "rad_analog_state.type   : %d,\n", s.type);
  if (s.type == RAD_STATE_BITS) {
    const s_proto_rad_analog_bits& b = s.state;
    len = proto_dump_line(buffer, size, len, "state.flag_attach      : %d,\n", b.flag_attach);
    len = proto_dump_line(buffer, size, len, "state.flag_ptt         : %d,\n", b.flag_ptt);
    len = proto_dump_line(buffer, size, len, "state.flag_self_hear   : %d,\n", b.flag_self_hear);
    len = proto_dump_line(buffer, size, len, "state.flag_radio_power : %d,\n", b.flag_radio_power);
    len = proto_dump_line(buffer, size, len, "state.flag_radio_reserv: %d,\n", b.flag_radio_reserv);
    len = proto_dump_line(buffer, size, len, "state.flag_detected_rx : %d,\n", b.flag_detected_rx);
    len = proto_dump_line(buffer, size, len, "state.flag_detected_tx : %d,\n", b.flag_detected_tx);
    len = proto_dump_line(buffer, size, len, "state.flag_rs_tx       : %d,\n", b.flag_rs_tx);
    len = proto_dump_line(buffer, size, len, "state.flag_rs_error    : %d,\n", b.flag_rs_error);
  }
  return len;
}
