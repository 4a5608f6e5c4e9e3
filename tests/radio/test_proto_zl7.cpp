// Register protocol channel: frame bytes, CRC, resynchronisation, queues,
// both roles against each other, and libmodbus as the independent peer over
// a pty pair.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cstring>
#include <iterator>
#include <string>

#include "radio/proto_zl7.h"
#include "radio/text_printer.h"
#include "radio_test_support.h"

#if __has_include(<modbus/modbus.h>)
#include <modbus/modbus.h>
#define HAVE_MODBUS_HEADER 1
#endif

namespace {

using radiotest::Bytes;
using radiotest::H;
using Ints = std::vector<int>;

s_zl7_cmd cmd(unsigned char address, unsigned char function) {
  s_zl7_cmd c;
  std::memset(&c, 0, sizeof c);
  c.address = address;
  c.function = function;
  return c;
}

// One channel, opened and closed with the test.
struct Chan {
  s_proto_zl7_ctrl c;
  Chan(unsigned char address, int mode) { proto_zl7_chan_open(&c, address, mode); }
  ~Chan() { proto_zl7_chan_close(&c); }

  Bytes encode(const s_zl7_cmd& cmd) {
    EXPECT_EQ(proto_zl7_chan_write_output(&c, &cmd, 1), 1);
    unsigned char buf[2048];
    int n = proto_zl7_chan_read_input(&c, buf, sizeof buf);
    return Bytes(buf, buf + n);
  }
  void feed(const Bytes& b) { proto_zl7_chan_write_input(&c, b.data(), static_cast<int>(b.size())); }
  std::vector<s_zl7_cmd> take() {
    std::vector<s_zl7_cmd> out(ZL7_QUEUE_SIZE);
    out.resize(static_cast<size_t>(proto_zl7_chan_read_output(&c, out.data(), ZL7_QUEUE_SIZE)));
    return out;
  }
  // The one record decoded from `b` (status -1 when not exactly one came).
  s_zl7_cmd one(const Bytes& b) {
    feed(b);
    auto got = take();
    EXPECT_EQ(got.size(), 1u);
    s_zl7_cmd r = cmd(0, 0);
    r.status = -1;
    return got.size() == 1 ? got[0] : r;
  }
  Ints statuses(const Bytes& b) {
    feed(b);
    Ints s;
    for (const auto& x : take()) s.push_back(x.status);
    return s;
  }
};

Bytes with_crc(Bytes b) {
  int crc = calc_crc16(0xFFFF, b.data(), static_cast<int>(b.size()));
  b.push_back(static_cast<unsigned char>(crc & 0xFF));
  b.push_back(static_cast<unsigned char>(crc >> 8));
  return b;
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(Zl7Crc, ModbusCheckValueAndContinuation) {
  const char* text = "123456789";
  EXPECT_EQ(calc_crc16(0xFFFF, text, 9), 0x4B37);
  EXPECT_EQ(calc_crc16(calc_crc16(0xFFFF, text, 4), text + 4, 5), 0x4B37);
  EXPECT_EQ(calc_crc16(0xFFFF, nullptr, 9), 0);
  EXPECT_EQ(calc_crc16(0xFFFF, text, 0), 0xFFFF);
}

TEST(Zl7Encode, ControllerRequestsAndLimits) {
  Chan ch(1, PROTO_MODE_ZL7_CONTROLER);
  EXPECT_EQ(ch.encode(cmd(1, CTL_GET_ID)), H("01 11 C0 2C"));
  s_zl7_cmd get = cmd(1, CTL_GET_REGS);
  get.body.ctl_get_regs.regs_count = 28;
  EXPECT_EQ(ch.encode(get), H("01 03 0000 001C 4403"));
  s_zl7_cmd written;
  ASSERT_EQ(proto_zl7_chan_read_written_output(&ch.c, &written, 1), 1);
  EXPECT_EQ(written.status * 1000 + written.length, 4);

  // A response function has no converter in the controller role.
  EXPECT_TRUE(ch.encode(cmd(1, RST_ERR_GET_ID)).empty());
  ASSERT_EQ(proto_zl7_chan_read_written_output(&ch.c, &written, 1), 1);
  EXPECT_EQ(written.status, PROTO_ZL7_CONVERT_BAD_ID);

  // The output queue takes no more than its room.
  std::vector<s_zl7_cmd> many(65, cmd(1, CTL_GET_ID));
  EXPECT_EQ(proto_zl7_chan_write_output(&ch.c, many.data(), 65), 64);
  EXPECT_EQ(proto_zl7_chan_write_output(&ch.c, many.data(), 1), 0);
  unsigned char out[1024];
  EXPECT_EQ(proto_zl7_chan_read_input(&ch.c, out, sizeof out), 256);
  EXPECT_EQ(proto_zl7_chan_read_input(&ch.c, out, sizeof out), 0);

  // Bytes that do not fit the caller's buffer wait for the next read.
  ch.encode(cmd(1, CTL_GET_ID));  // drains nothing more than it makes
  EXPECT_EQ(proto_zl7_chan_write_output(&ch.c, many.data(), 1), 1);
  EXPECT_EQ(proto_zl7_chan_read_input(&ch.c, out, 3), 3);
  EXPECT_EQ(proto_zl7_chan_read_input(&ch.c, out, 3), 1);
  EXPECT_EQ(out[0], 0x2C);

  // Four 264-byte frames: the raw output holds three.
  s_zl7_cmd big = cmd(1, CTL_SET_REGS);
  big.body.ctl_set_regs.bytes_count = 255;
  std::vector<s_zl7_cmd> four(4, big);
  ASSERT_EQ(proto_zl7_chan_write_output(&ch.c, four.data(), 4), 4);
  proto_zl7_chan_read_input(&ch.c, out, 1);
  ASSERT_EQ(proto_zl7_chan_read_written_output(&ch.c, four.data(), 4), 4);
  Ints got;
  for (const auto& w : four) got.push_back(w.status * 1000 + w.length);
  EXPECT_EQ(got, (Ints{260, 260, 260, PROTO_ZL7_CONVERT_QUEUE_FULL * 1000}));
}

TEST(Zl7Parse, NoiseBadCrcUnknownFunctionAndFullQueues) {
  Chan ctl(1, PROTO_MODE_ZL7_CONTROLER);
  const Bytes ack = with_crc(H("01 10 0005 0002"));  // no other 0x01 byte
  s_zl7_cmd got = ctl.one(H("55") + ack);
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(got.body.rst_set_regs.reg_addr, 5);
  // A corrupted frame fails, the parser restarts one byte later and finds
  // the next good frame.
  Bytes bad = ack;
  bad[3] ^= 0x40;
  EXPECT_EQ(ctl.statuses(bad + ack), (Ints{PROTO_ZL7_CONVERT_BAD_CRC, 0}));
  // An unknown function discards everything held.
  EXPECT_EQ(ctl.statuses(with_crc(H("01 05 0000")) + ack), (Ints{PROTO_ZL7_CONVERT_BAD_ID}));
  EXPECT_EQ(ctl.statuses(ack), (Ints{0}));
  // It leaves the channel synchronised: the next byte must start a frame.
  EXPECT_EQ(ctl.statuses(H("01 05 00 00")), (Ints{PROTO_ZL7_CONVERT_BAD_ID}));
  EXPECT_EQ(ctl.statuses(H("7E") + ack), (Ints{PROTO_ZL7_CONVERT_BAD_START, 0}));
  // Bytes without the address byte are dropped; a lone byte waits.
  EXPECT_EQ(ctl.statuses(H("223344")), Ints{});
  EXPECT_EQ(ctl.statuses(H("01")), Ints{});
  EXPECT_EQ(ctl.c.in_raw_count, 1);

  // A full received queue keeps the newest.
  Chan full(1, PROTO_MODE_ZL7_CONTROLER);
  Bytes stream;
  for (int i = 0; i < 70; ++i) stream = stream + with_crc({0x01, 0x10, 0x00, static_cast<unsigned char>(i), 0x00, 0x01});
  full.feed(stream);  // 560 bytes in one go
  auto all = full.take();
  ASSERT_EQ(all.size(), 64u);
  EXPECT_EQ(all.front().body.rst_set_regs.reg_addr * 100 + all.back().body.rst_set_regs.reg_addr, 669);
  // More than the raw input buffer in one call: all frames still parse.
  stream.clear();
  for (int i = 0; i < 200; ++i) stream = stream + with_crc({0x01, 0x11, 0x04, static_cast<unsigned char>(i), 0, 0, 0});
  full.feed(stream);  // 1800 bytes
  all = full.take();
  ASSERT_EQ(all.size(), 64u);
  EXPECT_EQ(all.back().body.rst_id.id, 199);
  EXPECT_EQ(full.c.in_raw_count, 0);
}

// Every register number with a kind has its row, in register order, and the
// row's printer gives the fields of its kind; other numbers print nothing.
TEST(Zl7Text, RegisterPrinterTable) {
  using Set = void (*)(s_zl7_reg&);
  struct Row {
    unsigned address;
    Set set;
    const char* text;
  };
  const Set data = [](s_zl7_reg& r) { r.value.data = 65000; };
  const Row rows[] = {
      {0, [](s_zl7_reg& r) { r.value.cw = 0x00012345; }, "reg.addr: 0,\nreg.cw.cw: 74565,\n"},
      {1, [](s_zl7_reg& r) { r.value.cw = -2; }, "reg.addr: 1,\nreg.cw.cw: -2,\n"},
      {2, [](s_zl7_reg& r) { r.value.cntr.request = 7; }, "reg.addr: 2,\nreg.cntr.request: 7,\n"},
      {3, data, "reg.addr: 3,\nreg.data: 65000,\n"},
      {4, data, "reg.addr: 4,\nreg.data: 65000,\n"},
      {5, [](s_zl7_reg& r) { r.value.frrs = {5, 0x123}; }, "reg.addr: 5,\nreg.frrs.kf: 5,\nreg.frrs.f: 291,\n"},
      {6, [](s_zl7_reg& r) { r.value.pkm = {200, 17}; }, "reg.addr: 6,\nreg.pkm.power: 200,\nreg.pkm.kfamp: 17,\n"},
      {7, [](s_zl7_reg& r) { r.value.ksw.kf = 3; }, "reg.addr: 7,\nreg.ksw.kf: 3,\n"},
      {8, [](s_zl7_reg& r) { r.value.tc = {9, 250}; }, "reg.addr: 8,\nreg.tc.tki: 9,\nreg.tc.tr: 250,\n"},
      {9, [](s_zl7_reg& r) { r.value.varu = {4, 128}; }, "reg.addr: 9,\nreg.varu.kf: 4,\nreg.varu.v: 128,\n"},
      {10, [](s_zl7_reg& r) { r.value.sql.sql = 99; }, "reg.addr: 10,\nreg.sql.sql: 99,\n"},
      {11, data, "reg.addr: 11,\nreg.data: 65000,\n"},
      {12, data, "reg.addr: 12,\nreg.data: 65000,\n"},
      {13, data, "reg.addr: 13,\nreg.data: 65000,\n"},
      {14, data, "reg.addr: 14,\nreg.data: 65000,\n"},
      {16, data, "reg.addr: 16,\nreg.data: 65000,\n"},
      {17, data, "reg.addr: 17,\nreg.data: 65000,\n"},
      {18, data, "reg.addr: 18,\nreg.data: 65000,\n"},
      {19, data, "reg.addr: 19,\nreg.data: 65000,\n"},
      {20, data, "reg.addr: 20,\nreg.data: 65000,\n"},
      {21, data, "reg.addr: 21,\nreg.data: 65000,\n"},
      {22, data, "reg.addr: 22,\nreg.data: 65000,\n"},
      {23, data, "reg.addr: 23,\nreg.data: 65000,\n"},
      {24, data, "reg.addr: 24,\nreg.data: 65000,\n"},
      {25, data, "reg.addr: 25,\nreg.data: 65000,\n"},
      {26, data, "reg.addr: 26,\nreg.data: 65000,\n"},
      {27, data, "reg.addr: 27,\nreg.data: 65000,\n"},
      {15, data, ""},
      {28, data, ""},
      {255, data, ""},
  };
  ASSERT_EQ(std::size(proto_zl7_regs_sprintf_table), 27u);
  char text[256], fields[256];
  for (size_t i = 0; i < std::size(rows); ++i) {
    const Row& row = rows[i];
    SCOPED_TRACE(row.address);
    s_zl7_reg reg;
    std::memset(&reg, 0, sizeof reg);
    reg.address = static_cast<std::uint8_t>(row.address);
    row.set(reg);
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(sprintf_zl7_reg(text, sizeof text, &reg, 0), static_cast<int>(std::strlen(row.text)));
    EXPECT_STREQ(text, row.text);
    if (i >= std::size(proto_zl7_regs_sprintf_table)) continue;
    const auto& entry = proto_zl7_regs_sprintf_table[i];
    EXPECT_EQ(entry.address, row.address);
    radio_text::Printer p(fields, sizeof fields);
    entry.print(p, reg);
    EXPECT_EQ("reg.addr: " + std::to_string(row.address) + ",\n" + fields, row.text);
  }
  // The message printer tables of the two roles: one row per function, in order.
  Ints functions;
  for (const auto& row : proto_zl7_controler_sprintf_table) functions.push_back(row.function);
  for (const auto& row : proto_zl7_radio_sprintf_table) functions.push_back(row.function);
  EXPECT_EQ(functions, (Ints{3, 8, 16, 17, 19, 3, 8, 16, 17, 131, 136, 144, 145, 147}));
}

#ifdef HAVE_MODBUS_HEADER

// libmodbus, loaded at run time so that the daemon's libraries never link it.
struct Modbus {
  void* lib = dlopen("libmodbus.so.5", RTLD_NOW);
#define MB_FNS(X)                                                                                               \
  X(modbus_new_rtu) X(modbus_set_slave) X(modbus_connect) X(modbus_close) X(modbus_free) X(modbus_receive) \
  X(modbus_reply) X(modbus_mapping_new) X(modbus_mapping_free) X(modbus_send_raw_request) X(modbus_receive_confirmation)
#define MB_FN(name) decltype(&::name) name = lib ? reinterpret_cast<decltype(&::name)>(dlsym(lib, #name)) : nullptr;
  MB_FNS(MB_FN)
#undef MB_FN
  ~Modbus() {
    if (lib) dlclose(lib);
  }
};

// A pty pair: our side holds the master, libmodbus opens the slave as its
// serial line.
class ModbusPeer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(mb.lib) << "libmodbus not installed (scripts/deps.sh installs it)";
    master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master) | unlockpt(master), 0);
    ctx = mb.modbus_new_rtu(ptsname(master), 115200, 'N', 8, 1);
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(mb.modbus_set_slave(ctx, 1) | mb.modbus_connect(ctx), 0);
  }
  void TearDown() override {
    if (ctx) mb.modbus_close(ctx), mb.modbus_free(ctx);
    if (master >= 0) close(master);
  }
  void send(const Bytes& b) { ASSERT_EQ(write(master, b.data(), b.size()), static_cast<ssize_t>(b.size())); }
  Bytes receive(size_t n) {
    Bytes out;
    unsigned char buf[512];
    for (pollfd p{master, POLLIN, 0}; out.size() < n && poll(&p, 1, 2000) == 1;) {
      ssize_t k = read(master, buf, sizeof buf);
      if (k <= 0) break;
      out.insert(out.end(), buf, buf + k);
    }
    return out;
  }
  // Our request through libmodbus's receive (its length) and reply; the
  // reply decoded by our channel.
  s_zl7_cmd Served(Chan& ch, const s_zl7_cmd& req, int length, std::size_t reply, modbus_mapping_t* map) {
    send(ch.encode(req));
    unsigned char in[MODBUS_RTU_MAX_ADU_LENGTH];
    int n = mb.modbus_receive(ctx, in);
    EXPECT_EQ(n, length);
    mb.modbus_reply(ctx, in, n, map);
    return ch.one(receive(reply));
  }
  // Our answer through libmodbus's confirmation: its length.
  int Confirmed(Chan& st, const s_zl7_cmd& rsp) {
    send(st.encode(rsp));
    return mb.modbus_receive_confirmation(ctx, confirm);
  }

  Modbus mb;
  int master = -1;
  modbus_t* ctx = nullptr;
  uint8_t confirm[MODBUS_RTU_MAX_ADU_LENGTH];
};

