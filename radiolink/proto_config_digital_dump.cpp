// Text dump of the digital line interface's channel configuration.
#include "radiolink/proto_vork.h"

#define L(...) len = proto_dump_line(b, size, len, __VA_ARGS__)

namespace {

int dump_lines(char* b, long size, int len, const char* name, const s_line_digital_config* lines) {
  for (int i = 0; i < PROTO_LINES_COUNT; ++i) {
    L(".%s.line_config[%d].line_echo_threshold: %4.4f,\n", name, i,
      static_cast<double>(lines[i].line_echo_threshold));
    L(".%s.line_config[%d].line_control: %d,\n", name, i, lines[i].line_control);
  }
  return len;
}

// The mode flags every GGS channel kind starts with.
template <class G>
int dump_modes(char* b, long size, int len, int i, const char* kind, const G& g) {
  L("gd_config.channels[%d].%s.flag_enable_ec   : %d,\n", i, kind, g.flag_enable_ec);
  L("gd_config.channels[%d].%s.flag_agc_rx      : %d,\n", i, kind, g.flag_agc_rx);
  L("gd_config.channels[%d].%s.ggs_mode         : %d,\n", i, kind, g.ggs_mode);
  return len;
}

// The voice activity settings of most GGS channel kinds.
template <class G>
int dump_vad(char* b, long size, int len, int i, const char* kind, const G& g) {
  L("gd_config.channels[%d].%s.vad_timeout      : %d,\n", i, kind, g.vad_timeout);
  L("gd_config.channels[%d].%s.vad_window       : %d,\n", i, kind, g.vad_window);
  L("gd_config.channels[%d].%s.vad_det_level    : %d,\n", i, kind, g.vad_det_level);
  return len;
}

int dump_ggs_channel(char* b, long size, int len, int i, const s_ggs_channel_digital_config& ch) {
  L("gd_config.channels[%d].ggs_type_call    : %d,\n", i, ch.ggs_type_call);
  switch (ch.ggs_type_call) {
    case GGS_TYPE_DC:
      len = dump_modes(b, size, len, i, "dc", ch.dc);
      L("gd_config.channels[%d].dc.vad_timeout   \t: %d,\n", i, ch.dc.vad_timeout);
      L("gd_config.channels[%d].dc.vad_window   \t: %d,\n", i, ch.dc.vad_window);
      L("gd_config.channels[%d].dc.vad_det_level   \t: %d,\n", i, ch.dc.vad_det_level);
      break;
    case GGS_TYPE_TONE:
      len = dump_modes(b, size, len, i, "tone", ch.tone);
      L("gd_config.channels[%d].tone.detector_level   : %d,\n", i, ch.tone.detector_level);
      L("gd_config.channels[%d].tone.signal_level     : %d,\n", i, ch.tone.signal_level);
      L("gd_config.channels[%d].tone.vad_timeout   \t  : %d,\n", i, ch.tone.vad_timeout);
      L("gd_config.channels[%d].tone.vad_window   \t  : %d,\n", i, ch.tone.vad_window);
      L("gd_config.channels[%d].tone.vad_det_level\t  : %d,\n", i, ch.tone.vad_det_level);
      L("gd_config.channels[%d].tone.delay_rx         : %ld,\n", i, static_cast<long>(ch.tone.delay_rx));
      break;
    case GGS_TYPE_VOICE:
      len = dump_modes(b, size, len, i, "voice", ch.voice);
      len = dump_vad(b, size, len, i, "voice", ch.voice);
      L("gd_config.channels[%d].vocie.delay_rx         : %ld,\n", i, static_cast<long>(ch.voice.delay_rx));
      break;
    case GGS_TYPE_FXO:
      len = dump_modes(b, size, len, i, "fxo", ch.fxo);
      len = dump_vad(b, size, len, i, "fxo", ch.fxo);
      L("gd_config.channels[%d].fxo.dtmf_signal_level: %d,\n", i, ch.fxo.dtmf_signal_level);
      L("gd_config.channels[%d].fxo.dtmf_mark_time   : %d,\n", i, ch.fxo.dtmf_mark_time);
      L("gd_config.channels[%d].fxo.dtmf_space_time  : %d,\n", i, ch.fxo.dtmf_space_time);
      break;
    case GGS_TYPE_FXS:
      len = dump_modes(b, size, len, i, "fxs", ch.fxs);
      L("gd_config.channels[%d].fxs.flag_enable_dtmf : %d,\n", i, ch.fxs.flag_enable_dtmf);
      len = dump_vad(b, size, len, i, "fxs", ch.fxs);
      L("gd_config.channels[%d].fxs.dtmf_det_level   : %d,\n", i, ch.fxs.dtmf_det_level);
      L("gd_config.channels[%d].fxs.dtmf_det_mark_min: %d,\n", i, ch.fxs.dtmf_det_mark_min);
      L("gd_config.channels[%d].fxs.dtmf_det_mark_max: %d,\n", i, ch.fxs.dtmf_det_mark_max);
      L("gd_config.channels[%d].fxs.dtmf_det_space   : %d,\n", i, ch.fxs.dtmf_det_space);
      break;
    case GGS_TYPE_IVA:
      len = dump_modes(b, size, len, i, "iva", ch.iva);
      L("gd_config.channels[%d].iva.trans_interval   : %d,\n", i, ch.iva.trans_interval);
      L("gd_config.channels[%d].iva.detector_interval: %d,\n", i, ch.iva.detector_interval);
      L("gd_config.channels[%d].iva.detector_level   : %d,\n", i, ch.iva.detector_level);
      L("gd_config.channels[%d].iva.signal_level     : %d,\n", i, ch.iva.signal_level);
      len = dump_vad(b, size, len, i, "iva", ch.iva);
      L("gd_config.channels[%d].iva.delay_rx         : %ld,\n", i, static_cast<long>(ch.iva.delay_rx));
      break;
    case GGS_TYPE_MB:
    case GGS_TYPE_DPU60:
    case GGS_TYPE_DPUA:
    case GGS_TYPE_PRB: {
      static const char* const names[] = {"", "", "", "", "", "", "mb", "", "dpu60", "dpua", "", "prb"};
      const char* t = names[ch.ggs_type_call];
      len = dump_modes(b, size, len, i, t, ch.dc);
      len = dump_vad(b, size, len, i, t, ch.dc);
      break;
    }
    case GGS_TYPE_DPUVI:
    case GGS_TYPE_EMVI: {
      const char* t = ch.ggs_type_call == GGS_TYPE_DPUVI ? "dpuvi" : "emvi";
      len = dump_modes(b, size, len, i, t, ch.voice);
      len = dump_vad(b, size, len, i, t, ch.voice);
      L("gd_config.channels[%d].%s.delay_rx         : %ld,\n", i, t, static_cast<long>(ch.voice.delay_rx));
      break;
    }
    default:
      break;
  }
  return len;
}

}  // namespace

