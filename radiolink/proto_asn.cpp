// Command records <-> VORKGW packets: header mapping and per-id payloads.
#include "radiolink/proto_asn.h"

#include <cstdio>

using namespace VORKGW;

namespace {

ProtoVorkAddress::NamedNumber encode_dst(const s_data_cmd& r) {
  if (r.stateProtocol != 0) return ProtoVorkAddress::lgw;
  switch (r.dstAddr) {
    case PROTO_ADDR_RGW:
      return ProtoVorkAddress::rgw;
    case PROTO_ADDR_DLI:
      return ProtoVorkAddress::dli;
    case PROTO_ADDR_ALI:
      return ProtoVorkAddress::ali;
    default:
      return ProtoVorkAddress::lgw;
  }
}

uint8_t decode_dst(const ProtoVorkAddress& a) {
  if (a.is_lgw()) return PROTO_ADDR_LGW;
  if (a.is_rgw()) return PROTO_ADDR_RGW;
  if (a.is_dli()) return PROTO_ADDR_DLI;
  if (a.is_ali()) return PROTO_ADDR_ALI;
  return 0;
}

ProtoVorkPacketPayloadSelectChannel encode_select_channel(const s_proto_select_channel& s) {
  ProtoVorkPacketPayloadSelectChannel v;
  v.set_channel(s.channel);
  v.set_select_interface(s.select_interface);
  v.set_select_channel(s.select_channel);
  return v;
}

ProtoVorkPacketPayloadTestKeepAlive encode_test_keep_alive(const s_proto_tst_keep_alive& t) {
  ProtoVorkPacketPayloadTestKeepAlive v;
  v.set_id(t.id);
  v.set_test_mode(t.test_mode);
  return v;
}

ProtoVorkPacketPayloadDigitalKeepAlive encode_digital_keep_alive(const s_data_cmd& r) {
  ProtoVorkPacketPayloadDigitalKeepAlive v;
  if (r.stateProtocol == 0 && r.stateMode == 1) {
    const s_proto_rd_keep_alive& ka = r.payload.rd_keep_alive;
    ProtoVorkPacketPayloadRadioDigitalKeepAliveV1& radio = v.select_radio_v1();
    radio.set_id(ka.id);
    int n = ka.channels_count > PROTO_KA_CHANNELS_MAX ? PROTO_KA_CHANNELS_MAX : ka.channels_count;
    for (int i = 0; i < n; ++i) {
      const s_proto_digital_ka_channel& c = ka.channels[i];
      ProtoVorkPacketPayloadRadioChannelDigitalKeepAliveV1 e;
      e.set_rc(c.flag_rc != 0);
      e.set_ptt(c.flag_ptt != 0);
      e.set_ptt_selcall(c.flag_ptt_selcall != 0);
      e.set_self_hear(c.flag_self_hear != 0);
      e.set_receiver(c.flag_receiver != 0);
      e.set_bss(c.flag_bss != 0);
      e.set_detected_rx(c.flag_detector_rx != 0);
      e.set_detected_tx(c.flag_detector_tx != 0);
      e.set_sql(c.flag_sql != 0);
      e.set_rc_line_state(c.flag_rc_line_state != 0);
      radio.set_channels().push_back(e);
    }
  } else if (r.stateProtocol == 0 && r.stateMode == 2) {
    v.select_ggs_v1().set_id(r.payload.gd_keep_alive.id);
  } else if (r.stateProtocol == 0 && r.stateMode == 3) {
    v.select_dcon_v1().set_id(r.payload.dcon_dig_keep_alive.id);
  } else if (r.stateProtocol == 1 && r.stateMode == 1) {
    v.select_radio_v2().set_id(r.payload.rd_v2_keep_alive.id);
  }
  return v;
}

ProtoVorkPacketPayloadAnalogKeepAlive encode_analog_keep_alive(const s_data_cmd& r) {
  ProtoVorkPacketPayloadAnalogKeepAlive v;
  if (r.stateProtocol == 0 && r.stateMode == 1) {
    const s_proto_ra_keep_alive& ka = r.payload.ra_keep_alive;
    ProtoVorkPacketPayloadRadioAnalogKeepAliveV1& radio = v.select_radio_v1();
    radio.set_id(ka.id);
    int n = ka.channels_count > PROTO_KA_CHANNELS_MAX ? PROTO_KA_CHANNELS_MAX : ka.channels_count;
    for (int i = 0; i < n; ++i) {
      const s_proto_analog_ka_channel& c = ka.channels[i];
      ProtoVorkPacketPayloadRadioChannelAnalogKeepAliveV1 e;
      e.set_ptt(c.flag_ptt != 0);
      e.set_self_hear(c.flag_self_hear != 0);
      e.set_radio_power(c.flag_radio_power != 0);
      e.set_radio_reserv(c.flag_radio_reserv != 0);
      e.set_detected_rx(c.flag_detected_rx != 0);
      e.set_detected_tx(c.flag_detected_tx != 0);
      e.set_sql(c.flag_sql != 0);
      e.set_rs_tx(c.flag_rs_tx != 0);
      e.set_rs_error(c.flag_rs_error != 0);
      radio.set_channels().push_back(e);
    }
  } else if (r.stateProtocol == 0 && r.stateMode == 2) {
    v.select_ggs_v1().set_id(r.payload.ga_keep_alive.id);
  } else if (r.stateProtocol == 1 && r.stateMode == 1) {
    v.select_radio_v2().set_id(r.payload.ra_v2_keep_alive.id);
  }
  return v;
}

ProtoVorkPacketPayloadGetConfig encode_get_config(const s_proto_gateway_config& c) {
  ProtoVorkPacketPayloadGetConfig v;
  v.set_id(c.id);
  v.set_channels_count(c.channels_count);
  v.set_major_version(c.major_version);
  v.set_minor_version(c.minor_version);
  v.set_major_boot_version(c.major_boot_version);
  v.set_minor_boot_version(c.minor_boot_version);
  v.set_major_sub_system_version(c.major_sub_system_version);
  v.set_minor_sub_system_version(c.minor_sub_system_version);
  return v;
}

}  // namespace

