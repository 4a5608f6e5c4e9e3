#include "radio/zolta7_radio_control.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>

#include "radio/text_printer.h"

using radio_text::Printer;

const s_proto_zl7_table_name proto_zl7_state[] = {{0, "no connection"}, {1, "work"}, {0, nullptr}};
const s_proto_zl7_table_name proto_zl7_substate[] = {
    {0, "none"}, {1, "send request"}, {2, "wait response"}, {3, "TO request"}, {0, nullptr}};
const s_proto_zl7_table_name proto_zl7_task[] = {{0, "none"},         {1, "get id"},
                                                 {2, "get all regs "}, {3, "set freq"},
                                                 {4, "set squelsh"},   {0, nullptr}};
const s_proto_zl7_table_name proto_zl7_task_state[] = {
    {0, "none"}, {1, "need update"}, {2, "send update"}, {3, "was update"}, {0, nullptr}};
const s_proto_zl7_table_name proto_zl7_squelsh[] = {
    {-1, "no config"}, {0, "off"}, {1, "on"}, {0, nullptr}};
const s_proto_zl7_table_name proto_zl7_transmiter[] = {{0, "5 W"}, {1, "50 W"}, {0, nullptr}};
const s_proto_zl7_table_name proto_zl7_aru[] = {{0, "60%% /  -6 dBm"},
                                                {1, "70%% /  -3 dBm"},
                                                {2, "80%% /  -0 dBm"},
                                                {3, "90%% /  +3 dBm"},
                                                {0, nullptr}};
const s_proto_zl7_table_name proto_zl7_sql[] = {{0, "6 dB"},  {1, "8 dB"},  {2, "10 dB"},
                                                {3, "12 dB"}, {4, "14 dB"}, {5, "16 dB"},
                                                {6, "18 dB"}, {0, nullptr}};

