// Radio station device controls: the Zolta 7 poll-and-update machine driven
// with a simulated station (our own station-role channel) and a hand-driven
// clock, plus the plain None/Base devices and the factory.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "radio/device_control.h"
#include "radio_test_support.h"

namespace {

using radiotest::Bytes;
using radiotest::H;
using Ints = std::vector<int>;

// A Zolta 7 station on the far side of the byte stream: it decodes requests
// with a station-role channel and answers from its register file.
struct Station {
  s_proto_zl7_ctrl ch;
  std::uint16_t regs[28] = {};
  std::vector<s_zl7_cmd> requests;
  int error = 0;  // answer every request with this error code when set

  Station() { proto_zl7_chan_open(&ch, 1, PROTO_MODE_ZL7_RADIO_STATION); }
  ~Station() { proto_zl7_chan_close(&ch); }

  Bytes answer(const Bytes& in) {
    proto_zl7_chan_write_input(&ch, in.data(), static_cast<int>(in.size()));
    s_zl7_cmd req;
    Bytes out;
    while (proto_zl7_chan_read_output(&ch, &req, 1) == 1) {
      if (req.status != 0) continue;
      requests.push_back(req);
      s_zl7_cmd rsp;
      std::memset(&rsp, 0, sizeof rsp);
      rsp.address = 1;
      rsp.function = req.function;
      if (error) {
        rsp.function = static_cast<std::uint8_t>(req.function | 0x80);
        rsp.body.rst_error.error = static_cast<std::uint8_t>(error);
      } else if (req.function == CTL_GET_ID) {
        rsp.body.rst_id = {7, 0x11, 1, 1, 0, 0, 2, 5};
      } else if (req.function == CTL_GET_REGS) {
        const int n = req.body.ctl_get_regs.regs_count;
        rsp.body.rst_get_regs.bytes_count = static_cast<std::uint8_t>(2 * n);
        for (int i = 0; i < n; ++i) rsp.body.rst_get_regs.regs[i] = regs[req.body.ctl_get_regs.reg_addr + i];
      } else if (req.function == CTL_SET_REGS) {
        for (int i = 0; i < req.body.ctl_set_regs.regs_count; ++i)
          regs[req.body.ctl_set_regs.reg_addr + i] = req.body.ctl_set_regs.regs[i];
        rsp.body.rst_set_regs.reg_addr = req.body.ctl_set_regs.reg_addr;
        rsp.body.rst_set_regs.regs_count = req.body.ctl_set_regs.regs_count;
      }
      proto_zl7_chan_write_output(&ch, &rsp, 1);
      unsigned char buf[512];
      int k = proto_zl7_chan_read_input(&ch, buf, sizeof buf);
      out.insert(out.end(), buf, buf + k);
    }
    return out;
  }
};

class Zolta7 : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dev.Open());
    station.regs[5] = static_cast<std::uint16_t>((2 << 13) | 2400);  // kf 2, 120 MHz
    station.regs[3] = 0x0042;
  }
  void TearDown() override { dev.Close(); }

  Mux::timeval at(long ms) { return Mux::timeval(1000 + ms / 1000, (ms % 1000) * 1000); }
  // One step: process at time ms, send whatever the device wants to send,
  // hand the station's answer back (unless the station is silent).
  Bytes step(long ms, bool answer = true) {
    dev.Process(at(ms));
    std::vector<unsigned char> out;
    out.reserve(512);
    dev.Read(out);
    if (answer && !out.empty()) {
      Bytes back = station.answer(out);
      if (!back.empty()) dev.Write(back);
    }
    return out;
  }
  const s_zolta7_radio_control& st() { return dev.station(); }
  void connect() {
    step(0);
    step(10);
    step(20);
    ASSERT_TRUE(dev.isConnected());
  }

  Zolta7DeviceControl dev;
  Station station;
};

TEST_F(Zolta7, SilentStationTimesOutAndIsPolledAgain) {
  step(0, false);
  // Nothing more to send: a vector keeps its size.
  std::vector<unsigned char> kept(3);
  kept.reserve(16);
  EXPECT_EQ(dev.Read(kept), 0);
  EXPECT_EQ(kept.size(), 3u);
  step(4999, false);
  EXPECT_EQ(st().substate, ZL7_SUBSTATE_WAIT_RESPONSE);
  dev.Process(at(5000));
  EXPECT_EQ(Ints({st().substate, st().id_update, st().task}), (Ints{ZL7_SUBSTATE_TO_REQUEST, ZL7_UPDATE_NONE, ZL7_TASK_NONE}));
  // No register read was ever recorded: it goes out next.
  EXPECT_EQ(step(5001, false), H("01 03 0000 001C 4403"));
  dev.Process(at(10001));  // register read times out too
  EXPECT_TRUE(step(29999, false).empty());
  EXPECT_EQ(step(30000, false), H("01 11 C02C"));
  EXPECT_FALSE(dev.isConnected());
}

