// Channel configuration records <-> VORKGW set-configuration values.
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "radiolink/proto_asn.h"

using namespace VORKGW;

namespace {

using IntList = ASN1::SEQUENCE_OF<ASN1::INTEGER, ASN1::EmptyConstraint>;

ASN1::INTEGER Int(int v) { return ASN1::INTEGER(v, &ASN1::INTEGER::theInfo); }

std::string FloatText(float v) {
  char text[256] = {0};
  std::snprintf(text, sizeof text, "%4.6f", static_cast<double>(v));
  return text;
}
// A controller's text beyond the single-precision range is stored as an
// infinity of its sign: converting such a double to float is undefined.
float TextFloat(const std::string& s) {
  double d = std::atof(s.c_str());
  if (d > FLT_MAX) return HUGE_VALF;
  if (d < -FLT_MAX) return -HUGE_VALF;
  return static_cast<float>(d);
}

template <typename T>
int Clamp(unsigned n, T max) {
  return n < static_cast<unsigned>(max) ? static_cast<int>(n) : static_cast<int>(max);
}

// ---------------------------------------------------------------- analog

ProtoVorkPacketPayloadAnalogUartConfig EncodeUart(const s_proto_uart_config& u) {
  ProtoVorkPacketPayloadAnalogUartConfig v;
  v.set_baud(static_cast<int>(u.baud));
  v.set_data_bits().setFromInt(u.data_bits);
  v.set_parity_bit().setFromInt(u.parity_bit);
  v.set_stop_bits().setFromInt(u.stop_bits);
  v.set_mode().setFromInt(u.mode);
  return v;
}
void DecodeUart(const ProtoVorkPacketPayloadAnalogUartConfig& v, s_proto_uart_config& u) {
  u.baud = static_cast<uint32_t>(v.get_baud().getValue());
  u.data_bits = static_cast<uint8_t>(v.get_data_bits().asInt());
  u.parity_bit = static_cast<uint8_t>(v.get_parity_bit().asInt());
  u.stop_bits = static_cast<uint8_t>(v.get_stop_bits().asInt());
  u.mode = static_cast<uint8_t>(v.get_mode().asInt());
}

template <typename Gain>
void EncodeGains(ASN1::SEQUENCE_OF<Gain, ASN1::EmptyConstraint>& ids, IntList& values, IntList& pattern, int gains_count, const uint8_t* gain_id,
                 const uint8_t* gain_value, int gains_max, int pattern_size, const uint8_t* bytes) {
  for (int i = 0; i < gains_count && i < gains_max; ++i) {
    Gain id;
    id.setFromInt(gain_id[i]);
    ids.push_back(id);
    values.push_back(Int(gain_value[i]));
  }
  for (int i = 0; i < pattern_size && i < PROTO_PATTERN_MAX; ++i) pattern.push_back(Int(bytes[i]));
}

template <typename GainList>
void DecodeGains(const GainList& ids, const IntList& values, const IntList& pattern, uint8_t& gains_count,
                 uint8_t* gain_id, uint8_t* gain_value, int gains_max, uint8_t& pattern_size, uint8_t* bytes) {
  // The count is the id list's; pairs come from both lists together, and a
  // shorter value list ends them early.
  const int n = Clamp(ids.size(), gains_max);
  for (int i = 0; i < n && i < static_cast<int>(values.size()); ++i) {
    gain_id[i] = static_cast<uint8_t>(ids[i].asInt());
    gain_value[i] = static_cast<uint8_t>(values[i].getValue());
  }
  gains_count = static_cast<uint8_t>(n);
  int m = Clamp(pattern.size(), PROTO_PATTERN_MAX);
  for (int i = 0; i < m; ++i) bytes[i] = static_cast<uint8_t>(pattern[i].getValue());
  pattern_size = static_cast<uint8_t>(m);
}

void EncodeRadioAnalogV1(const s_proto_ra_config& c, ProtoVorkPacketPayloadRadioAnalogV1& v) {
  for (int i = 0; i < Clamp(c.channels_count, PROTO_RA_CHANNELS_MAX); ++i) {
    const s_radio_channel_analog_config& ch = c.channels[i];
    ProtoVorkPacketPayloadRadioChannelAnalogV1 e;
    e.set_radio_type(ch.radio_type);
    e.set_radio_conn(ch.radio_conn);
    e.set_agc1_tx(ch.flag_agc1_tx_state != 0);
    e.set_agc2_rx(ch.flag_agc2_rx_state != 0);
    e.set_mixer_doc(ch.flag_mixer_doc_state != 0);
    e.set_uart_config(EncodeUart(ch.uart_config));
    v.set_channels().push_back(e);
  }
  EncodeGains(v.set_gain_id(), v.set_gain_values(), v.set_pattern(), c.gains_count, c.gain_id, c.gain_value,
              PROTO_GAINS_V1_MAX, c.pattern_size, c.pattern);
}

void DecodeRadioAnalogV1(const ProtoVorkPacketPayloadRadioAnalogV1& v, s_proto_ra_config& c) {
  int n = Clamp(v.get_channels().size(), PROTO_RA_CHANNELS_MAX);
  for (int i = 0; i < n; ++i) {
    const ProtoVorkPacketPayloadRadioChannelAnalogV1& e = v.get_channels()[i];
    s_radio_channel_analog_config& ch = c.channels[i];
    ch.radio_type = static_cast<uint16_t>(e.get_radio_type().getValue());
    ch.radio_conn = static_cast<uint16_t>(e.get_radio_conn().getValue());
    ch.flag_agc1_tx_state = e.get_agc1_tx() ? 1 : 0;
    ch.flag_agc2_rx_state = e.get_agc2_rx() ? 1 : 0;
    ch.flag_mixer_doc_state = e.get_mixer_doc() ? 1 : 0;
    DecodeUart(e.get_uart_config(), ch.uart_config);
  }
  c.channels_count = static_cast<uint8_t>(n);
  DecodeGains(v.get_gain_id(), v.get_gain_values(), v.get_pattern(), c.gains_count, c.gain_id, c.gain_value,
              PROTO_GAINS_V1_MAX, c.pattern_size, c.pattern);
}

template <typename S>
S GgsAnalog(uint8_t agc, uint8_t mode) {
  S s;
  s.set_agc(agc != 0);
  s.set_duplex(mode != 0);
  return s;
}

void EncodeGgsAnalog(const s_proto_ga_config& c, ProtoVorkPacketPayloadGgsAnalogV1& v) {
  v.set_wire(c.wire);
  for (int i = 0; i < Clamp(c.channels_count, PROTO_GGS_CHANNELS_MAX); ++i) {
    const s_ggs_channel_analog_config& ch = c.channels[i];
    ProtoVorkPacketPayloadGgsChannelAnalogV1 e;
    e.set_ggs_type_call().setFromInt(ch.ggs_type_call);
    ProtoVorkPacketPayloadGgsChannelSignalingAnalogV1& s = e.set_channel();
    const s_ggs_analog_simple& d = ch.dc;
    switch (ch.ggs_type_call) {
      case GGS_TYPE_DC: s.select_dc(GgsAnalog<GGSSignalingAnalogV1>(d.flag_agc_state, d.ggs_mode)); break;
      case GGS_TYPE_TONE: s.select_tone(GgsAnalog<GGSSignalingAnalogV1>(d.flag_agc_state, d.ggs_mode)); break;
      case GGS_TYPE_VOICE: s.select_voice(GgsAnalog<GGSSignalingAnalogV1>(d.flag_agc_state, d.ggs_mode)); break;
      case GGS_TYPE_IVA: s.select_iva(GgsAnalog<GGSSignalingAnalogV1>(d.flag_agc_state, d.ggs_mode)); break;
      case GGS_TYPE_DPU60: s.select_dpu60(GgsAnalog<GGSSignalingAnalogV1>(d.flag_agc_state, d.ggs_mode)); break;
      case GGS_TYPE_DPUA: s.select_dpua(GgsAnalog<GGSSignalingAnalogV1>(d.flag_agc_state, d.ggs_mode)); break;
      case GGS_TYPE_DPUVI: s.select_dpuvi(GgsAnalog<GGSSignalingAnalogV1>(d.flag_agc_state, d.ggs_mode)); break;
      case GGS_TYPE_PRB: s.select_prb(GgsAnalog<GGSSignalingAnalogV1>(d.flag_agc_state, d.ggs_mode)); break;
      case GGS_TYPE_EMVI: s.select_emvi(GgsAnalog<GGSSignalingAnalogV1>(d.flag_agc_state, d.ggs_mode)); break;
      case GGS_TYPE_FXO: {
        const s_ggs_analog_fxo& f = ch.fxo;
        FXOSignalingAnalogV1 x = GgsAnalog<FXOSignalingAnalogV1>(f.flag_agc_state, f.ggs_mode);
        x.set_pulse_make(f.pulse_make);
        x.set_pulse_break(f.pulse_break);
        x.set_pulse_pause(f.pulse_pause);
        x.set_flash(f.flash);
        x.set_seize(f.seize);
        x.set_ring_det(f.ring_det);
        x.set_ring_off(f.ring_off);
        s.select_fxo(x);
        break;
      }
      case GGS_TYPE_FXS: {
        const s_ggs_analog_fxs& f = ch.fxs;
        FXSSignalingAnalogV1 x = GgsAnalog<FXSSignalingAnalogV1>(f.flag_agc_state, f.ggs_mode);
        x.set_pulse_detector(f.flag_pulse_det != 0);
        x.set_pulse_make_det(f.pulse_make_det);
        x.set_pulse_break_det(f.pulse_break_det);
        x.set_pulse_pause_det(f.pulse_pause_det);
        x.set_flash_det(f.flash_det);
        x.set_seize_det(f.seize_det);
        x.set_ring_seq(f.ring_seq);
        x.set_ring_form(f.ring_form);
        s.select_fxs(x);
        break;
      }
      case GGS_TYPE_MB: {
        const s_ggs_analog_mb& m = ch.mb;
        MBSignalingAnalogV1 x = GgsAnalog<MBSignalingAnalogV1>(m.flag_agc_state, m.ggs_mode);
        x.set_ring_form(m.ring_form);
        x.set_ring_det(m.ring_det);
        x.set_ring_off(m.ring_off);
        s.select_mb(x);
        break;
      }
      default:
        s.select_none(ASN1::Null());
        break;
    }
    v.set_channels().push_back(e);
  }
  EncodeGains(v.set_gain_id(), v.set_gain_values(), v.set_pattern(), c.gains_count, c.gain_id, c.gain_value,
              PROTO_GAINS_V1_MAX, c.pattern_size, c.pattern);
}

template <typename S>
void DecodeGgsAnalogFlags(const S& s, uint8_t& agc, uint8_t& mode) {
  agc = s.get_agc() ? 1 : 0;
  mode = s.get_duplex() ? 1 : 0;
}

// The fields of one signalling alternative go to the record member of the
// channel's own type (the member its sending and dump read), each to the
// field of the same name; fields only one side has are left alone.
template <typename S>
void DecodeGgsAnalogInto(const S& x, s_ggs_channel_analog_config& ch) {
  constexpr bool fxo = std::is_same<S, FXOSignalingAnalogV1>::value;
  constexpr bool fxs = std::is_same<S, FXSSignalingAnalogV1>::value;
  constexpr bool mb = std::is_same<S, MBSignalingAnalogV1>::value;
  switch (ch.ggs_type_call) {
    case GGS_TYPE_FXO:
      DecodeGgsAnalogFlags(x, ch.fxo.flag_agc_state, ch.fxo.ggs_mode);
      if constexpr (fxo) {
        ch.fxo.pulse_make = static_cast<uint8_t>(x.get_pulse_make().getValue());
        ch.fxo.pulse_break = static_cast<uint8_t>(x.get_pulse_break().getValue());
        ch.fxo.pulse_pause = static_cast<uint16_t>(x.get_pulse_pause().getValue());
        ch.fxo.flash = static_cast<uint16_t>(x.get_flash().getValue());
        ch.fxo.seize = static_cast<uint16_t>(x.get_seize().getValue());
      }
      if constexpr (fxo || mb) {
        ch.fxo.ring_det = static_cast<uint16_t>(x.get_ring_det().getValue());
        ch.fxo.ring_off = static_cast<uint16_t>(x.get_ring_off().getValue());
      }
      break;
    case GGS_TYPE_FXS:
      DecodeGgsAnalogFlags(x, ch.fxs.flag_agc_state, ch.fxs.ggs_mode);
      if constexpr (fxs) {
        ch.fxs.flag_pulse_det = x.get_pulse_detector() ? 1 : 0;
        ch.fxs.pulse_make_det = static_cast<uint8_t>(x.get_pulse_make_det().getValue());
        ch.fxs.pulse_break_det = static_cast<uint8_t>(x.get_pulse_break_det().getValue());
        ch.fxs.pulse_pause_det = static_cast<uint16_t>(x.get_pulse_pause_det().getValue());
        ch.fxs.flash_det = static_cast<uint16_t>(x.get_flash_det().getValue());
        ch.fxs.seize_det = static_cast<uint16_t>(x.get_seize_det().getValue());
        ch.fxs.ring_seq = static_cast<uint8_t>(x.get_ring_seq().getValue());
      }
      if constexpr (fxs || mb) ch.fxs.ring_form = static_cast<uint8_t>(x.get_ring_form().getValue());
      break;
    case GGS_TYPE_MB:
      DecodeGgsAnalogFlags(x, ch.mb.flag_agc_state, ch.mb.ggs_mode);
      if constexpr (fxo || mb) {
        ch.mb.ring_det = static_cast<uint16_t>(x.get_ring_det().getValue());
        ch.mb.ring_off = static_cast<uint16_t>(x.get_ring_off().getValue());
      }
      if constexpr (fxs || mb) ch.mb.ring_form = static_cast<uint8_t>(x.get_ring_form().getValue());
      break;
    default:  // the plain types share one layout
      DecodeGgsAnalogFlags(x, ch.dc.flag_agc_state, ch.dc.ggs_mode);
      break;
  }
}

void DecodeGgsAnalogSignaling(const ProtoVorkPacketPayloadGgsChannelSignalingAnalogV1& s,
                              s_ggs_channel_analog_config& ch) {
  if (s.fxo_isSelected()) {
    DecodeGgsAnalogInto(s.get_fxo(), ch);
  } else if (s.fxs_isSelected()) {
    DecodeGgsAnalogInto(s.get_fxs(), ch);
  } else if (s.mb_isSelected()) {
    DecodeGgsAnalogInto(s.get_mb(), ch);
  } else {
    // The plain alternatives; none (and an unknown extension) has no fields.
    const GGSSignalingAnalogV1* g = s.dc_isSelected()      ? &s.get_dc()
                                    : s.tone_isSelected()  ? &s.get_tone()
                                    : s.voice_isSelected() ? &s.get_voice()
                                    : s.iva_isSelected()   ? &s.get_iva()
                                    : s.dpu60_isSelected() ? &s.get_dpu60()
                                    : s.dpua_isSelected()  ? &s.get_dpua()
                                    : s.dpuvi_isSelected() ? &s.get_dpuvi()
                                    : s.prb_isSelected()   ? &s.get_prb()
                                    : s.emvi_isSelected()  ? &s.get_emvi()
                                                           : nullptr;
    if (g) DecodeGgsAnalogInto(*g, ch);
  }
}

void DecodeGgsAnalog(const ProtoVorkPacketPayloadGgsAnalogV1& v, s_proto_ga_config& c) {
  c.wire = static_cast<uint8_t>(v.get_wire().getValue());
  int n = Clamp(v.get_channels().size(), PROTO_GGS_CHANNELS_MAX);
  for (int i = 0; i < n; ++i) {
    const ProtoVorkPacketPayloadGgsChannelAnalogV1& e = v.get_channels()[i];
    s_ggs_channel_analog_config& ch = c.channels[i];
    std::memset(&ch, 0, sizeof ch);
    int type = e.get_ggs_type_call().asInt();
    if (type < 0 || type > PROTO_GGS_TYPE_MAX) type = GGS_TYPE_NONE;
    ch.ggs_type_call = static_cast<uint16_t>(type);
    // Types 1 to 12 take the fields of whichever alternative is selected.
    if (type != GGS_TYPE_NONE) DecodeGgsAnalogSignaling(e.get_channel(), ch);
  }
  c.channels_count = static_cast<uint8_t>(n);
  DecodeGains(v.get_gain_id(), v.get_gain_values(), v.get_pattern(), c.gains_count, c.gain_id, c.gain_value,
              PROTO_GAINS_V1_MAX, c.pattern_size, c.pattern);
}

void EncodeRadioAnalogV2(const s_proto_ra_v2_config& c, ProtoVorkPacketPayloadRadioAnalogV2& v) {
  for (int i = 0; i < Clamp(c.channels_count, PROTO_RA_V2_CHANNELS_MAX); ++i) {
    const s_radio_v2_channel_analog_config& ch = c.channels[i];
    ProtoVorkPacketPayloadRadioChannelAnalogV2 e;
    e.set_enable(ch.enable != 0);
    if (ch.enable) {
      e.set_agc1_tx(ch.flag_agc1_tx_state != 0);
      e.set_agc2_rx(ch.flag_agc2_rx_state != 0);
      e.set_mixer_doc(ch.flag_mixer_doc_state != 0);
      e.set_wire(ch.flag_wire);
      e.set_uart_config(EncodeUart(ch.uart_config));
      EncodeGains(e.set_gain_id(), e.set_gain_values(), e.set_pattern(), ch.gains_count, ch.gain_id, ch.gain_value,
                  PROTO_GAINS_V2_MAX, ch.pattern_size, ch.pattern);
    }
    v.set_channels().push_back(e);
  }
}

void DecodeRadioAnalogV2(const ProtoVorkPacketPayloadRadioAnalogV2& v, s_proto_ra_v2_config& c) {
  int n = Clamp(v.get_channels().size(), PROTO_RA_V2_CHANNELS_MAX);
  for (int i = 0; i < n; ++i) {
    const ProtoVorkPacketPayloadRadioChannelAnalogV2& e = v.get_channels()[i];
    s_radio_v2_channel_analog_config& ch = c.channels[i];
    std::memset(&ch, 0, sizeof ch);
    ch.enable = e.get_enable() ? 1 : 0;
    ch.flag_agc1_tx_state = e.get_agc1_tx() ? 1 : 0;
    ch.flag_agc2_rx_state = e.get_agc2_rx() ? 1 : 0;
    ch.flag_mixer_doc_state = e.get_mixer_doc() ? 1 : 0;
    ch.flag_wire = static_cast<uint8_t>(e.get_wire().getValue());
    DecodeUart(e.get_uart_config(), ch.uart_config);
    DecodeGains(e.get_gain_id(), e.get_gain_values(), e.get_pattern(), ch.gains_count, ch.gain_id, ch.gain_value,
                PROTO_GAINS_V2_MAX, ch.pattern_size, ch.pattern);
  }
  c.channels_count = static_cast<uint8_t>(n);
}

// ---------------------------------------------------------------- digital

void EncodeLines(const s_line_digital_config* lines, ProtoVorkPacketPayloadLinesDigital& v) {
  for (int i = 0; i < PROTO_LINES_COUNT; ++i) {
    ProtoVorkPacketPayloadLineDigital e;
    e.set_line_control(lines[i].line_control != 0);
    e.set_line_echo_threshold(FloatText(lines[i].line_echo_threshold));
    v.set_lines().push_back(e);
  }
}
void DecodeLines(const ProtoVorkPacketPayloadLinesDigital& v, s_line_digital_config* lines) {
  int n = Clamp(v.get_lines().size(), PROTO_LINES_COUNT);
  for (int i = 0; i < n; ++i) {
    lines[i].line_control = v.get_lines()[i].get_line_control() ? 1 : 0;
    lines[i].line_echo_threshold = TextFloat(v.get_lines()[i].get_line_echo_threshold());
  }
}

void EncodeRadioDigitalV1(const s_proto_rd_config& c, ProtoVorkPacketPayloadRadioDigitalV1& v) {
  for (int i = 0; i < Clamp(c.channels_count, PROTO_RD_CHANNELS_MAX); ++i) {
    const s_radio_channel_digital_config& ch = c.channels[i];
    ProtoVorkPacketPayloadRadioChannelDigitalV1 e;
    e.set_radio_type(ch.radio_type);
    e.set_radio_conn(ch.radio_conn);
    e.set_rc_state(ch.rc_state);
    e.set_radio_call(ch.radio_call);
    e.set_rc_mode(ch.flag_rc_mode != 0);
    e.set_ptt_prio(ch.flag_ptt_prio != 0);
    e.set_sql_prio(ch.flag_sql_prio != 0);
    e.set_agc_rx(ch.flag_agc_rx != 0);
    e.set_wire(ch.flag_wire);
    e.set_snr(FloatText(ch.snr));
    e.set_delay_rx_from_radio(ch.delay_rx);
    e.set_delay_tx_to_radio(ch.delay_tx);
    e.set_vad_timeout(ch.vad_timeout);
    e.set_vad_window(ch.vad_window);
    e.set_vad_detector_level(ch.vad_det_level);
    e.set_signal_level(ch.signal_level);
    e.set_detector_level(ch.detector_level);
    v.set_channels().push_back(e);
  }
  EncodeLines(c.line_config, v.set_lines());
}

void DecodeRadioDigitalV1(const ProtoVorkPacketPayloadRadioDigitalV1& v, s_proto_rd_config& c) {
  int n = Clamp(v.get_channels().size(), PROTO_RD_CHANNELS_MAX);
  for (int i = 0; i < n; ++i) {
    const ProtoVorkPacketPayloadRadioChannelDigitalV1& e = v.get_channels()[i];
    s_radio_channel_digital_config& ch = c.channels[i];
    ch.radio_type = static_cast<uint16_t>(e.get_radio_type().getValue());
    ch.radio_conn = static_cast<uint16_t>(e.get_radio_conn().getValue());
    ch.rc_state = static_cast<uint16_t>(e.get_rc_state().getValue());
    ch.radio_call = static_cast<uint16_t>(e.get_radio_call().getValue());
    ch.flag_rc_mode = e.get_rc_mode() ? 1 : 0;
    ch.flag_ptt_prio = e.get_ptt_prio() ? 1 : 0;
    ch.flag_sql_prio = e.get_sql_prio() ? 1 : 0;
    ch.flag_agc_rx = e.get_agc_rx() ? 1 : 0;
    ch.flag_wire = static_cast<uint8_t>(e.get_wire().getValue());
    ch.snr = TextFloat(e.get_snr());
    ch.delay_rx = e.get_delay_rx_from_radio().getValue();
    ch.delay_tx = e.get_delay_tx_to_radio().getValue();
    ch.vad_timeout = static_cast<uint16_t>(e.get_vad_timeout().getValue());
    ch.vad_window = static_cast<uint16_t>(e.get_vad_window().getValue());
    ch.vad_det_level = static_cast<uint8_t>(e.get_vad_detector_level().getValue());
    ch.signal_level = static_cast<int16_t>(e.get_signal_level().getValue());
    ch.detector_level = static_cast<int16_t>(e.get_detector_level().getValue());
  }
  c.channels_count = static_cast<uint8_t>(n);
  DecodeLines(v.get_lines(), c.line_config);
}

template <typename S, typename F>
S GgsDigital(const F& f) {
  S s;
  s.set_ec(f.flag_enable_ec != 0);
  s.set_duplex(f.ggs_mode != 0);
  s.set_agc(f.flag_agc_rx != 0);
  s.set_vad_timeout(f.vad_timeout);
  s.set_vad_window(f.vad_window);
  s.set_vad_detector_level(f.vad_det_level);
  return s;
}
template <typename S, typename F>
void DecodeGgsDigitalCommon(const S& s, F& f) {
  f.flag_enable_ec = s.get_ec() ? 1 : 0;
  f.ggs_mode = s.get_duplex() ? 1 : 0;
  f.flag_agc_rx = s.get_agc() ? 1 : 0;
  f.vad_timeout = static_cast<uint16_t>(s.get_vad_timeout().getValue());
  f.vad_window = static_cast<uint16_t>(s.get_vad_window().getValue());
  f.vad_det_level = static_cast<uint8_t>(s.get_vad_detector_level().getValue());
}

void EncodeGgsDigitalChannel(const s_ggs_channel_digital_config& ch, ProtoVorkPacketPayloadGgsChannelSignalingDigitalV1& s) {
  switch (ch.ggs_type_call) {
    case GGS_TYPE_DC:
    case GGS_TYPE_MB:
    case GGS_TYPE_DPU60:
    case GGS_TYPE_DPUA:
    case GGS_TYPE_PRB: {
      GGSSignalingDigitalV1 x = GgsDigital<GGSSignalingDigitalV1>(ch.dc);
      x.set_delay_rx(0);
      if (ch.ggs_type_call == GGS_TYPE_DC) s.select_dc(x);
      else if (ch.ggs_type_call == GGS_TYPE_MB) s.select_mb(x);
      else if (ch.ggs_type_call == GGS_TYPE_DPU60) s.select_dpu60(x);
      else if (ch.ggs_type_call == GGS_TYPE_DPUA) s.select_dpua(x);
      else s.select_prb(x);
      break;
    }
    case GGS_TYPE_VOICE:
    case GGS_TYPE_DPUVI:
    case GGS_TYPE_EMVI: {
      GGSSignalingDigitalV1 x = GgsDigital<GGSSignalingDigitalV1>(ch.voice);
      x.set_delay_rx(ch.voice.delay_rx);
      if (ch.ggs_type_call == GGS_TYPE_VOICE) s.select_voice(x);
      else if (ch.ggs_type_call == GGS_TYPE_DPUVI) s.select_dpuvi(x);
      else s.select_emvi(x);
      break;
    }
    case GGS_TYPE_TONE: {
      ToneSignalingDigitalV1 x = GgsDigital<ToneSignalingDigitalV1>(ch.tone);
      x.set_signal_level(ch.tone.signal_level);
      x.set_detector_level(ch.tone.detector_level);
      x.set_delay_rx(ch.tone.delay_rx);
      s.select_tone(x);
      break;
    }
    case GGS_TYPE_FXO: {
      FXOSignalingDigitalV1 x = GgsDigital<FXOSignalingDigitalV1>(ch.fxo);
      x.set_delay_rx(0);
      x.set_dtmf_signal_level(ch.fxo.dtmf_signal_level);
      x.set_dtmf_mark_time(ch.fxo.dtmf_mark_time);
      x.set_dtmf_space_time(ch.fxo.dtmf_space_time);
      s.select_fxo(x);
      break;
    }
    case GGS_TYPE_FXS: {
      FXSSignalingDigitalV1 x = GgsDigital<FXSSignalingDigitalV1>(ch.fxs);
      x.set_dtmf_detector(ch.fxs.flag_enable_dtmf != 0);
      x.set_delay_rx(0);
      x.set_dtmf_detector_level(ch.fxs.dtmf_det_level);
      x.set_dtmf_detector_mark_min_time(ch.fxs.dtmf_det_mark_min);
      x.set_dtmf_detector_mark_max_time(ch.fxs.dtmf_det_mark_max);
      x.set_dtmf_detector_space_min_time(ch.fxs.dtmf_det_space);
      s.select_fxs(x);
      break;
    }
    case GGS_TYPE_IVA: {
      IVASignalingDigitalV1 x = GgsDigital<IVASignalingDigitalV1>(ch.iva);
      x.set_trans_interval(ch.iva.trans_interval);
      x.set_detector_interval(ch.iva.detector_interval);
      x.set_detector_level(ch.iva.detector_level);
      x.set_signal_level(ch.iva.signal_level);
      x.set_delay_rx(ch.iva.delay_rx);
      s.select_iva(x);
      break;
    }
    default:
      s.select_none(ASN1::Null());
      break;
  }
}

// The fields of one signalling alternative go to the record member of the
// channel's own type (the member its sending and dump read), each to the
// field of the same name; fields only one side has are left alone.
template <typename S>
void DecodeGgsDigitalInto(const S& x, s_ggs_channel_digital_config& ch) {
  constexpr bool tone = std::is_same<S, ToneSignalingDigitalV1>::value;
  constexpr bool fxo = std::is_same<S, FXOSignalingDigitalV1>::value;
  constexpr bool fxs = std::is_same<S, FXSSignalingDigitalV1>::value;
  constexpr bool iva = std::is_same<S, IVASignalingDigitalV1>::value;
  switch (ch.ggs_type_call) {
    case GGS_TYPE_DC:
    case GGS_TYPE_MB:
    case GGS_TYPE_DPU60:
    case GGS_TYPE_DPUA:
    case GGS_TYPE_PRB:  // one layout for the five
      DecodeGgsDigitalCommon(x, ch.dc);
      break;
    case GGS_TYPE_VOICE:
    case GGS_TYPE_DPUVI:
    case GGS_TYPE_EMVI:
      DecodeGgsDigitalCommon(x, ch.voice);
      ch.voice.delay_rx = x.get_delay_rx().getValue();
      break;
    case GGS_TYPE_TONE:
      DecodeGgsDigitalCommon(x, ch.tone);
      if constexpr (tone || iva) {
        ch.tone.signal_level = static_cast<int16_t>(x.get_signal_level().getValue());
        ch.tone.detector_level = static_cast<int16_t>(x.get_detector_level().getValue());
      }
      ch.tone.delay_rx = x.get_delay_rx().getValue();
      break;
    case GGS_TYPE_FXO:
      DecodeGgsDigitalCommon(x, ch.fxo);
      if constexpr (fxo) {
        ch.fxo.dtmf_signal_level = static_cast<int16_t>(x.get_dtmf_signal_level().getValue());
        ch.fxo.dtmf_mark_time = static_cast<uint16_t>(x.get_dtmf_mark_time().getValue());
        ch.fxo.dtmf_space_time = static_cast<uint16_t>(x.get_dtmf_space_time().getValue());
      }
      break;
    case GGS_TYPE_FXS:
      DecodeGgsDigitalCommon(x, ch.fxs);
      if constexpr (fxs) {
        ch.fxs.flag_enable_dtmf = x.get_dtmf_detector() ? 1 : 0;
        ch.fxs.dtmf_det_level = static_cast<int16_t>(x.get_dtmf_detector_level().getValue());
        ch.fxs.dtmf_det_mark_min = static_cast<uint16_t>(x.get_dtmf_detector_mark_min_time().getValue());
        ch.fxs.dtmf_det_mark_max = static_cast<uint16_t>(x.get_dtmf_detector_mark_max_time().getValue());
        ch.fxs.dtmf_det_space = static_cast<uint16_t>(x.get_dtmf_detector_space_min_time().getValue());
      }
      break;
    case GGS_TYPE_IVA:
      DecodeGgsDigitalCommon(x, ch.iva);
      if constexpr (iva) {
        ch.iva.trans_interval = static_cast<uint16_t>(x.get_trans_interval().getValue());
        ch.iva.detector_interval = static_cast<uint16_t>(x.get_detector_interval().getValue());
      }
      if constexpr (tone || iva) {
        ch.iva.detector_level = static_cast<int16_t>(x.get_detector_level().getValue());
        ch.iva.signal_level = static_cast<int16_t>(x.get_signal_level().getValue());
      }
      ch.iva.delay_rx = x.get_delay_rx().getValue();
      break;
    default:
      break;
  }
}

// Types 1 to 12 read whichever alternative is selected; none reads nothing.
void DecodeGgsDigitalChannel(const ProtoVorkPacketPayloadGgsChannelSignalingDigitalV1& s, s_ggs_channel_digital_config& ch) {
  if (s.tone_isSelected()) {
    DecodeGgsDigitalInto(s.get_tone(), ch);
  } else if (s.fxo_isSelected()) {
    DecodeGgsDigitalInto(s.get_fxo(), ch);
  } else if (s.fxs_isSelected()) {
    DecodeGgsDigitalInto(s.get_fxs(), ch);
  } else if (s.iva_isSelected()) {
    DecodeGgsDigitalInto(s.get_iva(), ch);
  } else {
    const GGSSignalingDigitalV1* g = s.dc_isSelected()      ? &s.get_dc()
                                     : s.mb_isSelected()    ? &s.get_mb()
                                     : s.dpu60_isSelected() ? &s.get_dpu60()
                                     : s.dpua_isSelected()  ? &s.get_dpua()
                                     : s.prb_isSelected()   ? &s.get_prb()
                                     : s.voice_isSelected() ? &s.get_voice()
                                     : s.dpuvi_isSelected() ? &s.get_dpuvi()
                                     : s.emvi_isSelected()  ? &s.get_emvi()
                                                            : nullptr;
    if (g) DecodeGgsDigitalInto(*g, ch);
  }
}

void EncodeGgsDigital(const s_proto_gd_config& c, ProtoVorkPacketPayloadGgsDigitalV1& v) {
  v.set_wire(c.wire);
  for (int i = 0; i < Clamp(c.channels_count, PROTO_GGS_CHANNELS_MAX); ++i) {
    ProtoVorkPacketPayloadGgsChannelDigitalV1 e;
    e.set_ggs_type_call().setFromInt(c.channels[i].ggs_type_call);
    EncodeGgsDigitalChannel(c.channels[i], e.set_channel());
    v.set_channels().push_back(e);
  }
  EncodeLines(c.line_config, v.set_lines());
}

void DecodeGgsDigital(const ProtoVorkPacketPayloadGgsDigitalV1& v, s_proto_gd_config& c) {
  c.wire = static_cast<uint8_t>(v.get_wire().getValue());
  int n = Clamp(v.get_channels().size(), PROTO_GGS_CHANNELS_MAX);
  for (int i = 0; i < n; ++i) {
    const ProtoVorkPacketPayloadGgsChannelDigitalV1& e = v.get_channels()[i];
    s_ggs_channel_digital_config& ch = c.channels[i];
    std::memset(&ch, 0, sizeof ch);
    int type = e.get_ggs_type_call().asInt();
    ch.ggs_type_call = static_cast<uint16_t>(type < 0 || type > PROTO_GGS_TYPE_MAX ? GGS_TYPE_NONE : type);
    DecodeGgsDigitalChannel(e.get_channel(), ch);
  }
  c.channels_count = static_cast<uint8_t>(n);
  DecodeLines(v.get_lines(), c.line_config);
}

void EncodeDcon(const s_proto_dcon_dig_config& c, ProtoVorkPacketPayloadDconDigitalV1& v) {
  for (int i = 0; i < Clamp(c.channels_count, PROTO_DCON_CHANNELS_MAX); ++i) {
    ProtoVorkPacketPayloadDconChannelDigitalV1 e;
    e.set_type_signal().setFromInt(c.channels[i].type_signal);
    if (c.channels[i].type_signal == 0) e.set_channel().select_none(ASN1::Null());
    if (c.channels[i].type_signal == 1) e.set_channel().select_ats_qsig(ASN1::Null());
    v.set_channels().push_back(e);
  }
}

void DecodeDcon(const ProtoVorkPacketPayloadDconDigitalV1& v, s_proto_dcon_dig_config& c) {
  int n = Clamp(v.get_channels().size(), PROTO_DCON_CHANNELS_MAX);
  for (int i = 0; i < n; ++i)
    c.channels[i].type_signal = static_cast<uint16_t>(v.get_channels()[i].get_type_signal().asInt());
  c.channels_count = static_cast<uint8_t>(n);
}

void EncodeRadioDigitalV2(const s_proto_rd_v2_config& c, ProtoVorkPacketPayloadRadioDigitalV2& v) {
  for (int i = 0; i < Clamp(c.channels_count, PROTO_RD_V2_CHANNELS_MAX); ++i) {
    const s_radio_v2_channel_digital_config& ch = c.channels[i];
    ProtoVorkPacketPayloadRadioChannelDigitalV2 e;
    e.set_enable(ch.enable != 0);
    if (ch.enable) {
      e.set_rc_mode(ch.flag_rc_mode != 0);
      e.set_ptt_prio(ch.flag_ptt_prio != 0);
      e.set_sql_prio(ch.flag_sql_prio != 0);
      e.set_wire(ch.flag_wire);
      e.set_agc_rx(ch.flag_agc_rx != 0);
      e.set_snr(FloatText(ch.snr));
      e.set_delay_rx_from_radio(ch.delay_rx);
      e.set_delay_tx_to_radio(ch.delay_tx);
      e.set_rc_state(ch.rc_state);
      e.set_radio_call(ch.radio_call);
      e.set_vad_timeout(ch.vad_timeout);
      e.set_vad_window(ch.vad_window);
      e.set_vad_detector_level(ch.vad_det_level);
      e.set_signal_level(ch.signal_level);
      e.set_detector_level(ch.detector_level);
      e.set_gain_tx(ch.gain_tx);
      e.set_gain_rx(ch.gain_rx);
      e.set_gain_sh(ch.gain_sh);
    }
    v.set_channels().push_back(e);
  }
  EncodeLines(c.line_config, v.set_lines());
}

void DecodeRadioDigitalV2(const ProtoVorkPacketPayloadRadioDigitalV2& v, s_proto_rd_v2_config& c) {
  int n = Clamp(v.get_channels().size(), PROTO_RD_V2_CHANNELS_MAX);
  for (int i = 0; i < n; ++i) {
    const ProtoVorkPacketPayloadRadioChannelDigitalV2& e = v.get_channels()[i];
    s_radio_v2_channel_digital_config& ch = c.channels[i];
    std::memset(&ch, 0, sizeof ch);
    ch.enable = e.get_enable() ? 1 : 0;
    ch.flag_rc_mode = e.get_rc_mode() ? 1 : 0;
    ch.flag_ptt_prio = e.get_ptt_prio() ? 1 : 0;
    ch.flag_sql_prio = e.get_sql_prio() ? 1 : 0;
    ch.flag_wire = static_cast<uint8_t>(e.get_wire().getValue());
    ch.flag_agc_rx = e.get_agc_rx() ? 1 : 0;
    ch.snr = TextFloat(e.get_snr());
    ch.delay_rx = e.get_delay_rx_from_radio().getValue();
    ch.delay_tx = e.get_delay_tx_to_radio().getValue();
    ch.rc_state = static_cast<uint16_t>(e.get_rc_state().getValue());
    ch.radio_call = static_cast<uint16_t>(e.get_radio_call().getValue());
    ch.vad_timeout = static_cast<uint16_t>(e.get_vad_timeout().getValue());
    ch.vad_window = static_cast<uint16_t>(e.get_vad_window().getValue());
    ch.vad_det_level = static_cast<uint8_t>(e.get_vad_detector_level().getValue());
    ch.signal_level = static_cast<int16_t>(e.get_signal_level().getValue());
    ch.detector_level = static_cast<int16_t>(e.get_detector_level().getValue());
    ch.gain_tx = static_cast<uint8_t>(e.get_gain_tx().getValue());
    ch.gain_rx = static_cast<uint8_t>(e.get_gain_rx().getValue());
    ch.gain_sh = static_cast<uint8_t>(e.get_gain_sh().getValue());
  }
  c.channels_count = static_cast<uint8_t>(n);
  DecodeLines(v.get_lines(), c.line_config);
}

}  // namespace

