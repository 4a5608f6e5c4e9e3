#include "radio/proto_zl7.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "radio/text_printer.h"

using radio_text::Printer;

const s_proto_zl7_table_name proto_zl7_status_const_name[] = {
    {PROTO_ZL7_CONVERT_OK, "PROTO_ZL7_CONVERT_OK"},
    {PROTO_ZL7_CONVERT_ERROR, "PROTO_ZL7_CONVERT_ERROR"},
    {PROTO_ZL7_CONVERT_UNKNOWN_ERROR, "PROTO_ZL7_CONVERT_UNKNOWN_ERROR"},
    {PROTO_ZL7_CONVERT_BAD_START, "PROTO_ZL7_CONVERT_BAD_START"},
    {PROTO_ZL7_CONVERT_BAD_ID, "PROTO_ZL7_CONVERT_BAD_ID"},
    {PROTO_ZL7_CONVERT_BAD_LENGHT, "PROTO_ZL7_CONVERT_BAD_LENGHT"},
    {PROTO_ZL7_CONVERT_BAD_CRC, "PROTO_ZL7_CONVERT_BAD_CRC"},
    {PROTO_ZL7_CONVERT_BAD_ADDR, "PROTO_ZL7_CONVERT_BAD_ADDR"},
    {PROTO_ZL7_CONVERT_BAD_MODE, "PROTO_ZL7_CONVERT_BAD_MODE"},
    {PROTO_ZL7_CONVERT_QUEUE_FULL, "PROTO_ZL7_CONVERT_QUEUE_FULL"},
    {PROTO_ZL7_CONVERT_NOT_ENOUGHT_MEMORY, "PROTO_ZL7_CONVERT_NOT_ENOUGHT_MEMORY"},
    {PROTO_ZL7_CONVERT_NOT_ENOUGHT_PAYLOAD_DATA, "PROTO_ZL7_CONVERT_NOT_ENOUGHT_PAYLOAD_DATA"},
    {PROTO_ZL7_CONVERT_BAD_PARAM, "PROTO_ZL7_CONVERT_BAD_PARAM"},
    {PROTO_ZL7_CONVERT_NOT_ENOUGHT_RAW_DATA, "PROTO_ZL7_CONVERT_NOT_ENOUGHT_RAW_DATA"},
    {0, nullptr},
};

const s_proto_zl7_table_name proto_zl7_packet_const_name[] = {
    {CTL_GET_REGS, "CTL_GET_REGS"},         {CTL_CALL_SUB, "CTL_CALL_SUB"},
    {CTL_SET_REGS, "CTL_SET_REGS"},         {CTL_GET_ID, "CTL_GET_ID"},
    {CTL_SET_CONFIG, "CTL_SET_CONFIG"},     {RST_GET_REGS, "RST_GET_REGS"},
    {RST_CALL_SUB, "RST_CALL_SUB"},         {RST_SET_REGS, "RST_SET_REGS"},
    {RST_GET_ID, "RST_GET_ID"},             {RST_ERR_GET_REGS, "RST_ERR_GET_REGS"},
    {RST_ERR_CALL_SUB, "RST_ERR_CALL_SUB"}, {RST_ERR_SET_REGS, "RST_ERR_SET_REGS"},
    {RST_ERR_GET_ID, "RST_ERR_GET_ID"},     {RST_ERR_SET_CONFIG, "RST_ERR_SET_CONFIG"},
    {0, nullptr},
};

const s_proto_zl7_table_name proto_zl7_mode_const_name[] = {
    {PROTO_MODE_ZL7_CONTROLER, "PROTO_MODE_ZL7_CONTROLER"},
    {PROTO_MODE_ZL7_RADIO_STATION, "PROTO_MODE_ZL7_RADIO_STATION"},
    {0, nullptr},
};

const s_proto_zl7_table_name proto_zl7_error[] = {
    {0, "ok"}, {2, "address access error"}, {3, "write error"}, {6, "busy error"},
    {9, "mode error"}, {0, nullptr},
};

const char* proto_zl7_find_name_by_id(const s_proto_zl7_table_name* table, int id) {
  if (!table) return nullptr;
  for (int i = 0; i < 128 && table[i].name; ++i)
    if (table[i].id == id) return table[i].name;
  return nullptr;
}

int proto_zl7_find_id_by_name(const s_proto_zl7_table_name* table, const char* text) {
  if (!table || !text) return -1;
  for (int i = 0; i < 128 && table[i].name; ++i)
    if (std::strcmp(table[i].name, text) == 0) return table[i].id;
  return -1;
}

