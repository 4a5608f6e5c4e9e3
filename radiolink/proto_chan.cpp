// Radio-link channel: raw line bytes <-> command records through the
// twelve event tables (protocol version x mode x direction).
#include <cstdlib>
#include <cstring>

#include "radiolink/proto_vork.h"

// One row per message id: its converter and the sequence number it expects
// (received) or sends next (sent).
#define ROW(id, fn) \
  { id, 1, 0, fn }

#define TABLE_SIZE(t) static_cast<int>(sizeof(t) / sizeof((t)[0]))

// ---------------------------------------------------------------- gateway

static s_proto_transiver_event v1_gateway_recv_table_event[] = {
    ROW(GW_REMOTE_KEEP_ALIVE, convert_recv_remote_keep_alive),
    ROW(DLI_SET_ID, convert_recv_id),
    ROW(DLI_KEEP_ALIVE, convert_recv_digital_keep_alive),
    ROW(DLI_GET_CONFIG, convert_recv_get_config),
    ROW(DLI_SET_CONFIG, convert_recv_digital_config),
    ROW(DLI_SET_NUMBER, convert_recv_number),
    ROW(DLI_RAD_BSS_QUAL, convert_recv_bss_quality),
    ROW(DLI_RAD_LINK_ERR, convert_recv_dummy),
    ROW(DLI_RAD_SELECT_CHANNEL, convert_recv_select_channel),
    ROW(DLI_DEBUG, convert_recv_debug_msg),
    ROW(DLI_TEST_KEEP_ALIVE, convert_recv_test_keep_alive),
    ROW(DLI_GGS_COMMAND, convert_recv_ggs_command),
    ROW(DLI_GGS_STATE, convert_recv_ggs_digital_state),
    ROW(DLI_DCON_COMMAND, convert_recv_dcon_digital_command),
    ROW(DLI_DCON_STATE, convert_recv_dcon_digital_state),
    ROW(DLI_SERVER_P1, convert_recv_p1_packet),
    ROW(DLI_HW_STATE, convert_recv_digital_hw_state),
    ROW(DLI_SET_INFO, convert_recv_digital_set_info),
    ROW(ALI_SET_ID, convert_recv_id),
    ROW(ALI_KEEP_ALIVE, convert_recv_analog_keep_alive),
    ROW(ALI_GET_CONFIG, convert_recv_get_config),
    ROW(ALI_SET_CONFIG, convert_recv_analog_config),
    ROW(ALI_RAD_RS485_STS, convert_recv_rs485_status),
    ROW(ALI_DEBUG, convert_recv_debug_msg),
    ROW(ALI_TEST_KEEP_ALIVE, convert_recv_test_keep_alive),
    ROW(ALI_GGS_COMMAND, convert_recv_ggs_command),
    ROW(ALI_GGS_STATE, convert_recv_ggs_state),
    ROW(ALI_HW_STATE, convert_recv_analog_hw_state),
    ROW(ALI_SERVER_P1, convert_recv_p1_packet),
};

static s_proto_transiver_event v2_gateway_recv_table_event[] = {
    ROW(GW_REMOTE_KEEP_ALIVE, convert_recv_remote_keep_alive),
    ROW(DLI_SET_ID, convert_recv_id),
    ROW(DLI_KEEP_ALIVE, convert_recv_v2_digital_keep_alive),
    ROW(DLI_GET_CONFIG, convert_recv_get_config),
    ROW(DLI_SET_CONFIG, convert_recv_v2_digital_config),
    ROW(DLI_SET_NUMBER, convert_recv_number),
    ROW(DLI_DEBUG, convert_recv_debug_msg),
    ROW(DLI_TEST_KEEP_ALIVE, convert_recv_test_keep_alive),
    ROW(DLI_GGS_COMMAND, convert_recv_ggs_command),
    ROW(DLI_GGS_STATE, convert_recv_ggs_digital_state),
    ROW(DLI_DCON_COMMAND, convert_recv_dcon_digital_command),
    ROW(DLI_DCON_STATE, convert_recv_dcon_digital_state),
    ROW(DLI_RAD_COMMAND, convert_recv_rad_digital_command),
    ROW(DLI_RAD_STATE, convert_recv_rad_digital_state),
    ROW(DLI_SERVER_P1, convert_recv_p1_packet),
    ROW(DLI_HW_STATE, convert_recv_digital_hw_state),
    ROW(DLI_SET_INFO, convert_recv_digital_set_info),
    ROW(ALI_SET_ID, convert_recv_id),
    ROW(ALI_KEEP_ALIVE, convert_recv_v2_analog_keep_alive),
    ROW(ALI_GET_CONFIG, convert_recv_get_config),
    ROW(ALI_SET_CONFIG, convert_recv_v2_analog_config),
    ROW(ALI_DEBUG, convert_recv_debug_msg),
    ROW(ALI_TEST_KEEP_ALIVE, convert_recv_test_keep_alive),
    ROW(ALI_GGS_COMMAND, convert_recv_ggs_command),
    ROW(ALI_GGS_STATE, convert_recv_ggs_state),
    ROW(ALI_RAD_COMMAND, convert_recv_rad_analog_command),
    ROW(ALI_RAD_STATE, convert_recv_rad_analog_state),
    ROW(ALI_HW_STATE, convert_recv_analog_hw_state),
    ROW(ALI_SERVER_P1, convert_recv_p1_packet),
};

