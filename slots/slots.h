#pragma once
// The Slots control service: owns every slot in a table indexed by slot
// number and carries out the controller's slot commands (create, destroy,
// connect, disconnect, activate, deactivate, userData, ioctl) and the
// resource query. When the controller link goes down it destroys every
// slot; trunk state broadcasts of other services go on to the factories.
#include <list>

#include "control/ctrl_service.h"

class Slot;

class Slots : public CtrlSrv::Service {
 public:
  static constexpr unsigned kSlots = 1024;

  static Slots& instance();

  // Slots still present are not deleted.
  ~Slots() override;

  void OnConnect() override {}
  // The controller link is lost: every slot goes, without answers.
  void OnDisconnect() override;
  bool OnCommand(const LGCP::Command& command) override;
  // Passes trunkStatus broadcasts to the factories.
  void OnSignal(const LGCP::Signal& signal) override;

  static bool CheckSlot(unsigned slot) { return slot < kSlots; }

  // Disconnects the slot and starts its release: true when it was deleted
  // at once, false when the release goes on asynchronously.
  bool Destroy(Slot* slot);
  // End of a slot's release: answers a deferred destroy, deletes the slot.
  void on_release(Slot* slot);
  // Removal from the table, the list and the factory, and deletion.
  void int_destroy(Slot* slot);

  // Sends the controller the resources the factories report, as the
  // signal query without a slot number.
  void UpdateHardwareResources();

  // The slot at a number; null when free or out of range.
  Slot* at(unsigned slot) const { return slot < kSlots ? mTable[slot] : nullptr; }
  const std::list<Slot*>& live() const { return mLive; }

  // How long the link-loss handling waits for slots that release
  // asynchronously, blocking the process (1000 ms).
  static unsigned releaseWaitMs;

 private:
  Slots();

  void CmdQuery();
  void CmdConnect(unsigned target);
  void CmdDisconnect();
  void CmdCreate(const LGCP::CreateParams& params);
  void CmdDestroy();
  void CmdActivate(const TERM::TermActivateParams& params);
  void CmdDeactivate();
  void CmdUserData(const std::vector<char>& data);
  void CmdIoctl(const LGCP::IoctlParams& params);

  // The slot the request being handled addresses; null when none.
  Slot* addressed() const;

  Slot* mTable[kSlots];
  std::list<Slot*> mLive;  // every slot of the table, in order of creation
};
