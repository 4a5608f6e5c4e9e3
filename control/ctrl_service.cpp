#include "control/ctrl_service.h"

#include <iostream>

#include "control/ctrl_server.h"

namespace CtrlSrv {

bool Service::CheckServer() const {
  if (server_) return true;
  std::cerr << "CtrlSrv::Service error! service not connected to server." << std::endl;
  return false;
}

void Service::Success() {
  if (CheckServer()) server_->Success();
}

void Service::Error(LGCP::ErrorCause::NamedNumber cause) {
  if (CheckServer()) server_->Error(cause);
}

void Service::SendSignal(const LGCP::Signal& signal) {
  if (!CheckServer()) return;
  server_->LoopBackSignal(this, signal);
  server_->SendSignal(signal);
}

void Service::SendSignal(unsigned int slot, const LGCP::Signal& signal) {
  if (!CheckServer()) return;
  server_->LoopBackSignal(this, signal);
  server_->SendSignal(slot, signal);
}

int Service::GetSlot() const { return CheckServer() ? server_->GetSlot() : -1; }

bool Service::IsSlotPresent() const { return CheckServer() ? server_->IsSlotPresent() : false; }

unsigned int Service::delayResponse() { return CheckServer() ? server_->delayResponse() : ~0u; }

void Service::delayedSuccess(unsigned int slot, unsigned int seq) {
  if (CheckServer()) server_->delayedSuccess(slot, seq);
}

bool Service::CheckServerConnection(bool& connected) const {
  return server_ ? server_->CheckServerConnection(connected) : false;
}

}  // namespace CtrlSrv
