#pragma once
// Base of every control service bound to the control server (ctrlServer).
// The server offers each received command to the bound services in bind
// order until one's OnCommand() returns true; that service answers it,
// before returning, with exactly one of Success(), Error(cause) or
// delayResponse() (and later delayedSuccess(slot, ticket)).
//
//   class MyService : public CtrlSrv::Service {
//     bool OnCommand(LGCP::Command const& c) override {
//       if (!c.clockCfg_isSelected()) return false;   // not ours
//       if (!apply(c.get_clockCfg())) Error(LGCP::ErrorCause::unsupported);
//       else Success();
//       return true;
//     }
//     void OnConnect() override {}
//     void OnDisconnect() override {}
//   };
//   ctrlServer.Bind(&MyService::instance());
#include "messages/LGCP.h"

namespace CtrlSrv {

class Server;

class Service {
 public:
  Service() = default;
  virtual ~Service() = default;
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  // The controller link came up / went down (also on server deactivation).
  virtual void OnConnect() = 0;
  virtual void OnDisconnect() = 0;
  // True when this service takes the command; it must then have answered.
  virtual bool OnCommand(const LGCP::Command& command) = 0;
  // Another bound service is sending this signal to the controller.
  virtual void OnSignal(const LGCP::Signal&) {}

  // False (with an error line) while not bound to a server.
  bool CheckServer() const;

  // Answers the command being handled with success.
  void Success();
  // Answers the command being handled with an error cause.
  void Error(LGCP::ErrorCause::NamedNumber cause);
  // Offers the signal to the other bound services, then sends it without
  // seq (with the slot of the command being handled, if any).
  void SendSignal(const LGCP::Signal& signal);
  // The same with the given slot.
  void SendSignal(unsigned int slot, const LGCP::Signal& signal);

  // Slot of the command being handled; -1 when none.
  int GetSlot() const;
  bool IsSlotPresent() const;

  // Marks the command being handled as answered later and returns the
  // ticket to pass to delayedSuccess() when the work completes (the
  // command's seq when it carried one and no pending ticket has that number).
  unsigned int delayResponse();
  // Sends the delayed success with the slot and the command's seq (no seq
  // when the command had none; a number that is no pending ticket is sent
  // as the seq).
  void delayedSuccess(unsigned int slot, unsigned int seq);

  // False when the server has no control link; else connected := whether
  // the controller is connected.
  bool CheckServerConnection(bool& connected) const;

  Server* server() const { return server_; }

 private:
  friend class Server;
  Server* server_ = nullptr;
};

}  // namespace CtrlSrv