namespace {

constexpr std::int64_t kDefaultResponseTimeout = 5000;
constexpr std::int64_t kDefaultPollPeriod = 30000;
constexpr int kChannelMax = 0x1FFF;  // the frequency register's 13-bit channel number

// Time since a recorded instant; never recorded (seconds 0) counts as the
// poll period so that the first request goes out at once.
std::int64_t since(const s_zolta7_radio_control* r, const Mux::timeval& t) {
  if (t.tv_sec == 0) return r->poll_period;
  return Mux::timevaldiff(t, r->now);
}

float channel_freq(int f) { return static_cast<float>(100.0 + f / 120.0); }

void start_task(s_zolta7_radio_control* r, int task) {
  r->request_time = r->now;
  r->task = task;
  r->substate = ZL7_SUBSTATE_SEND_REQUEST;
}

// Ends the running task when it is the one a response answers; a response
// to anything else (a late answer) leaves the running task to its own
// answer or time-out.
bool end_task(s_zolta7_radio_control* r, int task) {
  if (r->task != task) return false;
  r->task = ZL7_TASK_NONE;
  r->substate = ZL7_SUBSTATE_NONE;
  return true;
}

void store_reg(s_zolta7_radio_control* r, const s_zl7_reg& g) {
  const auto& v = g.value;
  switch (g.address) {
    case 0: r->cw = v.cw; break;
    case 2: r->cntr_request = v.cntr.request; break;
    case 3:
      r->mr1 = v.data;
      r->wanted_mr1 = v.data;
      // A squelch change not yet written keeps its bit: a register read that
      // runs first must not undo the request.
      if ((r->sql_update == ZL7_UPDATE_NEED || r->sql_update == ZL7_UPDATE_SEND) &&
          (r->wanted_sql == 0 || r->wanted_sql == 1))
        r->wanted_mr1 = static_cast<std::uint16_t>((v.data & 0x7FFF) | (r->wanted_sql ? 0x8000 : 0));
      r->cur_sql = (v.data & 0x8000) ? 1 : 0;
      break;
    case 4: r->mr2 = v.data; break;
    case 5:
      r->frrs.kf = v.frrs.kf;
      r->frrs.f = v.frrs.f;
      r->wanted_frrs.kf = v.frrs.kf;
      r->cur_freq = channel_freq(v.frrs.f);
      break;
    case 6: r->pkm_power = v.pkm.power; r->pkm_kfamp = v.pkm.kfamp; break;
    case 7: r->ksw_kf = v.ksw.kf; break;
    case 8: r->tc_tki = v.tc.tki; r->tc_tr = v.tc.tr; break;
    case 9: r->varu_kf = v.varu.kf; r->varu_v = v.varu.v; break;
    case 10: r->sql = v.sql.sql; break;
    case 11: r->din = v.data; break;
    case 12: r->dto = v.data; break;
    case 13: r->strs = v.data; break;
    case 14: r->pout = v.data; break;
    default:
      if (g.address >= 16 && g.address <= 23) r->ad[g.address - 16] = v.data;
      else if (g.address >= 24 && g.address <= 27) r->dv[g.address - 24] = v.data;
      break;
  }
}

void decode_regs(s_zolta7_radio_control* r, const s_zl7_cmd& c) {
  const auto& g = c.body.rst_get_regs;
  int avail = (g.bytes_count + 1) / 2;
  if (avail > ZL7_MAX_REGS) avail = ZL7_MAX_REGS;
  for (int i = 0; i < avail && i < r->regs_count;) {
    const unsigned short words[2] = {g.regs[i], static_cast<unsigned short>(i + 1 < avail ? g.regs[i + 1] : 0)};
    s_zl7_reg reg;
    std::memset(&reg, 0, sizeof reg);
    const int used = unpack_zl7_reg(&reg, static_cast<unsigned>(r->regs_start + i), words);
    if (used > 0) store_reg(r, reg);
    i += used > 0 ? used : 1;
  }
}

// True when the acknowledged block [start, start + count) holds the register.
bool covers(unsigned start, unsigned count, unsigned reg) { return start <= reg && reg < start + count; }

void on_response(s_zolta7_radio_control* r, const s_zl7_cmd& c) {
  switch (c.function) {
    case RST_GET_ID:
      r->id_update = ZL7_UPDATE_WAS;
      end_task(r, ZL7_TASK_GET_ID);
      r->last_error = r->last_error_id = 0;
      r->id.id = c.body.rst_id.id;
      r->id.poweron = c.body.rst_id.poweron;
      r->id.flag_tx = c.body.rst_id.flag_tx;
      r->id.flag_rx = c.body.rst_id.flag_rx;
      r->id.flag_ak = c.body.rst_id.flag_ak;
      r->id.flag_p = c.body.rst_id.flag_p;
      r->id.version_major = c.body.rst_id.version_major;
      r->id.version_minor = c.body.rst_id.version_minor;
      break;
    case RST_GET_REGS:
      r->regs_update = ZL7_UPDATE_WAS;
      end_task(r, ZL7_TASK_GET_ALL_REGS);
      r->last_error = r->last_error_get_regs = 0;
      decode_regs(r, c);
      break;
    case RST_SET_REGS: {
      if (end_task(r, ZL7_TASK_SET_FREQ)) r->freq_update = ZL7_UPDATE_WAS;
      else if (end_task(r, ZL7_TASK_SET_SQUELSH)) r->sql_update = ZL7_UPDATE_WAS;
      r->last_error = r->last_error_set_regs = 0;
      const unsigned start = c.body.rst_set_regs.reg_addr, count = c.body.rst_set_regs.regs_count;
      if (covers(start, count, 5)) {
        r->frrs.f = r->wanted_frrs.f;
        r->cur_freq = channel_freq(r->frrs.f);
      }
      if (covers(start, count, 3)) {
        r->mr1 = r->wanted_mr1;
        r->cur_sql = (r->mr1 & 0x8000) ? 1 : 0;
      }
      break;
    }
    case RST_ERR_GET_ID:
      r->id_update = ZL7_UPDATE_NONE;
      end_task(r, ZL7_TASK_GET_ID);
      r->last_error = r->last_error_id = c.body.rst_error.error;
      break;
    case RST_ERR_GET_REGS:
      r->regs_update = ZL7_UPDATE_NONE;
      end_task(r, ZL7_TASK_GET_ALL_REGS);
      r->last_error = r->last_error_get_regs = c.body.rst_error.error;
      break;
    case RST_ERR_SET_REGS:
      if (end_task(r, ZL7_TASK_SET_FREQ)) r->freq_update = ZL7_UPDATE_NONE;
      else if (end_task(r, ZL7_TASK_SET_SQUELSH)) r->sql_update = ZL7_UPDATE_NONE;
      r->last_error = r->last_error_set_regs = c.body.rst_error.error;
      break;
    default:
      break;
  }
}

const char* name_of(const s_proto_zl7_table_name* table, int id) {
  const char* n = proto_zl7_find_name_by_id(table, id);
  return n ? n : "";
}

}  // namespace

