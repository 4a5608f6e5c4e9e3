// Frame checksum, header bit fields, the message catalogue and the
// converters of the messages whose payload is empty or a few bytes.
#include <cstdlib>
#include <cstring>

#include "radiolink/proto_vork.h"

const unsigned char msgStart[sizeStart] = {0x2D, 0xAB, 0xE5, 0xE4};

unsigned short calc_crc16(unsigned char* data, int length) {
  if (!data) return 0;
  unsigned short crc = 0xAAAA;
  for (int i = 0; i < length; i += 2) {
    // Bytes pair up big-endian, although the frame's numbers are little-endian.
    unsigned short word = static_cast<unsigned short>(data[i] << 8);
    if (i + 1 < length) word |= data[i + 1];
    crc ^= word;
    crc = static_cast<unsigned short>((crc << 1) | (crc >> 15));
  }
  return crc;
}

int get_protocol_version(unsigned short flags) { return (flags >> 12) & 0x7; }

// ---------------------------------------------------------------- names

const s_proto_const_name proto_status_const_name[] = {
    {CONVERT_NOT_ENOUGHT_RAW_DATA, "CONVERT_NOT_ENOUGHT_RAW_DATA"},
    {CONVERT_BAD_PARAM, "CONVERT_BAD_PARAM"},
    {CONVERT_NOT_ENOUGHT_PAYLOAD_DATA, "CONVERT_NOT_ENOUGHT_PAYLOAD_DATA"},
    {CONVERT_NOT_ENOUGHT_MEMORY, "CONVERT_NOT_ENOUGHT_MEMORY"},
    {CONVERT_QUEUE_FULL, "CONVERT_QUEUE_FULL"},
    {CONVERT_BAD_MODE, "CONVERT_BAD_MODE"},
    {CONVERT_BAD_ADDR, "CONVERT_BAD_ADDR"},
    {CONVERT_BAD_CRC, "CONVERT_BAD_CRC"},
    {CONVERT_BAD_LENGHT, "CONVERT_BAD_LENGHT"},
    {CONVERT_BAD_ID, "CONVERT_BAD_ID"},
    {CONVERT_BAD_SEQNUM, "CONVERT_BAD_SEQNUM"},
    {CONVERT_BAD_START, "CONVERT_BAD_START"},
    {CONVERT_BAD_PROTOCOL_VERSION, "CONVERT_BAD_PROTOCOL_VERSION"},
    {CONVERT_UNKNOWN_ERROR, "CONVERT_UNKNOWN_ERROR"},
    {CONVERT_ERROR, "CONVERT_ERROR"},
    {CONVERT_OK, "CONVERT_OK"},
    {-1, nullptr},
};

const s_proto_const_name proto_mode_const_name[] = {
    {PROTO_MODE_GATEWAY, "PROTO_MODE_GATEWAY"},
    {PROTO_MODE_ANALOG, "PROTO_MODE_ANALOG"},
    {PROTO_MODE_DIGITAL, "PROTO_MODE_DIGITAL"},
    {-1, nullptr},
};

const s_proto_const_name proto_state_error_const_name[] = {
    {0, "GGS_ERROR_OK"},
    {0x20, "GGS_ERROR_FLAG_FSM"},
    {0x40, "GGS_ERROR_FLAG_UNEXPECTED_CMD"},
    {0x80, "GGS_ERROR_FLAG_HARDWARE"},
    {-1, nullptr},
};

const s_proto_const_name proto_dcon_state_error_const_name[] = {
    {0, "DCON_ERROR_OK"},
    {0x20, "DCON_ERROR_FLAG_FSM"},
    {0x40, "DCON_ERROR_FLAG_UNEXPECTED_CMD"},
    {-1, nullptr},
};