static s_proto_transiver_event v1_gateway_trans_table_event[] = {
    ROW(GW_GET_ID, convert_trans_dummy),
    ROW(GW_KEEP_ALIVE, convert_trans_dummy),
    ROW(GW_SET_CONFIG, convert_trans_config),
    ROW(GW_GET_CONFIG, convert_trans_dummy),
    ROW(GW_GET_NUMBER, convert_trans_dummy),
    ROW(GW_REMOTE_KEEP_ALIVE, convert_trans_remote_keep_alive),
    ROW(GW_RAD_PTT_ON, convert_trans_radio_command),
    ROW(GW_RAD_PTT_OFF, convert_trans_dummy),
    ROW(GW_RAD_SH_ON, convert_trans_dummy),
    ROW(GW_RAD_SH_OFF, convert_trans_dummy),
    ROW(GW_RAD_BSS_ON, convert_trans_dummy),
    ROW(GW_RAD_BSS_OFF, convert_trans_dummy),
    ROW(GW_RAD_RS485_CMD, convert_trans_rs485_cmd),
    ROW(GW_RAD_RX_ON, convert_trans_dummy),
    ROW(GW_RAD_RX_OFF, convert_trans_dummy),
    ROW(GW_RAD_RST_ON, convert_trans_dummy),
    ROW(GW_RAD_RST_OFF, convert_trans_dummy),
    ROW(GW_RAD_AUX_ON, convert_trans_dummy),
    ROW(GW_RAD_AUX_OFF, convert_trans_dummy),
    ROW(GW_RAD_SELECT_CHANNEL, convert_trans_select_channel),
    ROW(GW_GGS_COMMAND, convert_trans_ggs_command),
    ROW(GW_GGS_STATE, convert_trans_ggs_state),
    ROW(GW_DCON_COMMAND, convert_trans_dcon_command),
    ROW(GW_DCON_STATE, convert_trans_dcon_state),
    ROW(GW_TEST, convert_trans_test_config),
    ROW(GW_CLIENT_P1, convert_trans_p1_packet),
    ROW(GW_SHOW_DEBUG, convert_trans_show_debug),
    ROW(GW_SET_DEBUG, convert_trans_set_debug),
    ROW(GW_GET_INFO, convert_trans_get_info),
    ROW(GW_SERVICE_CMD, convert_trans_service_command),
};

static s_proto_transiver_event v2_gateway_trans_table_event[] = {
    ROW(GW_GET_ID, convert_trans_dummy),
    ROW(GW_KEEP_ALIVE, convert_trans_v2_keep_alive),
    ROW(GW_SET_CONFIG, convert_trans_v2_config),
    ROW(GW_GET_CONFIG, convert_trans_dummy),
    ROW(GW_GET_NUMBER, convert_trans_dummy),
    ROW(GW_REMOTE_KEEP_ALIVE, convert_trans_remote_keep_alive),
    ROW(GW_GGS_COMMAND, convert_trans_ggs_command),
    ROW(GW_GGS_STATE, convert_trans_ggs_state),
    ROW(GW_DCON_COMMAND, convert_trans_dcon_command),
    ROW(GW_DCON_STATE, convert_trans_dcon_state),
    ROW(GW_RAD_COMMAND, convert_trans_rad_command),
    ROW(GW_RAD_STATE, convert_trans_rad_state),
    ROW(GW_TEST, convert_trans_test_config),
    ROW(GW_CLIENT_P1, convert_trans_p1_packet),
    ROW(GW_SHOW_DEBUG, convert_trans_show_debug),
    ROW(GW_SET_DEBUG, convert_trans_set_debug),
    ROW(GW_GET_INFO, convert_trans_get_info),
    ROW(GW_SERVICE_CMD, convert_trans_service_command),
};

// ---------------------------------------------------------------- analog interface