int zolta7_radio_control_open(s_zolta7_radio_control* r) {
  if (!r) return 0;
  r->state = ZL7_STATE_NO_CONNECTION;
  r->substate = ZL7_SUBSTATE_NONE;
  r->task = ZL7_TASK_NONE;
  r->freq_update = r->sql_update = r->id_update = r->regs_update = ZL7_UPDATE_NONE;
  r->last_error = r->last_error_id = r->last_error_get_regs = r->last_error_set_regs = 0;
  r->now = r->request_time = r->id_request_time = r->regs_read_time = Mux::timeval(0, 0);
  r->initialised = 0;
  r->wanted_sql = r->cur_sql = -1;
  r->wanted_type_emission = r->cur_type_emission = -1;
  r->wanted_freq = r->cur_freq = 0;
  r->wanted_frrs.kf = 0;
  r->wanted_frrs.f = 0;
  r->wanted_mr1 = 0;
  if (r->response_timeout < 1) r->response_timeout = kDefaultResponseTimeout;
  if (r->poll_period < 1) r->poll_period = kDefaultPollPeriod;
  r->freq_min = 100.0f;
  r->freq_max = 500.0f;
  r->freq_step = static_cast<float>(1.0 / 120.0);
  proto_zl7_chan_open(&r->chan, static_cast<unsigned char>(r->address & 0xFF), PROTO_MODE_ZL7_CONTROLER);
  return 0;
}

int zolta7_radio_control_close(s_zolta7_radio_control* r) {
  if (r) proto_zl7_chan_close(&r->chan);
  return 0;
}

int zolta7_radio_control_read(s_zolta7_radio_control* r, void* buffer, int size) {
  if (!r || !buffer || size < 1 || !r->chan.out_raw) return 0;
  std::memset(&r->to_send, 0, sizeof r->to_send);
  s_zl7_cmd written;
  std::memset(&written, 0, sizeof written);
  // Bytes of an earlier request that did not fit the caller's buffer go out
  // first, so that no frame is cut short or glued to the next one.
  if (r->substate != ZL7_SUBSTATE_SEND_REQUEST) return proto_zl7_chan_read_input(&r->chan, buffer, size);

  s_zl7_cmd& c = r->to_send;
  c.address = static_cast<std::uint8_t>(r->address);
  s_proto_zl7_header h;
  h.address = c.address;
  h.length = 0;
  s_zl7_reg reg;
  std::memset(&reg, 0, sizeof reg);
  switch (r->task) {
    case ZL7_TASK_GET_ID:
      c.function = CTL_GET_ID;
      break;
    case ZL7_TASK_GET_ALL_REGS:
      c.function = CTL_GET_REGS;
      r->regs_start = 0;
      r->regs_count = 28;
      c.body.ctl_get_regs.reg_addr = r->regs_start;
      c.body.ctl_get_regs.regs_count = r->regs_count;
      break;
    case ZL7_TASK_SET_FREQ:
      h.function = CTL_SET_REGS;
      reg.address = 5;
      reg.value.frrs.kf = r->wanted_frrs.kf;
      reg.value.frrs.f = r->wanted_frrs.f;
      pack_zl7_reg(&c, &h, &reg);
      break;
    case ZL7_TASK_SET_SQUELSH:
      h.function = CTL_SET_REGS;
      reg.address = 3;
      reg.value.data = r->wanted_mr1;
      pack_zl7_reg(&c, &h, &reg);
      break;
    default:
      return 0;
  }
  c.status = 0;
  proto_zl7_chan_write_output(&r->chan, &c, 1);
  const int n = proto_zl7_chan_read_input(&r->chan, buffer, size);
  if (proto_zl7_chan_read_written_output(&r->chan, &written, 1) != 1) return 0;
  if (written.status != 0) return written.status;
  r->request_time = r->now;
  r->substate = ZL7_SUBSTATE_WAIT_RESPONSE;
  return n;
}

