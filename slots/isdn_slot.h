#pragma once
// ISDN slots: an ISDN D-channel data link (LAPD) on a controller channel the
// slot allocates itself on "/dev/mcc/ctl". The slot is the link's transmit
// channel: it writes the link's frames to the device and hands what it reads
// up the stack. Its controller channel is both its transmit and its receive
// channel, so connections cross-connect it through the multiplexer like any
// other slot.
#include "control/protocol.h"
#include "hardware/hdlc.h"
#include "links/lapd.h"
#include "runtime/loop/event.h"
#include "runtime/os/fd.h"
#include "slots/slot.h"
#include "slots/slot_factory.h"

class IsdnSlot : public Slot, public ProtocolsFamily, public ISDN::LAPD::Notify, public GenericHDLC {
 public:
  // Takes the device (a controller channel already allocated on it) and the
  // link, which joins the slot's stack.
  IsdnSlot(Fd device, ISDN::LAPD* link);
  ~IsdnSlot() override;

  bool IActivate(const TERM::TermActivateParams& params) override;
  bool IDeactivate() override;
  bool IUserData(const std::vector<char>& data) override;
  bool Ioctl(const LGCP::IoctlParams&) override { return false; }
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  int IGetTransmitChannel() override { return mChannel; }
  int IGetReceiveChannel() override { return mChannel; }
  const char* GetName() const override { return "MCC"; }
  const Protocol_name& name() const override { return mName; }

  // The link's channel.
  bool hdlc_transmit(Packet& p) override;
  bool is_open() const override { return mEvent.IsActive(); }
  bool is_ready() const override { return mReady; }

  // The stack's upward reports.
  void on_activated(Protocol* p) override;
  void on_deactivated(Protocol* p, ProtocolStatus s) override;
  void on_message(Packet& p) override;
  void transmit(Packet&) override {}
  void OnLAPD_FlowStatusChange(ISDN::LAPD*) override {}

  // Device readiness and frames.
  void OnEvent(int fd, short revents);

  int channel() const { return mChannel; }
  // The error of a failed channel request (the channel is then -1).
  int channelError() const { return mChannelError; }
  // The error of a device watch that could not be set up at construction
  // (is_open() is then false and the channel is already given back).
  int watchError() const { return mWatchError; }
  ISDN::LAPD* link() const { return mLink; }
  // The poll events the device is watched for.
  short events() const { return mEvent.events(); }

 private:
  void UpdateISDN_Statistics();

  int mChannel = -1;
  int mChannelError = 0;
  int mWatchError = 0;
  Event mEvent;
  ISDN::LAPD* mLink;  // a member of the stack
  bool mReady = false;
  Protocol_name_str mName{"ISDN/HDLC"};
};

class IsdnFactory : public SlotFactory {
 public:
  static IsdnFactory& instance();

  const char* GetName() const override { return "ISDN"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  void Query(LGCP::Resources&) override {}

  void PutHeader(std::ostream& os) const;

 private:
  IsdnFactory() = default;
};
