// Channel configuration of the analog line interface: radio version 1, GGS
// and radio version 2 layouts.
#include <cstring>

#include "radiolink/proto_vork.h"
#include "radiolink/proto_wire.h"

namespace {

// One byte into out when the payload holds it.
bool take(ProtoReader& rd, uint8_t& out) {
  if (!rd.has(1)) return false;
  out = rd.u8();
  return true;
}

// The serial block field by field; false where the payload ends, the fields
// read before that keeping their values.
bool recv_uart(ProtoReader& rd, s_proto_uart_config& u) {
  if (!rd.has(4)) return false;
  u.baud = rd.u32();
  return take(rd, u.data_bits) && take(rd, u.parity_bit) && take(rd, u.stop_bits) && take(rd, u.mode);
}
void trans_uart(ProtoWriter& wr, const s_proto_uart_config& u) {
  wr.u32(u.baud);
  wr.u8(u.data_bits);
  wr.u8(u.parity_bit);
  wr.u8(u.stop_bits);
  wr.u8(u.mode);
}

// Gain pairs and pattern of the version-1 layouts, each read only while the
// payload holds it. With optional_counts (GGS) a payload that ends where a
// count would stand leaves that count as it was and succeeds; only counted
// pairs or pattern bytes that are missing fail.
int recv_gains_pattern(ProtoReader& rd, uint8_t& gains_count, uint8_t* gain_id, uint8_t* gain_value,
                       uint8_t& pattern_size, uint8_t* pattern, bool optional_counts = false) {
  const int missing_count = optional_counts ? CONVERT_OK : CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  if (!rd.has(1)) return missing_count;
  uint8_t n = rd.u8();
  if (n > PROTO_GAINS_V1_MAX) return CONVERT_BAD_PARAM;
  gains_count = n;
  for (int i = 0; i < n; ++i) {
    if (!rd.has(2)) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
    gain_id[i] = rd.u8();
    gain_value[i] = rd.u8();
  }
  if (!rd.has(1)) return missing_count;
  uint8_t m = rd.u8();
  if (m > PROTO_PATTERN_MAX) return CONVERT_BAD_PARAM;
  pattern_size = m;
  for (int i = 0; i < m; ++i) {
    if (!rd.has(1)) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
    pattern[i] = rd.u8();
  }
  return CONVERT_OK;
}

int trans_gains_pattern(ProtoWriter& wr, uint8_t gains_count, const uint8_t* gain_id, const uint8_t* gain_value,
                        uint8_t pattern_size, const uint8_t* pattern, int gains_max) {
  if (gains_count > gains_max || pattern_size > PROTO_PATTERN_MAX) return CONVERT_BAD_PARAM;
  if (!wr.room(2 + 2 * gains_count + pattern_size)) return CONVERT_NOT_ENOUGHT_MEMORY;
  wr.u8(gains_count);
  for (int i = 0; i < gains_count; ++i) {
    wr.u8(gain_id[i]);
    wr.u8(gain_value[i]);
  }
  wr.u8(pattern_size);
  for (int i = 0; i < pattern_size; ++i) wr.u8(pattern[i]);
  return CONVERT_OK;
}

int recv_radio_v1(const unsigned char* payload, int size, s_proto_ra_config& c) {
  c.channels_count = 1;
  if (size < 5) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  ProtoReader rd{payload, size, 0};
  s_radio_channel_analog_config& ch = c.channels[0];
  uint8_t bits = rd.u8();
  ch.flag_agc1_tx_state = proto_flag(bits, 0);
  ch.flag_agc2_rx_state = proto_flag(bits, 1);
  ch.flag_mixer_doc_state = proto_flag(bits, 2);
  ch.radio_type = rd.u16();
  ch.radio_conn = rd.u16();
  int result = recv_gains_pattern(rd, c.gains_count, c.gain_id, c.gain_value, c.pattern_size, c.pattern);
  if (result == CONVERT_BAD_PARAM) return result;
  // The serial line settings are the one optional block.
  if (result == CONVERT_OK && rd.has(8))
    recv_uart(rd, ch.uart_config);
  else
    std::memset(&ch.uart_config, 0, sizeof ch.uart_config);
  return result;
}

int trans_radio_v1(ProtoWriter& wr, const s_proto_ra_config& c) {
  if (c.channels_count != PROTO_RA_CHANNELS_MAX) return CONVERT_BAD_PARAM;
  if (!wr.room(5)) return CONVERT_NOT_ENOUGHT_MEMORY;
  const s_radio_channel_analog_config& ch = c.channels[0];
  wr.u8(proto_bit(ch.flag_agc1_tx_state, 0) | proto_bit(ch.flag_agc2_rx_state, 1) |
        proto_bit(ch.flag_mixer_doc_state, 2));
  wr.u16(ch.radio_type);
  wr.u16(ch.radio_conn);
  int result =
      trans_gains_pattern(wr, c.gains_count, c.gain_id, c.gain_value, c.pattern_size, c.pattern, PROTO_GAINS_V1_MAX);
  if (result < 0) return result;
  // Left out, not refused, when the room runs short of it and the pad byte
  // an odd payload needs after it.
  if (wr.room(8 + (wr.pos & 1))) trans_uart(wr, ch.uart_config);
  return wr.pad() ? wr.pos : CONVERT_NOT_ENOUGHT_MEMORY;
}

int ggs_analog_size(int type) {
  switch (type) {
    case GGS_TYPE_NONE:
      return 0;
    case GGS_TYPE_FXO:
      return 13;
    case GGS_TYPE_FXS:
      return 11;
    case GGS_TYPE_MB:
      return 6;
    default:
      return 1;
  }
}

int recv_ggs(const unsigned char* payload, int size, s_proto_ga_config& c) {
  if (size < 2) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  ProtoReader rd{payload, size, 0};
  uint8_t k = rd.u8();
  c.wire = rd.u8();
  if (k > PROTO_GGS_CHANNELS_MAX) return CONVERT_BAD_PARAM;
  c.channels_count = k;
  for (int i = 0; i < k; ++i) {
    // Every remaining channel header must be there, and this channel's data.
    if (!rd.has(3 * (k - i))) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
    uint16_t type = rd.u16();
    uint8_t len = rd.u8();
    if (!rd.has(len + 3 * (k - i - 1))) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
    int r = recv_ggs_channel_analog(&c.channels[i], type, payload + rd.pos, len);
    if (r != CONVERT_OK) return r;
    rd.pos += len;
  }
  return recv_gains_pattern(rd, c.gains_count, c.gain_id, c.gain_value, c.pattern_size, c.pattern, true);
}

int trans_ggs(ProtoWriter& wr, const s_proto_ga_config& c) {
  if (c.channels_count > PROTO_GGS_CHANNELS_MAX) return CONVERT_BAD_PARAM;
  if (!wr.room(2)) return CONVERT_NOT_ENOUGHT_MEMORY;
  wr.u8(c.channels_count);
  wr.u8(c.wire);
  int result = proto_trans_each(wr, c.channels_count, [&](int i, unsigned char* out, int room) {
    return trans_ggs_channel_analog(&c.channels[i], out, room);
  });
  if (result < 0) return result;
  result =
      trans_gains_pattern(wr, c.gains_count, c.gain_id, c.gain_value, c.pattern_size, c.pattern, PROTO_GAINS_V1_MAX);
  if (result < 0) return result;
  return wr.pad() ? wr.pos : CONVERT_NOT_ENOUGHT_MEMORY;
}

// Radio version 2 is read byte by byte: a shortfall stops the reading where
// it falls, and what was read before it stays in the record.
int recv_radio_v2(const unsigned char* payload, int size, s_proto_ra_v2_config& c) {
  if (size < 1) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  ProtoReader rd{payload, size, 0};
  uint8_t k = rd.u8();
  if (k > PROTO_RA_V2_CHANNELS_MAX) return CONVERT_BAD_PARAM;
  c.channels_count = k;
  for (int i = 0; i < k; ++i) {
    s_radio_v2_channel_analog_config& ch = c.channels[i];
    std::memset(&ch, 0, sizeof ch);
    uint8_t len, bits, g;
    if (!take(rd, len)) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
    if (len <= 10) continue;  // disabled: the length byte alone
    ch.enable = 1;
    if (!take(rd, bits)) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
    ch.flag_agc1_tx_state = proto_flag(bits, 0);
    ch.flag_agc2_rx_state = proto_flag(bits, 1);
    ch.flag_mixer_doc_state = proto_flag(bits, 2);
    ch.flag_wire = proto_flag(bits, 3);
    if (!take(rd, g)) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
    ch.gains_count = g;
    if (11 + 2 * g > len) {
      ch.enable = 0;
    } else {
      if (g > PROTO_GAINS_V2_MAX) return CONVERT_BAD_PARAM;
      for (int j = 0; j < g; ++j) {
        if (!take(rd, ch.gain_id[j]) || !take(rd, ch.gain_value[j])) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
      }
      if (!take(rd, ch.pattern_size)) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
      const int p = ch.pattern_size;
      if (11 + 2 * g + p > len) {
        ch.enable = 0;
      } else {
        if (p > PROTO_PATTERN_MAX) return CONVERT_BAD_PARAM;
        for (int j = 0; j < p; ++j)
          if (!take(rd, ch.pattern[j])) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
      }
    }
    if (!recv_uart(rd, ch.uart_config)) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  }
  return CONVERT_OK;
}

int trans_radio_v2(ProtoWriter& wr, const s_proto_ra_v2_config& c) {
  if (!wr.room(1)) return CONVERT_NOT_ENOUGHT_MEMORY;
  if (c.channels_count > PROTO_RA_V2_CHANNELS_MAX) return CONVERT_BAD_PARAM;
  wr.u8(c.channels_count);
  for (int i = 0; i < c.channels_count; ++i) {
    const s_radio_v2_channel_analog_config& ch = c.channels[i];
    if (!ch.enable) {
      if (!wr.room(1)) return CONVERT_NOT_ENOUGHT_MEMORY;
      wr.u8(0);
      continue;
    }
    if (ch.gains_count > PROTO_GAINS_V2_MAX || ch.pattern_size > PROTO_PATTERN_MAX) return CONVERT_BAD_PARAM;
    int len = 11 + 2 * ch.gains_count + ch.pattern_size;
    if (!wr.room(1 + len)) return CONVERT_NOT_ENOUGHT_MEMORY;
    wr.u8(static_cast<unsigned>(len));
    wr.u8(proto_bit(ch.flag_agc1_tx_state, 0) | proto_bit(ch.flag_agc2_rx_state, 1) |
          proto_bit(ch.flag_mixer_doc_state, 2) | proto_bit(ch.flag_wire, 3));
    trans_gains_pattern(wr, ch.gains_count, ch.gain_id, ch.gain_value, ch.pattern_size, ch.pattern,
                        PROTO_GAINS_V2_MAX);
    trans_uart(wr, ch.uart_config);
  }
  return wr.pad() ? wr.pos : CONVERT_NOT_ENOUGHT_MEMORY;
}

}  // namespace