static s_proto_transiver_event v1_analog_recv_table_event[] = {
    ROW(GW_GET_ID, convert_recv_dummy),
    ROW(GW_KEEP_ALIVE, convert_recv_dummy),
    ROW(GW_SET_CONFIG, convert_recv_analog_config),
    ROW(GW_GET_CONFIG, convert_recv_dummy),
    ROW(GW_RAD_PTT_ON, convert_recv_radio_command),
    ROW(GW_RAD_PTT_OFF, convert_recv_dummy),
    ROW(GW_RAD_SH_ON, convert_recv_dummy),
    ROW(GW_RAD_SH_OFF, convert_recv_dummy),
    ROW(GW_RAD_RS485_CMD, convert_recv_rs485_cmd),
    ROW(GW_RAD_RST_ON, convert_recv_dummy),
    ROW(GW_RAD_RST_OFF, convert_recv_dummy),
    ROW(GW_RAD_AUX_ON, convert_recv_dummy),
    ROW(GW_RAD_AUX_OFF, convert_recv_dummy),
    ROW(GW_RAD_SELECT_CHANNEL, convert_recv_select_channel),
    ROW(GW_GGS_COMMAND, convert_recv_ggs_command),
    ROW(GW_GGS_STATE, convert_recv_ggs_state),
    ROW(GW_TEST, convert_recv_test_config),
    ROW(GW_CLIENT_P1, convert_recv_p1_packet),
};

static s_proto_transiver_event v2_analog_recv_table_event[] = {
    ROW(GW_GET_ID, convert_recv_dummy),
    ROW(GW_KEEP_ALIVE, convert_recv_v2_keep_alive),
    ROW(GW_SET_CONFIG, convert_recv_v2_analog_config),
    ROW(GW_GET_CONFIG, convert_recv_dummy),
    ROW(GW_GGS_COMMAND, convert_recv_ggs_command),
    ROW(GW_GGS_STATE, convert_recv_ggs_state),
    ROW(GW_RAD_COMMAND, convert_recv_rad_command),
    ROW(GW_RAD_STATE, convert_recv_rad_state),
    ROW(GW_TEST, convert_recv_test_config),
    ROW(GW_CLIENT_P1, convert_recv_p1_packet),
};

static s_proto_transiver_event v1_analog_trans_table_event[] = {
    ROW(ALI_SET_ID, convert_trans_id),
    ROW(ALI_KEEP_ALIVE, convert_trans_analog_keep_alive),
    ROW(ALI_GET_CONFIG, convert_trans_get_config),
    ROW(ALI_SET_CONFIG, convert_trans_analog_config),
    ROW(ALI_RAD_RS485_STS, convert_trans_rs485_status),
    ROW(ALI_DEBUG, convert_trans_debug_msg),
    ROW(ALI_TEST_KEEP_ALIVE, convert_trans_test_keep_alive),
    ROW(ALI_GGS_COMMAND, convert_trans_ggs_command),
    ROW(ALI_GGS_STATE, convert_trans_ggs_state),
    ROW(ALI_HW_STATE, convert_trans_analog_hw_state),
    ROW(ALI_SERVER_P1, convert_trans_p1_packet),
};

static s_proto_transiver_event v2_analog_trans_table_event[] = {
    ROW(ALI_SET_ID, convert_trans_id),
    ROW(ALI_KEEP_ALIVE, convert_trans_v2_analog_keep_alive),
    ROW(ALI_GET_CONFIG, convert_trans_get_config),
    ROW(ALI_SET_CONFIG, convert_trans_v2_analog_config),
    ROW(ALI_DEBUG, convert_trans_debug_msg),
    ROW(ALI_TEST_KEEP_ALIVE, convert_trans_test_keep_alive),
    ROW(ALI_GGS_COMMAND, convert_trans_ggs_command),
    ROW(ALI_GGS_STATE, convert_trans_ggs_state),
    ROW(ALI_RAD_COMMAND, convert_trans_rad_analog_command),
    ROW(ALI_RAD_STATE, convert_trans_rad_analog_state),
    ROW(ALI_HW_STATE, convert_trans_analog_hw_state),
    ROW(ALI_SERVER_P1, convert_trans_p1_packet),
};

// ---------------------------------------------------------------- digital interface

