// Keep-alive messages: converters and dump printers.
#include "radiolink/proto_vork.h"

namespace {

bool present(s_proto_transiver_event* row, unsigned short* flags, unsigned char* src, unsigned char* dst,
             unsigned char* payload, s_data_cmd* record) {
  return row && flags && src && dst && payload && record;
}

enum { MODE_RADIO = 1, MODE_GGS = 2, MODE_DCON = 3 };

// Two flag bytes of one version-1 radio channel.
void pack_digital(const s_proto_digital_ka_channel& c, unsigned char* out) {
  out[0] = static_cast<unsigned char>((c.flag_rc & 1) | ((c.flag_ptt & 1) << 1) | ((c.flag_self_hear & 1) << 2) |
                                      ((c.flag_receiver & 1) << 3) | ((c.flag_bss & 1) << 4) |
                                      ((c.flag_ptt_selcall & 1) << 5));
  out[1] = static_cast<unsigned char>((c.flag_detector_rx & 1) | ((c.flag_detector_tx & 1) << 1) |
                                      ((c.flag_sql & 1) << 2) | ((c.flag_rc_line_state & 1) << 3));
}

void unpack_digital(const unsigned char* in, s_proto_digital_ka_channel& c) {
  c.flag_rc = in[0] & 1;
  c.flag_ptt = (in[0] >> 1) & 1;
  c.flag_self_hear = (in[0] >> 2) & 1;
  c.flag_receiver = (in[0] >> 3) & 1;
  c.flag_bss = (in[0] >> 4) & 1;
  c.flag_ptt_selcall = (in[0] >> 5) & 1;
  c.flag_detector_rx = in[1] & 1;
  c.flag_detector_tx = (in[1] >> 1) & 1;
  c.flag_sql = (in[1] >> 2) & 1;
  c.flag_rc_line_state = (in[1] >> 3) & 1;
}

void pack_analog(const s_proto_analog_ka_channel& c, unsigned char* out) {
  out[0] = static_cast<unsigned char>(((c.flag_ptt & 1) << 1) | ((c.flag_self_hear & 1) << 2) |
                                      ((c.flag_radio_power & 1) << 3) | ((c.flag_radio_reserv & 1) << 4));
  out[1] =
      static_cast<unsigned char>((c.flag_detected_rx & 1) | ((c.flag_detected_tx & 1) << 1) | ((c.flag_sql & 1) << 2) |
                                 ((c.flag_rs_tx & 1) << 3) | ((c.flag_rs_error & 1) << 4));
}

void unpack_analog(const unsigned char* in, s_proto_analog_ka_channel& c) {
  c.flag_ptt = (in[0] >> 1) & 1;
  c.flag_self_hear = (in[0] >> 2) & 1;
  c.flag_radio_power = (in[0] >> 3) & 1;
  c.flag_radio_reserv = (in[0] >> 4) & 1;
  c.flag_detected_rx = in[1] & 1;
  c.flag_detected_tx = (in[1] >> 1) & 1;
  c.flag_sql = (in[1] >> 2) & 1;
  c.flag_rs_tx = (in[1] >> 3) & 1;
  c.flag_rs_error = (in[1] >> 4) & 1;
}

// The id byte and its padding byte.
int trans_id_only(unsigned char* payload, int size, uint8_t id) {
  if (size < 2) return CONVERT_NOT_ENOUGHT_MEMORY;
  payload[0] = id;
  payload[1] = 0;
  return 2;
}

int channel_count(uint8_t n) { return n > PROTO_KA_CHANNELS_MAX ? PROTO_KA_CHANNELS_MAX : n; }

}  // namespace

// ---------------------------------------------------------------- GW_KEEP_ALIVE, version 2