#define NAMED(x) \
  { x, #x }
const s_proto_const_name proto_packet_const_name[] = {
    NAMED(GW_GET_ID),
    NAMED(GW_KEEP_ALIVE),
    NAMED(GW_SET_CONFIG),
    NAMED(GW_GET_CONFIG),
    NAMED(GW_GET_NUMBER),
    NAMED(GW_REMOTE_KEEP_ALIVE),
    NAMED(GW_RAD_PTT_ON),
    NAMED(GW_RAD_PTT_OFF),
    NAMED(GW_RAD_SH_ON),
    NAMED(GW_RAD_SH_OFF),
    NAMED(GW_RAD_BSS_ON),
    NAMED(GW_RAD_BSS_OFF),
    NAMED(GW_RAD_RS485_CMD),
    NAMED(GW_RAD_RX_ON),
    NAMED(GW_RAD_RX_OFF),
    NAMED(GW_RAD_RST_ON),
    NAMED(GW_RAD_RST_OFF),
    NAMED(GW_RAD_AUX_ON),
    NAMED(GW_RAD_AUX_OFF),
    NAMED(GW_RAD_SELECT_CHANNEL),
    NAMED(GW_GGS_COMMAND),
    NAMED(GW_GGS_STATE),
    NAMED(GW_DCON_COMMAND),
    NAMED(GW_DCON_STATE),
    NAMED(GW_RAD_COMMAND),
    NAMED(GW_RAD_STATE),
    NAMED(GW_TEST),
    NAMED(GW_CLIENT_P1),
    NAMED(GW_SET_DEBUG),
    NAMED(GW_SHOW_DEBUG),
    NAMED(GW_GET_INFO),
    NAMED(GW_SERVICE_CMD),
    NAMED(DLI_SET_ID),
    NAMED(DLI_KEEP_ALIVE),
    NAMED(DLI_GET_CONFIG),
    NAMED(DLI_SET_CONFIG),
    NAMED(DLI_SET_NUMBER),
    NAMED(DLI_RAD_BSS_QUAL),
    NAMED(DLI_RAD_LINK_ERR),
    NAMED(DLI_RAD_SELECT_CHANNEL),
    NAMED(DLI_GGS_COMMAND),
    NAMED(DLI_GGS_STATE),
    NAMED(DLI_DCON_COMMAND),
    NAMED(DLI_DCON_STATE),
    NAMED(DLI_RAD_COMMAND),
    NAMED(DLI_RAD_STATE),
    NAMED(DLI_DEBUG),
    NAMED(DLI_TEST_KEEP_ALIVE),
    NAMED(DLI_SERVER_P1),
    NAMED(DLI_HW_STATE),
    NAMED(DLI_SET_INFO),
    NAMED(ALI_SET_ID),
    NAMED(ALI_KEEP_ALIVE),
    NAMED(ALI_GET_CONFIG),
    NAMED(ALI_SET_CONFIG),
    NAMED(ALI_RAD_RS485_STS),
    NAMED(ALI_RAD_COMMAND),
    NAMED(ALI_RAD_STATE),
    NAMED(ALI_GGS_COMMAND),
    NAMED(ALI_GGS_STATE),
    NAMED(ALI_DEBUG),
    NAMED(ALI_HW_STATE),
    NAMED(ALI_TEST_KEEP_ALIVE),
    NAMED(ALI_SERVER_P1),
    {-1, nullptr},
};
#undef NAMED

namespace {
const int kNameSearchLimit = 128;
}

const char* proto_find_name_by_id(const s_proto_const_name* table, int id) {
  if (!table) return nullptr;
  for (int i = 0; i < kNameSearchLimit && table[i].name; ++i)
    if (table[i].code == id) return table[i].name;
  return nullptr;
}

int proto_find_id_by_name(const s_proto_const_name* table, const char* name) {
  if (!table || !name) return -1;
  for (int i = 0; i < kNameSearchLimit && table[i].name; ++i)
    if (std::strcmp(table[i].name, name) == 0) return table[i].code;
  return -1;
}

int proto_packet_is_gw_packet(const s_data_cmd* r) { return r && (r->msgID >> 12) == 0x1 ? 1 : 0; }
int proto_packet_is_dli_packet(const s_data_cmd* r) { return r && (r->msgID >> 12) == 0x2 ? 1 : 0; }
int proto_packet_is_ali_packet(const s_data_cmd* r) { return r && (r->msgID >> 12) == 0x3 ? 1 : 0; }

// ---------------------------------------------------------------- header fields

#define RECV_ARGS PROTO_CONV_ARGS
#define TRANS_ARGS PROTO_CONV_ARGS

namespace {

bool args_present(s_proto_transiver_event* row, unsigned short* flags, unsigned char* src, unsigned char* dst,
                  unsigned char* payload, s_data_cmd* record) {
  return row && flags && src && dst && payload && record;
}

}  // namespace

int convert_recv_flags(RECV_ARGS) {
  (void)size;
  if (!args_present(row, flags, src, dst, payload, record)) return CONVERT_ERROR;
  record->stateMode = (*flags >> 8) & 0xF;
  record->stateProtocol = (*flags >> 12) & 0x7;
  record->stateMaster = (*flags >> 15) & 0x1;
  return CONVERT_OK;
}

int convert_trans_flags(TRANS_ARGS) {
  (void)size;
  if (!args_present(row, flags, src, dst, payload, record)) return CONVERT_ERROR;
  *flags = static_cast<unsigned short>((*flags & 0xFF) | ((record->stateMode & 0xF) << 8) |
                                       ((record->stateProtocol & 0x7) << 12) | ((record->stateMaster & 0x1) << 15));
  return CONVERT_OK;
}

int convert_recv_src_dst(RECV_ARGS) {
  (void)size;
  if (!args_present(row, flags, src, dst, payload, record)) return CONVERT_ERROR;
  record->srcAddr = *src & 0xF;
  record->srcChannel = (*src >> 4) & 0xF;
  unsigned char addr = *dst & 0xF;
  if (get_protocol_version(*flags) == 1) addr = addr <= 3 ? static_cast<unsigned char>(1u << addr) : 0;
  record->dstAddr = addr;
  record->dstChannel = (*dst >> 4) & 0xF;
  return CONVERT_OK;
}

int convert_trans_src_dst(TRANS_ARGS) {
  (void)size;
  if (!args_present(row, flags, src, dst, payload, record)) return CONVERT_ERROR;
  *src = static_cast<unsigned char>((record->srcAddr & 0xF) | ((record->srcChannel & 0xF) << 4));
  unsigned char addr = record->dstAddr & 0xF;
  if (record->stateProtocol == 1) {
    switch (record->dstAddr) {
      case PROTO_ADDR_RGW:
        addr = 1;
        break;
      case PROTO_ADDR_DLI:
        addr = 2;
        break;
      case PROTO_ADDR_ALI:
        addr = 3;
        break;
      default:
        addr = 0;
        break;
    }
  }
  *dst = static_cast<unsigned char>(addr | ((record->dstChannel & 0xF) << 4));
  return CONVERT_OK;
}

// ---------------------------------------------------------------- converters

namespace {

int recv_header(RECV_ARGS) {
  convert_recv_flags(row, flags, src, dst, payload, size, record);
  return convert_recv_src_dst(row, flags, src, dst, payload, size, record);
}

int trans_header(TRANS_ARGS) {
  *flags = 0;
  *src = 0;
  *dst = 0;
  convert_trans_flags(row, flags, src, dst, payload, size, record);
  return convert_trans_src_dst(row, flags, src, dst, payload, size, record);
}

int recv_one_byte(RECV_ARGS, uint8_t& out) {
  if (!args_present(row, flags, src, dst, payload, record)) return CONVERT_ERROR;
  recv_header(row, flags, src, dst, payload, size, record);
  if (size < 2) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  out = payload[0];
  return CONVERT_OK;
}

int trans_one_byte(TRANS_ARGS, uint8_t value) {
  if (!args_present(row, flags, src, dst, payload, record)) return CONVERT_ERROR;
  trans_header(row, flags, src, dst, payload, size, record);
  if (size < 2) return CONVERT_NOT_ENOUGHT_MEMORY;
  payload[0] = value;
  payload[1] = 0;
  return 2;
}

}  // namespace

// Header-only messages and the helpers that every converter starts with.
int proto_recv_header(RECV_ARGS) {
  return recv_header(row, flags, src, dst, payload, size, record);
}
int proto_trans_header(TRANS_ARGS) {
  return trans_header(row, flags, src, dst, payload, size, record);
}

int convert_recv_dummy(RECV_ARGS) {
  (void)size;
  if (!args_present(row, flags, src, dst, payload, record)) return CONVERT_ERROR;
  return recv_header(row, flags, src, dst, payload, size, record);
}

int convert_trans_dummy(TRANS_ARGS) {
  (void)size;
  if (!args_present(row, flags, src, dst, payload, record)) return CONVERT_ERROR;
  trans_header(row, flags, src, dst, payload, size, record);
  return 0;
}

int convert_recv_id(RECV_ARGS) {
  if (!record) return CONVERT_ERROR;
  return recv_one_byte(row, flags, src, dst, payload, size, record, record->payload.id.id);
}
int convert_trans_id(TRANS_ARGS) {
  if (!record) return CONVERT_ERROR;
  return trans_one_byte(row, flags, src, dst, payload, size, record, record->payload.id.id);
}
int convert_recv_number(RECV_ARGS) {
  if (!record) return CONVERT_ERROR;
  return recv_one_byte(row, flags, src, dst, payload, size, record, record->payload.number.number);
}
int convert_trans_number(TRANS_ARGS) {
  if (!record) return CONVERT_ERROR;
  return trans_one_byte(row, flags, src, dst, payload, size, record, record->payload.number.number);
}

int convert_recv_channel(RECV_ARGS) {
  if (!args_present(row, flags, src, dst, payload, record)) return CONVERT_ERROR;
  recv_header(row, flags, src, dst, payload, size, record);
  switch (record->stateMode) {
    case 1:
      record->payload.channel.channel = 0;
      return CONVERT_OK;
    case 2:
    case 3:
      if (size < 2) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
      record->payload.channel.channel = payload[0];
      return CONVERT_OK;
    default:
      return CONVERT_BAD_MODE;
  }
}

int convert_trans_channel(TRANS_ARGS) {
  if (!args_present(row, flags, src, dst, payload, record)) return CONVERT_ERROR;
  trans_header(row, flags, src, dst, payload, size, record);
  switch (record->stateMode) {
    case 1:
      return 0;
    case 2:
    case 3:
      if (size < 2) return CONVERT_NOT_ENOUGHT_MEMORY;
      payload[0] = record->payload.channel.channel;
      payload[1] = 0;
      return 2;
    default:
      return CONVERT_BAD_MODE;
  }
}

int convert_recv_select_channel(RECV_ARGS) {
  if (!args_present(row, flags, src, dst, payload, record)) return CONVERT_ERROR;
  recv_header(row, flags, src, dst, payload, size, record);
  if (record->stateMode > 3) return CONVERT_BAD_MODE;
  if (size < 2) return CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  record->payload.select_channel.channel = 0;
  record->payload.select_channel.select_interface = payload[0];
  record->payload.select_channel.select_channel = payload[1];
  return CONVERT_OK;
}

int convert_trans_select_channel(TRANS_ARGS) {
  if (!args_present(row, flags, src, dst, payload, record)) return CONVERT_ERROR;
  trans_header(row, flags, src, dst, payload, size, record);
  if (record->stateMode > 3) return CONVERT_BAD_MODE;
  if (size < 2) return CONVERT_NOT_ENOUGHT_MEMORY;
  payload[0] = record->payload.select_channel.select_interface;
  payload[1] = record->payload.select_channel.select_channel;
  return 2;
}

// ---------------------------------------------------------------- comparison and copies

int cmp_data_cmd(s_data_cmd* a, s_data_cmd* b) {
  if (!a || !b) return -1;
  static char dump_a[8192];
  static char dump_b[8192];
  int la = sprintf_data_cmd(dump_a, sizeof dump_a, a, 0);
  int lb = sprintf_data_cmd(dump_b, sizeof dump_b, b, 0);
  if (la != lb) return lb - la;
  int n = la < static_cast<int>(sizeof dump_a) ? la : static_cast<int>(sizeof dump_a) - 1;
  return std::strncmp(dump_a, dump_b, static_cast<size_t>(n));
}

namespace {

// Copies one payload member of s into d; nothing when either is missing.
template <class M>
int copy_member(s_data_cmd* d, const s_data_cmd* s, M u_proto_payload::*member) {
  if (d && s) d->payload.*member = s->payload.*member;
  return 0;
}

}  // namespace

int cpy_rac(s_data_cmd* d, const s_data_cmd* s) { return copy_member(d, s, &u_proto_payload::ra_config); }
int cpy_raka(s_data_cmd* d, const s_data_cmd* s) { return copy_member(d, s, &u_proto_payload::ra_keep_alive); }
int cpy_rdc(s_data_cmd* d, const s_data_cmd* s) { return copy_member(d, s, &u_proto_payload::rd_config); }
int cpy_rdka(s_data_cmd* d, const s_data_cmd* s) { return copy_member(d, s, &u_proto_payload::rd_keep_alive); }
int cpy_gac(s_data_cmd* d, const s_data_cmd* s) { return copy_member(d, s, &u_proto_payload::ga_config); }
int cpy_gaka(s_data_cmd* d, const s_data_cmd* s) { return copy_member(d, s, &u_proto_payload::ga_keep_alive); }
int cpy_gdc(s_data_cmd* d, const s_data_cmd* s) { return copy_member(d, s, &u_proto_payload::gd_config); }
int cpy_gdka(s_data_cmd* d, const s_data_cmd* s) { return copy_member(d, s, &u_proto_payload::gd_keep_alive); }
int cpy_gc(s_data_cmd* d, const s_data_cmd* s) { return copy_member(d, s, &u_proto_payload::ggs_command); }
int cpy_gs(s_data_cmd* d, const s_data_cmd* s) { return copy_member(d, s, &u_proto_payload::ggs_state); }
int cpy_channel(s_data_cmd* d, const s_data_cmd* s) { return copy_member(d, s, &u_proto_payload::channel); }
int cpy_id(s_data_cmd* d, const s_data_cmd* s) { return copy_member(d, s, &u_proto_payload::id); }
int cpy_bss(s_data_cmd* d, const s_data_cmd* s) { return copy_member(d, s, &u_proto_payload::rd_bss); }
int cpy_ggc(s_data_cmd* d, const s_data_cmd* s) { return copy_member(d, s, &u_proto_payload::gateway_config); }
int cpy_debug(s_data_cmd* d, const s_data_cmd* s) { return copy_member(d, s, &u_proto_payload::debug); }
int cpy_tstcfg(s_data_cmd* d, const s_data_cmd* s) { return copy_member(d, s, &u_proto_payload::test_config); }
int cpy_tstka(s_data_cmd* d, const s_data_cmd* s) { return copy_member(d, s, &u_proto_payload::tst_keep_alive); }

// ---------------------------------------------------------------- record history

int malloc_packet_history(packet_history* h, int count) {
  if (!h || count < 1) return count;
  std::free(h->entries);
  h->entries = static_cast<s_packet_history_entry*>(std::calloc(static_cast<size_t>(count), sizeof *h->entries));
  if (!h->entries) {
    h->capacity = 0;
    return 0;
  }
  h->capacity = count;
  return count;
}

int free_packet_history(packet_history* h) {
  if (!h) return 0;
  std::free(h->entries);
  h->entries = nullptr;
  h->capacity = 0;
  return 0;
}

int add_packet_history(packet_history* h, const s_data_cmd* record, const double* time) {
  if (!h || !record || !time || !h->entries || h->capacity < 1) return 0;
  int slot = (h->next < 0 || h->next >= h->capacity) ? 0 : h->next;
  h->entries[slot].record = *record;
  h->entries[slot].time = *time;
  h->next = (slot + 1) % h->capacity;
  return h->next;
}

int find_packet_history(packet_history* h, s_data_cmd* record, int depth) {
  if (!h || !record || !h->entries || h->capacity < 1) return -1;
  if (depth < 1 || depth > h->capacity) depth = h->capacity;
  int start = (h->next < 0 || h->next >= h->capacity) ? 0 : h->next;
  for (int i = 1; i <= depth; ++i) {
    int slot = ((start - i) % h->capacity + h->capacity) % h->capacity;
    if (cmp_data_cmd(&h->entries[slot].record, record) == 0) return slot;
  }
  return -1;
}

s_data_cmd* find_by_id_packet_history(packet_history* h, int id) {
  if (!h || !h->entries || h->capacity < 1) return nullptr;
  int start = (h->next < 0 || h->next >= h->capacity) ? 0 : h->next;
  for (int i = 1; i <= h->capacity; ++i) {
    int slot = ((start - i) % h->capacity + h->capacity) % h->capacity;
    if (h->entries[slot].record.msgID == id) return &h->entries[slot].record;
  }
  return nullptr;
}
