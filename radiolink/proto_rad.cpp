// Version-2 radio commands and states of the gateway and the line
// interfaces. Every payload is: channel, command or state type, a count d of
// data bytes, the data, and a pad byte when the length is odd.
#include "radiolink/proto_line_util.h"

using namespace proto_line;

namespace {

constexpr int kHead = 3;  // channel, number, data count

bool to_ali(const s_data_cmd* r) { return (r->dstAddr & PROTO_ADDR_ALI) != 0; }
bool to_dli(const s_data_cmd* r) { return (r->dstAddr & PROTO_ADDR_DLI) != 0; }

// Reserves n data bytes after the head and sets the count; the length, or -199.
int trans_fixed(unsigned char* payload, int size, int n) {
  if (kHead + n > size) return CONVERT_NOT_ENOUGHT_MEMORY;
  payload[2] = static_cast<unsigned char>(n);
  return kHead + n;
}

// A counted byte list as data; the length, or -199.
int trans_bytes(unsigned char* payload, int size, const uint8_t* bytes, int n) {
  int len = trans_fixed(payload, size, n);
  if (len > 0) std::memcpy(payload + kHead, bytes, static_cast<size_t>(n));
  return len;
}

int trans_select(unsigned char* payload, int size, const s_proto_rad_select& s) {
  int len = trans_fixed(payload, size, 2);
  if (len > 0) {
    payload[3] = s.select_interface;
    payload[4] = s.select_channel;
  }
  return len;
}

// Whether d data bytes (at least need of them) are present.
bool has_data(int size, int d, int need) { return kHead + d <= size && d >= need; }

int recv_select(const unsigned char* payload, int size, int d, s_proto_rad_select& s) {
  if (!has_data(size, d, 2)) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  s.select_interface = payload[3];
  s.select_channel = payload[4];
  return CONVERT_OK;
}

int recv_bytes(const unsigned char* payload, int size, int d, s_proto_rad_bytes& b) {
  if (!has_data(size, d, 0)) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  b.payload_size = static_cast<uint8_t>(d);
  std::memcpy(b.payload, payload + kHead, static_cast<size_t>(d));
  return CONVERT_OK;
}

// State flags on the wire: the first eight are bits 0..7 of the first byte,
// the ninth is bit 0 of the second.
template <class B>
using BitTable = uint8_t B::* const[9];

BitTable<s_proto_rad_digital_bits> kDigitalBits = {
    &s_proto_rad_digital_bits::flag_rc,          &s_proto_rad_digital_bits::flag_ptt,
    &s_proto_rad_digital_bits::flag_self_hear,   &s_proto_rad_digital_bits::flag_receiver,
    &s_proto_rad_digital_bits::flag_bss,         &s_proto_rad_digital_bits::flag_ptt_selcall,
    &s_proto_rad_digital_bits::flag_detector_rx, &s_proto_rad_digital_bits::flag_detector_tx,
    &s_proto_rad_digital_bits::flag_rc_line_state};

BitTable<s_proto_rad_analog_bits> kAnalogBits = {
    &s_proto_rad_analog_bits::flag_attach,       &s_proto_rad_analog_bits::flag_ptt,
    &s_proto_rad_analog_bits::flag_self_hear,    &s_proto_rad_analog_bits::flag_radio_power,
    &s_proto_rad_analog_bits::flag_radio_reserv, &s_proto_rad_analog_bits::flag_detected_rx,
    &s_proto_rad_analog_bits::flag_detected_tx,  &s_proto_rad_analog_bits::flag_rs_tx,
    &s_proto_rad_analog_bits::flag_rs_error};

template <class B>
int trans_bits(unsigned char* payload, int size, const B& s, BitTable<B>& table) {
  int len = trans_fixed(payload, size, 2);
  if (len < 0) return len;
  unsigned first = 0;
  for (int i = 0; i < 8; ++i) first |= static_cast<unsigned>(s.*table[i] & 1) << i;
  payload[3] = static_cast<unsigned char>(first);
  payload[4] = s.*table[8] & 1;
  return len;
}

template <class B>
int recv_bits(const unsigned char* payload, int size, int d, B& s, BitTable<B>& table) {
  if (!has_data(size, d, 2)) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  for (int i = 0; i < 8; ++i) s.*table[i] = (payload[3] >> i) & 1;
  s.*table[8] = payload[4] & 1;
  return CONVERT_OK;
}

// The common head of every send: the record member m gives the channel and
// its number field; body writes the data and returns the length so far (a
// status set on the way wins over padding).
template <class T, class Body>
int trans_rad(PROTO_CONV_ARGS, T u_proto_payload::*m, uint8_t T::*number, Body body) {
  if (!proto_trans_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  if (size < kHead) return CONVERT_NOT_ENOUGHT_MEMORY;
  const T& v = record->payload.*m;
  payload[0] = v.channel;
  payload[1] = v.*number;
  payload[2] = 0;
  int len = body(v);
  return len < 0 ? len : finish(payload, len, size);
}

// The common head of every receive; body reads the data given its count d.
template <class T, class Body>
int recv_rad(PROTO_CONV_ARGS, T u_proto_payload::*m, uint8_t T::*number, Body body) {
  if (!proto_recv_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  if (size < kHead) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  T& v = record->payload.*m;
  v.channel = payload[0];
  v.*number = payload[1];
  return body(v, static_cast<int>(payload[2]));
}

// The common head of every dump: the channel and number lines, then body.
template <class T, class Body>
int dump_rad(char* buffer, long size, s_data_cmd* r, int flags, T u_proto_payload::*m, uint8_t T::*number,
             const char* channel_line, const char* number_line, Body body) {
  int len = sprintf_dummy(buffer, size, r, flags);
  if (len == 0) return 0;
  const T& v = r->payload.*m;
  len = proto_dump_line(buffer, size, len, channel_line, v.channel);
  len = proto_dump_line(buffer, size, len, number_line, v.*number);
  return body(v, len);
}

// A counted byte list: its count line, its title line, then shown bytes.
int dump_list(char* buffer, long size, int len, const char* count_line, const char* title_line, int count,
              const uint8_t* bytes, int shown) {
  len = proto_dump_line(buffer, size, len, count_line, count);
  len = proto_dump_line(buffer, size, len, "%s", title_line);
  return dump_bytes(buffer, size, len, bytes, shown);
}

int dump_select(char* buffer, long size, int len, const s_proto_rad_select& s) {
  len = proto_dump_line(buffer, size, len, "select_channel.select_channel   : %d,\n", s.select_channel);
  return proto_dump_line(buffer, size, len, "select_channel.select_interface : %d,\n", s.select_interface);
}

}  // namespace

// ---------------------------------------------------------------- send

int convert_trans_rad_command(PROTO_CONV_ARGS) {
  return trans_rad(row, flags, src, dst, payload, size, record, &u_proto_payload::rad_command,
                   &s_proto_rad_command::command, [&](const s_proto_rad_command& c) {
                     switch (c.command) {
                       case RAD_CMD_PTT_ON: {
                         int n = c.ptt.param_size;
                         if (kHead + n > size) return static_cast<int>(CONVERT_NOT_ENOUGHT_MEMORY);
                         if (n > PROTO_PACKET_PARAM_MAX) n = PROTO_PACKET_PARAM_MAX;
                         return trans_bytes(payload, size, c.ptt.param, n);
                       }
                       case RAD_CMD_RS485:
                         return to_dli(record) ? CONVERT_BAD_PARAM
                                               : trans_bytes(payload, size, c.rs485_cmd.payload,
                                                             c.rs485_cmd.payload_size);
                       case RAD_CMD_SEL_CH:
                         return to_ali(record) ? CONVERT_BAD_PARAM : trans_select(payload, size, c.select_channel);
                       case RAD_CMD_RX_ON:
                       case RAD_CMD_RX_OFF:
                       case RAD_CMD_BSS_ON:
                       case RAD_CMD_BSS_OFF:
                         return to_ali(record) ? CONVERT_BAD_PARAM : kHead;
                       case RAD_CMD_RST_ON:
                       case RAD_CMD_RST_OFF:
                       case RAD_CMD_AUX_ON:
                       case RAD_CMD_AUX_OFF:
                       case RAD_CMD_DEACT_CH:
                       case RAD_CMD_ACT_CH:
                         return to_dli(record) ? CONVERT_BAD_PARAM : kHead;
                       default:
                         return kHead;
                     }
                   });
}

int convert_trans_rad_state(PROTO_CONV_ARGS) {
  return trans_rad(row, flags, src, dst, payload, size, record, &u_proto_payload::rad_state,
                   &s_proto_rad_state::type, [&](const s_proto_rad_state& s) {
                     if (s.type != RAD_STATE_SEL_CH) return kHead;
                     return to_ali(record) ? CONVERT_BAD_PARAM : trans_select(payload, size, s.select_channel);
                   });
}

int convert_trans_rad_digital_command(PROTO_CONV_ARGS) {
  return trans_rad(row, flags, src, dst, payload, size, record, &u_proto_payload::rad_dig_command,
                   &s_proto_rad_digital_command::command, [&](const s_proto_rad_digital_command& c) {
                     if (c.command == RAD_DIG_CMD_SEL_CH) return trans_select(payload, size, c.select_channel);
                     if (c.command != RAD_DIG_CMD_BSS_SCORE) return kHead;
                     int len = trans_fixed(payload, size, 4);
                     if (len > 0) put_float(payload + kHead, c.bss.snr);
                     return len;
                   });
}

int convert_trans_rad_digital_state(PROTO_CONV_ARGS) {
  return trans_rad(row, flags, src, dst, payload, size, record, &u_proto_payload::rad_dig_state,
                   &s_proto_rad_digital_state::type, [&](const s_proto_rad_digital_state& s) {
                     if (s.type == RAD_STATE_BITS) return trans_bits(payload, size, s.state, kDigitalBits);
                     if (s.type == RAD_STATE_SEL_CH) return trans_select(payload, size, s.select_channel);
                     return kHead;
                   });
}

int convert_trans_rad_analog_command(PROTO_CONV_ARGS) {
  return trans_rad(row, flags, src, dst, payload, size, record, &u_proto_payload::rad_analog_command,
                   &s_proto_rad_analog_command::command, [&](const s_proto_rad_analog_command& c) {
                     if (c.command != RAD_ANA_CMD_RS485) return kHead;
                     return trans_bytes(payload, size, c.rs485_status.payload, c.rs485_status.payload_size);
                   });
}

int convert_trans_rad_analog_state(PROTO_CONV_ARGS) {
  return trans_rad(row, flags, src, dst, payload, size, record, &u_proto_payload::rad_analog_state,
                   &s_proto_rad_analog_state::type, [&](const s_proto_rad_analog_state& s) {
                     if (s.type != RAD_STATE_BITS) return kHead;
                     return trans_bits(payload, size, s.state, kAnalogBits);
                   });
}

// ---------------------------------------------------------------- receive

int convert_recv_rad_command(PROTO_CONV_ARGS) {
  return recv_rad(row, flags, src, dst, payload, size, record, &u_proto_payload::rad_command,
                  &s_proto_rad_command::command, [&](s_proto_rad_command& c, int d) {
                    switch (c.command) {
                      case RAD_CMD_PTT_ON: {
                        if (!has_data(size, d, 0)) return static_cast<int>(CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
                        int n = d > PROTO_PACKET_PARAM_MAX ? PROTO_PACKET_PARAM_MAX : d;
                        c.ptt.param_size = static_cast<uint8_t>(n);
                        std::memcpy(c.ptt.param, payload + kHead, static_cast<size_t>(n));
                        return static_cast<int>(CONVERT_OK);
                      }
                      case RAD_CMD_RS485:
                        return recv_bytes(payload, size, d, c.rs485_cmd);
                      case RAD_CMD_SEL_CH:
                        return recv_select(payload, size, d, c.select_channel);
                      default:
                        return static_cast<int>(CONVERT_OK);
                    }
                  });
}

int convert_recv_rad_state(PROTO_CONV_ARGS) {
  return recv_rad(row, flags, src, dst, payload, size, record, &u_proto_payload::rad_state,
                  &s_proto_rad_state::type, [&](s_proto_rad_state& s, int d) {
                    if (s.type == RAD_STATE_SEL_CH) return recv_select(payload, size, d, s.select_channel);
                    return static_cast<int>(CONVERT_OK);
                  });
}

int convert_recv_rad_digital_command(PROTO_CONV_ARGS) {
  return recv_rad(row, flags, src, dst, payload, size, record, &u_proto_payload::rad_dig_command,
                  &s_proto_rad_digital_command::command, [&](s_proto_rad_digital_command& c, int d) {
                    if (c.command == RAD_DIG_CMD_SEL_CH) return recv_select(payload, size, d, c.select_channel);
                    if (c.command == RAD_DIG_CMD_BSS_SCORE) {
                      if (!has_data(size, d, 4)) return static_cast<int>(CONVERT_NOT_ENOUGHT_PAYLOAD_DATA);
                      c.bss.snr = get_float(payload + kHead);
                    }
                    return static_cast<int>(CONVERT_OK);
                  });
}

int convert_recv_rad_digital_state(PROTO_CONV_ARGS) {
  return recv_rad(row, flags, src, dst, payload, size, record, &u_proto_payload::rad_dig_state,
                  &s_proto_rad_digital_state::type, [&](s_proto_rad_digital_state& s, int d) {
                    if (s.type == RAD_STATE_SEL_CH) return recv_select(payload, size, d, s.select_channel);
                    if (s.type == RAD_STATE_BITS) return recv_bits(payload, size, d, s.state, kDigitalBits);
                    return static_cast<int>(CONVERT_OK);
                  });
}

int convert_recv_rad_analog_command(PROTO_CONV_ARGS) {
  return recv_rad(row, flags, src, dst, payload, size, record, &u_proto_payload::rad_analog_command,
                  &s_proto_rad_analog_command::command, [&](s_proto_rad_analog_command& c, int d) {
                    if (c.command == RAD_ANA_CMD_RS485) return recv_bytes(payload, size, d, c.rs485_status);
                    return static_cast<int>(CONVERT_OK);
                  });
}

int convert_recv_rad_analog_state(PROTO_CONV_ARGS) {
  return recv_rad(row, flags, src, dst, payload, size, record, &u_proto_payload::rad_analog_state,
                  &s_proto_rad_analog_state::type, [&](s_proto_rad_analog_state& s, int d) {
                    if (s.type == RAD_STATE_BITS) return recv_bits(payload, size, d, s.state, kAnalogBits);
                    return static_cast<int>(CONVERT_OK);
                  });
}

// ---------------------------------------------------------------- dumps

int sprintf_rad_command(char* buffer, long size, s_data_cmd* r, int flags) {
  return dump_rad(buffer, size, r, flags, &u_proto_payload::rad_command, &s_proto_rad_command::command,
                  "rad_command.channel: %d,\n", "rad_command.command: %d,\n",
                  [&](const s_proto_rad_command& c, int len) {
                    switch (c.command) {
                      case RAD_CMD_RS485:
                        return dump_list(buffer, size, len, "rs485_cmd.payload_size: %d,\n", "rs485_cmd.payload : \n",
                                         c.rs485_cmd.payload_size, c.rs485_cmd.payload, c.rs485_cmd.payload_size);
                      case RAD_CMD_SEL_CH:
                        return dump_select(buffer, size, len, c.select_channel);
                      case RAD_CMD_PTT_ON: {
                        // The record holds at most 20 parameter bytes whatever the size says.
                        int n = c.ptt.param_size;
                        if (n > PROTO_PACKET_PARAM_MAX) n = PROTO_PACKET_PARAM_MAX;
                        return dump_list(buffer, size, len, "ptt.param_size: %d,\n", "ptt.param : \n",
                                         c.ptt.param_size, c.ptt.param, n);
                      }
                      default:
                        return len;
                    }
                  });
}

int sprintf_rad_state(char* buffer, long size, s_data_cmd* r, int flags) {
  return dump_rad(buffer, size, r, flags, &u_proto_payload::rad_state, &s_proto_rad_state::type,
                  "rad_state.channel: %d,\n", "rad_state.type   : %d,\n", [&](const s_proto_rad_state& s, int len) {
                    return s.type == RAD_STATE_SEL_CH ? dump_select(buffer, size, len, s.select_channel) : len;
                  });
}

int sprintf_rad_digital_command(char* buffer, long size, s_data_cmd* r, int flags) {
  return dump_rad(buffer, size, r, flags, &u_proto_payload::rad_dig_command, &s_proto_rad_digital_command::command,
                  "rad_dig_command.channel : %d,\n", "rad_dig_command.command : %d,\n",
                  [&](const s_proto_rad_digital_command& c, int len) {
                    if (c.command == RAD_DIG_CMD_SEL_CH) len = dump_select(buffer, size, len, c.select_channel);
                    if (c.command == RAD_DIG_CMD_BSS_SCORE)
                      len = proto_dump_line(buffer, size, len, "bss.snr   : %4.2f,\n", static_cast<double>(c.bss.snr));
                    return len;
                  });
}

int sprintf_rad_digital_state(char* buffer, long size, s_data_cmd* r, int flags) {
  return dump_rad(
      buffer, size, r, flags, &u_proto_payload::rad_dig_state, &s_proto_rad_digital_state::type,
      "rad_dig_state.channel: %d,\n", "rad_dig_state.type   : %d,\n", [&](const s_proto_rad_digital_state& s, int len) {
        if (s.type == RAD_STATE_SEL_CH) return dump_select(buffer, size, len, s.select_channel);
        if (s.type != RAD_STATE_BITS) return len;
        const s_proto_rad_digital_bits& b = s.state;
        len = proto_dump_line(buffer, size, len, "state.flag_rc            : %d,\n", b.flag_rc);
        len = proto_dump_line(buffer, size, len, "state.flag_ptt           : %d,\n", b.flag_ptt);
        len = proto_dump_line(buffer, size, len, "state.flag_self_hear     : %d,\n", b.flag_self_hear);
        len = proto_dump_line(buffer, size, len, "state.flag_receiver      : %d,\n", b.flag_receiver);
        len = proto_dump_line(buffer, size, len, "state.flag_bss           : %d,\n", b.flag_bss);
        len = proto_dump_line(buffer, size, len, "state.flag_ptt_selcall   : %d,\n", b.flag_ptt_selcall);
        len = proto_dump_line(buffer, size, len, "state.flag_rc_line_state : %d,\n", b.flag_rc_line_state);
        len = proto_dump_line(buffer, size, len, "state.flag_detector_rx   : %d,\n", b.flag_detector_rx);
        return proto_dump_line(buffer, size, len, "state.flag_detector_tx   : %d,\n", b.flag_detector_tx);
      });
}

int sprintf_rad_analog_command(char* buffer, long size, s_data_cmd* r, int flags) {
  return dump_rad(buffer, size, r, flags, &u_proto_payload::rad_analog_command, &s_proto_rad_analog_command::command,
                  "rad_analog_command.channel : %d,\n", "rad_analog_command.command : %d,\n",
                  [&](const s_proto_rad_analog_command& c, int len) {
                    if (c.command != RAD_ANA_CMD_RS485) return len;
                    const s_proto_rad_bytes& b = c.rs485_status;
                    return dump_list(buffer, size, len, "rs485_status.payload_size: %d,\n", "rs485_status.payload : \n",
                                     b.payload_size, b.payload, b.payload_size);
                  });
}

int sprintf_rad_analog_state(char* buffer, long size, s_data_cmd* r, int flags) {
  return dump_rad(
      buffer, size, r, flags, &u_proto_payload::rad_analog_state, &s_proto_rad_analog_state::type,
      "rad_analog_state.channel: %d,\n", "rad_analog_state.type   : %d,\n",
      [&](const s_proto_rad_analog_state& s, int len) {
        if (s.type != RAD_STATE_BITS) return len;
        const s_proto_rad_analog_bits& b = s.state;
        len = proto_dump_line(buffer, size, len, "state.flag_attach      : %d,\n", b.flag_attach);
        len = proto_dump_line(buffer, size, len, "state.flag_ptt         : %d,\n", b.flag_ptt);
        len = proto_dump_line(buffer, size, len, "state.flag_self_hear   : %d,\n", b.flag_self_hear);
        len = proto_dump_line(buffer, size, len, "state.flag_radio_power : %d,\n", b.flag_radio_power);
        len = proto_dump_line(buffer, size, len, "state.flag_radio_reserv: %d,\n", b.flag_radio_reserv);
        len = proto_dump_line(buffer, size, len, "state.flag_detected_rx : %d,\n", b.flag_detected_rx);
        len = proto_dump_line(buffer, size, len, "state.flag_detected_tx : %d,\n", b.flag_detected_tx);
        len = proto_dump_line(buffer, size, len, "state.flag_rs_tx       : %d,\n", b.flag_rs_tx);
        return proto_dump_line(buffer, size, len, "state.flag_rs_error    : %d,\n", b.flag_rs_error);
      });
}