static s_proto_transiver_event v1_digital_recv_table_event[] = {
    ROW(GW_GET_ID, convert_recv_dummy),
    ROW(GW_KEEP_ALIVE, convert_recv_dummy),
    ROW(GW_SET_CONFIG, convert_recv_digital_config),
    ROW(GW_GET_CONFIG, convert_recv_dummy),
    ROW(GW_GET_NUMBER, convert_recv_dummy),
    ROW(GW_RAD_PTT_ON, convert_recv_radio_command),
    ROW(GW_RAD_PTT_OFF, convert_recv_dummy),
    ROW(GW_RAD_SH_ON, convert_recv_dummy),
    ROW(GW_RAD_SH_OFF, convert_recv_dummy),
    ROW(GW_RAD_BSS_ON, convert_recv_dummy),
    ROW(GW_RAD_BSS_OFF, convert_recv_dummy),
    ROW(GW_RAD_RX_ON, convert_recv_dummy),
    ROW(GW_RAD_RX_OFF, convert_recv_dummy),
    ROW(GW_RAD_SELECT_CHANNEL, convert_recv_select_channel),
    ROW(GW_GGS_COMMAND, convert_recv_ggs_command),
    ROW(GW_GGS_STATE, convert_recv_ggs_state),
    ROW(GW_DCON_COMMAND, convert_recv_dcon_command),
    ROW(GW_DCON_STATE, convert_recv_dcon_state),
    ROW(GW_TEST, convert_recv_test_config),
    ROW(GW_CLIENT_P1, convert_recv_p1_packet),
    ROW(GW_SHOW_DEBUG, convert_recv_show_debug),
    ROW(GW_SET_DEBUG, convert_recv_set_debug),
    ROW(GW_GET_INFO, convert_recv_get_info),
    ROW(GW_SERVICE_CMD, convert_recv_service_command),
};

static s_proto_transiver_event v2_digital_recv_table_event[] = {
    ROW(GW_GET_ID, convert_recv_dummy),
    ROW(GW_KEEP_ALIVE, convert_recv_v2_keep_alive),
    ROW(GW_SET_CONFIG, convert_recv_v2_digital_config),
    ROW(GW_GET_CONFIG, convert_recv_dummy),
    ROW(GW_GET_NUMBER, convert_recv_dummy),
    ROW(GW_GGS_COMMAND, convert_recv_ggs_command),
    ROW(GW_GGS_STATE, convert_recv_ggs_state),
    ROW(GW_DCON_COMMAND, convert_recv_dcon_command),
    ROW(GW_DCON_STATE, convert_recv_dcon_state),
    ROW(GW_RAD_COMMAND, convert_recv_rad_command),
    ROW(GW_RAD_STATE, convert_recv_rad_state),
    ROW(GW_TEST, convert_recv_test_config),
    ROW(GW_CLIENT_P1, convert_recv_p1_packet),
    ROW(GW_SHOW_DEBUG, convert_recv_show_debug),
    ROW(GW_SET_DEBUG, convert_recv_set_debug),
    ROW(GW_GET_INFO, convert_recv_get_info),
    ROW(GW_SERVICE_CMD, convert_recv_service_command),
};

static s_proto_transiver_event v1_digital_trans_table_event[] = {
    ROW(DLI_SET_ID, convert_trans_id),
    ROW(DLI_KEEP_ALIVE, convert_trans_digital_keep_alive),
    ROW(DLI_GET_CONFIG, convert_trans_get_config),
    ROW(DLI_SET_CONFIG, convert_trans_digital_config),
    ROW(DLI_SET_NUMBER, convert_trans_number),
    ROW(DLI_RAD_BSS_QUAL, convert_trans_bss_quality),
    ROW(DLI_RAD_LINK_ERR, convert_trans_dummy),
    ROW(DLI_RAD_SELECT_CHANNEL, convert_trans_select_channel),
    ROW(DLI_DEBUG, convert_trans_debug_msg),
    ROW(DLI_TEST_KEEP_ALIVE, convert_trans_test_keep_alive),
    ROW(DLI_GGS_COMMAND, convert_trans_ggs_command),
    ROW(DLI_GGS_STATE, convert_trans_ggs_digital_state),
    ROW(DLI_DCON_COMMAND, convert_trans_dcon_digital_command),
    ROW(DLI_DCON_STATE, convert_trans_dcon_digital_state),
    ROW(DLI_SERVER_P1, convert_trans_p1_packet),
    ROW(DLI_HW_STATE, convert_trans_digital_hw_state),
    ROW(DLI_SET_INFO, convert_trans_digital_set_info),
};

static s_proto_transiver_event v2_digital_trans_table_event[] = {
    ROW(DLI_SET_ID, convert_trans_id),
    ROW(DLI_KEEP_ALIVE, convert_trans_v2_digital_keep_alive),
    ROW(DLI_GET_CONFIG, convert_trans_get_config),
    ROW(DLI_SET_CONFIG, convert_trans_v2_digital_config),
    ROW(DLI_SET_NUMBER, convert_trans_number),
    ROW(DLI_DEBUG, convert_trans_debug_msg),
    ROW(DLI_TEST_KEEP_ALIVE, convert_trans_test_keep_alive),
    ROW(DLI_GGS_COMMAND, convert_trans_ggs_command),
    ROW(DLI_GGS_STATE, convert_trans_ggs_digital_state),
    ROW(DLI_DCON_COMMAND, convert_trans_dcon_digital_command),
    ROW(DLI_DCON_STATE, convert_trans_dcon_digital_state),
    ROW(DLI_RAD_COMMAND, convert_trans_rad_digital_command),
    ROW(DLI_RAD_STATE, convert_trans_rad_digital_state),
    ROW(DLI_SERVER_P1, convert_trans_p1_packet),
    ROW(DLI_HW_STATE, convert_trans_digital_hw_state),
    ROW(DLI_SET_INFO, convert_trans_digital_set_info),
};