int recv_ggs_channel_analog(s_ggs_channel_analog_config* channel, int type, const unsigned char* data, int length) {
  if (!channel || (!data && length > 0)) return CONVERT_ERROR;
  // Only the type is stored before the checks; the rest of the channel is
  // left as it was unless its fields are read.
  channel->ggs_type_call = static_cast<uint16_t>(type);
  if (type == GGS_TYPE_NONE) return CONVERT_OK;
  if (type < 0 || type > PROTO_GGS_TYPE_MAX) return CONVERT_BAD_PARAM;
  if (length < ggs_analog_size(type)) return CONVERT_ERROR;
  ProtoReader rd{data, length, 1};
  switch (type) {
    case GGS_TYPE_FXO: {
      s_ggs_analog_fxo& f = channel->fxo;
      f.flag_agc_state = proto_flag(data[0], 0);
      f.ggs_mode = proto_flag(data[0], 1);
      f.pulse_make = rd.u8();
      f.pulse_break = rd.u8();
      f.pulse_pause = rd.u16();
      f.flash = rd.u16();
      f.seize = rd.u16();
      f.ring_det = rd.u16();
      f.ring_off = rd.u16();
      break;
    }
    case GGS_TYPE_FXS: {
      s_ggs_analog_fxs& f = channel->fxs;
      f.flag_agc_state = proto_flag(data[0], 0);
      f.ggs_mode = proto_flag(data[0], 1);
      f.flag_pulse_det = proto_flag(data[0], 3);
      f.pulse_make_det = rd.u8();
      f.pulse_break_det = rd.u8();
      f.pulse_pause_det = rd.u16();
      f.flash_det = rd.u16();
      f.seize_det = rd.u16();
      f.ring_seq = rd.u8();
      f.ring_form = rd.u8();
      break;
    }
    case GGS_TYPE_MB: {
      s_ggs_analog_mb& m = channel->mb;
      m.flag_agc_state = proto_flag(data[0], 0);
      m.ggs_mode = proto_flag(data[0], 1);
      m.ring_form = rd.u8();
      m.ring_det = rd.u16();
      m.ring_off = rd.u16();
      break;
    }
    default:
      channel->dc.flag_agc_state = proto_flag(data[0], 0);
      channel->dc.ggs_mode = proto_flag(data[0], 1);
      break;
  }
  return CONVERT_OK;
}