void ProtoVorkEncodeAnalogSetConfig(const s_data_cmd& r, ProtoVorkPacketPayloadAnalogSetConfig& v) {
  if (r.stateProtocol == 0 && r.stateMode == 1)
    EncodeRadioAnalogV1(r.payload.ra_config, v.select_radio_v1());
  else if (r.stateProtocol == 0 && r.stateMode == 2)
    EncodeGgsAnalog(r.payload.ga_config, v.select_ggs_v1());
  else if (r.stateProtocol == 1 && r.stateMode == 1)
    EncodeRadioAnalogV2(r.payload.ra_v2_config, v.select_radio_v2());
}

void ProtoVorkEncodeDigitalSetConfig(const s_data_cmd& r, ProtoVorkPacketPayloadDigitalSetConfig& v) {
  if (r.stateProtocol == 0 && r.stateMode == 1)
    EncodeRadioDigitalV1(r.payload.rd_config, v.select_radio_v1());
  else if (r.stateProtocol == 0 && r.stateMode == 2)
    EncodeGgsDigital(r.payload.gd_config, v.select_ggs_v1());
  else if (r.stateProtocol == 0 && r.stateMode == 3)
    EncodeDcon(r.payload.dcon_dig_config, v.select_dcon_v1());
  else if (r.stateProtocol == 1 && r.stateMode == 1)
    EncodeRadioDigitalV2(r.payload.rd_v2_config, v.select_radio_v2());
}

