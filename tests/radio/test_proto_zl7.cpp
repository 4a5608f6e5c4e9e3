// Register protocol channel: frame bytes, CRC, resynchronisation, queues,
// both roles against each other, and libmodbus as the independent peer over
// a pty pair.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "radio/proto_zl7.h"

#if __has_include(<modbus/modbus.h>)
#include <modbus/modbus.h>
#define HAVE_MODBUS_HEADER 1
#endif

namespace {

using Bytes = std::vector<unsigned char>;

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
};

s_zl7_cmd cmd(unsigned char address, unsigned char function) {
  s_zl7_cmd c;
  std::memset(&c, 0, sizeof c);
  c.address = address;
  c.function = function;
  return c;
}

Bytes with_crc(Bytes b) {
  int crc = calc_crc16(0xFFFF, b.data(), static_cast<int>(b.size()));
  b.push_back(static_cast<unsigned char>(crc & 0xFF));
  b.push_back(static_cast<unsigned char>(crc >> 8));
  return b;
}

std::vector<int> statuses(const std::vector<s_zl7_cmd>& v) {
  std::vector<int> s;
  for (const auto& c : v) s.push_back(c.status);
  return s;
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
  EXPECT_EQ(ch.encode(cmd(1, CTL_GET_ID)), (Bytes{0x01, 0x11, 0xC0, 0x2C}));
  s_zl7_cmd get = cmd(1, CTL_GET_REGS);
  get.body.ctl_get_regs.reg_addr = 0;
  get.body.ctl_get_regs.regs_count = 28;
  EXPECT_EQ(ch.encode(get), (Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x1C, 0x44, 0x03}));

  s_zl7_cmd written;
  ASSERT_EQ(proto_zl7_chan_read_written_output(&ch.c, &written, 1), 1);
  EXPECT_EQ(written.status, 0);
  EXPECT_EQ(written.length, 4);

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
}

TEST(Zl7Encode, FullRawOutputFailsTheRecord) {
  Chan ch(1, PROTO_MODE_ZL7_CONTROLER);
  s_zl7_cmd big = cmd(1, CTL_SET_REGS);
  big.body.ctl_set_regs.bytes_count = 255;  // 264-byte frames
  std::vector<s_zl7_cmd> four(4, big);
  ASSERT_EQ(proto_zl7_chan_write_output(&ch.c, four.data(), 4), 4);
  unsigned char out[1];
  proto_zl7_chan_read_input(&ch.c, out, 1);
  std::vector<s_zl7_cmd> written(4);
  ASSERT_EQ(proto_zl7_chan_read_written_output(&ch.c, written.data(), 4), 4);
  EXPECT_EQ(statuses(written), (std::vector<int>{0, 0, 0, PROTO_ZL7_CONVERT_QUEUE_FULL}));
  EXPECT_EQ(written[0].length, 260);
  EXPECT_EQ(written[3].length, 0);
}

TEST(Zl7Parse, NoiseBadCrcAndUnknownFunction) {
  Chan ctl(1, PROTO_MODE_ZL7_CONTROLER);
  const Bytes ack = with_crc({0x01, 0x10, 0x00, 0x05, 0x00, 0x02});  // no other 0x01 byte

  Bytes in{0x55};
  in.insert(in.end(), ack.begin(), ack.end());
  ctl.feed(in);
  auto got = ctl.take();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].status, 0);
  EXPECT_EQ(got[0].body.rst_set_regs.reg_addr, 5);

  // A corrupted frame fails, the parser restarts one byte later and finds
  // the next good frame.
  Bytes bad = ack;
  bad[3] ^= 0x40;
  bad.insert(bad.end(), ack.begin(), ack.end());
  ctl.feed(bad);
  EXPECT_EQ(statuses(ctl.take()), (std::vector<int>{PROTO_ZL7_CONVERT_BAD_CRC, 0}));

  // An unknown function discards everything held.
  Bytes unknown = with_crc({0x01, 0x05, 0x00, 0x00});
  unknown.insert(unknown.end(), ack.begin(), ack.end());
  ctl.feed(unknown);
  EXPECT_EQ(statuses(ctl.take()), (std::vector<int>{PROTO_ZL7_CONVERT_BAD_ID}));
  ctl.feed(ack);
  EXPECT_EQ(statuses(ctl.take()), (std::vector<int>{0}));

  // Bytes without the address byte are dropped; a lone byte waits.
  ctl.feed(Bytes{0x22, 0x33, 0x44});
  EXPECT_TRUE(ctl.take().empty());
  ctl.feed(Bytes{0x01});
  EXPECT_TRUE(ctl.take().empty());
  EXPECT_EQ(ctl.c.in_raw_count, 1);
}

