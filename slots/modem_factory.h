#pragma once
// The modem factory: makes the slots of the create alternative modem, a
// DSP modem slot or, for a digital data call while a point-to-point HDLC
// interface is free, an HDLC modem slot. It counts the board's DSP modems,
// keeps the free interfaces and the live modem slots, reports the modem
// resources, and serves the auth record link of the PPP daemon's plug-in
// on 127.0.0.1 port 52000.
#include <poll.h>

#include <list>
#include <string>

#include "runtime/loop/event.h"
#include "runtime/loop/timer.h"
#include "runtime/os/fd.h"
#include "runtime/os/inet4.h"
#include "slots/modem_auth.h"
#include "slots/modem_slot.h"
#include "slots/slot_factory.h"

class ModemFactory : public SlotFactory {
 public:
  static constexpr unsigned short kAuthPort = 52000;
  static constexpr int kAuthBacklog = 64;
  // Out of descriptors, accepting pauses this long at a time.
  static constexpr unsigned int kAcceptRetryMs = 1000;

  static ModemFactory& instance();

  const char* GetName() const override { return "Modem"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  // Enumerates again, then reports the modems and the free interfaces.
  void Query(LGCP::Resources& resources) override;
  void IQuery();

  void ReleaseModemSlot(DspModemSlot* slot);
  void ReleaseModemSlot(HdlcModemSlot* slot);
  ModemSlot* FindModemByDsp(int id);

  // A complete record from the plug-in, routed to the slot of its session.
  void OnAuth(const attr* record);
  // Sends a record to the connection of its session (the first accepted);
  // false when there is none or the send fails.
  bool SendAuth(const attr* record);
  // Removes and deletes a closed connection.
  void OnAuthSocketDisconnect(AuthClient* client);
  // Takes an accepted connection into the list and activates it; null,
  // logged and the connection closed, when it cannot be watched.
  AuthClient* AcceptClient(Fd fd, const INet4::Addr& peer);

  // "modem[<count>,<live slots>]: ".
  std::ostream& PutHeader(std::ostream& os) const;

  int modemCount() const { return mModemCount; }
  const std::list<std::string>& freeInterfaces() const { return mFreeIfaces; }
  const std::list<ModemSlot*>& modemSlots() const { return mAll; }
  const std::list<AuthClient*>& authClients() const { return mClients; }
  bool listening() const { return mListen.is_valid(); }
  // False while accepting pauses for want of descriptors; the ms until it
  // looks again (0 when no look is pending).
  bool accepting() const { return mListenEvent.IsActive() && (mListenEvent.events() & POLLIN); }
  unsigned int acceptRetryRemaining() const { return mAcceptTimer.is_running() ? mAcceptTimer.remaining() : 0; }

 private:
  ModemFactory();
  ~ModemFactory() override;
  // Opens the listening socket of the auth link.
  void Init();
  void OnSocketEvent(int fd, short events);
  // accept() found no descriptor or memory: the pending connection keeps
  // the listener readable, so stop polling it and look again after
  // kAcceptRetryMs, logging once per spell.
  void PauseAccepting();
  void OnAcceptRetry();
  void update_modemDevices();
  void update_hdlcDevices();

  std::list<DspModemSlot*> mDsp;
  std::list<HdlcModemSlot*> mHdlc;
  std::list<ModemSlot*> mAll;
  int mModemCount = 0;
  Fd mListen;
  Event mListenEvent;
  Timer mAcceptTimer;
  bool mAcceptFailureLogged = false;
  std::list<AuthClient*> mClients;
  std::list<std::string> mFreeIfaces;
};
