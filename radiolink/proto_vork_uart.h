#pragma once
// The radio link over a serial port, playing the gateway end: bytes read
// from the port become VORKGW packets for a listener; packets written
// become frames on the port.
#include <sys/types.h>
#include <termios.h>

#include <string>

#include "messages/VORKGW.h"
#include "radiolink/proto_vork.h"
#include "runtime/loop/event.h"
#include "runtime/loop/timer.h"
#include "runtime/os/fd.h"

class IProtoVorkNotify {
 public:
  virtual ~IProtoVorkNotify() {}
  // The packets decoded from one read of the port.
  virtual void ProtoVorkNotify(const VORKGW::ProtoVorkPackets& packets) { (void)packets; }
};

class ProtoVorkUartCtl {
 public:
  struct ConfigTTY {
    std::string device;
    int baud = 115200;
    int data_bits = 8;
    int parity = 0;  // 0 none, 1 odd, 2 even
    int stop_bits = 1;
  };

  static const int kReadSize = 2048;
  static const int kWriteSize = 2048;
  static const int kDumpSize = 2048;
  static const int kMaxRecordsPerRead = 141;
  static const unsigned int kRetryMs = 20000;
  static const unsigned long kUserCountRequest = 0x54FF;

  ProtoVorkUartCtl();
  ~ProtoVorkUartCtl();
  ProtoVorkUartCtl(const ProtoVorkUartCtl&) = delete;
  ProtoVorkUartCtl& operator=(const ProtoVorkUartCtl&) = delete;

  void TryOpen();
  void Close();
  void Read();
  void Write(const VORKGW::ProtoVorkPackets& packets);
  void Write(const VORKGW::ProtoVorkPacket& packet);
  void OnEvent(int fd, short events);
  void OnTimeout(Timer*);

  // The line settings a configuration gives.
  static struct termios MakeSettings(const ConfigTTY& config);

  bool IsOpen() const { return port_.is_valid(); }
  bool RetryPending() const { return retry_.is_running(); }

  ConfigTTY config;
  IProtoVorkNotify* listener = nullptr;
  bool debug = false;

 private:
  void Release(bool flush);
  void Drain(bool last_slice);
  bool WriteAll(const unsigned char* data, int count);
  void LogDump(const char* what, unsigned id);

  Fd port_;
  Timer retry_;
  Event event_;
  struct termios settings_;
  struct termios saved_;
  s_proto_ctrl channel_;
  s_data_cmd read_cmd_;
  s_data_cmd write_cmd_;
  VORKGW::ProtoVorkPacket packet_;
  VORKGW::ProtoVorkPackets packets_;
  ssize_t last_read_ = 0;  // what the last Read() got from the port
};
