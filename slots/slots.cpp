#include "slots/slots.h"

#include <time.h>

#include <cerrno>
#include <iostream>

#include "slots/slot.h"
#include "slots/slot_factory.h"

unsigned Slots::releaseWaitMs = 1000;

Slots& Slots::instance() {
  static Slots service;
  return service;
}

Slots::Slots() : mTable() {}

Slots::~Slots() = default;

Slot* Slots::addressed() const {
  int n = GetSlot();
  return n < 0 ? nullptr : at(static_cast<unsigned>(n));
}

bool Slots::OnCommand(const LGCP::Command& command) {
  if (!IsSlotPresent()) {
    if (!command.query_isSelected()) return false;
    CmdQuery();
    return true;
  }
  if (command.connect_isSelected())
    CmdConnect(command.get_connect().getValue());
  else if (command.disconnect_isSelected())
    CmdDisconnect();
  else if (command.create_isSelected())
    CmdCreate(command.get_create());
  else if (command.destroy_isSelected())
    CmdDestroy();
  else if (command.activate_isSelected())
    CmdActivate(command.get_activate());
  else if (command.deactivate_isSelected())
    CmdDeactivate();
  else if (command.userData_isSelected())
    CmdUserData(command.get_userData());
  else if (command.ioctl_isSelected())
    CmdIoctl(command.get_ioctl());
  else
    return false;
  return true;
}

void Slots::CmdQuery() {
  Success();
  UpdateHardwareResources();
}

void Slots::CmdConnect(unsigned target) {
  if (!CheckSlot(target)) return Error(LGCP::ErrorCause::invalidSlot);
  Slot* transmitter = addressed();
  Slot* receiver = at(target);
  if (!transmitter || !receiver) return Error(LGCP::ErrorCause::slotNotExists);
  if (!Connect(*transmitter, *receiver)) return Error(LGCP::ErrorCause::connectFail);
  Success();
}

void Slots::CmdDisconnect() {
  Slot* slot = addressed();
  if (!slot) return Error(LGCP::ErrorCause::slotNotExists);
  if (!Disconnect(*slot)) return Error(LGCP::ErrorCause::disconnectFail);
  Success();
}

void Slots::CmdCreate(const LGCP::CreateParams& params) {
  unsigned number = static_cast<unsigned>(GetSlot());
  if (!CheckSlot(number)) return Error(LGCP::ErrorCause::invalidSlot);
  if (Slot* old = mTable[number]) {
    if (old->is_releasing()) return Error(LGCP::ErrorCause::destroyInProgress);
    Destroy(old);
    if (mTable[number]) return Error(LGCP::ErrorCause::slotIdBusy);
  }
  Slot* slot = nullptr;
  for (SlotFactory* f = firstFactory; f && !slot; f = f->next()) slot = f->NewSlot(params);
  if (!slot) return Error(LGCP::ErrorCause::insufficientResources);
  slot->mNumber = number;
  mLive.push_back(slot);
  mTable[number] = slot;
  Success();
  slot->IAfterCreate();
}

void Slots::CmdDestroy() {
  Slot* slot = addressed();
  if (!slot) return Error(LGCP::ErrorCause::slotNotExists);
  if (slot->is_releasing()) return Error(LGCP::ErrorCause::destroyInProgress);
  unsigned number = slot->mNumber;
  if (Destroy(slot)) return Success();
  // A kind that ended its release from within IBeforeDestroy is gone already.
  if (at(number) != slot) return Success();
  slot->mDelayedResponse = delayResponse();
  slot->mHasDelayedResponse = true;
}

void Slots::CmdActivate(const TERM::TermActivateParams& params) {
  Slot* slot = addressed();
  if (!slot) return Error(LGCP::ErrorCause::slotNotExists);
  if (!slot->IActivate(params)) return Error(LGCP::ErrorCause::unsupported);
  Success();
}