TEST(Zl7Parse, FullReceivedQueueKeepsTheNewest) {
  Chan ctl(1, PROTO_MODE_ZL7_CONTROLER);
  Bytes stream;
  for (int i = 0; i < 70; ++i) {
    Bytes f = with_crc({0x01, 0x10, 0x00, static_cast<unsigned char>(i), 0x00, 0x01});
    stream.insert(stream.end(), f.begin(), f.end());
  }
  ctl.feed(stream);  // 560 bytes in one go
  auto got = ctl.take();
  ASSERT_EQ(got.size(), 64u);
  EXPECT_EQ(got.front().body.rst_set_regs.reg_addr, 6);
  EXPECT_EQ(got.back().body.rst_set_regs.reg_addr, 69);

  // More than the raw input buffer in one call: all frames still parse.
  stream.clear();
  for (int i = 0; i < 200; ++i) {
    Bytes f = with_crc({0x01, 0x11, 0x04, static_cast<unsigned char>(i), 0, 0, 0});
    stream.insert(stream.end(), f.begin(), f.end());
  }
  ctl.feed(stream);  // 1800 bytes
  got = ctl.take();
  ASSERT_EQ(got.size(), 64u);
  EXPECT_EQ(got.back().body.rst_id.id, 199);
  EXPECT_EQ(ctl.c.in_raw_count, 0);
}

#ifdef HAVE_MODBUS_HEADER

// libmodbus, loaded at run time so that the daemon's libraries never link it.
struct Modbus {
  void* lib = dlopen("libmodbus.so.5", RTLD_NOW);
#define MB_FN(name) decltype(&::name) name = lib ? reinterpret_cast<decltype(&::name)>(dlsym(lib, #name)) : nullptr
  MB_FN(modbus_new_rtu);
  MB_FN(modbus_set_slave);
  MB_FN(modbus_connect);
  MB_FN(modbus_close);
  MB_FN(modbus_free);
  MB_FN(modbus_receive);
  MB_FN(modbus_reply);
  MB_FN(modbus_mapping_new);
  MB_FN(modbus_mapping_free);
  MB_FN(modbus_send_raw_request);
  MB_FN(modbus_receive_confirmation);
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
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    ctx = mb.modbus_new_rtu(ptsname(master), 115200, 'N', 8, 1);
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(mb.modbus_set_slave(ctx, 1), 0);
    ASSERT_EQ(mb.modbus_connect(ctx), 0);
  }
  void TearDown() override {
    if (ctx) {
      mb.modbus_close(ctx);
      mb.modbus_free(ctx);
    }
    if (master >= 0) close(master);
  }
  void send(const Bytes& b) { ASSERT_EQ(write(master, b.data(), b.size()), static_cast<ssize_t>(b.size())); }
  Bytes receive(size_t n) {
    Bytes out;
    while (out.size() < n) {
      pollfd p{master, POLLIN, 0};
      if (poll(&p, 1, 2000) != 1) break;
      unsigned char buf[512];
      ssize_t k = read(master, buf, sizeof buf);
      if (k <= 0) break;
      out.insert(out.end(), buf, buf + k);
    }
    return out;
  }

  Modbus mb;
  int master = -1;
  modbus_t* ctx = nullptr;
};