int trans_ggs_channel_analog(const s_ggs_channel_analog_config* channel, unsigned char* buffer, int capacity) {
  if (!channel || !buffer) return CONVERT_ERROR;
  int type = channel->ggs_type_call;
  if (type > PROTO_GGS_TYPE_MAX) return CONVERT_BAD_PARAM;
  if (capacity < 3) return CONVERT_ERROR;
  int data_size = ggs_analog_size(type);
  if (3 + data_size > capacity) return CONVERT_NOT_ENOUGHT_MEMORY;
  ProtoWriter wr{buffer, capacity, 0};
  wr.u16(static_cast<unsigned>(type));
  wr.u8(static_cast<unsigned>(data_size));
  switch (type) {
    case GGS_TYPE_NONE:
      break;
    case GGS_TYPE_FXO: {
      const s_ggs_analog_fxo& f = channel->fxo;
      wr.u8(proto_bit(f.flag_agc_state, 0) | proto_bit(f.ggs_mode, 1));
      wr.u8(f.pulse_make);
      wr.u8(f.pulse_break);
      wr.u16(f.pulse_pause);
      wr.u16(f.flash);
      wr.u16(f.seize);
      wr.u16(f.ring_det);
      wr.u16(f.ring_off);
      break;
    }
    case GGS_TYPE_FXS: {
      const s_ggs_analog_fxs& f = channel->fxs;
      wr.u8(proto_bit(f.flag_agc_state, 0) | proto_bit(f.ggs_mode, 1) | proto_bit(f.flag_pulse_det, 3));
      wr.u8(f.pulse_make_det);
      wr.u8(f.pulse_break_det);
      wr.u16(f.pulse_pause_det);
      wr.u16(f.flash_det);
      wr.u16(f.seize_det);
      wr.u8(f.ring_seq);
      wr.u8(f.ring_form);
      break;
    }
    case GGS_TYPE_MB: {
      const s_ggs_analog_mb& m = channel->mb;
      wr.u8(proto_bit(m.flag_agc_state, 0) | proto_bit(m.ggs_mode, 1));
      wr.u8(m.ring_form);
      wr.u16(m.ring_det);
      wr.u16(m.ring_off);
      break;
    }
    default:
      wr.u8(proto_bit(channel->dc.flag_agc_state, 0) | proto_bit(channel->dc.ggs_mode, 1));
      break;
  }
  return wr.pos;
}

