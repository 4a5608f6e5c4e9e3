#include "hardware/spi_ctrl.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

#include "hardware/board/board.h"
#include "hardware/board/requests.h"

namespace {

// A register read interrupted by a signal is tried again, this many more
// times; a read that is interrupted every time is how the HAL of a board
// without SPI answers. Writes are not retried.
constexpr int kInterruptedRetries = 3;

constexpr unsigned kSlipBit = 32;

}  // namespace

spiCtrl& spiCtrl::instance() {
  static spiCtrl service;
  return service;
}

spiCtrl::spiCtrl() { init_device_and_channels(); }

spiCtrl::~spiCtrl() {
  if (hal_ < 0) return;
  pollTimer_.reset();
  for (int n = 0; n < kChannels; ++n) disable_channel(n);
  clock(-1);
  Board::close(hal_);
  hal_ = -1;
}

void spiCtrl::OnConnect() {
  if (hal_ >= 0 && spiPresent_) pollTimer_.set(1000, &spiCtrl::OnPollTimer, this);
}

void spiCtrl::OnDisconnect() { pollTimer_.reset(); }

void spiCtrl::NoSpi() {
  spiPresent_ = false;
  pollTimer_.reset();
  std::clog << "spi: hal without spi" << std::endl;
}

void spiCtrl::write(unsigned channel, unsigned address, unsigned data) {
  if (hal_ < 0 || !spiPresent_) return;
  unsigned char rec[3] = {static_cast<unsigned char>(channel), static_cast<unsigned char>(address),
                          static_cast<unsigned char>(data)};
  if (Board::ioctl(hal_, Board::Req::SpiWrite, rec) != -1) return;
  if (errno == ENODEV)
    NoSpi();
  else
    std::clog << "spi: write error: channel=" << channel << " addr=" << address << " data=" << data << std::endl;
}

unsigned spiCtrl::read(unsigned channel, unsigned address) {
  if (hal_ < 0 || !spiPresent_) return 0;
  for (int attempt = 0;; ++attempt) {
    unsigned char rec[3] = {static_cast<unsigned char>(channel), static_cast<unsigned char>(address), 0xFF};
    int r = Board::ioctl(hal_, Board::Req::SpiRead, rec);
    if (r != -1) return static_cast<unsigned>(r) & 0xFF;
    int err = errno;
    if (err == EINTR && attempt < kInterruptedRetries) continue;
    if (err == EINTR) NoSpi();
    else std::clog << "spi: read error: channel=" << channel << " addr=" << address << std::endl;
    return 0;
  }
}

void spiCtrl::init_device_and_channels() {
  if (hal_ != -1 || !spiPresent_) return;
  std::clog << "spi: try init" << std::endl;
  hal_ = Board::open("/dev/hal", O_RDWR | O_CLOEXEC);
  if (hal_ < 0) {
    hal_ = -1;
    std::clog << "spi: /dev/hal open fail" << std::endl;
    return;
  }
  for (int n = 0; n < kChannels; ++n) {
    init_channel(n);
    enable_channel(n);
  }
}

void spiCtrl::init_channel(int n) {
  if (!spiPresent_) return;
  if (n < 0 || n >= kChannels) {
    std::clog << "spi: bad channel for init " << n << std::endl;
    return;
  }
  init_device_and_channels();
  write(n, RegEnable, ChannelDisabled);
  write(n, RegConfig, 8);
  write(n, RegClock, NotClockMaster);
  write(n, RegLine, 96);
  write(n, 53, 0);
  write(n, 54, 0);
  write(n, 55, 0);
  std::clog << "spi: init channel " << n << std::endl;
}

void spiCtrl::enable_channel(int n) {
  if (!spiPresent_) return;
  if (n < 0 || n >= kChannels) {
    std::clog << "spi: bad channel for enable " << n << std::endl;
    return;
  }
  init_device_and_channels();
  write(n, RegEnable, ChannelEnabled);
  std::clog << "spi: enable channel " << n << std::endl;
}

void spiCtrl::disable_channel(int n) {
  if (!spiPresent_) return;
  if (n < 0 || n >= kChannels) {
    std::clog << "spi: bad channel for disable " << n << std::endl;
    return;
  }
  init_device_and_channels();
  write(n, RegEnable, ChannelDisabled);
  std::clog << "spi: disable channel " << n << std::endl;
}

void spiCtrl::clock(int n) {
  if (!spiPresent_) return;
  if (n < -1 || n >= kChannels) {
    std::clog << "spi: bad channel for set clock master " << n << std::endl;
    return;
  }
  init_device_and_channels();
  for (int c = 0; c < kChannels; ++c) write(c, RegClock, NotClockMaster);
  if (n >= 0) {
    write(n, RegClock, ClockMaster);
    std::clog << "spi: set clock master on channel " << n << std::endl;
  } else {
    std::clog << "spi: clock master disabled" << std::endl;
  }
}

int spiCtrl::DecodeState(unsigned v) {
  if (!(v & 1)) return ACP::TrunkState::lossCarrier;
  if (!(v & 4)) return ACP::TrunkState::lossBF;
  if ((v & 192) == 128) return ACP::TrunkState::rai;
  if ((v & 192) == 192) return ACP::TrunkState::normal;
  return ACP::TrunkState::ais;
}

void spiCtrl::status() {
  if (!spiPresent_) return;
  LGCP::Signal signal;
  ACP::TrunkStatus& ts = signal.select_trunkStatus();
  for (int c = 0; c < kChannels; ++c) {
    unsigned v = read(c, RegStatus);
    int slips = 0;
    if (v & kSlipBit) {
      if (!slipLatch_[c]) slips = 1;
      slipLatch_[c] = true;
    } else {
      slipLatch_[c] = false;
    }
    ts.set_trunk(c);
    ts.set_state(ACP::TrunkState::NamedNumber(DecodeState(v)));
    ts.set_slips(slips);
    ts.set_lossBF(0);
    ts.set_lossCarrier(0);
    ts.set_lossAIS(0);
    ts.set_lossRAI(0);
    ts.set_type(ACP::TrunkType::bri);
    SendSignal(signal);
  }
  pollTimer_.set(1000, &spiCtrl::OnPollTimer, this);
}
