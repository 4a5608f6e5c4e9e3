// GGS, DCON and RAD records <-> VORKGW packet payloads.
#include <cstdio>

#include "radiolink/proto_asn.h"

using namespace VORKGW;

namespace {

using IntList = ASN1::SEQUENCE_OF<ASN1::INTEGER, ASN1::EmptyConstraint>;

void put_list(IntList& list, const uint8_t* bytes, int count) {
  for (int i = 0; i < count; ++i) list.push_back(ASN1::INTEGER(bytes[i], &ASN1::INTEGER::theInfo));
}

// Copies the low 8 bits of at most max values; returns the count copied.
int get_list(const IntList& list, uint8_t* bytes, int max) {
  int n = 0;
  for (auto it = list.begin(); it != list.end() && n < max; ++it) bytes[n++] = static_cast<uint8_t>((*it).getValue());
  return n;
}

template <class Field>
uint8_t low8(const Field& f) {
  return static_cast<uint8_t>(f.getValue());
}

void score_text(float snr, ProtoVorkPacketPayloadDigitalRadioBss& bss) {
  char text[256] = {0};
  std::snprintf(text, sizeof text - 1, "%4.6f", static_cast<double>(snr));
  bss.set_snr(text);
}

ProtoVorkPacketPayloadRadCommandSelectChannel encode_select(const s_proto_rad_select& s) {
  ProtoVorkPacketPayloadRadCommandSelectChannel v;
  v.set_select_interface(s.select_interface);
  v.set_select_channel(s.select_channel);
  return v;
}

void decode_select(const ProtoVorkPacketPayloadRadCommandSelectChannel& v, s_proto_rad_select& s) {
  s.select_interface = low8(v.get_select_interface());
  s.select_channel = low8(v.get_select_channel());
}

ProtoVorkPacketPayloadGgsCommand encode_ggs_command(const s_proto_ggs_command& c) {
  ProtoVorkPacketPayloadGgsCommand v;
  v.set_channel(c.channel);
  v.set_ggs_type_call().setFromInt(c.ggs_type_call);
  v.set_command().setFromInt(c.command);
  put_list(v.set_param(), c.param, c.param_size);
  return v;
}

ProtoVorkPacketPayloadDconCommand encode_dcon_command(const s_proto_dcon_command& c) {
  ProtoVorkPacketPayloadDconCommand v;
  v.set_channel(c.channel);
  v.set_type_signal().setFromInt(c.type_signal);
  v.set_command().setFromInt(c.command);
  put_list(v.set_param(), c.param, c.param_size);
  return v;
}

void encode_rad_digital_command(const s_proto_rad_digital_command& c, ProtoVorkPacketPayloadDigitalRadCommand& v) {
  v.set_channel(c.channel);
  v.set_command().setFromInt(c.command);
  switch (c.command) {
    case RAD_DIG_CMD_BSS_SCORE:
      score_text(c.bss.snr, v.set_payload().select_bssScore());
      break;
    case RAD_DIG_CMD_SEL_CH:
      v.set_payload().select_selCh(encode_select(c.select_channel));
      break;
    case RAD_DIG_CMD_SQL_ON:
      v.set_payload().select_sqlOn(ASN1::Null());
      break;
    case RAD_DIG_CMD_SQL_OFF:
      v.set_payload().select_sqlOff(ASN1::Null());
      break;
    default:
      break;
  }
}

void encode_rad_digital_state(const s_proto_rad_digital_state& s, ProtoVorkPacketPayloadDigitalRadState& v) {
  v.set_channel(s.channel);
  if (s.type == RAD_STATE_BITS) {
    v.set_type().setFromInt(RAD_STATE_BITS);
    ProtoVorkPacketPayloadDigitalRadioState& b = v.set_payload().select_stateBits();
    b.set_rc(s.state.flag_rc != 0);
    b.set_ptt(s.state.flag_ptt != 0);
    b.set_ptt_selcall(s.state.flag_ptt_selcall != 0);
    b.set_self_hear(s.state.flag_self_hear != 0);
    b.set_receiver(s.state.flag_receiver != 0);
    b.set_bss(s.state.flag_bss != 0);
    b.set_detected_rx(s.state.flag_detector_rx != 0);
    b.set_detected_tx(s.state.flag_detector_tx != 0);
    b.set_rc_line_state(s.state.flag_rc_line_state != 0);
  } else if (s.type == RAD_STATE_SEL_CH) {
    v.set_type().setFromInt(RAD_STATE_SEL_CH);
    v.set_payload().select_selCh(encode_select(s.select_channel));
  }
}

void encode_rad_analog_command(const s_proto_rad_analog_command& c, ProtoVorkPacketPayloadAnalogRadCommand& v) {
  v.set_channel(c.channel);
  switch (c.command) {
    case RAD_ANA_CMD_RS485:
      v.set_command().setFromInt(c.command);
      put_list(v.set_payload().select_rs485Cmd().set_payload(), c.rs485_status.payload, c.rs485_status.payload_size);
      break;
    case RAD_ANA_CMD_SQL_ON:
      v.set_command().setFromInt(c.command);
      v.set_payload().select_sqlOn(ASN1::Null());
      break;
    case RAD_ANA_CMD_SQL_OFF:
      v.set_command().setFromInt(c.command);
      v.set_payload().select_sqlOff(ASN1::Null());
      break;
    default:
      break;
  }
}

void encode_rad_analog_state(const s_proto_rad_analog_state& s, ProtoVorkPacketPayloadAnalogRadState& v) {
  v.set_channel(s.channel);
  if (s.type != RAD_STATE_BITS) return;
  v.set_type().setFromInt(RAD_STATE_BITS);
  ProtoVorkPacketPayloadAnalogRadioState& b = v.set_payload().select_stateBits();
  b.set_attach(s.state.flag_attach != 0);
  b.set_ptt(s.state.flag_ptt != 0);
  b.set_self_hear(s.state.flag_self_hear != 0);
  b.set_radio_power(s.state.flag_radio_power != 0);
  b.set_radio_reserv(s.state.flag_radio_reserv != 0);
  b.set_detected_rx(s.state.flag_detected_rx != 0);
  b.set_detected_tx(s.state.flag_detected_tx != 0);
  b.set_rs_tx(s.state.flag_rs_tx != 0);
  b.set_rs_error(s.state.flag_rs_error != 0);
}

// A radio command for an interface. Commands that carry data need their own
// payload alternative; a mismatch fails rather than sending the command
// without its data. Every other number is taken as it is (getStateBits
// included), so a reused record never keeps a stale command.
bool decode_rad_command(const ProtoVorkPacketPayloadGWRadCommand& v, s_proto_rad_command& c) {
  c.channel = low8(v.get_channel());
  const ProtoVorkPacketPayloadGWRadCommandPayload& p = v.get_payload();
  int number = v.get_command().asInt();
  switch (number) {
    case RAD_CMD_PTT_ON:
      if (!p.pttOn_isSelected()) return false;
      c.ptt.param_size = static_cast<uint8_t>(get_list(p.get_pttOn().get_payload(), c.ptt.param, PROTO_PACKET_PARAM_MAX));
      break;
    case RAD_CMD_RS485:
      if (!p.rs485Cmd_isSelected()) return false;
      c.rs485_cmd.payload_size =
          static_cast<uint8_t>(get_list(p.get_rs485Cmd().get_payload(), c.rs485_cmd.payload, PROTO_LINE_PARAM_MAX));
      break;
    case RAD_CMD_SEL_CH:
      if (!p.selCh_isSelected()) return false;
      decode_select(p.get_selCh(), c.select_channel);
      break;
    default:
      break;
  }
  c.command = static_cast<uint8_t>(number);
  return true;
}

bool decode_rad_state(const ProtoVorkPacketPayloadGWRadState& v, s_proto_rad_state& s) {
  s.channel = low8(v.get_channel());
  int type = v.get_type().asInt();
  if (type == RAD_STATE_SEL_CH) {
    if (!v.get_payload().selCh_isSelected()) return false;
    decode_select(v.get_payload().get_selCh(), s.select_channel);
  }
  s.type = static_cast<uint8_t>(type);
  return true;
}

}  // namespace

