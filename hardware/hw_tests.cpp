#include "hardware/hw_tests.h"

#include <unistd.h>

#include <cstring>
#include <iomanip>
#include <iostream>

#include "hardware/hwmux.h"
#include "runtime/log/ext.h"

HwTests& HwTests::instance() {
  static HwTests service;
  return service;
}

HwTests::HwTests() {
  std::memset(state_, 0, sizeof state_);
  std::memset(&random_, 0, sizeof random_);
  initstate_r(1, state_, sizeof state_, &random_);
}

bool HwTests::OnCommand(const LGCP::Command& command) {
  if (!command.testBpc_isSelected()) return false;
  OnTestBpc(command.get_testBpc());
  return true;
}

void HwTests::OnTestBpc(const LGCP::BpcTestParams& params) {
  bus = int(params.get_bus().getValue());
  first = HwMux::kFirstOutput + bus * 128 + int(params.get_timeslot_start().getValue());
  end = first + int(params.get_timeslot_length().getValue());
  seed = params.get_seed().getValue();
  Seed();
  const LGCP::BpcTestMode& mode = params.get_mode();
  if (mode.read_isSelected()) TestRead();
  else if (mode.write_isSelected()) TestWrite();
  else if (mode.disconnect_isSelected()) TestDisconnect();
  else Error(LGCP::ErrorCause::invalidParams);
}

void HwTests::Seed() { srandom_r(static_cast<unsigned int>(seed), &random_); }

unsigned char HwTests::NextByte() {
  int32_t v = 0;
  random_r(&random_, &v);
  return static_cast<unsigned char>(v & 0xff);
}

void HwTests::TestRead() {
  HwMux* mux = HwMux::instance();
  for (int ch = first; ch < end; ++ch) {
    unsigned char expected = NextByte();
    unsigned char got = mux->Read(ch);
    if (got != expected) {
      Report("test failed on channel ", ch, " expected ", expected, " read ", got);
      Error(LGCP::ErrorCause::busError);
      return;
    }
  }
  Success();
}

void HwTests::TestWrite() {
  HwMux* mux = HwMux::instance();
  for (int ch = first; ch < end; ++ch) mux->Write(ch, NextByte());
  ::usleep(500);
  Seed();
  for (int ch = first; ch < end; ++ch) {
    unsigned char expected = NextByte();
    unsigned char got = mux->Read(ch);
    if (got != expected) {
      Report("write failed on channel ", ch, " write ", expected, " written ", got);
      Error(LGCP::ErrorCause::busError);
      return;
    }
  }
  Success();
}

void HwTests::TestDisconnect() {
  HwMux* mux = HwMux::instance();
  for (int ch = first; ch < end; ++ch) mux->Disable(ch);
  ::usleep(250);
  Success();
}

void HwTests::Report(const char* what, int ch, const char* second, unsigned char expected, const char* third,
                     unsigned char got) const {
  std::cerr << ext::header(this) << what << ch % 128 << second << ext::hex(&expected, &expected + 1) << third
            << ext::hex(&got, &got + 1) << std::endl;
}

void HwTests::PutHeader(std::ostream& os) const {
  const std::ios_base::fmtflags flags = os.flags();
  os << "bus " << std::dec << bus << ": ";
  os.flags(flags);
}