TEST_F(ModbusPeer, StationAnswersOurRequests) {
  modbus_mapping_t* map = mb.modbus_mapping_new(0, 0, 28, 0);
  ASSERT_NE(map, nullptr);
  for (int i = 0; i < 28; ++i) map->tab_registers[i] = static_cast<uint16_t>(0x1000 + i * 0x0101);
  Chan ch(1, PROTO_MODE_ZL7_CONTROLER);
  unsigned char req[MODBUS_RTU_MAX_ADU_LENGTH];

  // Read all registers: libmodbus accepts our frame and we decode its answer.
  s_zl7_cmd get = cmd(1, CTL_GET_REGS);
  get.body.ctl_get_regs.regs_count = 28;
  send(ch.encode(get));
  int n = mb.modbus_receive(ctx, req);
  ASSERT_EQ(n, 8);
  ASSERT_EQ(mb.modbus_reply(ctx, req, n, map), 5 + 56);
  ch.feed(receive(5 + 56));
  auto got = ch.take();
  ASSERT_EQ(got.size(), 1u);
  ASSERT_EQ(got[0].status, 0);
  EXPECT_EQ(got[0].body.rst_get_regs.bytes_count, 56);
  for (int i = 0; i < 28; ++i) EXPECT_EQ(got[0].body.rst_get_regs.regs[i], map->tab_registers[i]) << i;

  // Write the frequency register through a packed register value.
  s_zl7_reg reg;
  std::memset(&reg, 0, sizeof reg);
  reg.address = 5;
  reg.value.frrs.kf = 3;
  reg.value.frrs.f = 2160;
  s_zl7_cmd set = cmd(0, 0);
  s_proto_zl7_header h{1, CTL_SET_REGS, 0};
  ASSERT_EQ(pack_zl7_reg(&set, &h, &reg), 0);
  send(ch.encode(set));
  n = mb.modbus_receive(ctx, req);
  ASSERT_EQ(n, 11);
  ASSERT_EQ(mb.modbus_reply(ctx, req, n, map), 8);
  EXPECT_EQ(map->tab_registers[5], (3 << 13) | 2160);
  ch.feed(receive(8));
  got = ch.take();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].status, 0);
  EXPECT_EQ(got[0].function, RST_SET_REGS);
  EXPECT_EQ(got[0].body.rst_set_regs.reg_addr, 5);
  EXPECT_EQ(got[0].body.rst_set_regs.regs_count, 1);

  // The identification request is a well-formed frame for libmodbus too.
  send(ch.encode(cmd(1, CTL_GET_ID)));
  EXPECT_EQ(mb.modbus_receive(ctx, req), 4);

  // A register outside the map: libmodbus answers with an exception, which
  // decodes as an error response carrying the code.
  get.body.ctl_get_regs.reg_addr = 20;
  get.body.ctl_get_regs.regs_count = 10;
  send(ch.encode(get));
  n = mb.modbus_receive(ctx, req);
  ASSERT_EQ(n, 8);
  mb.modbus_reply(ctx, req, n, map);
  ch.feed(receive(5));
  got = ch.take();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].status, 0);
  EXPECT_EQ(got[0].function, RST_ERR_GET_REGS);
  EXPECT_EQ(got[0].body.rst_error.error, 2);  // illegal data address
  mb.modbus_mapping_free(map);
}

TEST_F(ModbusPeer, OurStationAnswersLibmodbus) {
  Chan st(1, PROTO_MODE_ZL7_RADIO_STATION);
  // libmodbus's read-holding-registers request, decoded by the station role.
  const uint8_t read_req[] = {1, 0x03, 0x00, 0x02, 0x00, 0x03};
  ASSERT_GT(mb.modbus_send_raw_request(ctx, read_req, sizeof read_req), 0);
  st.feed(receive(8));
  auto got = st.take();
  ASSERT_EQ(got.size(), 1u);
  ASSERT_EQ(got[0].status, 0);
  EXPECT_EQ(got[0].body.ctl_get_regs.reg_addr, 2);
  EXPECT_EQ(got[0].body.ctl_get_regs.regs_count, 3);

  // Our response passes libmodbus's length and CRC checks.
  s_zl7_cmd rsp = cmd(1, RST_GET_REGS);
  rsp.body.rst_get_regs.bytes_count = 6;
  rsp.body.rst_get_regs.regs[0] = 0x0102;
  rsp.body.rst_get_regs.regs[1] = 0x0304;
  rsp.body.rst_get_regs.regs[2] = 0x0506;
  send(st.encode(rsp));
  uint8_t confirm[MODBUS_RTU_MAX_ADU_LENGTH];
  ASSERT_EQ(mb.modbus_receive_confirmation(ctx, confirm), 11);
  EXPECT_EQ(confirm[3], 0x01);
  EXPECT_EQ(confirm[8], 0x06);

  // Write-multiple-registers request and our acknowledgement.
  const uint8_t write_req[] = {1, 0x10, 0x00, 0x03, 0x00, 0x01, 0x02, 0x80, 0x00};
  ASSERT_GT(mb.modbus_send_raw_request(ctx, write_req, sizeof write_req), 0);
  st.feed(receive(11));
  got = st.take();
  ASSERT_EQ(got.size(), 1u);
  ASSERT_EQ(got[0].status, 0);
  EXPECT_EQ(got[0].body.ctl_set_regs.reg_addr, 3);
  EXPECT_EQ(got[0].body.ctl_set_regs.regs[0], 0x8000);
  rsp = cmd(1, RST_SET_REGS);
  rsp.body.rst_set_regs.reg_addr = 3;
  rsp.body.rst_set_regs.regs_count = 1;
  send(st.encode(rsp));
  ASSERT_EQ(mb.modbus_receive_confirmation(ctx, confirm), 8);

  // An error response as libmodbus reads exceptions.
  rsp = cmd(1, RST_ERR_SET_REGS);
  rsp.body.rst_error.error = 6;
  send(st.encode(rsp));
  ASSERT_EQ(mb.modbus_receive_confirmation(ctx, confirm), 5);
  EXPECT_EQ(confirm[1], 0x90);
  EXPECT_EQ(confirm[2], 6);
}

#else

TEST(ModbusPeer, IsInstalled) { FAIL() << "libmodbus-dev not installed (scripts/deps.sh installs it)"; }

#endif  // HAVE_MODBUS_HEADER

}  // namespace
