// Channel configuration of the digital line interface: radio version 1,
// GGS, DCON and radio version 2 layouts.
#include <cstring>

#include "radiolink/proto_vork.h"
#include "radiolink/proto_wire.h"

namespace {

enum { LINE_BLOCK = 9, RADIO_V1_SIZE = 40, RADIO_V2_DATA = 30 };

void recv_lines(ProtoReader& rd, s_line_digital_config* lines) {
  lines[0].line_echo_threshold = rd.f32();
  lines[1].line_echo_threshold = rd.f32();
  uint8_t bits = rd.u8();
  lines[0].line_control = proto_flag(bits, 0);
  lines[1].line_control = proto_flag(bits, 1);
}
void trans_lines(ProtoWriter& wr, const s_line_digital_config* lines) {
  wr.f32(lines[0].line_echo_threshold);
  wr.f32(lines[1].line_echo_threshold);
  wr.u8(proto_bit(lines[0].line_control, 0) | proto_bit(lines[1].line_control, 1));
}

// Call, VAD and level fields, in the same order in both radio layouts.
template <class Ch>
void recv_call_vad(ProtoReader& rd, Ch& ch) {
  ch.radio_call = rd.u16();
  ch.rc_state = rd.u16();
  ch.vad_timeout = rd.u16();
  ch.vad_window = rd.u16();
  ch.vad_det_level = rd.u8();
  ch.detector_level = rd.s16();
  ch.signal_level = rd.s16();
}
template <class Ch>
void trans_call_vad(ProtoWriter& wr, const Ch& ch) {
  wr.u16(ch.radio_call);
  wr.u16(ch.rc_state);
  wr.u16(ch.vad_timeout);
  wr.u16(ch.vad_window);
  wr.u8(ch.vad_det_level);
  wr.u16(static_cast<uint16_t>(ch.detector_level));
  wr.u16(static_cast<uint16_t>(ch.signal_level));
}

int recv_radio_v1(const unsigned char* payload, int size, s_proto_rd_config& c) {
  if (size < RADIO_V1_SIZE) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  c.channels_count = 1;
  s_radio_channel_digital_config& ch = c.channels[0];
  ProtoReader rd{payload, size, 0};
  uint8_t bits = rd.u8();
  ch.flag_rc_mode = proto_flag(bits, 1);
  ch.flag_ptt_prio = proto_flag(bits, 2);
  ch.flag_sql_prio = proto_flag(bits, 3);
  ch.flag_wire = proto_flag(bits, 4);
  ch.flag_agc_rx = proto_flag(bits, 7);
  rd.u8();  // reserved
  ch.snr = rd.f32();
  ch.delay_rx = rd.s32();
  ch.radio_type = rd.u16();
  ch.radio_conn = rd.u16();
  recv_call_vad(rd, ch);
  recv_lines(rd, c.line_config);
  ch.delay_tx = rd.s32();
  return CONVERT_OK;
}

int trans_radio_v1(ProtoWriter& wr, const s_proto_rd_config& c) {
  if (c.channels_count != PROTO_RD_CHANNELS_MAX) return CONVERT_BAD_PARAM;
  if (!wr.room(RADIO_V1_SIZE)) return CONVERT_NOT_ENOUGHT_MEMORY;
  const s_radio_channel_digital_config& ch = c.channels[0];
  wr.u8(proto_bit(ch.flag_rc_mode, 1) | proto_bit(ch.flag_ptt_prio, 2) | proto_bit(ch.flag_sql_prio, 3) |
        proto_bit(ch.flag_wire, 4) | proto_bit(ch.flag_agc_rx, 7));
  wr.u8(0);
  wr.f32(ch.snr);
  wr.u32(static_cast<uint32_t>(ch.delay_rx));
  wr.u16(ch.radio_type);
  wr.u16(ch.radio_conn);
  trans_call_vad(wr, ch);
  trans_lines(wr, c.line_config);
  wr.u32(static_cast<uint32_t>(ch.delay_tx));
  return wr.pos;
}

int ggs_digital_size(int type) {
  switch (type) {
    case GGS_TYPE_NONE:
      return 0;
    case GGS_TYPE_VOICE:
    case GGS_TYPE_DPUVI:
    case GGS_TYPE_EMVI:
      return 10;
    case GGS_TYPE_TONE:
    case GGS_TYPE_FXS:
      return 14;
    case GGS_TYPE_FXO:
      return 12;
    case GGS_TYPE_IVA:
      return 18;
    default:
      return 6;
  }
}

int recv_ggs(const unsigned char* payload, int size, s_proto_gd_config& c) {
  if (size < 2) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  ProtoReader rd{payload, size, 0};
  uint8_t k = rd.u8();
  c.wire = rd.u8();
  if (k > PROTO_GGS_CHANNELS_MAX) return CONVERT_BAD_PARAM;
  c.channels_count = k;
  int r = proto_recv_typed_each(rd, k, [&](int i, int type, const unsigned char* data, int len) {
    return recv_ggs_channel_digital(&c.channels[i], type, data, len);
  });
  if (r != CONVERT_OK) return r;
  if (!rd.has(LINE_BLOCK)) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  recv_lines(rd, c.line_config);
  return CONVERT_OK;
}

int trans_ggs(ProtoWriter& wr, const s_proto_gd_config& c) {
  if (c.channels_count > PROTO_GGS_CHANNELS_MAX) return CONVERT_BAD_PARAM;
  if (!wr.room(2)) return CONVERT_NOT_ENOUGHT_MEMORY;
  wr.u8(c.channels_count);
  wr.u8(c.wire);
  int r = proto_trans_each(wr, c.channels_count, [&](int i, unsigned char* out, int room) {
    return trans_ggs_channel_digital(&c.channels[i], out, room);
  });
  if (r < 0) return r;
  if (!wr.room(LINE_BLOCK)) return CONVERT_NOT_ENOUGHT_MEMORY;
  trans_lines(wr, c.line_config);
  return wr.pad() ? wr.pos : CONVERT_NOT_ENOUGHT_MEMORY;
}

int recv_dcon(const unsigned char* payload, int size, s_proto_dcon_dig_config& c) {
  ProtoReader rd{payload, size, 0};
  if (!rd.has(1)) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  uint8_t k = rd.u8();
  if (k > PROTO_DCON_CHANNELS_MAX) return CONVERT_BAD_PARAM;
  c.channels_count = k;
  // Channel data carries nothing yet: it is skipped.
  return proto_recv_typed_each(rd, k, [&](int i, int type, const unsigned char* data, int len) {
    return recv_dcon_channel_digital(&c.channels[i], type, data, len);
  });
}

int trans_dcon(ProtoWriter& wr, const s_proto_dcon_dig_config& c) {
  if (c.channels_count > PROTO_DCON_CHANNELS_MAX) return CONVERT_BAD_PARAM;
  if (!wr.room(1)) return CONVERT_NOT_ENOUGHT_MEMORY;
  wr.u8(c.channels_count);
  int r = proto_trans_each(wr, c.channels_count, [&](int i, unsigned char* out, int room) {
    return trans_dcon_channel_digital(&c.channels[i], out, room);
  });
  if (r < 0) return r;
  return wr.pad() ? wr.pos : CONVERT_NOT_ENOUGHT_MEMORY;
}

int recv_radio_v2(const unsigned char* payload, int size, s_proto_rd_v2_config& c) {
  if (size < 1 + LINE_BLOCK) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  ProtoReader rd{payload, size, 0};
  uint8_t k = rd.u8();
  if (k > PROTO_RD_V2_CHANNELS_MAX) return CONVERT_BAD_PARAM;
  c.channels_count = k;
  for (int i = 0; i < k; ++i) {
    s_radio_v2_channel_digital_config& ch = c.channels[i];
    std::memset(&ch, 0, sizeof ch);
    if (!rd.has(1)) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
    int len = rd.u8();
    if (len < RADIO_V2_DATA) continue;  // disabled: the length byte alone
    if (!rd.has(len)) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
    int end = rd.pos + len;
    ch.enable = 1;
    uint8_t bits = rd.u8();
    ch.flag_rc_mode = proto_flag(bits, 0);
    ch.flag_ptt_prio = proto_flag(bits, 1);
    ch.flag_sql_prio = proto_flag(bits, 2);
    ch.flag_wire = proto_flag(bits, 3);
    ch.flag_agc_rx = proto_flag(bits, 4);
    rd.u8();  // reserved
    ch.snr = rd.f32();
    ch.delay_rx = rd.s32();
    ch.delay_tx = rd.s32();
    recv_call_vad(rd, ch);
    ch.gain_tx = rd.u8();
    ch.gain_rx = rd.u8();
    ch.gain_sh = rd.u8();
    rd.pos = end;  // a longer block from a newer unit: its extra bytes are skipped
  }
  if (!rd.has(LINE_BLOCK)) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  recv_lines(rd, c.line_config);
  return CONVERT_OK;
}

int trans_radio_v2(ProtoWriter& wr, const s_proto_rd_v2_config& c) {
  if (c.channels_count > PROTO_RD_V2_CHANNELS_MAX) return CONVERT_BAD_PARAM;
  if (!wr.room(1)) return CONVERT_NOT_ENOUGHT_MEMORY;
  wr.u8(c.channels_count);
  for (int i = 0; i < c.channels_count; ++i) {
    const s_radio_v2_channel_digital_config& ch = c.channels[i];
    if (!ch.enable) {
      if (!wr.room(1)) return CONVERT_NOT_ENOUGHT_MEMORY;
      wr.u8(0);
      continue;
    }
    if (!wr.room(1 + RADIO_V2_DATA)) return CONVERT_NOT_ENOUGHT_MEMORY;
    wr.u8(RADIO_V2_DATA);
    wr.u8(proto_bit(ch.flag_rc_mode, 0) | proto_bit(ch.flag_ptt_prio, 1) | proto_bit(ch.flag_sql_prio, 2) |
          proto_bit(ch.flag_wire, 3) | proto_bit(ch.flag_agc_rx, 4));
    wr.u8(0);
    wr.f32(ch.snr);
    wr.u32(static_cast<uint32_t>(ch.delay_rx));
    wr.u32(static_cast<uint32_t>(ch.delay_tx));
    trans_call_vad(wr, ch);
    wr.u8(ch.gain_tx);
    wr.u8(ch.gain_rx);
    wr.u8(ch.gain_sh);
  }
  if (!wr.room(LINE_BLOCK)) return CONVERT_NOT_ENOUGHT_MEMORY;
  trans_lines(wr, c.line_config);
  return wr.pad() ? wr.pos : CONVERT_NOT_ENOUGHT_MEMORY;
}

}  // namespace