bool ProtoLineEncodeASN(const s_data_cmd& r, ProtoVorkPacketPayload& p) {
  const u_proto_payload& d = r.payload;
  switch (r.msgID) {
    case DLI_GGS_COMMAND:
      p.select_dli_ggs_command(encode_ggs_command(d.ggs_command));
      return true;
    case ALI_GGS_COMMAND:
      p.select_ali_ggs_command(encode_ggs_command(d.ggs_command));
      return true;
    case ALI_GGS_STATE: {
      ProtoVorkPacketPayloadGgsState& v = p.select_ali_ggs_state();
      v.set_channel(d.ggs_state.channel);
      v.set_state().setFromInt(d.ggs_state.state);
      v.set_error(d.ggs_state.error);
      return true;
    }
    case DLI_GGS_STATE: {
      ProtoVorkPacketPayloadDigitalGgsState& v = p.select_dli_ggs_state();
      v.set_channel(d.gd_state.channel);
      v.set_state().setFromInt(d.gd_state.state);
      v.set_error(d.gd_state.error);
      v.set_detected_rx(d.gd_state.flag_detected_rx != 0);
      v.set_detected_tx(d.gd_state.flag_detected_tx != 0);
      return true;
    }
    case DLI_DCON_COMMAND:
      p.select_dli_dcon_command(encode_dcon_command(d.dcon_dig_command));
      return true;
    case DLI_DCON_STATE: {
      ProtoVorkPacketPayloadDigitalDconState& v = p.select_dli_dcon_state();
      v.set_channel(d.dcon_dig_state.channel);
      v.set_type_signal().setFromInt(d.dcon_dig_state.type_signal);
      v.set_state().setFromInt(d.dcon_dig_state.state);
      v.set_error(d.dcon_dig_state.error);
      v.set_detected_rx(d.dcon_dig_state.flag_detected_rx != 0);
      v.set_detected_tx(d.dcon_dig_state.flag_detected_tx != 0);
      return true;
    }
    case DLI_RAD_COMMAND:
      encode_rad_digital_command(d.rad_dig_command, p.select_dli_rad_command());
      return true;
    case DLI_RAD_STATE:
      encode_rad_digital_state(d.rad_dig_state, p.select_dli_rad_state());
      return true;
    case ALI_RAD_COMMAND:
      encode_rad_analog_command(d.rad_analog_command, p.select_ali_rad_command());
      return true;
    case ALI_RAD_STATE:
      encode_rad_analog_state(d.rad_analog_state, p.select_ali_rad_state());
      return true;
    default:
      return false;
  }
}