TEST_F(ModbusPeer, StationAnswersOurRequests) {
  modbus_mapping_t* map = mb.modbus_mapping_new(0, 0, 28, 0);
  ASSERT_NE(map, nullptr);
  for (int i = 0; i < 28; ++i) map->tab_registers[i] = static_cast<uint16_t>(0x1000 + i * 0x0101);
  Chan ch(1, PROTO_MODE_ZL7_CONTROLER);

  // Read all registers: libmodbus accepts our frame and we decode its answer.
  s_zl7_cmd get = cmd(1, CTL_GET_REGS);
  get.body.ctl_get_regs.regs_count = 28;
  s_zl7_cmd got = Served(ch, get, 8, 5 + 56, map);
  ASSERT_EQ(got.status, 0);
  EXPECT_EQ(got.body.rst_get_regs.bytes_count, 56);
  for (int i = 0; i < 28; ++i) EXPECT_EQ(got.body.rst_get_regs.regs[i], map->tab_registers[i]) << i;

  // Write the frequency register through a packed register value.
  s_zl7_reg reg;
  std::memset(&reg, 0, sizeof reg);
  reg.address = 5;
  reg.value.frrs.kf = 3;
  reg.value.frrs.f = 2160;
  s_zl7_cmd set = cmd(0, 0);
  s_proto_zl7_header h{1, CTL_SET_REGS, 0};
  ASSERT_EQ(pack_zl7_reg(&set, &h, &reg), 0);
  got = Served(ch, set, 11, 8, map);
  EXPECT_EQ(map->tab_registers[5], (3 << 13) | 2160);
  EXPECT_EQ(Ints({got.status, got.function, got.body.rst_set_regs.reg_addr, got.body.rst_set_regs.regs_count}),
            (Ints{0, RST_SET_REGS, 5, 1}));

  // The identification request is a well-formed frame for libmodbus too.
  send(ch.encode(cmd(1, CTL_GET_ID)));
  unsigned char in[MODBUS_RTU_MAX_ADU_LENGTH];
  EXPECT_EQ(mb.modbus_receive(ctx, in), 4);

  // A register outside the map: libmodbus answers with an exception, which
  // decodes as an error response carrying the code (illegal data address).
  get.body.ctl_get_regs.reg_addr = 20;
  get.body.ctl_get_regs.regs_count = 10;
  got = Served(ch, get, 8, 5, map);
  EXPECT_EQ(Ints({got.status, got.function, got.body.rst_error.error}), (Ints{0, RST_ERR_GET_REGS, 2}));
  mb.modbus_mapping_free(map);
}

