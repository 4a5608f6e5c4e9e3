#pragma once
// HDLC slots: the controller exchanges addressed frames over one channel
// of the board's multichannel controller. Frames from the controller get a
// 3-byte header (16-bit link address, a control byte with the sender's
// frame counter in bits 7-5 and the last accepted counter in bits 4-0)
// and are queued until the channel takes them. Received frames with the
// slot's address lose the header and are gathered into hdlcPackages ioctl
// signals; a frame whose continuation bit is set holds the gathering up
// to 100 ms for the frames that follow. The channel's counters are
// reported every 3000 ms. The channel opens on the timeslot of the slot it
// is connected to, or on activation.
#include <cstdint>

#include "hardware/hdlc.h"
#include "runtime/loop/timer.h"
#include "runtime/packet/clean_queue.h"
#include "runtime/packet/packet.h"
#include "slots/slot.h"
#include "slots/slot_factory.h"

class HdlcSlot : public Slot, public HDLC::Notify {
 public:
  static constexpr unsigned kHeader = 3;
  static constexpr unsigned kQueue = 120;
  static constexpr unsigned kFlushMs = 100;

  explicit HdlcSlot(const LGCP::HdlcParams& params);
  // Stops the timers; queued frames and gathered packages are dropped.
  ~HdlcSlot() override;

  void OnTrunkStatus(unsigned trunk, const ACP::TrunkState::NamedNumber& state) override;
  bool IActivate(const TERM::TermActivateParams& params) override;
  // Reports the counters at once; the channel stays open.
  bool IDeactivate() override;
  // Queues the hdlcPackages frames; true when there were some and every
  // one was queued.
  bool Ioctl(const LGCP::IoctlParams& params) override;
  int GetConnectionPriority() override { return 1; }
  bool IHwConnectTransmitter(Slot& receiver) override;
  bool IHwConnectReceiver(Slot& transmitter) override;
  bool IHwDisconnectTransmitter(Slot& receiver) override;
  bool IHwDisconnectReceiver(Slot& transmitter) override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  const char* GetName() const override { return "hdlc-slot"; }

  void on_hdlc_receive(Packet& frame) override;
  void on_hdlc_error(HDLC::Notify::Cause::Type cause) override;
  // Hands queued frames to the channel until it refuses one.
  void on_hdlc_ready() override;

  void PutHeader(std::ostream& os) const;
  // Queues one frame (dropped when the queue is full) and drains.
  bool transmitPacket(Packet& frame);
  // Keeps the payload of a frame with this slot's address and decides
  // whether to report now or wait for more.
  void enqResponce(Packet& frame);
  // Sends the gathered packages (if any) in one ioctl signal.
  void flushResponce();
  // Opens the channel; a failure is reported as the deactivated signal.
  void iactivate();
  void UpdateHDLC_Statistics();
  void OnUpdateTimer();

  static const TimerSpec<HdlcSlot> TUpdatespec;

  // For tests and traces.
  HDLC& channel() { return mChannel; }
  unsigned queued() const { return mQueue.count(); }
  unsigned gathered() const { return mGathered.size(); }
  bool flushPending() const { return mFlush.is_running(); }
  uint8_t lastReceived() const { return mLastReceived; }

 private:
  // Points the channel at a partner's multiplexer channel and opens it.
  void setTdm(int tdm);
  bool trace() const;

  HDLC mChannel;
  // The packages gathered for the next hdlcPackages response.
  ASN1::SEQUENCE_OF<LGCP::HdlcPackage, ASN1::EmptyConstraint> mGathered;
  uint32_t mTrunk;  // the create's trunk minus one, for log lines
  TimerSpec<HdlcSlot>::SpecTimer<&HdlcSlot::TUpdatespec> mUpdate;
  Timer mFlush;
  CleanQueue<Packet, kQueue> mQueue;
  uint16_t mAddress;
  uint8_t mTransmitted = 0;
  uint8_t mLastReceived = 0;
};

class HdlcSlotFactory : public SlotFactory {
 public:
  static HdlcSlotFactory& instance();

  const char* GetName() const override { return "HdlcSlotFactory"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  void Query(LGCP::Resources&) override {}
  // Passes trunk states on to the slots.
  void SelfSignal(const LGCP::Signal& signal) override;

 private:
  HdlcSlotFactory() = default;
};