int sprintf_digital_config(char* b, long size, s_data_cmd* r, int flags) {
  int len = sprintf_dummy(b, size, r, flags);
  if (len == 0) return 0;
  if (r->stateMode == 1 && r->stateProtocol == 0) {
    const s_proto_rd_config& c = r->payload.rd_config;
    int n = c.channels_count < PROTO_RD_CHANNELS_MAX ? c.channels_count : PROTO_RD_CHANNELS_MAX;
    L(".rd_config.channels_count: %d,\n", c.channels_count);
    for (int i = 0; i < n; ++i) {
      const s_radio_channel_digital_config& ch = c.channels[i];
      L("rd_config.channels[%d].radio_type    : %d,\n", i, ch.radio_type);
      L("rd_config.channels[%d].radio_conn    : %d,\n", i, ch.radio_conn);
      L("rd_config.channels[%d].radio_call    : %d,\n", i, ch.radio_call);
      L("rd_config.channels[%d].rc_state      : %d,\n", i, ch.rc_state);
      L("rd_config.channels[%d].vad_timeout   : %d,\n", i, ch.vad_timeout);
      L("rd_config.channels[%d].vad_window    : %d,\n", i, ch.vad_window);
      L("rd_config.channels[%d].vad_det_level : %d,\n", i, ch.vad_det_level);
      L("rd_config.channels[%d].detector_level: %d,\n", i, ch.detector_level);
      L("rd_config.channels[%d].signal_level  : %d,\n", i, ch.signal_level);
      L("rd_config.channels[%d].flag_rc_mode  : %d,\n", i, ch.flag_rc_mode);
      L("rd_config.channels[%d].flag_ptt_prio : %d,\n", i, ch.flag_ptt_prio);
      L("rd_config.channels[%d].flag_sql_prio : %d,\n", i, ch.flag_sql_prio);
      L("rd_config.channels[%d].flag_wire     : %d,\n", i, ch.flag_wire);
      L("rd_config.channels[%d].flag_agc_rx   : %d,\n", i, ch.flag_agc_rx);
      L("rd_config.channels[%d].delay_rx      : %ld,\n", i, static_cast<long>(ch.delay_rx));
      L("rd_config.channels[%d].delay_tx      : %ld,\n", i, static_cast<long>(ch.delay_tx));
      L("rd_config.channels[%d].snr           : %4.2f,\n", i, static_cast<double>(ch.snr));
    }
    len = dump_lines(b, size, len, "rd_config", c.line_config);
  } else if (r->stateMode == 1 && r->stateProtocol == 1) {
    const s_proto_rd_v2_config& c = r->payload.rd_v2_config;
    int n = c.channels_count < PROTO_RD_V2_CHANNELS_MAX ? c.channels_count : PROTO_RD_V2_CHANNELS_MAX;
    L(".rd_v2_config.channels_count: %d,\n", c.channels_count);
    for (int i = 0; i < n; ++i) {
      const s_radio_v2_channel_digital_config& ch = c.channels[i];
      L("rd_v2_config.channels[%d].enable        : %d,\n", i, static_cast<int>(ch.enable));
      L("rd_v2_config.channels[%d].flag_rc_mode  : %d,\n", i, ch.flag_rc_mode);
      L("rd_v2_config.channels[%d].flag_ptt_prio : %d,\n", i, ch.flag_ptt_prio);
      L("rd_v2_config.channels[%d].flag_sql_prio : %d,\n", i, ch.flag_sql_prio);
      L("rd_v2_config.channels[%d].flag_wire     : %d,\n", i, ch.flag_wire);
      L("rd_v2_config.channels[%d].flag_agc_rx   : %d,\n", i, ch.flag_agc_rx);
      L("rd_v2_config.channels[%d].snr           : %4.2f,\n", i, static_cast<double>(ch.snr));
      L("rd_v2_config.channels[%d].delay_rx      : %ld,\n", i, static_cast<long>(ch.delay_rx));
      L("rd_v2_config.channels[%d].delay_tx      : %ld,\n", i, static_cast<long>(ch.delay_tx));
      L("rd_v2_config.channels[%d].radio_call    : %d,\n", i, ch.radio_call);
      L("rd_v2_config.channels[%d].rc_state      : %d,\n", i, ch.rc_state);
      L("rd_v2_config.channels[%d].vad_timeout   : %d,\n", i, ch.vad_timeout);
      L("rd_v2_config.channels[%d].vad_window    : %d,\n", i, ch.vad_window);
      L("rd_v2_config.channels[%d].vad_det_level : %d,\n", i, ch.vad_det_level);
      L("rd_v2_config.channels[%d].detector_level: %d,\n", i, ch.detector_level);
      L("rd_v2_config.channels[%d].signal_level  : %d,\n", i, ch.signal_level);
      L("rd_v2_config.channels[%d].gain_tx       : %d,\n", i, ch.gain_tx);
      L("rd_v2_config.channels[%d].gain_rx       : %d,\n", i, ch.gain_rx);
      L("rd_v2_config.channels[%d].gain_sh       : %d,\n", i, ch.gain_sh);
    }
    len = dump_lines(b, size, len, "rd_config", c.line_config);
  } else if (r->stateMode == 2) {
    const s_proto_gd_config& c = r->payload.gd_config;
    int n = c.channels_count < PROTO_GGS_CHANNELS_MAX ? c.channels_count : PROTO_GGS_CHANNELS_MAX;
    L(".gd_config.channels_count: %d,\n", c.channels_count);
    L(".gd_config.wire: %d,\n", c.wire);
    for (int i = 0; i < n; ++i) len = dump_ggs_channel(b, size, len, i, c.channels[i]);
    len = dump_lines(b, size, len, "gd_config", c.line_config);
  } else if (r->stateMode == 3) {
    const s_proto_dcon_dig_config& c = r->payload.dcon_dig_config;
    int n = c.channels_count < PROTO_DCON_CHANNELS_MAX ? c.channels_count : PROTO_DCON_CHANNELS_MAX;
    L(".dcon_dig_config.channels_count: %d,\n", c.channels_count);
    for (int i = 0; i < n; ++i) L("dcon_dig_config.channels[%d].type_signal    : %d,\n", i, c.channels[i].type_signal);
  }
  return len;
}
