#pragma once
// Multichannel controller slot: a raw data channel of the board's
// multichannel HDLC controller ("/dev/mcc/ctl"). The controller's user data
// is written to the channel as it comes; whatever the channel delivers goes
// back to the controller as user-data signals. The channel is switched like
// any other TDM endpoint through the channel number the controller gives.
#include <cstdint>
#include <vector>

#include "runtime/loop/event.h"
#include "runtime/os/fd.h"
#include "slots/slot.h"
#include "slots/slot_factory.h"

namespace Mcc {
// Requests of "/dev/mcc/ctl" (board encodings). MCC_ALLOCATE and
// MCC_TIMESLOT are Board::Req::MccAllocate / MccTimeslot.
constexpr uint32_t kResources = 0x80104d03;  // out: {data, bri, transparent, -} free channels
// Channel modes of MCC_ALLOCATE's first word.
enum ChannelMode : int32_t { kData = 0, kBri = 1, kTransparent = 2, kSs7 = 3 };
// The largest record one read takes; one signal never carries more.
constexpr std::size_t kReadSize = 1024;
}  // namespace Mcc

class MccSlot : public Slot {
 public:
  // Takes the descriptor on which MCC_ALLOCATE succeeded, asks its channel
  // number and watches a duplicate of it for input for the slot's life.
  // When the duplicate cannot be had the slot holds no channel: IsOpen() is
  // false and WatchError() tells why.
  explicit MccSlot(Fd fd);

  // One write of the whole data; always accepted, a failed write is not
  // reported.
  bool IUserData(const std::vector<char>& data) override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  int IGetTransmitChannel() override { return channel; }
  int IGetReceiveChannel() override { return channel; }
  const char* GetName() const override { return "MCC"; }

  // The controller channel (negative when MCC_TIMESLOT failed).
  int GetChannel() const { return channel; }
  // False once the controller has ended the channel.
  bool IsOpen() const { return mEvent.IsActive(); }
  // The errno of a watch that could not be set up at construction.
  int WatchError() const { return mWatchError; }

 protected:
  void OnEvent(int fd, short revents);
  // Reads until the channel is empty, one user-data signal per record;
  // false when it only answers end of file.
  bool DoRead();

 private:
  int channel;
  int mWatchError = 0;
  Event mEvent;
};

class MccFactory : public SlotFactory {
 public:
  static MccFactory& instance();

  const char* GetName() const override { return "MCC"; }
  // Makes an MccSlot for the create alternative mcc.
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  // Free data, BRI and transparent channels of the controller.
  void Query(LGCP::Resources& resources) override;

  // The head of the factory's log lines: "mcc: ".
  std::ostream& PutHeader(std::ostream& os) const;

 private:
  MccFactory() = default;
};