bool ProtoLineDecodeASN(const ProtoVorkPacketPayload& p, s_data_cmd& r) {
  u_proto_payload& d = r.payload;
  switch (r.msgID) {
    case GW_GGS_COMMAND: {
      if (!p.gw_ggs_command_isSelected()) return false;
      const ProtoVorkPacketPayloadGgsCommand& v = p.get_gw_ggs_command();
      s_proto_ggs_command& c = d.ggs_command;
      c.channel = low8(v.get_channel());
      c.ggs_type_call = static_cast<uint16_t>(v.get_ggs_type_call().asInt());
      c.command = static_cast<uint8_t>(v.get_command().asInt());
      c.param_size = static_cast<uint8_t>(get_list(v.get_param(), c.param, PROTO_PACKET_PARAM_MAX));
      return true;
    }
    case GW_GGS_STATE: {
      if (!p.gw_ggs_state_isSelected()) return false;
      const ProtoVorkPacketPayloadGgsState& v = p.get_gw_ggs_state();
      d.ggs_state.channel = low8(v.get_channel());
      d.ggs_state.state = static_cast<uint8_t>(v.get_state().asInt());
      d.ggs_state.error = low8(v.get_error());
      return true;
    }
    case GW_DCON_COMMAND: {
      if (!p.gw_dcon_command_isSelected()) return false;
      const ProtoVorkPacketPayloadDconCommand& v = p.get_gw_dcon_command();
      s_proto_dcon_command& c = d.dcon_command;
      c.channel = low8(v.get_channel());
      c.type_signal = static_cast<uint16_t>(v.get_type_signal().asInt());
      c.command = static_cast<uint8_t>(v.get_command().asInt());
      c.param_size = static_cast<uint8_t>(get_list(v.get_param(), c.param, PROTO_PACKET_PARAM_MAX));
      return true;
    }
    case GW_DCON_STATE: {
      if (!p.gw_dcon_state_isSelected()) return false;
      const ProtoVorkPacketPayloadGWDconState& v = p.get_gw_dcon_state();
      d.dcon_state.channel = low8(v.get_channel());
      d.dcon_state.type_signal = static_cast<uint16_t>(v.get_type_signal().asInt());
      d.dcon_state.state = static_cast<uint8_t>(v.get_state().asInt());
      d.dcon_state.error = low8(v.get_error());
      return true;
    }
    case GW_RAD_COMMAND:
      return p.gw_rad_command_isSelected() && decode_rad_command(p.get_gw_rad_command(), d.rad_command);
    case GW_RAD_STATE:
      return p.gw_rad_state_isSelected() && decode_rad_state(p.get_gw_rad_state(), d.rad_state);
    default:
      return false;
  }
}