int zolta7_radio_control_write(s_zolta7_radio_control* r, const void* data, int size) {
  if (!r || !data || size < 1 || !r->chan.in_raw) return 0;
  proto_zl7_chan_write_input(&r->chan, data, size);
  // Every queued record is taken: failed and partial parse attempts are
  // dropped, good answers acted on in order.
  while (proto_zl7_chan_read_output(&r->chan, &r->received, 1) == 1)
    if (r->received.status == 0) on_response(r, r->received);
  return 0;
}

int zolta7_radio_control_process(s_zolta7_radio_control* r, const Mux::timeval& now) {
  if (!r) return 0;
  r->now = now;
  if (r->state == ZL7_STATE_NO_CONNECTION) {
    if (r->task == ZL7_TASK_NONE && r->id_update == ZL7_UPDATE_NONE &&
        since(r, r->id_request_time) >= r->poll_period) {
      r->id_request_time = now;
      r->id_update = ZL7_UPDATE_SEND;
      start_task(r, ZL7_TASK_GET_ID);
    }
    if (r->regs_update == ZL7_UPDATE_WAS && r->id_update == ZL7_UPDATE_WAS) {
      r->state = ZL7_STATE_WORK;
      if (!r->initialised) {
        r->wanted_freq = r->cur_freq;
        r->wanted_frrs.kf = r->frrs.kf;
        r->wanted_frrs.f = r->frrs.f;
        r->wanted_sql = r->cur_sql;
        r->wanted_type_emission = r->cur_type_emission;
        r->wanted_mr1 = r->mr1;
        r->initialised = 1;
      }
    }
  } else if (r->regs_update == ZL7_UPDATE_NONE || r->id_update == ZL7_UPDATE_NONE) {
    r->state = ZL7_STATE_NO_CONNECTION;
  }

  if (r->task == ZL7_TASK_NONE && r->regs_update != ZL7_UPDATE_SEND &&
      (since(r, r->regs_read_time) >= r->poll_period || r->regs_update == ZL7_UPDATE_NEED)) {
    r->regs_read_time = now;
    r->regs_update = ZL7_UPDATE_SEND;
    start_task(r, ZL7_TASK_GET_ALL_REGS);
  } else if (r->task == ZL7_TASK_NONE && r->freq_update == ZL7_UPDATE_NEED) {
    r->freq_update = ZL7_UPDATE_SEND;
    r->regs_update = ZL7_UPDATE_NEED;
    start_task(r, ZL7_TASK_SET_FREQ);
  } else if (r->task == ZL7_TASK_NONE && r->sql_update == ZL7_UPDATE_NEED) {
    r->sql_update = ZL7_UPDATE_SEND;
    r->regs_update = ZL7_UPDATE_NEED;
    start_task(r, ZL7_TASK_SET_SQUELSH);
  }

  if (r->substate == ZL7_SUBSTATE_WAIT_RESPONSE &&
      Mux::timevaldiff(r->request_time, now) >= r->response_timeout) {
    r->substate = ZL7_SUBSTATE_TO_REQUEST;
    switch (r->task) {
      case ZL7_TASK_GET_ID: r->id_update = ZL7_UPDATE_NONE; break;
      case ZL7_TASK_GET_ALL_REGS: r->regs_update = ZL7_UPDATE_NONE; break;
      case ZL7_TASK_SET_FREQ: r->freq_update = ZL7_UPDATE_NONE; break;
      case ZL7_TASK_SET_SQUELSH: r->sql_update = ZL7_UPDATE_NONE; break;
      default: break;
    }
    r->task = ZL7_TASK_NONE;
  }
  return 0;
}