void Slots::CmdDeactivate() {
  Slot* slot = addressed();
  if (!slot) return Error(LGCP::ErrorCause::slotNotExists);
  if (!slot->IDeactivate()) return Error(LGCP::ErrorCause::unsupported);
  Success();
}

void Slots::CmdUserData(const std::vector<char>& data) {
  Slot* slot = addressed();
  if (!slot) return Error(LGCP::ErrorCause::slotNotExists);
  if (!slot->IUserData(data)) return Error(LGCP::ErrorCause::unsupported);
  Success();
}

void Slots::CmdIoctl(const LGCP::IoctlParams& params) {
  Slot* slot = addressed();
  if (!slot) return Error(LGCP::ErrorCause::slotNotExists);
  if (!slot->Ioctl(params)) return Error(LGCP::ErrorCause::unsupported);
  Success();
}

bool Slots::Destroy(Slot* slot) {
  Disconnect(*slot);
  // Disconnecting a receiver takes it off the list; always take the front.
  for (size_t n = slot->mReceivers.size(); n > 0; --n) {
    if (slot->mReceivers.empty()) {
      std::cerr << "mux internal error: expected slots not exists." << std::endl;
      break;
    }
    Disconnect(*slot->mReceivers.front());
  }
  if (!slot->mReceivers.empty()) std::cerr << "mux internal error: unexpected slots exists." << std::endl;
  slot->mReleasing = true;
  if (!slot->BeforeDestroy()) return false;
  on_release(slot);
  return true;
}

void Slots::on_release(Slot* slot) {
  if (slot->mHasDelayedResponse) delayedSuccess(slot->mNumber, slot->mDelayedResponse);
  int_destroy(slot);
}

void Slots::int_destroy(Slot* slot) {
  mLive.remove(slot);
  if (slot->mNumber < kSlots && mTable[slot->mNumber] == slot) mTable[slot->mNumber] = nullptr;
  if (SlotFactory* factory = slot->mFactory) factory->Remove(slot);
  // A releasing slot may have been connected again after its destroy
  // began; never leave a peer pointing at a deleted slot.
  if (slot->mSource) Disconnect(*slot);
  while (!slot->mReceivers.empty()) Disconnect(*slot->mReceivers.front());
  delete slot;
}

void Slots::OnDisconnect() {
  std::list<Slot*> waiting;
  while (!mLive.empty()) {
    Slot* slot = mLive.front();
    if (slot->is_releasing()) {
      mLive.pop_front();
      waiting.push_back(slot);
    } else if (!Destroy(slot) && !mLive.empty() && mLive.front() == slot) {
      mLive.pop_front();
      waiting.push_back(slot);
    }
  }
  // Give asynchronous releases (child processes, sockets) a moment to end.
  timespec pause{static_cast<time_t>(releaseWaitMs / 1000), static_cast<long>(releaseWaitMs % 1000) * 1000000L};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
  for (Slot* slot : waiting) {
    // No answer: the controller that asked is gone.
    int_destroy(slot);
  }
}

void Slots::OnSignal(const LGCP::Signal& signal) {
  if (!signal.trunkStatus_isSelected()) return;
  for (SlotFactory* f = firstFactory; f; f = f->next()) f->SelfSignal(signal);
}

void Slots::UpdateHardwareResources() {
  LGCP::Resources res;
  res.set_rtp_g729(0);
  res.set_rtp_g723(0);
  res.set_rtp_g711(0);
  res.set_rtp_g711mcc(0);
  res.set_modem(0);
  res.set_mcc_data(0);
  res.set_mcc_bri(0);
  res.set_mcc_trans(0);
  res.set_t38_instances(0);
  res.set_digital_modems(0);
  res.set_lin16(0);
  res.set_mux(true);
  res.omit_drvVersion();
  for (SlotFactory* f = firstFactory; f; f = f->next()) f->Query(res);
  SendSignal(LGCP::Signal(LGCP::Signal::query::Id(), res));
}