bool ProtoVorkDecodeGWSetConfig(const ProtoVorkPacketPayloadGWSetConfig& v, s_data_cmd& r) {
  const int key = (r.stateProtocol << 16) | (r.dstAddr << 8) | r.stateMode;
  switch (key) {
    case (0 << 16) | (PROTO_ADDR_ALI << 8) | 1:
      if (!v.radio_analog_v1_isSelected()) return false;
      DecodeRadioAnalogV1(v.get_radio_analog_v1(), r.payload.ra_config);
      return true;
    case (0 << 16) | (PROTO_ADDR_ALI << 8) | 2:
      if (!v.ggs_analog_v1_isSelected()) return false;
      DecodeGgsAnalog(v.get_ggs_analog_v1(), r.payload.ga_config);
      return true;
    case (0 << 16) | (PROTO_ADDR_DLI << 8) | 1:
      if (!v.radio_digital_v1_isSelected()) return false;
      DecodeRadioDigitalV1(v.get_radio_digital_v1(), r.payload.rd_config);
      return true;
    case (0 << 16) | (PROTO_ADDR_DLI << 8) | 2:
      if (!v.ggs_digital_v1_isSelected()) return false;
      DecodeGgsDigital(v.get_ggs_digital_v1(), r.payload.gd_config);
      return true;
    case (0 << 16) | (PROTO_ADDR_DLI << 8) | 3:
      if (!v.dcon_digital_v1_isSelected()) return false;
      DecodeDcon(v.get_dcon_digital_v1(), r.payload.dcon_dig_config);
      return true;
    case (1 << 16) | (PROTO_ADDR_ALI << 8) | 1:
      if (!v.radio_analog_v2_isSelected()) return false;
      DecodeRadioAnalogV2(v.get_radio_analog_v2(), r.payload.ra_v2_config);
      return true;
    case (1 << 16) | (PROTO_ADDR_DLI << 8) | 1:
      if (!v.radio_digital_v2_isSelected()) return false;
      DecodeRadioDigitalV2(v.get_radio_digital_v2(), r.payload.rd_v2_config);
      return true;
    default:
      return false;
  }
}