int convert_recv_analog_config(PROTO_CONV_ARGS) {
  if (!proto_recv_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  switch (record->stateMode) {
    case 1:
      return recv_radio_v1(payload, size, record->payload.ra_config);
    case 2:
      return recv_ggs(payload, size, record->payload.ga_config);
    default:
      return CONVERT_BAD_MODE;
  }
}

int convert_trans_analog_config(PROTO_CONV_ARGS) {
  if (!proto_trans_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  ProtoWriter wr{payload, size, 0};
  switch (record->stateMode) {
    case 1:
      return trans_radio_v1(wr, record->payload.ra_config);
    case 2:
      return trans_ggs(wr, record->payload.ga_config);
    default:
      return CONVERT_BAD_MODE;
  }
}

int convert_recv_v2_analog_config(PROTO_CONV_ARGS) {
  if (!proto_recv_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  if (record->stateMode != 1) return convert_recv_analog_config(row, flags, src, dst, payload, size, record);
  return recv_radio_v2(payload, size, record->payload.ra_v2_config);
}

int convert_trans_v2_analog_config(PROTO_CONV_ARGS) {
  if (!proto_trans_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  if (record->stateMode != 1) return convert_trans_analog_config(row, flags, src, dst, payload, size, record);
  ProtoWriter wr{payload, size, 0};
  return trans_radio_v2(wr, record->payload.ra_v2_config);
}

// ---------------------------------------------------------------- dump

namespace {

int dump_gains_pattern(char* b, long size, int len, const char* name, int gains_count, const uint8_t* gain_id,
                       const uint8_t* gain_value, int gains_max, int pattern_size, const uint8_t* pattern) {
  len = proto_dump_line(b, size, len, ".%s.gains_count : %d,\n", name, gains_count);
  len = proto_dump_line(b, size, len, ".%s.gain : \n", name);
  for (int i = 0; i < gains_count && i < gains_max; ++i)
    len = proto_dump_line(b, size, len, "[%d] : 0x%02X 0x%02X,\n", i, gain_id[i], gain_value[i]);
  len = proto_dump_line(b, size, len, ".%s.pattern_size : %d,\n", name, pattern_size);
  len = proto_dump_line(b, size, len, ".%s.pattern :\n", name);
  for (int i = 0; i < pattern_size && i < PROTO_PATTERN_MAX; ++i)
    len = proto_dump_line(b, size, len, "[%d] : 0x%02X,\n", i, pattern[i]);
  return len;
}

int dump_uart(char* b, long size, int len, const char* name, int i, const s_proto_uart_config& u) {
  len = proto_dump_line(b, size, len, ".%s.channels[%d].uart_config.baud: %ld,\n", name, i, static_cast<long>(u.baud));
  len = proto_dump_line(b, size, len, ".%s.channels[%d].uart_config.data_bits: %d,\n", name, i, u.data_bits);
  len = proto_dump_line(b, size, len, ".%s.channels[%d].uart_config.parity_bit: %d,\n", name, i, u.parity_bit);
  len = proto_dump_line(b, size, len, ".%s.channels[%d].uart_config.stop_bits: %d,\n", name, i, u.stop_bits);
  len = proto_dump_line(b, size, len, ".%s.channels[%d].uart_config.mode: %d,\n", name, i, u.mode);
  return len;
}

const char* const ggs_type_names[] = {"",      "dc",   "tone",  "voice", "fxo", "fxs",  "mb",
                                      "iva",   "dpu60", "dpua", "dpuvi", "prb", "emvi"};

int dump_ggs_channel(char* b, long size, int len, int i, const s_ggs_channel_analog_config& ch) {
  len = proto_dump_line(b, size, len, ".ga_config.channels[%d].ggs_type_call    : %d,\n", i, ch.ggs_type_call);
  int type = ch.ggs_type_call;
  if (type == GGS_TYPE_NONE || type > PROTO_GGS_TYPE_MAX) return len;
  const char* t = ggs_type_names[type];
  len = proto_dump_line(b, size, len, ".ga_config.channels[%d].%s.flag_agc_state   : %d,\n", i, t,
                        ch.dc.flag_agc_state);
  len = proto_dump_line(b, size, len, ".ga_config.channels[%d].%s.ggs_mode         : %d,\n", i, t, ch.dc.ggs_mode);
  if (type == GGS_TYPE_FXO) {
    const s_ggs_analog_fxo& f = ch.fxo;
    len = proto_dump_line(b, size, len, ".ga_config.channels[%d].fxo.pulse_make       : %d,\n", i, f.pulse_make);
    len = proto_dump_line(b, size, len, ".ga_config.channels[%d].fxo.pulse_break      : %d,\n", i, f.pulse_break);
    len = proto_dump_line(b, size, len, ".ga_config.channels[%d].fxo.pulse_pause      : %d,\n", i, f.pulse_pause);
    len = proto_dump_line(b, size, len, ".ga_config.channels[%d].fxo.flash            : %d,\n", i, f.flash);
    len = proto_dump_line(b, size, len, ".ga_config.channels[%d].fxo.seize            : %d,\n", i, f.seize);
    len = proto_dump_line(b, size, len, ".ga_config.channels[%d].fxo.ring_det         : %d,\n", i, f.ring_det);
    len = proto_dump_line(b, size, len, ".ga_config.channels[%d].fxo.ring_off         : %d,\n", i, f.ring_off);
  } else if (type == GGS_TYPE_FXS) {
    const s_ggs_analog_fxs& f = ch.fxs;
    len = proto_dump_line(b, size, len, ".ga_config.channels[%d].fxs.flag_pulse_det   : %d,\n", i, f.flag_pulse_det);
    len = proto_dump_line(b, size, len, ".ga_config.channels[%d].fxs.pulse_make_det   : %d,\n", i, f.pulse_make_det);
    len = proto_dump_line(b, size, len, ".ga_config.channels[%d].fxs.pulse_break_det  : %d,\n", i, f.pulse_break_det);
    len = proto_dump_line(b, size, len, ".ga_config.channels[%d].fxs.pulse_pause_det  : %d,\n", i, f.pulse_pause_det);
    len = proto_dump_line(b, size, len, ".ga_config.channels[%d].fxs.flash_det        : %d,\n", i, f.flash_det);
    len = proto_dump_line(b, size, len, ".ga_config.channels[%d].fxs.seize_det        : %d,\n", i, f.seize_det);
    len = proto_dump_line(b, size, len, ".ga_config.channels[%d].fxs.ring_seq         : %d,\n", i, f.ring_seq);
    len = proto_dump_line(b, size, len, ".ga_config.channels[%d].fxs.ring_form        : %d,\n", i, f.ring_form);
  } else if (type == GGS_TYPE_MB) {
    const s_ggs_analog_mb& m = ch.mb;
    len = proto_dump_line(b, size, len, ".ga_config.channels[%d].mb.ring_det         : %d,\n", i, m.ring_det);
    len = proto_dump_line(b, size, len, ".ga_config.channels[%d].mb.ring_off         : %d,\n", i, m.ring_off);
    len = proto_dump_line(b, size, len, ".ga_config.channels[%d].mb.ring_form        : %d,\n", i, m.ring_form);
  }
  return len;
}

}  // namespace

int sprintf_analog_config(char* b, long size, s_data_cmd* r, int flags) {
  int len = sprintf_dummy(b, size, r, flags);
  if (len == 0) return 0;
  if (r->stateMode == 1 && r->stateProtocol == 0) {
    const s_proto_ra_config& c = r->payload.ra_config;
    int n = c.channels_count < PROTO_RA_CHANNELS_MAX ? c.channels_count : PROTO_RA_CHANNELS_MAX;
    len = proto_dump_line(b, size, len, ".ra_config.channels_count: %d,\n", c.channels_count);
    for (int i = 0; i < n; ++i) {
      const s_radio_channel_analog_config& ch = c.channels[i];
      len = proto_dump_line(b, size, len, ".ra_config.channels[%d].flag_agc1_tx_state: %d,\n", i,
                            ch.flag_agc1_tx_state);
      len = proto_dump_line(b, size, len, ".ra_config.channels[%d].flag_agc2_rx_state: %d,\n", i,
                            ch.flag_agc2_rx_state);
      len = proto_dump_line(b, size, len, ".ra_config.channels[%d].flag_mixer_doc_state: %d,\n", i,
                            ch.flag_mixer_doc_state);
      len = proto_dump_line(b, size, len, ".ra_config.channels[%d].radio_type    : %d,\n", i, ch.radio_type);
      len = proto_dump_line(b, size, len, ".ra_config.channels[%d].radio_conn    : %d,\n", i, ch.radio_conn);
    }
    len = dump_gains_pattern(b, size, len, "ra_config", c.gains_count, c.gain_id, c.gain_value, PROTO_GAINS_V1_MAX,
                             c.pattern_size, c.pattern);
    for (int i = 0; i < n; ++i) len = dump_uart(b, size, len, "ra_config", i, c.channels[i].uart_config);
  } else if (r->stateMode == 1 && r->stateProtocol == 1) {
    const s_proto_ra_v2_config& c = r->payload.ra_v2_config;
    int n = c.channels_count < PROTO_RA_V2_CHANNELS_MAX ? c.channels_count : PROTO_RA_V2_CHANNELS_MAX;
    len = proto_dump_line(b, size, len, ".ra_v2_config.channels_count: %d,\n", c.channels_count);
    for (int i = 0; i < n; ++i) {
      const s_radio_v2_channel_analog_config& ch = c.channels[i];
      len = proto_dump_line(b, size, len, ".ra_v2_config.channels[%d].enable: %d,\n", i, static_cast<int>(ch.enable));
      len = proto_dump_line(b, size, len, ".ra_v2_config.channels[%d].flag_agc1_tx_state: %d,\n", i,
                            ch.flag_agc1_tx_state);
      len = proto_dump_line(b, size, len, ".ra_v2_config.channels[%d].flag_agc2_rx_state: %d,\n", i,
                            ch.flag_agc2_rx_state);
      len = proto_dump_line(b, size, len, ".ra_v2_config.channels[%d].flag_mixer_doc_state: %d,\n", i,
                            ch.flag_mixer_doc_state);
      len = proto_dump_line(b, size, len, ".ra_v2_config.channels[%d].flag_wire: %d,\n", i, ch.flag_wire);
      len = dump_gains_pattern(b, size, len, "ra_v2_config", ch.gains_count, ch.gain_id, ch.gain_value,
                               PROTO_GAINS_V2_MAX, ch.pattern_size, ch.pattern);
      len = dump_uart(b, size, len, "ra_v2_config", i, ch.uart_config);
    }
  } else if (r->stateMode == 2) {
    const s_proto_ga_config& c = r->payload.ga_config;
    int n = c.channels_count < PROTO_GGS_CHANNELS_MAX ? c.channels_count : PROTO_GGS_CHANNELS_MAX;
    len = proto_dump_line(b, size, len, ".ga_config.channels_count: %d,\n", c.channels_count);
    len = proto_dump_line(b, size, len, ".ga_config.wire: %d,\n", c.wire);
    for (int i = 0; i < n; ++i) len = dump_ggs_channel(b, size, len, i, c.channels[i]);
    len = dump_gains_pattern(b, size, len, "ga_config", c.gains_count, c.gain_id, c.gain_value, PROTO_GAINS_V1_MAX,
                             c.pattern_size, c.pattern);
  }
  return len;
}