bool ProtoVorkEncodeASN(const s_data_cmd& r, ProtoVorkPacket& packet) {
  packet.set_msgLength(static_cast<int>(r.msgLength));
  packet.set_msgSeqNum(static_cast<int>(r.msgSeqNum));
  // Numbers from the line go into the enumerations unchanged, named or not.
  packet.set_msgID().setFromInt(r.msgID);
  packet.set_stateProtocol().setFromInt(r.stateProtocol);
  packet.set_stateMode().setFromInt(r.stateMode);
  packet.set_stateMaster(r.stateMaster);
  packet.set_srcAddr().setFromInt(r.srcAddr);
  packet.set_srcChannel(r.srcChannel);
  packet.set_dstAddr(encode_dst(r));
  packet.set_dstChannel(r.dstChannel);

  ProtoVorkPacketPayload& p = packet.set_payload();
  switch (r.msgID) {
    case DLI_SET_ID:
      p.select_dli_set_id().set_id(r.payload.id.id);
      break;
    case ALI_SET_ID:
      p.select_ali_set_id().set_id(r.payload.id.id);
      break;
    case DLI_SET_NUMBER:
      p.select_dli_set_number().set_number(r.payload.number.number);
      break;
    case DLI_RAD_LINK_ERR:
      p.select_dli_rad_link_err(ASN1::Null());
      break;
    case DLI_RAD_SELECT_CHANNEL:
      p.select_dli_rad_select_channel(encode_select_channel(r.payload.select_channel));
      break;
    case DLI_RAD_BSS_QUAL: {
      ProtoVorkPacketPayloadBssQuality& q = p.select_dli_rad_bss_qual();
      q.set_channel(r.payload.rd_bss.channel);
      char text[256] = {0};
      std::snprintf(text, sizeof text, "%4.6f", static_cast<double>(r.payload.rd_bss.snr));
      q.set_snr(text);
      break;
    }
    case DLI_GET_CONFIG:
      p.select_dli_get_config(encode_get_config(r.payload.gateway_config));
      break;
    case ALI_GET_CONFIG:
      p.select_ali_get_config(encode_get_config(r.payload.gateway_config));
      break;
    case DLI_SET_CONFIG:
      ProtoVorkEncodeDigitalSetConfig(r, p.select_dli_set_config());
      break;
    case ALI_SET_CONFIG:
      ProtoVorkEncodeAnalogSetConfig(r, p.select_ali_set_config());
      break;
    case DLI_DEBUG:
    case ALI_DEBUG:
    case ALI_RAD_RS485_STS:
    case ALI_HW_STATE:
    case DLI_HW_STATE:
    case DLI_SET_INFO:
      ProtoVorkEncodeMaintenance(r, p);
      break;
    case DLI_SERVER_P1:
    case ALI_SERVER_P1: {
      // The packet carries whatever the acknowledgement bytes hold.
      ProtoVorkPacketP1ServerPacket ack;
      p1_srv_proto_unpack(ack, r);
      if (r.msgID == DLI_SERVER_P1)
        p.select_dli_server_p1(ack);
      else
        p.select_ali_server_p1(ack);
      break;
    }
    case GW_REMOTE_KEEP_ALIVE: {
      // Passes between gateways; carried like the packet the decode side reads.
      ProtoVorkPacketPayloadGWRemoteKeepAlive& ka = p.select_gw_remote_keep_alive();
      ka.set_state(r.payload.remote_keep_alive.state);
      ka.set_mode(r.payload.remote_keep_alive.mode);
      ka.set_id(r.payload.remote_keep_alive.id);
      break;
    }
    case DLI_KEEP_ALIVE:
      p.select_dli_keep_alive(encode_digital_keep_alive(r));
      break;
    case ALI_KEEP_ALIVE:
      p.select_ali_keep_alive(encode_analog_keep_alive(r));
      break;
    case DLI_TEST_KEEP_ALIVE:
      p.select_dli_test_keep_alive(encode_test_keep_alive(r.payload.tst_keep_alive));
      break;
    case ALI_TEST_KEEP_ALIVE:
      p.select_ali_test_keep_alive(encode_test_keep_alive(r.payload.tst_keep_alive));
      break;
    case DLI_GGS_COMMAND:
    case ALI_GGS_COMMAND:
    case ALI_GGS_STATE:
    case DLI_GGS_STATE:
    case DLI_DCON_COMMAND:
    case DLI_DCON_STATE:
    case DLI_RAD_COMMAND:
    case DLI_RAD_STATE:
    case ALI_RAD_COMMAND:
    case ALI_RAD_STATE:
      ProtoLineEncodeASN(r, p);
      break;
    default:
      break;
  }
  return true;
}