int calc_crc16(int init, const void* data, int length) {
  if (!data) return 0;
  unsigned crc = static_cast<unsigned>(init) & 0xFFFF;
  const unsigned char* p = static_cast<const unsigned char*>(data);
  for (int i = 0; i < length; ++i) {
    crc ^= p[i];
    for (int b = 0; b < 8; ++b) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return static_cast<int>(crc);
}

namespace {

std::uint16_t get16(const unsigned char* p) { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }

void put16(unsigned char* p, unsigned v) {
  p[0] = static_cast<unsigned char>(v >> 8);
  p[1] = static_cast<unsigned char>(v);
}

// True when the two bytes after dlen data bytes carry the frame's CRC.
bool crc_ok(unsigned char address, unsigned char function, const unsigned char* data, int dlen) {
  const unsigned char head[2] = {address, function};
  int crc = calc_crc16(0xFFFF, head, 2);
  crc = calc_crc16(crc, data, dlen);
  return data[dlen] == (crc & 0xFF) && data[dlen + 1] == ((crc >> 8) & 0xFF);
}

// Registers as bytes: bytes_count bytes, big-endian words, at most 32 words;
// bytes beyond the 32 words go out as zeros.
void put_regs(unsigned char* out, int bytes_count, const std::uint16_t* regs) {
  for (int i = 0; i < bytes_count; ++i) {
    const int w = i / 2;
    unsigned v = w < ZL7_MAX_REGS ? regs[w] : 0;
    out[i] = static_cast<unsigned char>((i & 1) ? v : v >> 8);
  }
}

// Registers from bytes_count bytes: (bytes_count + 1) / 2 words, at most 32;
// an odd last byte is the high half of its word.
void get_regs(const unsigned char* in, int bytes_count, std::uint16_t* regs) {
  int words = (bytes_count + 1) / 2;
  if (words > ZL7_MAX_REGS) words = ZL7_MAX_REGS;
  for (int w = 0; w < words; ++w) {
    unsigned hi = in[2 * w];
    unsigned lo = 2 * w + 1 < bytes_count ? in[2 * w + 1] : 0;
    regs[w] = static_cast<std::uint16_t>((hi << 8) | lo);
  }
}

// Fixed-layout receive: requires min bytes (data + CRC), then checks the CRC.
int recv_fixed(unsigned char address, unsigned char function, const unsigned char* data,
               int length, int dlen) {
  if (length < dlen + 2) return PROTO_ZL7_CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  if (!crc_ok(address, function, data, dlen)) return PROTO_ZL7_CONVERT_BAD_CRC;
  return dlen + 2;
}

// Result of a parse attempt that saw too few bytes to finish the frame: wait
// for more input without queueing a record.
constexpr int kIncomplete = 1;

void drop_front(unsigned char* buf, int& count, int n) {
  if (n >= count) {
    count = 0;
    return;
  }
  std::memmove(buf, buf + n, static_cast<size_t>(count - n));
  count -= n;
}

void queue_received(s_proto_zl7_ctrl* c, const s_zl7_cmd& cmd) {
  // A full queue gives up its oldest record so that the newest is kept.
  if (c->recv_count >= c->recv_capacity) {
    std::memmove(c->recv_queue, c->recv_queue + 1,
                 sizeof(s_zl7_cmd) * static_cast<size_t>(c->recv_capacity - 1));
    --c->recv_count;
  }
  c->recv_queue[c->recv_count++] = cmd;
}

// One parse attempt on the held bytes (which are synchronised).
int parse_one(s_proto_zl7_ctrl* c) {
  s_zl7_cmd cmd;
  std::memset(&cmd, 0, sizeof cmd);
  cmd.status = PROTO_ZL7_CONVERT_ERROR;
  const int held = c->in_raw_count;
  int outcome;
  if (c->in_raw[0] != c->marker[0]) {
    outcome = PROTO_ZL7_CONVERT_BAD_START;
  } else if (held > ZL7_MAX_FRAME) {
    outcome = PROTO_ZL7_CONVERT_BAD_LENGHT;
  } else if (held < 4) {
    outcome = PROTO_ZL7_CONVERT_NOT_ENOUGHT_RAW_DATA;
  } else {
    s_proto_zl7_header h;
    h.address = c->in_raw[0];
    h.function = c->in_raw[1];
    h.length = static_cast<std::uint16_t>(held - 2);
    cmd.address = h.address;
    cmd.function = h.function;
    const int k = convert_event_recv(c, &h, c->in_raw + 2, &cmd);
    // A frame not yet complete (its data or CRC bytes still on the way) is
    // parsed again once more bytes arrive.
    if (k == 0 || k == PROTO_ZL7_CONVERT_NOT_ENOUGHT_PAYLOAD_DATA) return kIncomplete;
    outcome = k < 0 ? k : 0;
    if (k > 0) drop_front(c->in_raw, c->in_raw_count, 2 + k);
  }
  cmd.status = outcome;
  queue_received(c, cmd);
  return outcome;
}

const s_proto_zl7_transiver_event* recv_table(const s_proto_zl7_ctrl* c, int& rows) {
  if (c->mode == PROTO_MODE_ZL7_CONTROLER) {
    rows = 9;
    return controler_recv_table_event;
  }
  if (c->mode == PROTO_MODE_ZL7_RADIO_STATION) {
    rows = 5;
    return radio_recv_table_event;
  }
  rows = 0;
  return nullptr;
}

bool chan_ready(const s_proto_zl7_ctrl* c) {
  return c && c->in_raw && c->out_raw && c->recv_queue && c->out_queue && c->written_queue &&
         c->scratch;
}

}  // namespace

// ---- receive converters ------------------------------------------------

#define ZL7_CONV(name)                                                                  \
  int name(const s_proto_zl7_transiver_event* row, unsigned char address,               \
           unsigned char function, unsigned char* data, int length, s_zl7_cmd* cmd)

ZL7_CONV(convert_recv_rst_get_regs) {
  if (!row || !data || !cmd) return PROTO_ZL7_CONVERT_ERROR;
  if (length < 3) return PROTO_ZL7_CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  const int bc = data[0];
  if (length < bc + 1) return PROTO_ZL7_CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  if (length < bc + 3) return 0;
  cmd->body.rst_get_regs.bytes_count = static_cast<std::uint8_t>(bc);
  get_regs(data + 1, bc, cmd->body.rst_get_regs.regs);
  if (!crc_ok(address, function, data, bc + 1)) return PROTO_ZL7_CONVERT_BAD_CRC;
  return bc + 3;
}

static int recv_sub_func(const s_proto_zl7_transiver_event* row, unsigned char address,
                         unsigned char function, unsigned char* data, int length,
                         s_zl7_cmd* cmd) {
  if (!row || !data || !cmd) return PROTO_ZL7_CONVERT_ERROR;
  if (length < 6) return PROTO_ZL7_CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  cmd->body.ctl_call_sub.sub_func = get16(data);
  return recv_fixed(address, function, data, length, 4);
}

static int recv_two_words(const s_proto_zl7_transiver_event* row, unsigned char address,
                          unsigned char function, unsigned char* data, int length,
                          std::uint16_t& first, std::uint16_t& second, s_zl7_cmd* cmd) {
  if (!row || !data || !cmd) return PROTO_ZL7_CONVERT_ERROR;
  if (length < 6) return PROTO_ZL7_CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  first = get16(data);
  second = get16(data + 2);
  return recv_fixed(address, function, data, length, 4);
}

ZL7_CONV(convert_recv_rst_call_sub) { return recv_sub_func(row, address, function, data, length, cmd); }

ZL7_CONV(convert_recv_rst_set_regs) {
  if (!cmd) return PROTO_ZL7_CONVERT_ERROR;
  return recv_two_words(row, address, function, data, length, cmd->body.rst_set_regs.reg_addr,
                        cmd->body.rst_set_regs.regs_count, cmd);
}

ZL7_CONV(convert_recv_rst_get_id) {
  if (!row || !data || !cmd) return PROTO_ZL7_CONVERT_ERROR;
  if (length < 7) return PROTO_ZL7_CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  auto& id = cmd->body.rst_id;
  id.id = data[1];
  id.poweron = data[2];
  id.flag_tx = (data[3] >> 7) & 1;
  id.flag_rx = (data[3] >> 6) & 1;
  id.flag_ak = (data[3] >> 1) & 1;
  id.flag_p = data[3] & 1;
  id.version_major = data[4] >> 6;
  id.version_minor = data[4] & 0x3F;
  return recv_fixed(address, function, data, length, 5);
}

ZL7_CONV(convert_recv_rst_error) {
  if (!row || !data || !cmd) return PROTO_ZL7_CONVERT_ERROR;
  if (length < 3) return PROTO_ZL7_CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  cmd->body.rst_error.error = data[0];
  return recv_fixed(address, function, data, length, 1);
}

ZL7_CONV(convert_recv_ctl_get_regs) {
  if (!cmd) return PROTO_ZL7_CONVERT_ERROR;
  return recv_two_words(row, address, function, data, length, cmd->body.ctl_get_regs.reg_addr,
                        cmd->body.ctl_get_regs.regs_count, cmd);
}

ZL7_CONV(convert_recv_ctl_call_sub) { return recv_sub_func(row, address, function, data, length, cmd); }

ZL7_CONV(convert_recv_ctl_set_regs) {
  if (!row || !data || !cmd) return PROTO_ZL7_CONVERT_ERROR;
  if (length < 7) return PROTO_ZL7_CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  const int bc = data[4];
  if (length < bc + 5) return PROTO_ZL7_CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  if (length < bc + 7) return 0;
  auto& s = cmd->body.ctl_set_regs;
  s.reg_addr = get16(data);
  s.regs_count = get16(data + 2);
  s.bytes_count = static_cast<std::uint8_t>(bc);
  get_regs(data + 5, bc, s.regs);
  if (!crc_ok(address, function, data, bc + 5)) return PROTO_ZL7_CONVERT_BAD_CRC;
  return bc + 7;
}

ZL7_CONV(convert_recv_ctl_get_id) {
  if (!row || !data || !cmd) return PROTO_ZL7_CONVERT_ERROR;
  if (length < 2) return PROTO_ZL7_CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  return recv_fixed(address, function, data, length, 0);
}

ZL7_CONV(convert_recv_ctl_set_config) {
  if (!row || !data || !cmd) return PROTO_ZL7_CONVERT_ERROR;
  if (length < 3) return PROTO_ZL7_CONVERT_NOT_ENOUGHT_PAYLOAD_DATA;
  cmd->body.ctl_set_config.baudrate = data[0];
  return recv_fixed(address, function, data, length, 1);
}

// ---- transmit converters -----------------------------------------------

#define ZL7_TRANS_CHECK(room)                                     \
  if (!row || !data || !cmd) return PROTO_ZL7_CONVERT_ERROR;      \
  if (length < (room)) return PROTO_ZL7_CONVERT_NOT_ENOUGHT_MEMORY; \
  (void)address;                                                  \
  (void)function

ZL7_CONV(convert_trans_rst_get_regs) {
  const int bc = cmd ? cmd->body.rst_get_regs.bytes_count : 0;
  ZL7_TRANS_CHECK(bc + 1);
  data[0] = static_cast<unsigned char>(bc);
  put_regs(data + 1, bc, cmd->body.rst_get_regs.regs);
  return bc + 1;
}

ZL7_CONV(convert_trans_rst_call_sub) {
  ZL7_TRANS_CHECK(4);
  put16(data, cmd->body.ctl_call_sub.sub_func);
  put16(data + 2, 0);
  return 4;
}

ZL7_CONV(convert_trans_rst_set_regs) {
  ZL7_TRANS_CHECK(4);
  put16(data, cmd->body.rst_set_regs.reg_addr);
  put16(data + 2, cmd->body.rst_set_regs.regs_count);
  return 4;
}

ZL7_CONV(convert_trans_rst_get_id) {
  ZL7_TRANS_CHECK(5);
  const auto& id = cmd->body.rst_id;
  data[0] = 4;
  data[1] = id.id;
  data[2] = id.poweron;
  data[3] = static_cast<unsigned char>((id.flag_tx ? 0x80 : 0) | (id.flag_rx ? 0x40 : 0) |
                                       (id.flag_ak ? 0x02 : 0) | (id.flag_p ? 0x01 : 0));
  data[4] = static_cast<unsigned char>(((id.version_major & 3) << 6) | (id.version_minor & 0x3F));
  return 5;
}

ZL7_CONV(convert_trans_rst_error) {
  ZL7_TRANS_CHECK(1);
  data[0] = cmd->body.rst_error.error;
  return 1;
}

ZL7_CONV(convert_trans_ctl_get_regs) {
  ZL7_TRANS_CHECK(4);
  put16(data, cmd->body.ctl_get_regs.reg_addr);
  put16(data + 2, cmd->body.ctl_get_regs.regs_count);
  return 4;
}

ZL7_CONV(convert_trans_ctl_call_sub) {
  ZL7_TRANS_CHECK(4);
  put16(data, cmd->body.ctl_call_sub.sub_func);
  put16(data + 2, 0);
  return 4;
}

ZL7_CONV(convert_trans_ctl_set_regs) {
  const int bc = cmd ? cmd->body.ctl_set_regs.bytes_count : 0;
  ZL7_TRANS_CHECK(bc + 5);
  const auto& s = cmd->body.ctl_set_regs;
  put16(data, s.reg_addr);
  put16(data + 2, s.regs_count);
  data[4] = static_cast<unsigned char>(bc);
  put_regs(data + 5, bc, s.regs);
  return bc + 5;
}

ZL7_CONV(convert_trans_ctl_get_id) {
  ZL7_TRANS_CHECK(0);
  return 0;
}

ZL7_CONV(convert_trans_ctl_set_config) {
  ZL7_TRANS_CHECK(1);
  data[0] = cmd->body.ctl_set_config.baudrate;
  return 1;
}

#undef ZL7_TRANS_CHECK
#undef ZL7_CONV

const s_proto_zl7_transiver_event controler_trans_table_event[5] = {
    {CTL_GET_REGS, convert_trans_ctl_get_regs}, {CTL_CALL_SUB, convert_trans_ctl_call_sub},
    {CTL_SET_REGS, convert_trans_ctl_set_regs}, {CTL_GET_ID, convert_trans_ctl_get_id},
    {CTL_SET_CONFIG, convert_trans_ctl_set_config},
};
const s_proto_zl7_transiver_event radio_recv_table_event[5] = {
    {CTL_GET_REGS, convert_recv_ctl_get_regs}, {CTL_CALL_SUB, convert_recv_ctl_call_sub},
    {CTL_SET_REGS, convert_recv_ctl_set_regs}, {CTL_GET_ID, convert_recv_ctl_get_id},
    {CTL_SET_CONFIG, convert_recv_ctl_set_config},
};
const s_proto_zl7_transiver_event radio_trans_table_event[9] = {
    {RST_GET_REGS, convert_trans_rst_get_regs},   {RST_CALL_SUB, convert_trans_rst_call_sub},
    {RST_SET_REGS, convert_trans_rst_set_regs},   {RST_GET_ID, convert_trans_rst_get_id},
    {RST_ERR_GET_REGS, convert_trans_rst_error},  {RST_ERR_CALL_SUB, convert_trans_rst_error},
    {RST_ERR_SET_REGS, convert_trans_rst_error},  {RST_ERR_GET_ID, convert_trans_rst_error},
    {RST_ERR_SET_CONFIG, convert_trans_rst_error},
};
const s_proto_zl7_transiver_event controler_recv_table_event[9] = {
    {RST_GET_REGS, convert_recv_rst_get_regs},   {RST_CALL_SUB, convert_recv_rst_call_sub},
    {RST_SET_REGS, convert_recv_rst_set_regs},   {RST_GET_ID, convert_recv_rst_get_id},
    {RST_ERR_GET_REGS, convert_recv_rst_error},  {RST_ERR_CALL_SUB, convert_recv_rst_error},
    {RST_ERR_SET_REGS, convert_recv_rst_error},  {RST_ERR_GET_ID, convert_recv_rst_error},
    {RST_ERR_SET_CONFIG, convert_recv_rst_error},
};

// ---- channel -----------------------------------------------------------

int proto_zl7_chan_open(s_proto_zl7_ctrl* c, unsigned char address, int mode) {
  if (!c) return 0;
  std::memset(c, 0, sizeof *c);
  c->mode = mode;
  c->address = address;
  c->marker[0] = address;
  c->marker_length = 1;
  c->out_raw = static_cast<unsigned char*>(std::calloc(ZL7_RAW_SIZE, 1));
  c->out_raw_size = ZL7_RAW_SIZE;
  c->in_raw = static_cast<unsigned char*>(std::calloc(ZL7_RAW_SIZE, 1));
  c->in_raw_size = ZL7_RAW_SIZE;
  c->recv_queue = static_cast<s_zl7_cmd*>(std::calloc(ZL7_QUEUE_SIZE, sizeof(s_zl7_cmd)));
  c->recv_capacity = ZL7_QUEUE_SIZE;
  c->out_queue = static_cast<s_zl7_cmd*>(std::calloc(ZL7_QUEUE_SIZE, sizeof(s_zl7_cmd)));
  c->out_capacity = ZL7_QUEUE_SIZE;
  c->written_queue = static_cast<s_zl7_cmd*>(std::calloc(ZL7_QUEUE_SIZE, sizeof(s_zl7_cmd)));
  c->written_capacity = ZL7_QUEUE_SIZE;
  c->scratch = static_cast<unsigned char*>(std::calloc(ZL7_RAW_SIZE, 1));
  c->scratch_size = ZL7_RAW_SIZE;
  c->scratch_set = 1;
  return 0;
}

int proto_zl7_chan_close(s_proto_zl7_ctrl* c) {
  if (!c) return 0;
  std::free(c->out_raw);
  std::free(c->in_raw);
  std::free(c->recv_queue);
  std::free(c->out_queue);
  std::free(c->written_queue);
  std::free(c->scratch);
  const int mode = c->mode;
  const std::uint8_t address = c->address;
  std::memset(c, 0, sizeof *c);
  c->mode = mode;
  c->address = address;
  return 0;
}

int convert_event_recv(s_proto_zl7_ctrl* c, s_proto_zl7_header* h, const unsigned char* data,
                       s_zl7_cmd* cmd) {
  if (!c || !h || !data || !cmd) return PROTO_ZL7_CONVERT_ERROR;
  int rows = 0;
  const s_proto_zl7_transiver_event* table = recv_table(c, rows);
  // The converters share one type with the sending side; the receive
  // converters only read their data.
  for (int i = 0; i < rows; ++i)
    if (table[i].function == h->function)
      return table[i].convert(&table[i], h->address, h->function, const_cast<unsigned char*>(data), h->length, cmd);
  return PROTO_ZL7_CONVERT_BAD_ID;
}

int proto_zl7_chan_input2output(s_proto_zl7_ctrl* c) {
  if (!chan_ready(c)) return PROTO_ZL7_CONVERT_ERROR;
  int last = 0;
  while (c->in_raw_count > 1) {
    if (!c->in_sync) {
      const void* at = std::memchr(c->in_raw, c->marker[0], static_cast<size_t>(c->in_raw_count));
      if (!at) {
        c->in_raw_count = 0;
        break;
      }
      drop_front(c->in_raw, c->in_raw_count,
                 static_cast<int>(static_cast<const unsigned char*>(at) - c->in_raw));
      c->in_sync = 1;
      continue;
    }
    const int outcome = parse_one(c);
    if (outcome == kIncomplete || outcome == PROTO_ZL7_CONVERT_NOT_ENOUGHT_RAW_DATA) {
      last = outcome == kIncomplete ? 0 : outcome;
      break;
    }
    last = outcome;
    switch (outcome) {
      case 0:
        c->in_sync = 0;
        break;
      case PROTO_ZL7_CONVERT_BAD_CRC:
      case PROTO_ZL7_CONVERT_BAD_START:
      case PROTO_ZL7_CONVERT_NOT_ENOUGHT_PAYLOAD_DATA:
      case PROTO_ZL7_CONVERT_BAD_LENGHT:
      case PROTO_ZL7_CONVERT_ERROR:
        drop_front(c->in_raw, c->in_raw_count, 1);
        c->in_sync = 0;
        break;
      default:  // the held bytes are dropped; the channel stays synchronised
        c->in_raw_count = 0;
        break;
    }
  }
  return last;
}

int proto_zl7_chan_write_input(s_proto_zl7_ctrl* c, const void* bytes, int n) {
  if (!chan_ready(c) || !bytes || n < 1) return n;
  const unsigned char* p = static_cast<const unsigned char*>(bytes);
  int left = n;
  for (;;) {
    int take = c->in_raw_size - c->in_raw_count;
    if (take > left) take = left;
    std::memcpy(c->in_raw + c->in_raw_count, p, static_cast<size_t>(take));
    c->in_raw_count += take;
    p += take;
    left -= take;
    proto_zl7_chan_input2output(c);
    // Held-back bytes move in as parsing frees room; a buffer that stays
    // full cannot happen (more than 768 held bytes are always trimmed).
    if (left == 0 || c->in_raw_count == c->in_raw_size) break;
  }
  return 0;
}

int proto_zl7_chan_read_output(s_proto_zl7_ctrl* c, s_zl7_cmd* out, int n) {
  if (!chan_ready(c) || !out || n < 1) return n;
  const int k = n < c->recv_count ? n : c->recv_count;
  std::memcpy(out, c->recv_queue, sizeof(s_zl7_cmd) * static_cast<size_t>(k));
  std::memmove(c->recv_queue, c->recv_queue + k, sizeof(s_zl7_cmd) * static_cast<size_t>(c->recv_count - k));
  c->recv_count -= k;
  return k;
}

int proto_zl7_chan_write_output(s_proto_zl7_ctrl* c, const s_zl7_cmd* in, int n) {
  if (!chan_ready(c) || !in || n < 1) return n;
  const int room = c->out_capacity - c->out_count;
  const int k = n < room ? n : room;
  std::memcpy(c->out_queue + c->out_count, in, sizeof(s_zl7_cmd) * static_cast<size_t>(k));
  c->out_count += k;
  c->written_count = 0;
  return k;
}

int proto_zl7_chan_read_written_output(s_proto_zl7_ctrl* c, s_zl7_cmd* out, int n) {
  if (!chan_ready(c) || !out || n < 1) return n;
  const int k = n < c->written_count ? n : c->written_count;
  std::memcpy(out, c->written_queue, sizeof(s_zl7_cmd) * static_cast<size_t>(k));
  std::memmove(c->written_queue, c->written_queue + k,
               sizeof(s_zl7_cmd) * static_cast<size_t>(c->written_count - k));
  c->written_count -= k;
  return k;
}

const s_proto_zl7_transiver_event* find_event_trans(s_proto_zl7_ctrl* c, unsigned char function) {
  if (!c) return nullptr;
  const s_proto_zl7_transiver_event* table = nullptr;
  int rows = 0;
  if (c->mode == PROTO_MODE_ZL7_CONTROLER) {
    table = controler_trans_table_event;
    rows = 5;
  } else if (c->mode == PROTO_MODE_ZL7_RADIO_STATION) {
    table = radio_trans_table_event;
    rows = 9;
  }
  for (int i = 0; i < rows; ++i)
    if (table[i].function == function) return &table[i];
  return nullptr;
}

int convert_event_trans(s_proto_zl7_ctrl* c, const s_proto_zl7_transiver_event* row,
                        s_zl7_cmd* cmd) {
  if (!cmd) return PROTO_ZL7_CONVERT_ERROR;
  cmd->length = 0;
  if (!chan_ready(c)) return PROTO_ZL7_CONVERT_ERROR;
  if (!row || !row->convert) return PROTO_ZL7_CONVERT_BAD_ID;
  int d = row->convert(row, cmd->address, cmd->function, c->scratch, c->scratch_size, cmd);
  if (d == PROTO_ZL7_CONVERT_NOT_ENOUGHT_MEMORY) {
    void* grown = std::realloc(c->scratch, static_cast<size_t>(c->scratch_size + 1024));
    if (!grown) return PROTO_ZL7_CONVERT_NOT_ENOUGHT_MEMORY;
    c->scratch = static_cast<unsigned char*>(grown);
    c->scratch_size += 1024;
    d = row->convert(row, cmd->address, cmd->function, c->scratch, c->scratch_size, cmd);
  }
  if (d < 0) return d;
  if (c->out_raw_count + d + 4 > c->out_raw_size) return PROTO_ZL7_CONVERT_QUEUE_FULL;
  unsigned char* f = c->out_raw + c->out_raw_count;
  f[0] = cmd->address;
  f[1] = cmd->function;
  std::memcpy(f + 2, c->scratch, static_cast<size_t>(d));
  const int crc = calc_crc16(0xFFFF, f, d + 2);
  f[d + 2] = static_cast<unsigned char>(crc & 0xFF);
  f[d + 3] = static_cast<unsigned char>((crc >> 8) & 0xFF);
  c->out_raw_count += d + 4;
  cmd->length = static_cast<std::uint16_t>(d);
  return d;
}

int proto_zl7_chan_output2input(s_proto_zl7_ctrl* c) {
  if (!chan_ready(c) || c->out_count == 0) return PROTO_ZL7_CONVERT_ERROR;
  s_zl7_cmd cmd = c->out_queue[0];
  const int r = convert_event_trans(c, find_event_trans(c, cmd.function), &cmd);
  cmd.status = r >= 0 ? 0 : r;
  if (c->written_count < c->written_capacity) c->written_queue[c->written_count++] = cmd;
  std::memmove(c->out_queue, c->out_queue + 1, sizeof(s_zl7_cmd) * static_cast<size_t>(c->out_count - 1));
  --c->out_count;
  return cmd.status;
}

int proto_zl7_chan_read_input(s_proto_zl7_ctrl* c, void* bytes, int n) {
  if (!chan_ready(c) || !bytes || n < 1) return n;
  for (int i = 0; i < 65; ++i)
    if (proto_zl7_chan_output2input(c) != 0) break;
  const int k = n < c->out_raw_count ? n : c->out_raw_count;
  std::memcpy(bytes, c->out_raw, static_cast<size_t>(k));
  drop_front(c->out_raw, c->out_raw_count, k);
  return k;
}

// ---- registers ---------------------------------------------------------

namespace {

enum RegKind { kNone, kCw, kCntr, kData, kFrrs, kPkm, kKsw, kTc, kVaru, kSql };

RegKind reg_kind(unsigned n) {
  switch (n) {
    case 0: case 1: return kCw;
    case 2: return kCntr;
    case 5: return kFrrs;
    case 6: return kPkm;
    case 7: return kKsw;
    case 8: return kTc;
    case 9: return kVaru;
    case 10: return kSql;
    case 15: return kNone;
    default: return n <= 27 ? kData : kNone;
  }
}

}  // namespace

int pack_zl7_reg(s_zl7_cmd* cmd, const s_proto_zl7_header* h, const s_zl7_reg* reg) {
  if (!cmd || !h || !reg) return PROTO_ZL7_CONVERT_ERROR;
  std::uint16_t words[2] = {0, 0};
  int count = 1;
  const auto& v = reg->value;
  switch (reg_kind(reg->address)) {
    case kCw:
      words[0] = static_cast<std::uint16_t>(static_cast<std::uint32_t>(v.cw) & 0xFFFF);
      words[1] = static_cast<std::uint16_t>(static_cast<std::uint32_t>(v.cw) >> 16);
      count = 2;
      break;
    case kCntr: words[0] = static_cast<std::uint16_t>(v.cntr.request << 8); break;
    case kData: words[0] = v.data; break;
    case kFrrs: words[0] = static_cast<std::uint16_t>(((v.frrs.kf & 7) << 13) | (v.frrs.f & 0x1FFF)); break;
    case kPkm: words[0] = static_cast<std::uint16_t>((v.pkm.power << 8) | v.pkm.kfamp); break;
    case kKsw: words[0] = static_cast<std::uint16_t>(v.ksw.kf << 8); break;
    case kTc: words[0] = static_cast<std::uint16_t>((v.tc.tki << 8) | v.tc.tr); break;
    case kVaru: words[0] = static_cast<std::uint16_t>((v.varu.kf << 8) | v.varu.v); break;
    case kSql: words[0] = static_cast<std::uint16_t>(v.sql.sql << 8); break;
    case kNone: cmd->status = PROTO_ZL7_CONVERT_BAD_ID; return PROTO_ZL7_CONVERT_BAD_ID;
  }
  cmd->address = h->address;
  cmd->function = h->function;
  cmd->length = h->length;
  if (h->function == CTL_SET_REGS) {
    auto& s = cmd->body.ctl_set_regs;
    s.reg_addr = reg->address;
    s.regs_count = static_cast<std::uint16_t>(count);
    s.bytes_count = static_cast<std::uint8_t>(2 * count);
    for (int i = 0; i < count; ++i) s.regs[i] = words[i];
  } else if (h->function == RST_GET_REGS) {
    auto& g = cmd->body.rst_get_regs;
    g.bytes_count = static_cast<std::uint8_t>(2 * count);
    for (int i = 0; i < count; ++i) g.regs[i] = words[i];
  } else {
    cmd->status = PROTO_ZL7_CONVERT_BAD_ID;
    return PROTO_ZL7_CONVERT_BAD_ID;
  }
  cmd->status = 0;
  return 0;
}

int unpack_zl7_reg(s_zl7_reg* reg, unsigned int n, const unsigned short* w) {
  if (!reg || !w) return PROTO_ZL7_CONVERT_ERROR;
  const RegKind kind = reg_kind(n);
  if (kind == kNone || n == 1) return PROTO_ZL7_CONVERT_BAD_ID;
  reg->address = static_cast<std::uint8_t>(n);
  auto& v = reg->value;
  const unsigned hi = w[0] >> 8, lo = w[0] & 0xFF;
  switch (kind) {
    case kCw:
      v.cw = static_cast<std::int32_t>(static_cast<std::uint32_t>(w[0]) | (static_cast<std::uint32_t>(w[1]) << 16));
      return 2;
    case kCntr: v.cntr.request = static_cast<std::uint8_t>(hi); break;
    case kData: v.data = w[0]; break;
    case kFrrs:
      v.frrs.kf = static_cast<std::uint8_t>(w[0] >> 13);
      v.frrs.f = static_cast<std::uint16_t>(w[0] & 0x1FFF);
      break;
    case kPkm: v.pkm.power = static_cast<std::uint8_t>(hi); v.pkm.kfamp = static_cast<std::uint8_t>(lo); break;
    case kKsw: v.ksw.kf = static_cast<std::uint8_t>(hi); break;
    case kTc: v.tc.tki = static_cast<std::uint8_t>(hi); v.tc.tr = static_cast<std::uint8_t>(lo); break;
    case kVaru: v.varu.kf = static_cast<std::uint8_t>(hi); v.varu.v = static_cast<std::uint8_t>(lo); break;
    case kSql: v.sql.sql = static_cast<std::uint8_t>(hi); break;
    case kNone: break;
  }
  return 1;
}

// ---- text --------------------------------------------------------------

namespace {

void print_regs(Printer& p, const std::uint16_t* regs, int count) {
  if (count > ZL7_MAX_REGS) count = ZL7_MAX_REGS;
  for (int i = 0; i < count; ++i) p.add("[%d] : 0x%02X,\n", i, unsigned(regs[i]));
}

void print_error(Printer& p, const s_zl7_cmd& c) { p.add("rst_error.error: %d,\n", int(c.body.rst_error.error)); }

}  // namespace

const s_proto_zl7_cmd_sprintf_row proto_zl7_controler_sprintf_table[5] = {
    {CTL_GET_REGS, [](Printer& p, const s_zl7_cmd& c) {
       p.add("ctl_get_regs.reg_addr: %d,\n", int(c.body.ctl_get_regs.reg_addr));
       p.add("ctl_get_regs.regs_count: %d\n", int(c.body.ctl_get_regs.regs_count));
     }},
    {CTL_CALL_SUB, [](Printer& p, const s_zl7_cmd& c) {
       p.add("ctl_call_sub.sub_func: %d,\n", int(c.body.ctl_call_sub.sub_func));
     }},
    {CTL_SET_REGS, [](Printer& p, const s_zl7_cmd& c) {
       const auto& s = c.body.ctl_set_regs;
       p.add("ctl_set_regs.reg_addr: %d,\n", int(s.reg_addr));
       p.add("ctl_set_regs.regs_count: %d\n", int(s.regs_count));
       p.add("ctl_set_regs.bytes_count: %d\n", int(s.bytes_count));
       p.add("ctl_set_regs.regs : \n");
       print_regs(p, s.regs, s.regs_count);
     }},
    {CTL_GET_ID, [](Printer&, const s_zl7_cmd&) {}},
    {CTL_SET_CONFIG, [](Printer& p, const s_zl7_cmd& c) {
       p.add("ctl_set_config.baudrate: %d,\n", int(c.body.ctl_set_config.baudrate));
     }},
};

const s_proto_zl7_cmd_sprintf_row proto_zl7_radio_sprintf_table[9] = {
    {RST_GET_REGS, [](Printer& p, const s_zl7_cmd& c) {
       const auto& g = c.body.rst_get_regs;
       p.add("rst_get_regs.bytes_count: %d\n", int(g.bytes_count));
       p.add("rst_get_regs.regs : \n");
       print_regs(p, g.regs, g.bytes_count / 2);
     }},
    {RST_CALL_SUB, [](Printer&, const s_zl7_cmd&) {}},
    {RST_SET_REGS, [](Printer& p, const s_zl7_cmd& c) {
       p.add("rst_set_regs.reg_addr: %d,\n", int(c.body.rst_set_regs.reg_addr));
       p.add("rst_set_regs.regs_count: %d\n", int(c.body.rst_set_regs.regs_count));
     }},
    {RST_GET_ID, [](Printer& p, const s_zl7_cmd& c) {
       const auto& i = c.body.rst_id;
       p.add("rst_id.id: %d,\n", int(i.id));
       p.add("rst_id.poweron: %d,\n", int(i.poweron));
       p.add("rst_id.flag_tx: %d,\n", int(i.flag_tx));
       p.add("rst_id.flag_rx: %d,\n", int(i.flag_rx));
       p.add("rst_id.flag_ak: %d,\n", int(i.flag_ak));
       p.add("rst_id.flag_p: %d,\n", int(i.flag_p));
       p.add("rst_id.version_major: %d,\n", int(i.version_major));
       p.add("rst_id.version_minor: %d,\n", int(i.version_minor));
     }},
    {RST_ERR_GET_REGS, print_error}, {RST_ERR_CALL_SUB, print_error},
    {RST_ERR_SET_REGS, print_error}, {RST_ERR_GET_ID, print_error},
    {RST_ERR_SET_CONFIG, print_error},
};

namespace {

void print_reg_data(Printer& p, const s_zl7_reg& r) { p.add("reg.data: %d,\n", int(r.value.data)); }
void print_reg_cw(Printer& p, const s_zl7_reg& r) { p.add("reg.cw.cw: %ld,\n", long(r.value.cw)); }
void print_reg_cntr(Printer& p, const s_zl7_reg& r) {
  p.add("reg.cntr.request: %d,\n", int(r.value.cntr.request));
}
void print_reg_frrs(Printer& p, const s_zl7_reg& r) {
  p.add("reg.frrs.kf: %d,\n", int(r.value.frrs.kf));
  p.add("reg.frrs.f: %d,\n", int(r.value.frrs.f));
}
void print_reg_pkm(Printer& p, const s_zl7_reg& r) {
  p.add("reg.pkm.power: %d,\n", int(r.value.pkm.power));
  p.add("reg.pkm.kfamp: %d,\n", int(r.value.pkm.kfamp));
}
void print_reg_ksw(Printer& p, const s_zl7_reg& r) { p.add("reg.ksw.kf: %d,\n", int(r.value.ksw.kf)); }
void print_reg_tc(Printer& p, const s_zl7_reg& r) {
  p.add("reg.tc.tki: %d,\n", int(r.value.tc.tki));
  p.add("reg.tc.tr: %d,\n", int(r.value.tc.tr));
}
void print_reg_varu(Printer& p, const s_zl7_reg& r) {
  p.add("reg.varu.kf: %d,\n", int(r.value.varu.kf));
  p.add("reg.varu.v: %d,\n", int(r.value.varu.v));
}
void print_reg_sql(Printer& p, const s_zl7_reg& r) { p.add("reg.sql.sql: %d,\n", int(r.value.sql.sql)); }

int compare_texts(const std::vector<char>& a, const std::vector<char>& b) {
  const size_t la = std::strlen(a.data()), lb = std::strlen(b.data());
  if (la != lb) return static_cast<int>(lb) - static_cast<int>(la);
  return std::strncmp(a.data(), b.data(), la);
}

}  // namespace

int sprintf_zl7_cmd(char* buffer, long size, const s_zl7_cmd* cmd, int mode, int /*flags*/) {
  if (!buffer || !cmd || size < 1) return 0;
  std::memset(buffer, 0, static_cast<size_t>(size));
  const s_proto_zl7_cmd_sprintf_row* table = nullptr;
  int rows = 0;
  if (mode == PROTO_MODE_ZL7_CONTROLER) {
    table = proto_zl7_controler_sprintf_table;
    rows = 5;
  } else if (mode == PROTO_MODE_ZL7_RADIO_STATION) {
    table = proto_zl7_radio_sprintf_table;
    rows = 9;
  }
  for (int i = 0; i < rows; ++i) {
    if (table[i].function != cmd->function) continue;
    Printer p(buffer, size);
    p.add("msgAddr: %d,\n", int(cmd->address));
    p.add("msgFunc: %d,\n", int(cmd->function));
    table[i].print(p, *cmd);
    return p.total();
  }
  return 0;
}

const s_proto_zl7_reg_sprintf_row proto_zl7_regs_sprintf_table[27] = {
    {0, print_reg_cw},    {1, print_reg_cw},    {2, print_reg_cntr},  {3, print_reg_data},
    {4, print_reg_data},  {5, print_reg_frrs},  {6, print_reg_pkm},   {7, print_reg_ksw},
    {8, print_reg_tc},    {9, print_reg_varu},  {10, print_reg_sql},  {11, print_reg_data},
    {12, print_reg_data}, {13, print_reg_data}, {14, print_reg_data}, {16, print_reg_data},
    {17, print_reg_data}, {18, print_reg_data}, {19, print_reg_data}, {20, print_reg_data},
    {21, print_reg_data}, {22, print_reg_data}, {23, print_reg_data}, {24, print_reg_data},
    {25, print_reg_data}, {26, print_reg_data}, {27, print_reg_data},
};

int sprintf_zl7_reg(char* buffer, long size, const s_zl7_reg* reg, int /*flags*/) {
  if (!buffer || !reg || size < 1) return 0;
  std::memset(buffer, 0, static_cast<size_t>(size));
  for (const auto& row : proto_zl7_regs_sprintf_table) {
    if (row.address != reg->address) continue;
    Printer p(buffer, size);
    p.add("reg.addr: %d,\n", int(reg->address));
    row.print(p, *reg);
    return p.total();
  }
  return 0;
}

int cmp_zl7_cmd(const s_zl7_cmd* a, const s_zl7_cmd* b, int mode) {
  if (!a || !b) return -1;
  std::vector<char> ta(8192), tb(8192);
  sprintf_zl7_cmd(ta.data(), 8192, a, mode, 0);
  sprintf_zl7_cmd(tb.data(), 8192, b, mode, 0);
  return compare_texts(ta, tb);
}

int cmp_zl7_reg(const s_zl7_reg* a, const s_zl7_reg* b) {
  if (!a || !b) return -1;
  std::vector<char> ta(8192), tb(8192);
  sprintf_zl7_reg(ta.data(), 8192, a, 0);
  sprintf_zl7_reg(tb.data(), 8192, b, 0);
  return compare_texts(ta, tb);
}