TEST_F(Zolta7, ConnectsAndTakesTheStationsValues) {
  connect();
  EXPECT_EQ(Ints({st().id.id, st().id.version_minor, dev.GetSQL(), st().wanted_frrs.f, st().wanted_mr1,
                  dev.GetTypeEmission(), dev.hasProtocolErorr(), dev.hasHardwareErorr()}),
            (Ints{7, 5, IDeviceControl::SquelshOff, 2400, 0x0042, -1, 0, 0}));
  EXPECT_FLOAT_EQ(dev.GetFreq(), 120.0f);
  EXPECT_FLOAT_EQ(st().wanted_freq, 120.0f);

  // Registers are read again every poll period; a dv register reports
  // hardware trouble.
  station.regs[25] = 1;
  EXPECT_TRUE(step(29999).empty());
  EXPECT_EQ(step(30020).size(), 8u);
  EXPECT_TRUE(dev.hasHardwareErorr());

  // Losing the registers drops the connection.
  step(60020, false);
  dev.Process(at(65020));
  dev.Process(at(65021));
  EXPECT_FALSE(dev.isConnected());
  EXPECT_FALSE(dev.hasHardwareErorr());
}

TEST_F(Zolta7, AnswersSplitOrLateDoNotStall) {
  // An answer arriving in pieces is taken once complete.
  const Bytes req = step(0, false);
  const Bytes rsp = station.answer(req);
  for (unsigned char b : rsp) dev.Write(Bytes{b});
  EXPECT_EQ(Ints({st().id_update, st().task}), (Ints{ZL7_UPDATE_WAS, ZL7_TASK_NONE}));

  // A late identification answer while the register read waits leaves that
  // read running until its own answer comes.
  const Bytes get_regs = step(10, false);
  ASSERT_EQ(get_regs[1], CTL_GET_REGS);
  dev.Write(const_cast<unsigned char*>(rsp.data()), static_cast<int>(rsp.size()));
  EXPECT_EQ(Ints({st().task, st().substate}), (Ints{ZL7_TASK_GET_ALL_REGS, ZL7_SUBSTATE_WAIT_RESPONSE}));
  dev.Write(station.answer(get_regs));
  dev.Process(at(20));
  EXPECT_TRUE(dev.isConnected());

  // A caller buffer smaller than a request gets the rest on the next read.
  dev.SetFreq(150.0f);
  dev.Process(at(30));
  unsigned char part[5], rest[16];
  EXPECT_EQ(dev.Read(part, 5), 5);
  EXPECT_EQ(dev.Read(rest, 16), 6);
  Bytes whole(part, part + 5);
  whole.insert(whole.end(), rest, rest + 6);
  dev.Write(station.answer(whole));
  EXPECT_EQ(st().freq_update, ZL7_UPDATE_WAS);
}

TEST(DeviceControl, FactoryNoneAndBase) {
  EXPECT_EQ(DeviceControlFactory::createDeviceControl(static_cast<IDeviceControl::RadioTypeType>(2)), nullptr);
  std::unique_ptr<IDeviceControl> none(DeviceControlFactory::createDeviceControl(IDeviceControl::RadioTypeNone));
  std::unique_ptr<IDeviceControl> z7(DeviceControlFactory::createDeviceControl(IDeviceControl::RadioTypeZolta7));
  ASSERT_TRUE(none && z7);

  // Without a station: connected at once, wishes taken at the next pass.
  ASSERT_TRUE(none->Open() && none->isConnected());
  none->SetFreq(433.5f);
  none->SetSQL(IDeviceControl::SquelshOn);
  none->SetTypeEmission(3);
  EXPECT_FLOAT_EQ(none->GetFreq(), 0.0f);
  none->Process(Mux::timeval(1, 0));
  EXPECT_FLOAT_EQ(none->GetFreq(), 433.5f);
  int v = 0;
  float step = 0;
  ASSERT_TRUE(none->GetParam(IDeviceControl::ParamTypeEmission, &v, 4) &&
              none->GetParam(IDeviceControl::ParamFreqStep, &step, 4));
  EXPECT_EQ(Ints({none->GetSQL(), v}), (Ints{IDeviceControl::SquelshOn, 3}));
  EXPECT_FLOAT_EQ(step, 0.0001f);
  Bytes buf(4);
  EXPECT_EQ(none->Write(nullptr, 7) * 10 + none->Read(buf), 70);

  // A second Open of the Zolta 7 device starts afresh; destroying it
  // without Close leaks nothing (the sanitizer build checks).
  ASSERT_TRUE(z7->Open());
  ASSERT_TRUE(z7->Open());
}

TEST_F(Zolta7, SquelchChangeAndItsErrorResponse) {
  connect();
  dev.SetSQL(IDeviceControl::SquelshOn);
  EXPECT_EQ(st().wanted_mr1, 0x8042);
  station.error = 3;
  const Bytes req = step(100);
  ASSERT_EQ(req.size(), 11u);
  EXPECT_EQ(req[3], 3);  // register 3
  EXPECT_EQ(Ints({st().sql_update, st().task, st().last_error_set_regs, dev.hasProtocolErorr()}),
            (Ints{ZL7_UPDATE_NONE, ZL7_TASK_NONE, 3, 1}));

  // The failed change left a register read due; it runs first and must not
  // undo the new request.
  station.error = 0;
  station.regs[3] = 0x0043;
  dev.SetSQL(IDeviceControl::SquelshOn);
  EXPECT_EQ(step(200)[1], CTL_GET_REGS);
  EXPECT_EQ(st().wanted_mr1, 0x8043);
  EXPECT_EQ(step(210)[1], CTL_SET_REGS);
  EXPECT_EQ(station.regs[3], 0x8043);
  EXPECT_EQ(dev.GetSQL(), IDeviceControl::SquelshOn);
  EXPECT_FALSE(dev.hasProtocolErorr());
  dev.SetSQL(IDeviceControl::SquelshNoConfig);  // leaves the bit alone
  EXPECT_EQ(st().wanted_mr1, 0x8043);
}

}  // namespace