int zolta7_radio_control_set_freq(s_zolta7_radio_control* r, float mhz) {
  if (!r) return 0;
  if (!(mhz >= r->freq_min && mhz <= r->freq_max)) return 0;
  const double x = (static_cast<double>(mhz) - 100.0) * 120.0;
  int n = static_cast<int>(std::floor(x));
  const double lower = 100.0 + n / 120.0, upper = 100.0 + (n + 1) / 120.0;
  if (std::fabs(static_cast<double>(mhz) - upper) < std::fabs(static_cast<double>(mhz) - lower)) ++n;
  // The station's channel number has 13 bits: a channel beyond it cannot be
  // written and is refused like a frequency outside the band.
  if (n > kChannelMax) return 0;
  r->wanted_frrs.kf = r->frrs.kf;
  r->wanted_frrs.f = static_cast<std::uint16_t>(n);
  r->wanted_freq = channel_freq(n);
  r->freq_update = ZL7_UPDATE_NEED;
  return 0;
}

float zolta7_radio_control_get_freq(const s_zolta7_radio_control* r) { return r ? r->cur_freq : 0.0f; }

int zolta7_radio_control_set_sql(s_zolta7_radio_control* r, int value) {
  if (!r) return 0;
  r->wanted_sql = value;
  if (value == 1) r->wanted_mr1 = static_cast<std::uint16_t>(r->wanted_mr1 | 0x8000);
  else if (value == 0) r->wanted_mr1 = static_cast<std::uint16_t>(r->wanted_mr1 & 0x7FFF);
  r->sql_update = ZL7_UPDATE_NEED;
  return 0;
}

int zolta7_radio_control_get_sql(const s_zolta7_radio_control* r) { return r ? r->cur_sql : -1; }

int zolta7_radio_control_set_type_emission(s_zolta7_radio_control* r, int value) {
  if (r) r->wanted_type_emission = value;
  return 0;
}

int zolta7_radio_control_get_type_emission(const s_zolta7_radio_control* r) {
  return r ? r->cur_type_emission : -1;
}

int zolta7_radio_control_isconnected(const s_zolta7_radio_control* r) {
  return r && r->state == ZL7_STATE_WORK ? 1 : 0;
}

int zolta7_radio_control_protocol_error(const s_zolta7_radio_control* r) { return r ? r->last_error : 0; }

int zolta7_radio_control_hardware_error(const s_zolta7_radio_control* r) {
  if (!r || r->state != ZL7_STATE_WORK) return 0;
  for (std::uint16_t v : r->dv)
    if (v != 0) return 1;
  return 0;
}

