#pragma once
// The daemon's end of the controller protocol: owns the control link,
// decodes each TPKT payload as one aligned-PER LGCP::Message, offers the
// command to the bound services in bind order, makes sure every command gets
// exactly one answer, and encodes and sends responses and signals.
//
// Start-up:
//   ctrlServer.Bind(&HeartBeatCtl::instance());   // ... then the others
//   ctrlServer.Activate(new Control::AcceptorCheckConnection(port));
//   multiplexer.run(...);
//   ctrlServer.Deactivate();
#include <iosfwd>
#include <memory>
#include <vector>

#include "control/ctrl_service.h"
#include "control/service.h"
#include "runtime/loop/timer.h"

#include "messages/LGCP.h"

namespace CtrlSrv {

class Server : public Control::Notify {
 public:
  // responseState values.
  enum { NoResponse = 0, SuccessSent = 1, ErrorSent = 2 };

  Server();
  ~Server() override;

  // Appends a service (bind order = the order commands are offered in).
  void Bind(Service* service);
  // Deactivate(), then takes over the link (deleted by Deactivate), names it
  // "server", becomes its user and activates it.
  bool Activate(Control::Service* link);
  // With a link: deactivates it, tells the services OnDisconnect(), deletes it.
  void Deactivate();

  // Control::Notify
  void OnConnect() override;
  void OnDisconnect() override;
  void OnMessage(const char* data, int length) override;

  void Success();
  void OnMessage(const LGCP::Message& message);
  void Error(LGCP::ErrorCause::NamedNumber cause);
  void SendMsg(LGCP::Message& message);
  unsigned int delayResponse();
  void delayedSuccess(unsigned int slot, unsigned int seq);
  void SendSignal(const LGCP::Signal& signal);
  void SendSignal(unsigned int slot, const LGCP::Signal& signal);
  // Offers a signal of `from` to every other bound service, in bind order.
  void LoopBackSignal(const Service* from, const LGCP::Signal& signal);

  int GetSlot() const { return slot_; }
  bool IsSlotPresent() const { return slot_ != -1; }
  bool CheckServerConnection(bool& connected) const;
  // Drops the controller's connection (the listener stays).
  void OnHeartbeatTimeout();

  void SetAvgStatTimer();
  void OnUpdateAvgStat();

  void PutHeader(std::ostream& os) const;

  // For diagnostics and tests.
  Control::Service* link() const { return link_; }
  const std::vector<Service*>& services() const { return services_; }
  int response_state() const { return responseState_; }

 private:
  std::vector<Service*> services_;
  Control::Service* link_ = nullptr;
  bool seqPresent_ = false;
  int seq_ = 0;
  int slot_ = -1;
  int responseState_ = NoResponse;
  Timer statTimer_;
  // Answers delayed by delayResponse(): each ticket handed out is unique
  // among those still pending and remembers whether its command carried a
  // seq, so that a command without one is never answered with a seq (nor the
  // other way round), whatever numbers the controller uses.
  struct Delayed {
    unsigned int ticket;
    bool seqPresent;
    int seq;
  };
  std::vector<Delayed> delayed_;
  // Kept from message to message so that a steady flow of commands and
  // answers reuses their storage (made on first use: the server is built
  // before the message descriptions are).
  std::unique_ptr<LGCP::Message> received_;
  std::unique_ptr<LGCP::Message> answer_;
  std::vector<char> sendBuffer_;
  // The answer message addressed to the command being handled.
  LGCP::Response& Answer();
  std::vector<Delayed>::iterator FindDelayed(unsigned int ticket);
  unsigned int nextTicket_ = 0x80000000u;
};

}  // namespace CtrlSrv

// The one control server of the process.
extern CtrlSrv::Server ctrlServer;
