// Text dumps of command records: one field per line.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "radiolink/proto_vork.h"

// One printer per message id; GW_GET_NUMBER, GW_REMOTE_KEEP_ALIVE and
// DLI_SET_NUMBER have none, so their records dump to nothing.
const s_proto_sprintf_row proto_sprintf_table[] = {
    {GW_GET_ID, sprintf_dummy},
    {GW_KEEP_ALIVE, sprintf_keep_alive},
    {GW_SET_CONFIG, sprintf_config},
    {GW_GET_CONFIG, sprintf_dummy},
    {GW_RAD_PTT_ON, sprintf_radio_command},
    {GW_RAD_PTT_OFF, sprintf_dummy},
    {GW_RAD_SH_ON, sprintf_dummy},
    {GW_RAD_SH_OFF, sprintf_dummy},
    {GW_RAD_BSS_ON, sprintf_dummy},
    {GW_RAD_BSS_OFF, sprintf_dummy},
    {GW_RAD_RS485_CMD, sprintf_rs485_cmd},
    {GW_RAD_RX_ON, sprintf_dummy},
    {GW_RAD_RX_OFF, sprintf_dummy},
    {GW_RAD_RST_ON, sprintf_dummy},
    {GW_RAD_RST_OFF, sprintf_dummy},
    {GW_RAD_AUX_ON, sprintf_dummy},
    {GW_RAD_AUX_OFF, sprintf_dummy},
    {GW_RAD_SELECT_CHANNEL, sprintf_select_channel},
    {GW_GGS_COMMAND, sprintf_ggs_command},
    {GW_GGS_STATE, sprintf_ggs_state},
    {GW_DCON_COMMAND, sprintf_dcon_command},
    {GW_DCON_STATE, sprintf_dcon_state},
    {GW_RAD_COMMAND, sprintf_rad_command},
    {GW_RAD_STATE, sprintf_rad_state},
    {GW_TEST, sprintf_test_config},
    {GW_CLIENT_P1, sprintf_p1_packet},
    {GW_SET_DEBUG, sprintf_set_debug},
    {GW_SHOW_DEBUG, sprintf_show_debug},
    {GW_GET_INFO, sprintf_get_info},
    {GW_SERVICE_CMD, sprintf_service_command},
    {DLI_SET_ID, sprintf_id},
    {DLI_KEEP_ALIVE, sprintf_digital_keep_alive},
    {DLI_GET_CONFIG, sprintf_get_config},
    {DLI_SET_CONFIG, sprintf_digital_config},
    {DLI_RAD_BSS_QUAL, sprintf_bss_quality},
    {DLI_RAD_LINK_ERR, sprintf_dummy},
    {DLI_RAD_SELECT_CHANNEL, sprintf_select_channel},
    {DLI_GGS_COMMAND, sprintf_ggs_command},
    {DLI_GGS_STATE, sprintf_ggs_digital_state},
    {DLI_DCON_COMMAND, sprintf_dcon_digital_command},
    {DLI_DCON_STATE, sprintf_dcon_digital_state},
    {DLI_RAD_COMMAND, sprintf_rad_digital_command},
    {DLI_RAD_STATE, sprintf_rad_digital_state},
    {DLI_DEBUG, sprintf_debug_msg},
    {DLI_TEST_KEEP_ALIVE, sprintf_test_keep_alive},
    {DLI_SERVER_P1, sprintf_p1_packet},
    {DLI_HW_STATE, sprintf_digital_hw_state},
    {DLI_SET_INFO, sprintf_digital_set_info},
    {ALI_SET_ID, sprintf_id},
    {ALI_KEEP_ALIVE, sprintf_analog_keep_alive},
    {ALI_GET_CONFIG, sprintf_get_config},
    {ALI_SET_CONFIG, sprintf_analog_config},
    {ALI_RAD_RS485_STS, sprintf_rs485_status},
    {ALI_GGS_COMMAND, sprintf_ggs_command},
    {ALI_GGS_STATE, sprintf_ggs_state},
    {ALI_RAD_COMMAND, sprintf_rad_analog_command},
    {ALI_RAD_STATE, sprintf_rad_analog_state},
    {ALI_DEBUG, sprintf_debug_msg},
    {ALI_TEST_KEEP_ALIVE, sprintf_test_keep_alive},
    {ALI_HW_STATE, sprintf_analog_hw_state},
    {ALI_SERVER_P1, sprintf_p1_packet},
};
const int proto_sprintf_table_size = static_cast<int>(sizeof proto_sprintf_table / sizeof proto_sprintf_table[0]);