int recv_ggs_channel_digital(s_ggs_channel_digital_config* channel, int type, const unsigned char* data, int length) {
  if (!channel || (!data && length > 0)) return CONVERT_ERROR;
  // Only the type is stored before the checks; the rest of the channel is
  // left as it was unless its fields are read.
  channel->ggs_type_call = static_cast<uint16_t>(type);
  if (type == GGS_TYPE_NONE) return CONVERT_OK;
  if (type < 0 || type > PROTO_GGS_TYPE_MAX) return CONVERT_BAD_PARAM;
  if (length < ggs_digital_size(type)) return CONVERT_ERROR;
  ProtoReader rd{data, length, 1};
  uint8_t bits = data[0];
  // The three leading flags sit at the same place in every type.
  channel->dc.flag_enable_ec = proto_flag(bits, 0);
  channel->dc.ggs_mode = proto_flag(bits, 1);
  channel->dc.flag_agc_rx = proto_flag(bits, 7);
  switch (type) {
    case GGS_TYPE_TONE: {
      s_ggs_digital_tone& t = channel->tone;
      t.detector_level = rd.s16();
      t.signal_level = rd.s16();
      t.vad_timeout = rd.u16();
      t.vad_window = rd.u16();
      t.vad_det_level = rd.u8();
      t.delay_rx = rd.s32();
      break;
    }
    case GGS_TYPE_FXO: {
      s_ggs_digital_fxo& f = channel->fxo;
      f.vad_timeout = rd.u16();
      f.vad_window = rd.u16();
      f.vad_det_level = rd.u8();
      f.dtmf_signal_level = rd.s16();
      f.dtmf_mark_time = rd.u16();
      f.dtmf_space_time = rd.u16();
      break;
    }
    case GGS_TYPE_FXS: {
      s_ggs_digital_fxs& f = channel->fxs;
      f.flag_enable_dtmf = proto_flag(bits, 2);
      f.vad_timeout = rd.u16();
      f.vad_window = rd.u16();
      f.vad_det_level = rd.u8();
      f.dtmf_det_level = rd.s16();
      f.dtmf_det_mark_min = rd.u16();
      f.dtmf_det_mark_max = rd.u16();
      f.dtmf_det_space = rd.u16();
      break;
    }
    case GGS_TYPE_IVA: {
      s_ggs_digital_iva& v = channel->iva;
      v.trans_interval = rd.u16();
      v.detector_interval = rd.u16();
      v.detector_level = rd.s16();
      v.signal_level = rd.s16();
      v.vad_timeout = rd.u16();
      v.vad_window = rd.u16();
      v.vad_det_level = rd.u8();
      v.delay_rx = rd.s32();
      break;
    }
    case GGS_TYPE_VOICE:
    case GGS_TYPE_DPUVI:
    case GGS_TYPE_EMVI: {
      s_ggs_digital_delay& d = channel->voice;
      d.vad_timeout = rd.u16();
      d.vad_window = rd.u16();
      d.vad_det_level = rd.u8();
      d.delay_rx = rd.s32();
      break;
    }
    default: {
      s_ggs_digital_basic& d = channel->dc;
      d.vad_timeout = rd.u16();
      d.vad_window = rd.u16();
      d.vad_det_level = rd.u8();
      break;
    }
  }
  return CONVERT_OK;
}

