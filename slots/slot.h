#pragma once
// Slot: the base of every media endpoint the controller creates (timeslots,
// RTP streams, modems, mixers, signalling links...). It keeps the slot
// number, its place in the connection graph (one source, any number of
// receivers), the stream states last reported to the controller, its
// factory and its destruction state. Slot kinds override the I-hooks; the
// On... operations send the matching LGCP signal for the slot.
#include <cstdint>
#include <list>
#include <ostream>
#include <string>
#include <vector>

#include "hardware/dsp.h"
#include "hardware/tonec.h"
#include "messages/LGCP.h"

class SlotFactory;

class Slot {
 public:
  static constexpr unsigned kNoNumber = ~0u;

  Slot();
  // Releases the receivers list only; Slots disconnects before deleting.
  virtual ~Slot();
  Slot(const Slot&) = delete;
  Slot& operator=(const Slot&) = delete;

  // Trunk and timeslot of a timeslot slot; -1 for every other kind.
  virtual unsigned GetTrunk();
  virtual unsigned GetTrunkTimeSlot();
  // A trunk state passed on by the factory.
  virtual void OnTrunkStatus(unsigned trunk, const ACP::TrunkState::NamedNumber& state);
  // Runs once, right after the create command was answered.
  virtual void IAfterCreate();
  // Releases the slot's resources: true when done now, false when the slot
  // finishes later and then calls on_release().
  virtual bool IBeforeDestroy();
  // Controller commands; false is answered "unsupported".
  virtual bool IActivate(const TERM::TermActivateParams& params);
  virtual bool IDeactivate();
  virtual bool IUserData(const std::vector<char>& data);
  virtual bool Ioctl(const LGCP::IoctlParams& params);
  // The side with the higher priority programs the path of a connection.
  virtual int GetConnectionPriority();
  virtual bool IHwConnectTransmitter(Slot& receiver);
  virtual bool IHwConnectReceiver(Slot& transmitter);
  virtual bool IHwDisconnectTransmitter(Slot& receiver);
  virtual bool IHwDisconnectReceiver(Slot& transmitter);
  // Asked before the first receiver / a source is connected.
  virtual bool IOnOutputStream();
  virtual bool IOnInputStream();
  // The last receiver / the source has gone.
  virtual void IOnOutputRelease();
  virtual void IOnInputRelease();
  // Multiplexer channels of the slot's output and input; -1 for none.
  virtual int IGetTransmitChannel();
  virtual int IGetReceiveChannel();
  // The kind's short name in log lines.
  virtual const char* GetName() const = 0;

  // Signal senders.
  void OnTonecEvent(const LGCP::TonecEvent& event);
  void OnNumber(const std::string& digits);
  void OnModem(const TERM::ModemProceeding& proceeding);
  void OnModem(const TERM::ModemInformation& information);
  void OnActivated();
  void OnDeactivated();
  void OnAbort(int code);
  void OnUserData(const std::vector<char>& data);
  // Report a stream change once; going inactive first drops the
  // connections of that side.
  void OnChangeInputStream(bool active);
  void OnChangeOutputStream(bool active);
  void OnIoctlResponse(const LGCP::IoctlResponse& response);
  void OnRtpRadioEvent(const TERM::RtpRadioRequest& request);
  void OnVADEvent(const LGCP::VADEvent& event);
  void OnProtoVorkEvent(const VORKGW::ProtoVorkPackets& packets);
  void OnSDEvent(const LGCP::SDEvent& event);
  // Sends the signal to the controller with this slot's number.
  void SendSignal(const LGCP::Signal& signal);

  // Detector events of the board services, turned into signals.
  void processTonecEvent(const Hardware::TonecReceiver::Params& params);
  void processToneGenEvent();
  void processVADEvent(const Hardware::DSProcVADEvent& event);
  void processSDEvent(const Hardware::DSProcSDEvent& event);

  // IBeforeDestroy(); when that is done, the slot leaves its factory.
  bool BeforeDestroy();
  // An asynchronous release has finished: Slots answers the deferred
  // destroy and deletes the slot. Nothing happens unless releasing. The
  // caller must not touch the slot afterwards.
  void on_release();

  bool is_releasing() const { return mReleasing; }
  bool GetInputStream() const { return mInputStream; }
  bool GetOutputStream() const { return mOutputStream; }
  SlotFactory* GetSlotFactory() { return mFactory; }
  int GetTransmitChannel() { return IGetTransmitChannel(); }
  int GetReceiveChannel() { return IGetReceiveChannel(); }

  // Slot number: kNoNumber until Slots assigns one.
  unsigned GetNumber() const { return mNumber; }
  Slot* GetSource() const { return mSource; }
  const std::list<Slot*>& GetReceivers() const { return mReceivers; }

  // Connection bookkeeping (see slot_connect.h).
  void LogicalConnect(Slot& source);
  void LogicalDisconnect();

  // Log form: "05:trunk", "na:trunk".
  void Put(std::ostream& os) const;

 private:
  friend class Slots;
  friend class SlotFactory;

  bool hasDelayedResponse() const { return mHasDelayedResponse; }

  unsigned mNumber = kNoNumber;
  std::list<Slot*> mReceivers;  // sorted by address, unique
  Slot* mSource = nullptr;
  SlotFactory* mFactory = nullptr;
  bool mInputStream = false;
  bool mOutputStream = false;
  bool mReleasing = false;
  bool mHasDelayedResponse = false;
  unsigned mDelayedResponse = 0;
};

std::ostream& operator<<(std::ostream& os, const Slot& slot);

// Connections between slots (a receiver takes a transmitter's output).
// Make the receiver take the transmitter's output, replacing its source.
bool Connect(Slot& transmitter, Slot& receiver);
// Detach the receiver from its source; true when it had none.
bool Disconnect(Slot& receiver);
// The hardware step alone, done by the side with the higher priority.
bool llConnect(Slot& transmitter, Slot& receiver);
bool llDisconnect(Slot& receiver);
// The default hardware step on the multiplexer.
bool MuxConnect(Slot& transmitter, Slot& receiver);
bool MuxDisconnect(Slot& receiver);
