#pragma once
// SPI line control: the eight BRI line channels whose transceiver registers
// are reached over SPI through "/dev/hal". It initialises and enables the
// channels when made, selects the clock master channel, and while a
// controller is connected reports every channel's line state once a second
// as a trunkStatus signal (type bri). It takes no command.
#include "control/ctrl_service.h"
#include "runtime/loop/timer.h"

class spiCtrl : public CtrlSrv::Service {
 public:
  static constexpr int kChannels = 8;
  // Registers of a line channel.
  enum {
    RegConfig = 48,
    RegEnable = 50,
    RegStatus = 51,
    RegLine = 52,
    RegClock = 87,
  };
  enum { ChannelDisabled = 128, ChannelEnabled = 0, NotClockMaster = 48, ClockMaster = 56 };

  static spiCtrl& instance();

  // The process uses instance(); tests make their own. Opens "/dev/hal"
  // and initialises the channels.
  spiCtrl();
  ~spiCtrl() override;

  void OnConnect() override;
  void OnDisconnect() override;
  bool OnCommand(const LGCP::Command&) override { return false; }

  // channel 0..7 becomes the clock master and no other; -1: none is.
  void clock(int channel);
  void init_channel(int channel);
  void enable_channel(int channel);
  void disable_channel(int channel);
  void init_device_and_channels();
  // One poll pass over the channels, then the next pass is armed.
  void status();

  // One register read; 0 when it cannot be done or fails.
  unsigned read(unsigned channel, unsigned address);
  void write(unsigned channel, unsigned address, unsigned data);

  // The line state that status register value v reports (ACP::TrunkState).
  static int DecodeState(unsigned v);

  // Inspection.
  int device() const { return hal_; }
  bool spiPresent() const { return spiPresent_; }
  bool polling() const { return pollTimer_.is_running(); }

 private:
  void OnPollTimer() { status(); }
  void NoSpi();

  int hal_ = -1;
  Timer pollTimer_;
  bool spiPresent_ = true;
  // Edge detector of each channel's slip bit.
  bool slipLatch_[kChannels] = {};
};
