#pragma once
// The board's TDM cross-connect, reached through "/dev/hal". It connects a
// source channel to an output, drives an output with a constant byte,
// disables outputs and reads single channel bytes. The 2048 backplane
// outputs 8192..10239 (16 buses of 128 timeslots) are tracked in a table,
// and a deferred call keeps the disabled ones disabled, 128 per run.
#include <cstdint>

#include "runtime/loop/dpc.h"

class HwMux {
 public:
  static constexpr int kFirstOutput = 8192;
  static constexpr int kOutputs = 2048;
  static constexpr uint16_t kDisabled = 0xFFFF;  // not driven; kept disabled
  static constexpr uint16_t kConstant = 0xFFFE;  // sends a fixed byte
  static constexpr unsigned char kIdleByte = 0xD5;  // A-law zero sample

  // The process-wide multiplexer, made and opened on first call.
  static HwMux* instance();

  // The process uses instance(); tests make their own.
  HwMux();
  ~HwMux();
  HwMux(const HwMux&) = delete;
  HwMux& operator=(const HwMux&) = delete;

  // Opens the device when it is not open; true when open.
  bool IsOpened();
  bool Connect(int src, int dst);
  // Sends the idle byte on the channel.
  bool Disconnect(int ch);
  bool Disable(int ch);
  bool Write(int ch, unsigned char value);
  // The byte present on the channel; 0xFF on any failure.
  unsigned char Read(int ch);
  // Re-disables output 8192 + i when its entry is disabled.
  void RefreshChannel(int i);
  // The deferred refresh: the next 128 entries round the table.
  void OnDPC();
  void Reset() {}

  // Inspection.
  uint16_t entry(int i) const { return table_[i]; }
  int refreshPosition() const { return position_; }
  bool refreshActive() const { return dpc_.IsActive(); }

 private:
  bool request(uint32_t code, int32_t first, int32_t second, int32_t* out = nullptr);
  void mark(int ch, uint16_t value);

  int device_ = -1;
  uint16_t table_[kOutputs];
  int position_ = 0;
  Dpc dpc_;
};

// Writes the current call stack to standard output.
void print_trace();