namespace {

struct TableRef {
  s_proto_transiver_event* rows;
  int count;
};

#define REF(t) \
  TableRef { t, TABLE_SIZE(t) }

TableRef recv_table(int mode, int version) {
  if (version != 0 && version != 1) return TableRef{nullptr, 0};
  switch (mode) {
    case PROTO_MODE_ANALOG:
      return version == 0 ? REF(v1_analog_recv_table_event) : REF(v2_analog_recv_table_event);
    case PROTO_MODE_DIGITAL:
      return version == 0 ? REF(v1_digital_recv_table_event) : REF(v2_digital_recv_table_event);
    default:
      return version == 0 ? REF(v1_gateway_recv_table_event) : REF(v2_gateway_recv_table_event);
  }
}

TableRef trans_table(int mode, int version) {
  if (version != 0 && version != 1) return TableRef{nullptr, 0};
  switch (mode) {
    case PROTO_MODE_ANALOG:
      return version == 0 ? REF(v1_analog_trans_table_event) : REF(v2_analog_trans_table_event);
    case PROTO_MODE_DIGITAL:
      return version == 0 ? REF(v1_digital_trans_table_event) : REF(v2_digital_trans_table_event);
    default:
      return version == 0 ? REF(v1_gateway_trans_table_event) : REF(v2_gateway_trans_table_event);
  }
}

s_proto_transiver_event* find_row(TableRef t, int id) {
  for (int i = 0; i < t.count; ++i) {
    s_proto_transiver_event* r = &t.rows[i];
    if (id >= r->first_id && id < r->first_id + r->id_count) return r;
  }
  return nullptr;
}

int accepted_mask(int mode) {
  switch (mode) {
    case PROTO_MODE_ANALOG:
      return PROTO_ADDR_ALI;
    case PROTO_MODE_DIGITAL:
      return PROTO_ADDR_DLI;
    default:
      return PROTO_ADDR_LGW | PROTO_ADDR_RGW;
  }
}

uint16_t get16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t get32(const unsigned char* p) { return get16(p) | (static_cast<uint32_t>(get16(p + 2)) << 16); }
void put16(unsigned char* p, unsigned v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
void put32(unsigned char* p, uint32_t v) {
  put16(p, v & 0xFFFF);
  put16(p + 2, v >> 16);
}

bool queue_open(s_proto_queue& q) {
  q.records = static_cast<s_data_cmd*>(std::calloc(PROTO_QUEUE_SIZE, sizeof(s_data_cmd)));
  q.capacity = q.records ? PROTO_QUEUE_SIZE : 0;
  q.count = 0;
  return q.records != nullptr;
}
void queue_close(s_proto_queue& q) {
  std::free(q.records);
  q.records = nullptr;
  q.capacity = 0;
  q.count = 0;
}
bool queue_push(s_proto_queue& q, const s_data_cmd& r) {
  if (!q.records || q.count >= q.capacity) return false;
  q.records[q.count++] = r;
  return true;
}
void queue_drop_head(s_proto_queue& q, int n) {
  if (n <= 0) return;
  if (n >= q.count) {
    q.count = 0;
    return;
  }
  std::memmove(q.records, q.records + n, sizeof(s_data_cmd) * static_cast<size_t>(q.count - n));
  q.count -= n;
}
int queue_take(s_proto_queue& q, s_data_cmd* out, int max_count) {
  if (!q.records || !out || max_count < 1) return max_count;
  int n = q.count < max_count ? q.count : max_count;
  if (n > 0) std::memcpy(out, q.records, sizeof(s_data_cmd) * static_cast<size_t>(n));
  queue_drop_head(q, n);
  return n;
}

bool raw_open(s_proto_raw& r) {
  r.buffer = static_cast<unsigned char*>(std::malloc(PROTO_RAW_SIZE));
  r.size = r.buffer ? PROTO_RAW_SIZE : 0;
  r.count = 0;
  return r.buffer != nullptr;
}
void raw_close(s_proto_raw& r) {
  std::free(r.buffer);
  r.buffer = nullptr;
  r.size = 0;
  r.count = 0;
}
void raw_drop_head(s_proto_raw& r, int n) {
  if (n <= 0) return;
  if (n >= r.count) {
    r.count = 0;
    return;
  }
  std::memmove(r.buffer, r.buffer + n, static_cast<size_t>(r.count - n));
  r.count -= n;
}
int raw_append(s_proto_raw& r, const unsigned char* data, int count) {
  int room = r.size - r.count;
  int n = count < room ? count : room;
  if (n > 0) {
    std::memcpy(r.buffer + r.count, data, static_cast<size_t>(n));
    r.count += n;
  }
  return n > 0 ? n : 0;
}

// Position of the first frame marker in the buffer, or -1.
int find_marker(const unsigned char* buf, int count) {
  for (int i = 0; i + sizeStart <= count; ++i)
    if (std::memcmp(buf + i, msgStart, sizeStart) == 0) return i;
  return -1;
}

}  // namespace

// ---------------------------------------------------------------- scratch buffer

int init_safe_packets(s_proto_ctrl* chan) {
  if (!chan) return CONVERT_ERROR;
  if (!chan->safe_packets.initialised) {
    chan->safe_packets.initialised = 1;
    chan->safe_packets.size = 0;
    chan->safe_packets.buffer = nullptr;
  }
  return 0;
}

unsigned char* get_safe_packets(s_proto_ctrl* chan) {
  if (!chan) return nullptr;
  if (chan->safe_packets.size == 0) {
    std::free(chan->safe_packets.buffer);
    chan->safe_packets.buffer = static_cast<unsigned char*>(std::malloc(PROTO_SAFE_STEP));
    chan->safe_packets.size = chan->safe_packets.buffer ? PROTO_SAFE_STEP : 0;
  }
  return chan->safe_packets.buffer;
}

int resize_safe_packets(s_proto_ctrl* chan) {
  if (!chan) return CONVERT_ERROR;
  int want = chan->safe_packets.buffer ? chan->safe_packets.size + PROTO_SAFE_STEP : PROTO_SAFE_STEP;
  void* p = std::realloc(chan->safe_packets.buffer, static_cast<size_t>(want));
  if (!p) return CONVERT_NOT_ENOUGHT_MEMORY;
  chan->safe_packets.buffer = static_cast<unsigned char*>(p);
  chan->safe_packets.size = want;
  return 0;
}

int close_safe_packets(s_proto_ctrl* chan) {
  if (!chan) return CONVERT_ERROR;
  std::free(chan->safe_packets.buffer);
  chan->safe_packets.buffer = nullptr;
  chan->safe_packets.size = 0;
  return 0;
}

// ---------------------------------------------------------------- open and close

int proto_chan_open(s_proto_ctrl* chan, int seq_mode) {
  if (!chan) return CONVERT_ERROR;
  std::memset(chan, 0, sizeof *chan);
  chan->mode = PROTO_MODE_GATEWAY;
  chan->no_seq_check = seq_mode > 0 ? 1 : 0;
  raw_open(chan->raw_in);
  raw_open(chan->raw_out);
  queue_open(chan->recv_queue);
  queue_open(chan->send_queue);
  queue_open(chan->written_queue);
  init_safe_packets(chan);
  get_safe_packets(chan);
  return 0;
}

int proto_chan_close(s_proto_ctrl* chan) {
  if (!chan) return 0;
  raw_close(chan->raw_in);
  raw_close(chan->raw_out);
  queue_close(chan->recv_queue);
  queue_close(chan->send_queue);
  queue_close(chan->written_queue);
  close_safe_packets(chan);
  chan->synced = 0;
  return 0;
}

// ---------------------------------------------------------------- receiving

int convert_event_recv(s_proto_ctrl* chan, s_protov2_header* header, unsigned char* payload, s_data_cmd* record) {
  if (!chan || !header || !payload || !record) return CONVERT_ERROR;
  int version = get_protocol_version(header->flags);
  s_proto_transiver_event* row = find_row(recv_table(chan->mode, version), header->id);
  if (!row) {
    record->cmdStatus = CONVERT_BAD_ID;
    return record->cmdStatus;
  }
  if (!chan->no_seq_check && row->seq != header->seq) {
    record->cmdStatus = CONVERT_BAD_SEQNUM;
    row->seq = header->seq + 1;
    return record->cmdStatus;
  }
  unsigned short flags = header->flags;
  unsigned char src = header->src;
  unsigned char dst = header->dst;
  record->cmdStatus = 0;
  record->cmdStatus = row->convert(row, &flags, &src, &dst, payload, 2 * header->length, record);
  if (record->dstAddr & accepted_mask(chan->mode)) {
    record->msgID = header->id;
    record->msgSeqNum = header->seq;
    record->msgLength = header->length;
    row->seq = header->seq + 1;
  } else {
    record->cmdStatus = CONVERT_BAD_ADDR;
  }
  return record->cmdStatus;
}

namespace {

// One parse attempt at the head of raw_in. The result is the status handed
// to the caller (-198 when the received queue was full); `parsed` gets the
// status of the frame itself, which is what the record carries.
int parse_frame(s_proto_ctrl* chan, int& parsed) {
  s_proto_raw& in = chan->raw_in;
  s_data_cmd record;
  std::memset(&record, 0, sizeof record);
  record.cmdStatus = CONVERT_ERROR;

  if (in.count < sizeStart || std::memcmp(in.buffer, msgStart, sizeStart) != 0) {
    record.cmdStatus = CONVERT_BAD_START;
  } else if (in.count < 6) {
    record.cmdStatus = CONVERT_NOT_ENOUGHT_RAW_DATA;
  } else {
    int length = get16(in.buffer + 4);
    int frame = PROTO_FRAME_OVERHEAD + 2 * length;
    if (length > PROTO_MAX_LENGTH) {
      record.cmdStatus = CONVERT_BAD_LENGHT;
    } else if (in.count < frame) {
      record.cmdStatus = CONVERT_NOT_ENOUGHT_RAW_DATA;
    } else {
      unsigned short crc = get16(in.buffer + frame - 2);
      if (crc != calc_crc16(in.buffer, frame - 2)) {
        record.cmdStatus = CONVERT_BAD_CRC;
      } else {
        s_protov2_header h;
        h.length = static_cast<uint16_t>(length);
        h.seq = get32(in.buffer + 6);
        h.id = get16(in.buffer + 10);
        h.flags = get16(in.buffer + 12);
        h.src = in.buffer[14];
        h.dst = in.buffer[15];
        // The payload is copied out so that a converter reading past the
        // length it was given cannot reach the next frame's bytes.
        unsigned char payload[2 * PROTO_MAX_LENGTH + 2];
        std::memcpy(payload, in.buffer + PROTO_FRAME_HEADER, static_cast<size_t>(2 * length));
        convert_event_recv(chan, &h, payload, &record);
        raw_drop_head(in, frame);
      }
    }
  }

  parsed = record.cmdStatus;
  if (!queue_push(chan->recv_queue, record)) {
    // Full: the oldest record makes room for the newest.
    queue_drop_head(chan->recv_queue, 1);
    queue_push(chan->recv_queue, record);
    return CONVERT_QUEUE_FULL;
  }
  return parsed;
}

}  // namespace

int proto_chan_input2output(s_proto_ctrl* chan) {
  if (!chan || !chan->raw_in.buffer || !chan->recv_queue.records) return CONVERT_ERROR;
  int parsed;
  return parse_frame(chan, parsed);
}

int proto_chan_write_input(s_proto_ctrl* chan, const unsigned char* data, int count) {
  if (!chan || !chan->raw_in.buffer || !chan->recv_queue.records || !data || count < 1) return 0;
  s_proto_raw& in = chan->raw_in;
  int done = raw_append(in, data, count);
  bool stop = false;
  while (!stop && (in.count > sizeStart || done < count)) {
    if (done < count) done += raw_append(in, data + done, count - done);
    if (in.count <= sizeStart) break;
    if (chan->synced) {
      int before = in.count;
      int parsed;
      int status = parse_frame(chan, parsed);
      bool consumed = in.count < before;
      // A full received queue has already given up its oldest record for
      // this one; the buffered bytes are handled as the frame itself says,
      // so a frame still arriving or the one behind a damaged one is kept.
      if (status == CONVERT_QUEUE_FULL) status = parsed;
      if (status == CONVERT_NOT_ENOUGHT_RAW_DATA) {
        // Wait for the rest of the frame, still synced. A frame is far
        // smaller than the buffer, so nothing of the data is left waiting.
        stop = true;
        continue;
      }
      chan->synced = 0;
      if (consumed) continue;  // a checked frame was taken: the next one starts here
      if (status == CONVERT_BAD_CRC || status == CONVERT_BAD_START || status == CONVERT_BAD_LENGHT ||
          status == CONVERT_NOT_ENOUGHT_PAYLOAD_DATA) {
        raw_drop_head(in, 1);
      } else {
        in.count = 0;
      }
    } else {
      int pos = find_marker(in.buffer, in.count);
      if (pos >= 0) {
        raw_drop_head(in, pos);
        chan->synced = 1;
      } else {
        raw_drop_head(in, in.count - (sizeStart - 1));
        if (done >= count) break;
      }
    }
  }
  return 0;
}

int proto_chan_read_output(s_proto_ctrl* chan, s_data_cmd* records, int max_count) {
  if (!chan || !chan->recv_queue.records || !records || max_count < 1) return max_count;
  return queue_take(chan->recv_queue, records, max_count);
}

// ---------------------------------------------------------------- sending

s_proto_transiver_event* find_event_trans(s_proto_ctrl* chan, int id, int version) {
  if (!chan) return nullptr;
  return find_row(trans_table(chan->mode, version), id);
}

int convert_event_trans(s_proto_ctrl* chan, s_proto_transiver_event* row, s_data_cmd* record) {
  if (!chan || !record) return CONVERT_ERROR;
  int result;
  int payload_size = 0;  // the converter's size, even when the frame is refused
  uint32_t seq_used = 0;
  if (!row || !row->convert) {
    result = CONVERT_BAD_ID;
  } else {
    unsigned char* buf = get_safe_packets(chan);
    if (buf && chan->safe_packets.size < PROTO_FRAME_OVERHEAD) {
      resize_safe_packets(chan);
      buf = chan->safe_packets.buffer;
    }
    if (!buf) {
      result = CONVERT_NOT_ENOUGHT_MEMORY;
    } else {
      unsigned short flags = 0;
      unsigned char src = 0, dst = 0;
      result = row->convert(row, &flags, &src, &dst, buf, chan->safe_packets.size & ~1, record);
      if (result == CONVERT_NOT_ENOUGHT_MEMORY && resize_safe_packets(chan) == 0) {
        buf = chan->safe_packets.buffer;
        flags = 0;
        src = dst = 0;
        result = row->convert(row, &flags, &src, &dst, buf, chan->safe_packets.size & ~1, record);
      }
      if (result >= 0) {
        if (result & 1) buf[result++] = 0;  // keep the payload a whole number of words
        payload_size = result;
        int frame = result + PROTO_FRAME_OVERHEAD;
        if (result / 2 > 0xFFFF || chan->raw_out.size - chan->raw_out.count < frame) {
          result = CONVERT_QUEUE_FULL;
        } else {
          while (chan->safe_packets.size < frame && resize_safe_packets(chan) == 0) {
          }
          buf = chan->safe_packets.buffer;
          if (chan->safe_packets.size < frame) {
            result = CONVERT_NOT_ENOUGHT_MEMORY;
          } else {
            std::memmove(buf + PROTO_FRAME_HEADER, buf, static_cast<size_t>(result));
            seq_used = row->seq++;
            std::memcpy(buf, msgStart, sizeStart);
            put16(buf + 4, static_cast<unsigned>(result / 2));
            put32(buf + 6, seq_used);
            put16(buf + 10, record->msgID);
            put16(buf + 12, flags);
            buf[14] = src;
            buf[15] = dst;
            put16(buf + PROTO_FRAME_HEADER + result, calc_crc16(buf, PROTO_FRAME_HEADER + result));
            std::memcpy(chan->raw_out.buffer + chan->raw_out.count, buf, static_cast<size_t>(frame));
            chan->raw_out.count += frame;
          }
        }
      }
    }
  }
  record->msgSeqNum = result >= 0 ? seq_used : 0;
  record->msgLength = static_cast<uint32_t>(payload_size / 2);
  return result;
}

int proto_chan_output2input(s_proto_ctrl* chan) {
  if (!chan || !chan->raw_out.buffer || !chan->send_queue.records || !chan->written_queue.records) return -1;
  if (chan->send_queue.count == 0) return -1;
  s_data_cmd record = chan->send_queue.records[0];
  s_proto_transiver_event* row = find_event_trans(chan, record.msgID, record.stateProtocol);
  int r = convert_event_trans(chan, row, &record);
  int status = r < 0 ? r : 0;
  record.cmdStatus = status;
  queue_push(chan->written_queue, record);
  queue_drop_head(chan->send_queue, 1);
  return status;
}

int proto_chan_write_output(s_proto_ctrl* chan, const s_data_cmd* records, int count) {
  if (!chan || !chan->send_queue.records || !records || count < 1) return count;
  chan->written_queue.count = 0;
  int n = 0;
  while (n < count && queue_push(chan->send_queue, records[n])) ++n;
  return n;
}

int proto_chan_read_input(s_proto_ctrl* chan, unsigned char* buffer, int size) {
  if (!chan || !chan->raw_out.buffer || !buffer || size < 1) return size;
  for (int i = 0; i < 65; ++i)
    if (proto_chan_output2input(chan) != 0) break;
  s_proto_raw& out = chan->raw_out;
  int n = out.count > size ? size : out.count;
  std::memcpy(buffer, out.buffer, static_cast<size_t>(n));
  raw_drop_head(out, n);
  return n;
}

int proto_chan_read_written_output(s_proto_ctrl* chan, s_data_cmd* records, int max_count) {
  if (!chan || !chan->written_queue.records || !records || max_count < 1) return max_count;
  return queue_take(chan->written_queue, records, max_count);
}
