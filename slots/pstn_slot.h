#pragma once
// PSTN signalling slots: one signalling link of the telephone network on an
// HDLC channel of the board. An SS7 link (MTP level 2) on an E1 timeslot, an
// ISDN D channel (LAPD) on an E1 timeslot or a basic-rate line, or the
// basic-rate network side with TEI management. The slot owns the channel and
// the link layer (held in its own protocol stack), passes the controller's
// user data down as level 3 messages and the layer's messages up, reports
// the link's activation and deactivation, and sends link statistics every
// 3000 ms.
#include <memory>

#include "control/protocol.h"
#include "hardware/hdlc.h"
#include "links/lapd.h"
#include "links/lapd_nt.h"
#include "links/mtp2.h"
#include "runtime/loop/timer.h"
#include "slots/slot.h"
#include "slots/slot_factory.h"

class PstnSlot : public Slot, public ProtocolsFamily, public ISDN::LAPD::Notify, public HDLC::Notify {
 public:
  // Link kinds.
  enum Kind : uint32_t { kSS7 = 0, kIsdnPri = 1, kIsdnBri = 2, kIsdnBriNetwork = 3 };

  explicit PstnSlot(const LGCP::PstnParams& params);
  ~PstnSlot() override;

  void OnTrunkStatus(unsigned trunk, const ACP::TrunkState::NamedNumber& state) override;
  bool IActivate(const TERM::TermActivateParams& params) override;
  bool IDeactivate() override;
  bool IUserData(const std::vector<char>& data) override;
  bool Ioctl(const LGCP::IoctlParams& params) override;
  int GetConnectionPriority() override { return 1; }
  bool IHwConnectTransmitter(Slot& receiver) override;
  bool IHwConnectReceiver(Slot& transmitter) override;
  bool IHwDisconnectTransmitter(Slot& receiver) override;
  bool IHwDisconnectReceiver(Slot& transmitter) override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  const char* GetName() const override { return "pstn"; }
  const Protocol_name& name() const override { return mName; }

  // Channel notifications, forwarded to the layer.
  void on_hdlc_receive(Packet& p) override;
  void on_hdlc_error(HDLC::Notify::Cause::Type cause) override;
  void on_hdlc_ready() override;
  // The stack's upward reports.
  void on_activated(Protocol* p) override;
  void on_deactivated(Protocol* p, ProtocolStatus s) override;
  void on_message(Packet& p) override;
  // Frames the network-side layer sends down.
  void transmit(Packet& p) override;
  void OnLAPD_FlowStatusChange(ISDN::LAPD* link) override;

  // The statistics round, run every 3000 ms.
  void OnUpdateTimer();
  static const TimerSpec<PstnSlot> TUpdatespec;

  // Read access for the factory and tests.
  Kind kind() const { return mKind; }
  unsigned trunkIndex() const { return mTrunkIndex; }
  HDLC& channel() { return *mHdlc; }
  SS7::SLC* ss7() const { return mSS7; }
  ISDN::LAPD* lapd() const { return mLAPD; }
  ISDN::LAPD_NT* lapdNT() const { return mLAPD_NT; }
  int lastTrunkState() const { return mLastTrunkState; }

 private:
  void iactivate();
  void UpdateISDN_Statistics();
  void UpdateSS7_Statistics();
  void UpdateHDLC_Statistics();

  Protocol_name_str mName{"PSTN"};
  std::unique_ptr<HDLC> mHdlc;
  HDLC::Params mParams;
  Kind mKind = kSS7;
  unsigned mTrunkIndex = 0;
  SS7::SLC* mSS7 = nullptr;           // members of the stack, deleted with the slot
  ISDN::LAPD* mLAPD = nullptr;
  ISDN::LAPD_NT* mLAPD_NT = nullptr;
  HDLC::Notify* mLayerNotify = nullptr;  // where channel notifications go
  int mLastTrunkState = ACP::TrunkState::unknown;
  TimerSpec<PstnSlot>::SpecTimer<&PstnSlot::TUpdatespec> mUpdate;
};

class PstnFactory : public SlotFactory {
 public:
  static PstnFactory& instance();

  const char* GetName() const override { return "PSTN"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  void Query(LGCP::Resources&) override {}
  // E1 trunk states go to every PSTN slot; other broadcasts are ignored.
  void SelfSignal(const LGCP::Signal& signal) override;

 private:
  PstnFactory() = default;
};
