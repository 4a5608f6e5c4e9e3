// Hardware state, information, debug, service, test and RS-485 records <->
// VORKGW packet payloads.
#include <cstdio>
#include <string>

#include "radiolink/proto_asn.h"

using namespace VORKGW;

namespace {

ProtoVorkPacketPayloadBytes EncodeBytes(const uint8_t* bytes, int n) {
  ProtoVorkPacketPayloadBytes v;
  for (int i = 0; i < n; ++i) v.set_payload().push_back(ASN1::INTEGER(bytes[i], &ASN1::INTEGER::theInfo));
  return v;
}

// The first 255 values, each cut to a byte.
uint8_t DecodeBytes(const ASN1::SEQUENCE_OF<ASN1::INTEGER, ASN1::EmptyConstraint>& list, uint8_t* bytes) {
  unsigned n = list.size() < static_cast<unsigned>(PROTO_BYTES_MAX) ? list.size() : PROTO_BYTES_MAX;
  for (unsigned i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(list[i].getValue());
  return static_cast<uint8_t>(n);
}

ProtoVorkPacketPayloadString EncodeText(const s_proto_debug_msg& d) {
  ProtoVorkPacketPayloadString v;
  v.set_payload(std::string(reinterpret_cast<const char*>(d.msg), d.msg_size));
  return v;
}

ProtoVorkPacketPayloadAnalogHwState EncodeAnalogHwState(const s_proto_ahw_state& s) {
  ProtoVorkPacketPayloadAnalogHwState v;
  v.set_processor_load(s.processor_load);
  v.set_voltage_primary_power(s.voltage_primary_power);
  v.set_voltage_secondary_power(s.voltage_secondary_power);
  v.set_fault_power1(s.fault_power[0] != 0);
  v.set_fault_power2(s.fault_power[1] != 0);
  v.set_fault1_interface1(s.fault_interface[0] != 0);
  v.set_fault2_interface1(s.fault_interface[1] != 0);
  v.set_fault1_interface2(s.fault_interface[2] != 0);
  v.set_fault2_interface2(s.fault_interface[3] != 0);
  const uint8_t* l = s.lose_sound;
  v.set_lose_sound_rtx1(l[0] != 0);
  v.set_lose_sound_rr1(l[1] != 0);
  v.set_lose_sound_rc1(l[2] != 0);
  v.set_lose_sound_rrx1(l[3] != 0);
  v.set_lose_sound_rtx2(l[4] != 0);
  v.set_lose_sound_rr2(l[5] != 0);
  v.set_lose_sound_rc2(l[6] != 0);
  v.set_lose_sound_rrx2(l[7] != 0);
  v.set_lose_sound_rdoc1(l[8] != 0);
  v.set_lose_sound_rdoc2(l[9] != 0);
  v.set_lose_sound_rsh(l[10] != 0);
  v.set_lose_sound_mux(l[11] != 0);
  v.set_lose_sound_spi(l[12] != 0);
  const uint8_t* f = s.fault_sound;
  v.set_fault_sound_rtx1(f[0] != 0);
  v.set_fault_sound_rr1(f[1] != 0);
  v.set_fault_sound_rc1(f[2] != 0);
  v.set_fault_sound_rrx1(f[3] != 0);
  v.set_fault_sound_rtx2(f[4] != 0);
  v.set_fault_sound_rr2(f[5] != 0);
  v.set_fault_sound_rc2(f[6] != 0);
  v.set_fault_sound_rrx2(f[7] != 0);
  v.set_fault_sound_rdoc1(f[8] != 0);
  v.set_fault_sound_rdoc2(f[9] != 0);
  v.set_fault_sound_rsh(f[10] != 0);
  v.set_fault_sound_mux(f[11] != 0);
  v.set_fault_sound_spi(f[12] != 0);
  return v;
}

ProtoVorkPacketPayloadDigitalHwState EncodeDigitalHwState(const s_proto_dhw_state& s) {
  ProtoVorkPacketPayloadDigitalHwState v;
  v.set_fault_power_master(s.fault_power[0] != 0);
  v.set_fault_power_slave(s.fault_power[1] != 0);
  v.set_fault_codec_2wire_line0(s.fault_codec[0] != 0);
  v.set_fault_codec_2wire_line1(s.fault_codec[1] != 0);
  v.set_fault_codec_2wire_line2(s.fault_codec[2] != 0);
  v.set_fault_line_2wire_line0(s.fault_line[0] != 0);
  v.set_fault_line_2wire_line1(s.fault_line[1] != 0);
  v.set_fault_line_2wire_line2(s.fault_line[2] != 0);
  return v;
}

ProtoVorkPacketPayloadDigitalSetInfo EncodeSetInfo(const s_proto_digital_set_info& s) {
  ProtoVorkPacketPayloadDigitalSetInfo v;
  v.set_request_code().setFromInt(s.request_code);
  if (s.request_code >= 1 && s.request_code <= 3) {
    char text[256] = {0};
    std::snprintf(text, sizeof text, "%4.6f", static_cast<double>(s.echo_power.power));
    v.set_data().select_power().set_power(text);
  }
  return v;
}

}  // namespace

void ProtoVorkEncodeMaintenance(const s_data_cmd& r, ProtoVorkPacketPayload& p) {
  switch (r.msgID) {
    case DLI_DEBUG:
      p.select_dli_debug(EncodeText(r.payload.debug));
      break;
    case ALI_DEBUG:
      p.select_ali_debug(EncodeText(r.payload.debug));
      break;
    case ALI_RAD_RS485_STS:
      p.select_ali_rad_rs485_sts(EncodeBytes(r.payload.ra_rs485_status.payload, r.payload.ra_rs485_status.payload_size));
      break;
    case ALI_HW_STATE:
      p.select_ali_hw_state(EncodeAnalogHwState(r.payload.ahw_state));
      break;
    case DLI_HW_STATE:
      p.select_dli_hw_state(EncodeDigitalHwState(r.payload.dhw_state));
      break;
    case DLI_SET_INFO:
      p.select_dli_set_info(EncodeSetInfo(r.payload.digital_set_info));
      break;
    default:
      break;
  }
}

bool ProtoVorkDecodeMaintenance(const ProtoVorkPacketPayload& p, s_data_cmd& r) {
  switch (r.msgID) {
    case GW_SET_DEBUG:
      if (!p.gw_set_debug_isSelected()) return false;
      r.payload.set_debug.debug_num = static_cast<uint16_t>(p.get_gw_set_debug().get_debug_num().getValue());
      return true;
    case GW_SHOW_DEBUG:
      if (!p.gw_show_debug_isSelected()) return false;
      r.payload.show_debug.trace_num = static_cast<uint16_t>(p.get_gw_show_debug().get_trace_num().getValue());
      return true;
    case GW_SERVICE_CMD:
      if (!p.gw_service_cmd_isSelected()) return false;
      r.payload.service_command.command = static_cast<uint8_t>(p.get_gw_service_cmd().get_command().asInt());
      return true;
    case GW_GET_INFO:
      if (!p.gw_get_info_isSelected()) return false;
      r.payload.get_info.request_code = static_cast<uint16_t>(p.get_gw_get_info().get_request_code().asInt());
      return true;
    case GW_TEST: {
      if (!p.gw_test_isSelected()) return false;
      s_proto_test_config& t = r.payload.test_config;
      t.test_mode = static_cast<uint8_t>(p.get_gw_test().get_test_mode().getValue());
      t.payload_size = DecodeBytes(p.get_gw_test().get_payload(), t.payload);
      return true;
    }
    case GW_RAD_RS485_CMD:
      if (!p.gw_rad_rs485_cmd_isSelected()) return false;
      r.payload.rs485_cmd.payload_size = DecodeBytes(p.get_gw_rad_rs485_cmd().get_payload(), r.payload.rs485_cmd.payload);
      return true;
    default:
      return false;
  }
}