int zolta7_show_uni(const s_zolta7_radio_control* r, char* buffer, int size) {
  if (!r || !buffer || size < 1) return 0;
  std::memset(buffer, 0, static_cast<size_t>(size));
  Printer p(buffer, size);
  auto named = [&](const char* fmt, const s_proto_zl7_table_name* t, int v) { p.add(fmt, name_of(t, v), v); };
  p.add("\nShow Zolta 7 status:\n");
  p.add("         Control :\n");
  p.add("      radio addr : %d,\n", int(r->address));
  p.add(" TO send request : %lld,\n", static_cast<long long>(r->poll_period));
  p.add("TO wait response : %lld,\n", static_cast<long long>(r->response_timeout));
  named("           state : %s(%d),\n", proto_zl7_state, r->state);
  named("            task : %s(%d),\n", proto_zl7_task, r->task);
  named("     update freq : %s(%d),\n", proto_zl7_task_state, r->freq_update);
  named("  update squelsh : %s(%d),\n", proto_zl7_task_state, r->sql_update);
  named("       update id : %s(%d),\n", proto_zl7_task_state, r->id_update);
  named("     update regs : %s(%d),\n", proto_zl7_task_state, r->regs_update);
  named("      last error : %s(%d),\n", proto_zl7_error, r->last_error);
  named("    last error id: %s(%d),\n", proto_zl7_error, r->last_error_id);
  named("last error get regs: %s(%d),\n", proto_zl7_error, r->last_error_get_regs);
  named("last error set regs: %s(%d),\n", proto_zl7_error, r->last_error_set_regs);
  named("      last error : %s(%d),\n", proto_zl7_error, r->last_error);
  p.add("       freq, MHz : %5.6f,\n", double(r->wanted_freq));
  p.add("[frrs]        kf : %d,\n", int(r->wanted_frrs.kf));
  p.add("[frrs]         f : %d,\n", int(r->wanted_frrs.f));
  named("         squelsh : %s(%d),\n", proto_zl7_squelsh, r->wanted_sql);
  p.add("[mr1]        reg : 0x%04X,\n", unsigned(r->wanted_mr1));
  p.add("\n         Radio :\n");
  p.add("       freq, MHz : %5.6f,\n", double(r->cur_freq));
  p.add("[id]          id : %d,\n", int(r->id.id));
  p.add("[id]     poweron : 0x%02X,\n", unsigned(r->id.poweron));
  p.add("[id]     flag_tx : %d,\n", int(r->id.flag_tx));
  p.add("[id]     flag_rx : %d,\n", int(r->id.flag_rx));
  named("[id]      flag_p : %s(%d),\n", proto_zl7_transmiter, r->id.flag_p);
  p.add("[id]     flag_ak : %d,\n", int(r->id.flag_ak));
  p.add("[id]     version : %d.%d,\n", int(r->id.version_major), int(r->id.version_minor));
  p.add("[cw]          cw : %ld,\n", long(r->cw));
  p.add("[cntr]   request : %d,\n", int(r->cntr_request));
  named("         squelsh : %s(%d),\n", proto_zl7_squelsh, r->cur_sql);
  p.add("[mr1]        mr1 : 0x%04X,\n", unsigned(r->mr1));
  p.add("[mr2]        mr2 : 0x%04X,\n", unsigned(r->mr2));
  p.add("[frrs]        kf : %d,\n", int(r->frrs.kf));
  p.add("[frrs]         f : %d,\n", int(r->frrs.f));
  p.add("[pkm]   power, W : %d,\n", r->id.flag_p == 0 ? int(r->pkm_power) / 10 : int(r->pkm_power));
  p.add("[pkm]      kfamp : %d,\n", int(r->pkm_kfamp));
  p.add("[ksw]         kf : %d,\n", int(r->ksw_kf));
  p.add("[tc]      tki, C : %d,\n", int(r->tc_tki));
  p.add("[tc]       tr, C : %d,\n", int(r->tc_tr));
  named("[varu]        kf : %s(%d),\n", proto_zl7_aru, r->varu_kf);
  p.add("[varu]      v, V : %d,\n", int(r->varu_v));
  named("[sql]        sql : %s(%d),\n", proto_zl7_sql, r->sql);
  p.add("[din]            : 0x%04X,\n", unsigned(r->din));
  p.add("[dto]            : 0x%04X,\n", unsigned(r->dto));
  p.add("[strs]           : 0x%04X,\n", unsigned(r->strs));
  p.add("[pout]           : 0x%04X,\n", unsigned(r->pout));
  for (int i = 0; i < 8; ++i) p.add("[ad%d]            : 0x%04X,\n", i, unsigned(r->ad[i]));
  for (int i = 0; i < 4; ++i) p.add("[dv%d]            : 0x%04X,\n", i + 1, unsigned(r->dv[i]));
  return p.total();
}

int zolta7_radio_control_show(s_zolta7_radio_control* r, void* buffer, int size) {
  return zolta7_show_uni(r, static_cast<char*>(buffer), size);
}

int zolta7_radio_control_showfd(s_zolta7_radio_control* r, int fd) {
  if (!r) return 0;
  const int len = zolta7_show_uni(r, r->text, ZL7_TEXT_SIZE);
  // The name texts keep their percent signs doubled; they go out single.
  std::string out;
  for (const char* s = r->text; *s; ++s) {
    out += *s;
    if (s[0] == '%' && s[1] == '%') ++s;
  }
  size_t done = 0;
  while (done < out.size()) {
    const ssize_t w = ::write(fd, out.data() + done, out.size() - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) break;
    done += static_cast<size_t>(w);
  }
  return len;
}