TEST_F(ModbusPeer, OurStationAnswersLibmodbus) {
  Chan st(1, PROTO_MODE_ZL7_RADIO_STATION);
  // libmodbus's read-holding-registers request, decoded by the station role.
  const uint8_t read_req[] = {1, 0x03, 0x00, 0x02, 0x00, 0x03};
  ASSERT_GT(mb.modbus_send_raw_request(ctx, read_req, sizeof read_req), 0);
  s_zl7_cmd got = st.one(receive(8));
  EXPECT_EQ(Ints({got.status, got.body.ctl_get_regs.reg_addr, got.body.ctl_get_regs.regs_count}), (Ints{0, 2, 3}));

  // Our response passes libmodbus's length and CRC checks.
  s_zl7_cmd rsp = cmd(1, RST_GET_REGS);
  rsp.body.rst_get_regs.bytes_count = 6;
  for (int i = 0; i < 3; ++i) rsp.body.rst_get_regs.regs[i] = uint16_t(0x0102 + 0x0202 * i);
  ASSERT_EQ(Confirmed(st, rsp), 11);
  EXPECT_EQ(confirm[3] * 100 + confirm[8], 106);

  // Write-multiple-registers request and our acknowledgement.
  const uint8_t write_req[] = {1, 0x10, 0x00, 0x03, 0x00, 0x01, 0x02, 0x80, 0x00};
  ASSERT_GT(mb.modbus_send_raw_request(ctx, write_req, sizeof write_req), 0);
  got = st.one(receive(11));
  EXPECT_EQ(Ints({got.status, got.body.ctl_set_regs.reg_addr, got.body.ctl_set_regs.regs[0]}), (Ints{0, 3, 0x8000}));
  rsp = cmd(1, RST_SET_REGS);
  rsp.body.rst_set_regs.reg_addr = 3;
  rsp.body.rst_set_regs.regs_count = 1;
  ASSERT_EQ(Confirmed(st, rsp), 8);

  // An error response as libmodbus reads exceptions.
  rsp = cmd(1, RST_ERR_SET_REGS);
  rsp.body.rst_error.error = 6;
  ASSERT_EQ(Confirmed(st, rsp), 5);
  EXPECT_EQ(confirm[1] * 100 + confirm[2], 0x90 * 100 + 6);
}

#else

TEST(ModbusPeer, IsInstalled) { FAIL() << "libmodbus-dev not installed (scripts/deps.sh installs it)"; }

#endif  // HAVE_MODBUS_HEADER

}  // namespace