int trans_ggs_channel_digital(const s_ggs_channel_digital_config* channel, unsigned char* buffer, int capacity) {
  if (!channel || !buffer) return CONVERT_ERROR;
  int type = channel->ggs_type_call;
  if (type > PROTO_GGS_TYPE_MAX) return CONVERT_BAD_PARAM;
  int data_size = ggs_digital_size(type);
  if (3 + data_size > capacity) return CONVERT_NOT_ENOUGHT_MEMORY;
  ProtoWriter wr{buffer, capacity, 0};
  wr.u16(static_cast<unsigned>(type));
  wr.u8(static_cast<unsigned>(data_size));
  if (type == GGS_TYPE_NONE) return wr.pos;
  const s_ggs_digital_basic& head = channel->dc;
  unsigned bits = proto_bit(head.flag_enable_ec, 0) | proto_bit(head.ggs_mode, 1) | proto_bit(head.flag_agc_rx, 7);
  if (type == GGS_TYPE_FXS) bits |= proto_bit(channel->fxs.flag_enable_dtmf, 2);
  wr.u8(bits);
  switch (type) {
    case GGS_TYPE_TONE: {
      const s_ggs_digital_tone& t = channel->tone;
      wr.u16(static_cast<uint16_t>(t.detector_level));
      wr.u16(static_cast<uint16_t>(t.signal_level));
      wr.u16(t.vad_timeout);
      wr.u16(t.vad_window);
      wr.u8(t.vad_det_level);
      wr.u32(static_cast<uint32_t>(t.delay_rx));
      break;
    }
    case GGS_TYPE_FXO: {
      const s_ggs_digital_fxo& f = channel->fxo;
      wr.u16(f.vad_timeout);
      wr.u16(f.vad_window);
      wr.u8(f.vad_det_level);
      wr.u16(static_cast<uint16_t>(f.dtmf_signal_level));
      wr.u16(f.dtmf_mark_time);
      wr.u16(f.dtmf_space_time);
      break;
    }
    case GGS_TYPE_FXS: {
      const s_ggs_digital_fxs& f = channel->fxs;
      wr.u16(f.vad_timeout);
      wr.u16(f.vad_window);
      wr.u8(f.vad_det_level);
      wr.u16(static_cast<uint16_t>(f.dtmf_det_level));
      wr.u16(f.dtmf_det_mark_min);
      wr.u16(f.dtmf_det_mark_max);
      wr.u16(f.dtmf_det_space);
      break;
    }
    case GGS_TYPE_IVA: {
      const s_ggs_digital_iva& v = channel->iva;
      wr.u16(v.trans_interval);
      wr.u16(v.detector_interval);
      wr.u16(static_cast<uint16_t>(v.detector_level));
      wr.u16(static_cast<uint16_t>(v.signal_level));
      wr.u16(v.vad_timeout);
      wr.u16(v.vad_window);
      wr.u8(v.vad_det_level);
      wr.u32(static_cast<uint32_t>(v.delay_rx));
      break;
    }
    case GGS_TYPE_VOICE:
    case GGS_TYPE_DPUVI:
    case GGS_TYPE_EMVI: {
      const s_ggs_digital_delay& d = channel->voice;
      wr.u16(d.vad_timeout);
      wr.u16(d.vad_window);
      wr.u8(d.vad_det_level);
      wr.u32(static_cast<uint32_t>(d.delay_rx));
      break;
    }
    default:
      wr.u16(head.vad_timeout);
      wr.u16(head.vad_window);
      wr.u8(head.vad_det_level);
      break;
  }
  return wr.pos;
}