bool ProtoVorkDecodeASN(const ProtoVorkPacket& packet, s_data_cmd& r) {
  r.msgID = static_cast<uint16_t>(packet.get_msgID().asInt());
  r.msgSeqNum = static_cast<uint32_t>(packet.get_msgSeqNum().getValue());
  r.msgLength = static_cast<uint32_t>(packet.get_msgLength().getValue());
  r.stateMaster = static_cast<uint8_t>(packet.get_stateMaster().getValue());
  r.stateProtocol = static_cast<uint8_t>(packet.get_stateProtocol().asInt());
  r.stateMode = static_cast<uint8_t>(packet.get_stateMode().asInt());
  r.srcAddr = static_cast<uint8_t>(packet.get_srcAddr().asInt());
  r.srcChannel = static_cast<uint8_t>(packet.get_srcChannel().getValue());
  r.dstAddr = decode_dst(packet.get_dstAddr());
  r.dstChannel = static_cast<uint8_t>(packet.get_dstChannel().getValue());

  const ProtoVorkPacketPayload& p = packet.get_payload();
  switch (packet.get_msgID().asInt()) {
    case GW_GET_ID:
    case GW_GET_CONFIG:
    case GW_GET_NUMBER:
    case GW_RAD_PTT_OFF:
    case GW_RAD_SH_ON:
    case GW_RAD_SH_OFF:
    case GW_RAD_BSS_ON:
    case GW_RAD_BSS_OFF:
    case GW_RAD_RX_ON:
    case GW_RAD_RX_OFF:
    case GW_RAD_RST_ON:
    case GW_RAD_RST_OFF:
    case GW_RAD_AUX_ON:
    case GW_RAD_AUX_OFF:
      return true;
    case GW_KEEP_ALIVE: {
      if (!p.gw_keep_alive_isSelected()) return false;
      const ProtoVorkPacketPayloadGWKeepAlive& ka = p.get_gw_keep_alive();
      if (r.stateProtocol == 1 && ka.keep_alive_v2_isSelected()) {
        r.payload.v2_keep_alive.gateway_id = static_cast<uint8_t>(ka.get_keep_alive_v2().get_gateway_id().getValue());
        r.payload.v2_keep_alive.bus_windows_size =
            static_cast<uint16_t>(ka.get_keep_alive_v2().get_bus_windows_size().getValue());
      }
      return true;
    }
    case GW_REMOTE_KEEP_ALIVE: {
      if (!p.gw_remote_keep_alive_isSelected()) return false;
      const ProtoVorkPacketPayloadGWRemoteKeepAlive& ka = p.get_gw_remote_keep_alive();
      r.payload.remote_keep_alive.state = static_cast<uint8_t>(ka.get_state().getValue());
      r.payload.remote_keep_alive.mode = static_cast<uint8_t>(ka.get_mode().getValue());
      r.payload.remote_keep_alive.id = static_cast<uint8_t>(ka.get_id().getValue());
      return true;
    }
    case GW_RAD_PTT_ON: {
      if (!p.gw_rad_ptt_on_isSelected()) return false;
      const ProtoVorkPacketPayloadGWRadPTTCmd& cmd = p.get_gw_rad_ptt_on();
      s_proto_radio_command& rc = r.payload.radio_command;
      rc.channel = static_cast<uint8_t>(cmd.get_channel().getValue());
      const auto& list = cmd.get_payload();
      int n = 0;
      for (auto it = list.begin(); it != list.end() && n < 20; ++it)
        rc.param[n++] = static_cast<uint8_t>((*it).getValue());
      rc.param_size = static_cast<uint8_t>(n);
      return true;
    }
    case GW_SET_CONFIG:
      return p.gw_set_config_isSelected() && ProtoVorkDecodeGWSetConfig(p.get_gw_set_config(), r);
    case GW_SET_DEBUG:
    case GW_SHOW_DEBUG:
    case GW_SERVICE_CMD:
    case GW_GET_INFO:
    case GW_TEST:
    case GW_RAD_RS485_CMD:
      return ProtoVorkDecodeMaintenance(p, r);
    case GW_CLIENT_P1:
      return p.gw_client_p1_isSelected() && p1_cln_proto_pack(p.get_gw_client_p1(), r) > 0;
    case GW_RAD_SELECT_CHANNEL: {
      if (!p.gw_rad_select_channel_isSelected()) return false;
      const ProtoVorkPacketPayloadSelectChannel& s = p.get_gw_rad_select_channel();
      r.payload.select_channel.channel = static_cast<uint8_t>(s.get_channel().getValue());
      r.payload.select_channel.select_interface = static_cast<uint8_t>(s.get_select_interface().getValue());
      r.payload.select_channel.select_channel = static_cast<uint8_t>(s.get_select_channel().getValue());
      return true;
    }
    case GW_GGS_COMMAND:
    case GW_GGS_STATE:
    case GW_DCON_COMMAND:
    case GW_DCON_STATE:
    case GW_RAD_COMMAND:
    case GW_RAD_STATE:
      return ProtoLineDecodeASN(p, r);
    default:
      // Interface ids (an interface sends them, it is never sent them) and
      // ids outside the catalogue.
      return false;
  }
}
