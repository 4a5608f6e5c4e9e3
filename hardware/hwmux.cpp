#include "hardware/hwmux.h"

#include <execinfo.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "hardware/board/board.h"
#include "hardware/board/record.h"
#include "hardware/board/requests.h"

namespace R = Board::Req;

HwMux* HwMux::instance() {
  static HwMux mux;
  return &mux;
}

HwMux::HwMux() {
  for (auto& e : table_) e = kDisabled;
  std::clog << "hwMux: init" << std::endl;
  dpc_.Bind(this, &HwMux::OnDPC);
  IsOpened();
}

HwMux::~HwMux() {
  if (device_ >= 0) Board::close(device_);
  dpc_.Deactivate();
}

bool HwMux::IsOpened() {
  if (device_ >= 0) return true;
  int fd = Board::open("/dev/hal", O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    std::clog << "hwMux: can't open device: " << std::strerror(errno) << std::endl;
    return false;
  }
  device_ = fd;
  std::clog << "hwMux: device opened" << std::endl;
  for (int i = 0; i < kOutputs; ++i) {
    request(R::MuxDisable, kFirstOutput + i, 0);
    table_[i] = kDisabled;
  }
  position_ = 0;
  dpc_.Activate();
  ::usleep(500);
  return true;
}

bool HwMux::request(uint32_t code, int32_t first, int32_t second, int32_t* out) {
  // One or two big-endian words, on the stack: the refresh makes many.
  uint8_t rec[8];
  const bool two = Board::requestSize(code) >= 8;
  Board::putBE32(rec, uint32_t(first));
  if (two) Board::putBE32(rec + 4, uint32_t(second));
  int rc = Board::ioctl(device_, code, rec);
  if (out && two) *out = int32_t(Board::getBE32(rec + 4));
  return rc >= 0;
}

void HwMux::mark(int ch, uint16_t value) {
  if (ch >= kFirstOutput && ch < kFirstOutput + kOutputs) table_[ch - kFirstOutput] = value;
}

bool HwMux::Connect(int src, int dst) {
  if (!IsOpened() || src < 0 || dst < 0) {
    std::clog << "hwMux: ERROR not opened" << std::endl;
    return false;
  }
  mark(dst, uint16_t(src));
  if (!request(R::MuxConnect, dst, src)) {
    int e = errno;
    std::clog << "hwMux: connect " << src << " -> " << dst << " failed: " << std::strerror(e) << std::endl;
    return false;
  }
  return true;
}

bool HwMux::Disconnect(int ch) {
  if (!IsOpened() || ch < 0) return false;
  mark(ch, kConstant);
  if (!request(R::MuxWrite, ch, kIdleByte)) {
    int e = errno;
    std::clog << "hwMux: disconnect failed " << ch << " : " << std::strerror(e) << std::endl;
    return false;
  }
  return true;
}

bool HwMux::Disable(int ch) {
  if (!IsOpened() || ch < 0) return false;
  mark(ch, kDisabled);
  if (!request(R::MuxDisable, ch, 0)) {
    int e = errno;
    std::clog << "hwMux: disable failed " << ch << " : " << std::strerror(e) << std::endl;
    return false;
  }
  return true;
}

bool HwMux::Write(int ch, unsigned char value) {
  if (!IsOpened() || ch < 0) return false;
  mark(ch, kConstant);
  if (!request(R::MuxWrite, ch, value)) {
    int e = errno;
    std::clog << "hwMux: write failed " << ch << " <- 0x" << std::hex << unsigned(value) << std::dec << " : "
              << std::strerror(e) << std::endl;
    return false;
  }
  return true;
}

unsigned char HwMux::Read(int ch) {
  if (!IsOpened() || ch < 0) return 0xFF;
  int32_t value = 0xFF;
  if (!request(R::MuxRead, ch, 0xFF, &value)) {
    int e = errno;
    std::clog << "hwMux: read failed " << ch << " -> 0x" << std::hex << (unsigned(value) & 0xFF) << std::dec
              << " : " << std::strerror(e) << std::endl;
    return 0xFF;
  }
  return static_cast<unsigned char>(value & 0xFF);
}

void HwMux::RefreshChannel(int i) {
  if (i >= 0 && i < kOutputs && table_[i] == kDisabled) request(R::MuxDisable, kFirstOutput + i, 0);
}

void HwMux::OnDPC() {
  if (device_ < 0) return;
  for (int n = 0; n < 128; ++n) {
    if (++position_ >= kOutputs) position_ = 0;
    RefreshChannel(position_);
  }
}

void print_trace() {
  void* frames[10];
  int n = ::backtrace(frames, 10);
  char** symbols = ::backtrace_symbols(frames, n);
  std::printf("Obtained %zd stack frames.\n", static_cast<ssize_t>(n));
  for (int i = 0; symbols && i < n; ++i) std::printf("%s\n", symbols[i]);
  std::free(symbols);
}