int recv_dcon_channel_digital(s_dcon_channel_digital_config* channel, int type, const unsigned char* data,
                              int length) {
  (void)data;
  (void)length;
  if (!channel) return CONVERT_ERROR;
  channel->type_signal = static_cast<uint16_t>(type);
  return type == 0 || type == 1 ? CONVERT_OK : CONVERT_BAD_PARAM;
}

int trans_dcon_channel_digital(const s_dcon_channel_digital_config* channel, unsigned char* buffer, int capacity) {
  if (!channel || !buffer) return CONVERT_ERROR;
  if (channel->type_signal > 1) return CONVERT_BAD_PARAM;
  if (capacity < 3) return CONVERT_NOT_ENOUGHT_MEMORY;
  ProtoWriter wr{buffer, capacity, 0};
  wr.u16(channel->type_signal);
  wr.u8(0);
  return wr.pos;
}

int convert_recv_digital_config(PROTO_CONV_ARGS) {
  if (!proto_recv_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  switch (record->stateMode) {
    case 1:
      return recv_radio_v1(payload, size, record->payload.rd_config);
    case 2:
      return recv_ggs(payload, size, record->payload.gd_config);
    case 3:
      return recv_dcon(payload, size, record->payload.dcon_dig_config);
    default:
      return CONVERT_BAD_MODE;
  }
}

int convert_trans_digital_config(PROTO_CONV_ARGS) {
  if (!proto_trans_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  ProtoWriter wr{payload, size, 0};
  switch (record->stateMode) {
    case 1:
      return trans_radio_v1(wr, record->payload.rd_config);
    case 2:
      return trans_ggs(wr, record->payload.gd_config);
    case 3:
      return trans_dcon(wr, record->payload.dcon_dig_config);
    default:
      return CONVERT_BAD_MODE;
  }
}

int convert_recv_v2_digital_config(PROTO_CONV_ARGS) {
  if (!proto_recv_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  if (record->stateMode != 1) return convert_recv_digital_config(row, flags, src, dst, payload, size, record);
  return recv_radio_v2(payload, size, record->payload.rd_v2_config);
}

int convert_trans_v2_digital_config(PROTO_CONV_ARGS) {
  if (!proto_trans_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  if (record->stateMode != 1) return convert_trans_digital_config(row, flags, src, dst, payload, size, record);
  ProtoWriter wr{payload, size, 0};
  return trans_radio_v2(wr, record->payload.rd_v2_config);
}