int convert_recv_v2_keep_alive(PROTO_CONV_ARGS) {
  if (!proto_recv_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  if (size < 3) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  record->payload.v2_keep_alive.gateway_id = payload[0];
  record->payload.v2_keep_alive.bus_windows_size = static_cast<uint16_t>(payload[1] | (payload[2] << 8));
  return CONVERT_OK;
}

int convert_trans_v2_keep_alive(PROTO_CONV_ARGS) {
  if (!proto_trans_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  if (size < 4) return CONVERT_NOT_ENOUGHT_MEMORY;
  payload[0] = record->payload.v2_keep_alive.gateway_id;
  payload[1] = static_cast<unsigned char>(record->payload.v2_keep_alive.bus_windows_size);
  payload[2] = static_cast<unsigned char>(record->payload.v2_keep_alive.bus_windows_size >> 8);
  payload[3] = 0;
  return 4;
}

// ---------------------------------------------------------------- GW_REMOTE_KEEP_ALIVE

int convert_recv_remote_keep_alive(PROTO_CONV_ARGS) {
  if (!proto_recv_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  if (size < 4) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  record->payload.remote_keep_alive.state = payload[0];
  record->payload.remote_keep_alive.mode = payload[1];
  record->payload.remote_keep_alive.id = payload[2];
  return CONVERT_OK;
}

int convert_trans_remote_keep_alive(PROTO_CONV_ARGS) {
  if (!proto_trans_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  if (size < 4) return CONVERT_NOT_ENOUGHT_MEMORY;
  payload[0] = record->payload.remote_keep_alive.state;
  payload[1] = record->payload.remote_keep_alive.mode;
  payload[2] = record->payload.remote_keep_alive.id;
  payload[3] = 0;
  return 4;
}

// ---------------------------------------------------------------- DLI_KEEP_ALIVE

int convert_recv_digital_keep_alive(PROTO_CONV_ARGS) {
  if (!proto_recv_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  switch (record->stateMode) {
    case MODE_RADIO:
      if (size <= 2) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
      record->payload.rd_keep_alive.id = payload[0];
      record->payload.rd_keep_alive.channels_count = 1;
      unpack_digital(payload + 1, record->payload.rd_keep_alive.channels[0]);
      return CONVERT_OK;
    case MODE_GGS:
    case MODE_DCON:
      if (size == 0) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
      record->payload.gd_keep_alive.id = payload[0];
      return CONVERT_OK;
    default:
      return CONVERT_BAD_MODE;
  }
}

int convert_trans_digital_keep_alive(PROTO_CONV_ARGS) {
  if (!proto_trans_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  switch (record->stateMode) {
    case MODE_RADIO: {
      const s_proto_rd_keep_alive& ka = record->payload.rd_keep_alive;
      int n = channel_count(ka.channels_count);
      int len = 2 * n + 2;
      if (size < len) return CONVERT_NOT_ENOUGHT_MEMORY;
      payload[0] = ka.id;
      for (int i = 0; i < n; ++i) pack_digital(ka.channels[i], payload + 1 + 2 * i);
      payload[len - 1] = 0;
      return len;
    }
    case MODE_GGS:
    case MODE_DCON:
      return trans_id_only(payload, size, record->payload.gd_keep_alive.id);
    default:
      return CONVERT_BAD_MODE;
  }
}

int convert_recv_v2_digital_keep_alive(PROTO_CONV_ARGS) {
  if (!proto_recv_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  if (record->stateMode != MODE_RADIO) return CONVERT_BAD_MODE;
  if (size < 2) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  record->payload.rd_v2_keep_alive.id = payload[0];
  return CONVERT_OK;
}

int convert_trans_v2_digital_keep_alive(PROTO_CONV_ARGS) {
  if (!present(row, flags, src, dst, payload, record)) return CONVERT_ERROR;
  if (record->stateMode != MODE_RADIO)
    return convert_trans_digital_keep_alive(row, flags, src, dst, payload, size, record);
  proto_trans_header(row, flags, src, dst, payload, size, record);
  return trans_id_only(payload, size, record->payload.rd_v2_keep_alive.id);
}

// ---------------------------------------------------------------- ALI_KEEP_ALIVE

int convert_recv_analog_keep_alive(PROTO_CONV_ARGS) {
  if (!proto_recv_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  switch (record->stateMode) {
    case MODE_RADIO:
      if (size <= 2) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
      record->payload.ra_keep_alive.id = payload[0];
      record->payload.ra_keep_alive.channels_count = 1;
      unpack_analog(payload + 1, record->payload.ra_keep_alive.channels[0]);
      return CONVERT_OK;
    case MODE_GGS:
      if (size == 0) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
      record->payload.ga_keep_alive.id = payload[0];
      return CONVERT_OK;
    default:
      return CONVERT_BAD_MODE;
  }
}

int convert_trans_analog_keep_alive(PROTO_CONV_ARGS) {
  if (!proto_trans_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  switch (record->stateMode) {
    case MODE_RADIO: {
      const s_proto_ra_keep_alive& ka = record->payload.ra_keep_alive;
      int n = channel_count(ka.channels_count);
      int len = 2 * n + 2;
      if (size < len) return CONVERT_NOT_ENOUGHT_MEMORY;
      payload[0] = ka.id;
      for (int i = 0; i < n; ++i) pack_analog(ka.channels[i], payload + 1 + 2 * i);
      payload[len - 1] = 0;
      return len;
    }
    case MODE_GGS:
      return trans_id_only(payload, size, record->payload.ga_keep_alive.id);
    default:
      return CONVERT_BAD_MODE;
  }
}

int convert_recv_v2_analog_keep_alive(PROTO_CONV_ARGS) {
  if (!proto_recv_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  if (record->stateMode != MODE_RADIO) return CONVERT_BAD_MODE;
  if (size < 2) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  record->payload.ra_v2_keep_alive.id = payload[0];
  return CONVERT_OK;
}

int convert_trans_v2_analog_keep_alive(PROTO_CONV_ARGS) {
  if (!present(row, flags, src, dst, payload, record)) return CONVERT_ERROR;
  if (record->stateMode != MODE_RADIO)
    return convert_trans_analog_keep_alive(row, flags, src, dst, payload, size, record);
  proto_trans_header(row, flags, src, dst, payload, size, record);
  return trans_id_only(payload, size, record->payload.ra_v2_keep_alive.id);
}

// ---------------------------------------------------------------- test keep-alive

int convert_recv_test_keep_alive(PROTO_CONV_ARGS) {
  if (!proto_recv_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  if (size < 2) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  record->payload.tst_keep_alive.id = payload[0];
  record->payload.tst_keep_alive.test_mode = payload[1];
  return CONVERT_OK;
}

int convert_trans_test_keep_alive(PROTO_CONV_ARGS) {
  if (!proto_trans_begin(row, flags, src, dst, payload, size, record)) return CONVERT_ERROR;
  if (size < 2) return CONVERT_NOT_ENOUGHT_MEMORY;
  payload[0] = record->payload.tst_keep_alive.id;
  payload[1] = record->payload.tst_keep_alive.test_mode;
  return 2;
}

// ---------------------------------------------------------------- dumps

int sprintf_keep_alive(char* buffer, long size, s_data_cmd* r, int flags) {
  int len = sprintf_dummy(buffer, size, r, flags);
  if (len == 0 || r->stateProtocol != 1) return len;
  len =
      proto_dump_line(buffer, size, len, "v2_keep_alive.gateway_id       : %d,\n", r->payload.v2_keep_alive.gateway_id);
  len = proto_dump_line(buffer, size, len, "v2_keep_alive.bus_windows_size : %d,\n",
                        r->payload.v2_keep_alive.bus_windows_size);
  return len;
}

int sprintf_digital_keep_alive(char* buffer, long size, s_data_cmd* r, int flags) {
  int len = sprintf_dummy(buffer, size, r, flags);
  if (len == 0) return 0;
  if (r->stateMode == MODE_GGS) {
    return proto_dump_line(buffer, size, len, "gd_keep_alive.id             : %d,\n", r->payload.gd_keep_alive.id);
  }
  if (r->stateMode == MODE_DCON) {
    return proto_dump_line(buffer, size, len, "dcon_dig_keep_alive.id             : %d,\n",
                           r->payload.dcon_dig_keep_alive.id);
  }
  if (r->stateMode == MODE_RADIO && r->stateProtocol == 0) {
    const s_proto_rd_keep_alive& ka = r->payload.rd_keep_alive;
    len = proto_dump_line(buffer, size, len, "rd_keep_alive.id             : %d,\n", ka.id);
    len = proto_dump_line(buffer, size, len, "rd_keep_alive.channels_count : %d,\n", ka.channels_count);
    int n = channel_count(ka.channels_count);
    for (int i = 0; i < n; ++i) {
      const s_proto_digital_ka_channel& c = ka.channels[i];
      len = proto_dump_line(buffer, size, len, "rd_keep_alive.channels[%d].flag_rc            : %d,\n", i, c.flag_rc);
      len = proto_dump_line(buffer, size, len, "rd_keep_alive.channels[%d].flag_ptt           : %d,\n", i, c.flag_ptt);
      len = proto_dump_line(buffer, size, len, "rd_keep_alive.channels[%d].flag_self_hear     : %d,\n", i,
                            c.flag_self_hear);
      len = proto_dump_line(buffer, size, len, "rd_keep_alive.channels[%d].flag_receiver      : %d,\n", i,
                            c.flag_receiver);
      len = proto_dump_line(buffer, size, len, "rd_keep_alive.channels[%d].flag_bss           : %d,\n", i, c.flag_bss);
      len = proto_dump_line(buffer, size, len, "rd_keep_alive.channels[%d].flag_ptt_selcall   : %d,\n", i,
                            c.flag_ptt_selcall);
      len = proto_dump_line(buffer, size, len, "rd_keep_alive.channels[%d].flag_rc_line_state : %d,\n", i,
                            c.flag_rc_line_state);
      len = proto_dump_line(buffer, size, len, "rd_keep_alive.channels[%d].flag_sql           : %d,\n", i, c.flag_sql);
      len = proto_dump_line(buffer, size, len, "rd_keep_alive.channels[%d].flag_detector_rx   : %d,\n", i,
                            c.flag_detector_rx);
      len = proto_dump_line(buffer, size, len, "rd_keep_alive.channels[%d].flag_detector_tx   : %d,\n", i,
                            c.flag_detector_tx);
    }
    return len;
  }
  if (r->stateMode == MODE_RADIO && r->stateProtocol == 1) {
    return proto_dump_line(buffer, size, len, "rd_v2_keep_alive.id             : %d,\n",
                           r->payload.rd_v2_keep_alive.id);
  }
  return len;
}

int sprintf_analog_keep_alive(char* buffer, long size, s_data_cmd* r, int flags) {
  int len = sprintf_dummy(buffer, size, r, flags);
  if (len == 0) return 0;
  if (r->stateMode == MODE_RADIO && r->stateProtocol == 0) {
    const s_proto_ra_keep_alive& ka = r->payload.ra_keep_alive;
    len = proto_dump_line(buffer, size, len, ".ra_keep_alive.id             : %d,\n", ka.id);
    len = proto_dump_line(buffer, size, len, ".ra_keep_alive.channels_count : %d,\n", ka.channels_count);
    int n = channel_count(ka.channels_count);
    for (int i = 0; i < n; ++i) {
      const s_proto_analog_ka_channel& c = ka.channels[i];
      len = proto_dump_line(buffer, size, len, ".ra_keep_alive.channels[%d].flag_ptt         : %d,\n", i, c.flag_ptt);
      len = proto_dump_line(buffer, size, len, ".ra_keep_alive.channels[%d].flag_self_hear   : %d,\n", i,
                            c.flag_self_hear);
      len = proto_dump_line(buffer, size, len, ".ra_keep_alive.channels[%d].flag_radio_power : %d,\n", i,
                            c.flag_radio_power);
      len = proto_dump_line(buffer, size, len, ".ra_keep_alive.channels[%d].flag_radio_reserv: %d,\n", i,
                            c.flag_radio_reserv);
      len = proto_dump_line(buffer, size, len, ".ra_keep_alive.channels[%d].flag_detected_rx : %d,\n", i,
                            c.flag_detected_rx);
      len = proto_dump_line(buffer, size, len, ".ra_keep_alive.channels[%d].flag_detected_tx : %d,\n", i,
                            c.flag_detected_tx);
      len = proto_dump_line(buffer, size, len, ".ra_keep_alive.channels[%d].flag_sql         : %d,\n", i, c.flag_sql);
      len = proto_dump_line(buffer, size, len, ".ra_keep_alive.channels[%d].flag_rs_tx       : %d,\n", i, c.flag_rs_tx);
      len = proto_dump_line(buffer, size, len, ".ra_keep_alive.channels[%d].flag_rs_error    : %d,\n", i,
                            c.flag_rs_error);
    }
    return len;
  }
  if (r->stateMode == MODE_RADIO && r->stateProtocol == 1) {
    return proto_dump_line(buffer, size, len, ".ra_v2_keep_alive.id          : %d,\n", r->payload.ra_v2_keep_alive.id);
  }
  if (r->stateMode == MODE_GGS) {
    return proto_dump_line(buffer, size, len, ".ga_keep_alive.id             : %d,\n", r->payload.ga_keep_alive.id);
  }
  return len;
}

int sprintf_test_keep_alive(char* buffer, long size, s_data_cmd* r, int flags) {
  int len = sprintf_dummy(buffer, size, r, flags);
  if (len == 0) return 0;
  len = proto_dump_line(buffer, size, len, "tst_keep_alive.id        : %d,\n", r->payload.tst_keep_alive.id);
  len = proto_dump_line(buffer, size, len, "tst_keep_alive.test_mode : %d,\n", r->payload.tst_keep_alive.test_mode);
  return len;
}