int proto_dump_line(char* buffer, long size, int len, const char* format, ...) {
  char line[512];
  va_list ap;
  va_start(ap, format);
  int n = std::vsnprintf(line, sizeof line, format, ap);
  va_end(ap);
  if (n < 0) return len;
  if (len < size) {
    long room = size - len;  // at least 1: the terminator always fits
    long copy = n < room - 1 ? n : room - 1;
    std::memcpy(buffer + len, line, static_cast<size_t>(copy));
    buffer[len + copy] = '\0';
  }
  return len + n;
}

int sprintf_dummy(char* buffer, long size, s_data_cmd* r, int flags) {
  if (!buffer || !r || size < 1) return 0;
  std::memset(buffer, 0, static_cast<size_t>(size));
  int len = 0;
  bool names = (flags & PROTO_DUMP_NAMES) != 0;
  if (flags & PROTO_DUMP_STATUS) {
    const char* status = names ? proto_find_name_by_id(proto_status_const_name, r->cmdStatus) : nullptr;
    if (status)
      len = proto_dump_line(buffer, size, len, "cmdStatus  : %s,\n", status);
    else
      len = proto_dump_line(buffer, size, len, "cmdStatus  : %d,\n", r->cmdStatus);
    len = proto_dump_line(buffer, size, len, "msgSeqNum  : %ld,\n", static_cast<long>(r->msgSeqNum));
  }
  const char* id = names ? proto_find_name_by_id(proto_packet_const_name, r->msgID) : nullptr;
  if (id)
    len = proto_dump_line(buffer, size, len, "msgID      : %s,\n", id);
  else
    len = proto_dump_line(buffer, size, len, "msgID      : 0x%04X,\n", r->msgID);
  len = proto_dump_line(buffer, size, len, "stateMaster  : 0x%02X,\n", r->stateMaster);
  len = proto_dump_line(buffer, size, len, "stateProtocol: 0x%02X,\n", r->stateProtocol);
  len = proto_dump_line(buffer, size, len, "stateMode    : 0x%02X,\n", r->stateMode);
  len = proto_dump_line(buffer, size, len, "srcAddr      : 0x%02X,\n", r->srcAddr);
  len = proto_dump_line(buffer, size, len, "dstAddr      : 0x%02X,\n", r->dstAddr);
  len = proto_dump_line(buffer, size, len, "srcChannel   : 0x%02X,\n", r->srcChannel);
  len = proto_dump_line(buffer, size, len, "dstChannel   : 0x%02X,\n", r->dstChannel);
  return len;
}

int sprintf_id(char* buffer, long size, s_data_cmd* r, int flags) {
  int len = sprintf_dummy(buffer, size, r, flags);
  if (len == 0) return 0;
  return proto_dump_line(buffer, size, len, "id.id      : %d,\n", r->payload.id.id);
}

int sprintf_channel(char* buffer, long size, s_data_cmd* r, int flags) {
  int len = sprintf_dummy(buffer, size, r, flags);
  if (len == 0) return 0;
  return proto_dump_line(buffer, size, len, "channel.channel: %d,\n", r->payload.channel.channel);
}

int sprintf_select_channel(char* buffer, long size, s_data_cmd* r, int flags) {
  int len = sprintf_dummy(buffer, size, r, flags);
  if (len == 0) return 0;
  const s_proto_select_channel& s = r->payload.select_channel;
  len = proto_dump_line(buffer, size, len, "select_channel.channel: %d,\n", s.channel);
  len = proto_dump_line(buffer, size, len, "select_channel.select_interface: %d,\n", s.select_interface);
  len = proto_dump_line(buffer, size, len, "select_channel.select_channel: %d,\n", s.select_channel);
  return len;
}

int sprintf_data_cmd(char* buffer, long size, s_data_cmd* record, int flags) {
  if (!buffer || !record || size < 1) return 0;
  std::memset(buffer, 0, static_cast<size_t>(size));
  for (int i = 0; i < proto_sprintf_table_size; ++i) {
    if (proto_sprintf_table[i].id == record->msgID)
      return proto_sprintf_table[i].print(buffer, size, record, flags);
  }
  return 0;
}
