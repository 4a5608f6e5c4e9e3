#include "control/ctrl_server.h"

#include <algorithm>
#include <iostream>

#include "control/lgcp_codec.h"
#include "runtime/log/ext.h"

CtrlSrv::Server ctrlServer;

namespace CtrlSrv {

namespace {
const unsigned int stat_period_ms = 5000;
// Pending delayed answers kept (the slot manager has at most one per slot).
const size_t max_delayed = 4096;
const int max_slot = 1023;
}  // namespace

Server::Server() = default;

Server::~Server() {
  // At process exit the bound services (function-local singletons) may be
  // gone already: drop the link without calling them.
  services_.clear();
  Deactivate();
}

void Server::Bind(Service* service) {
  services_.push_back(service);
  service->server_ = this;
}

bool Server::Activate(Control::Service* link) {
  Deactivate();
  link_ = link;
  if (!link_) return false;
  link_->service_name("server");
  link_->Bind(this);
  return link_->Activate();
}

void Server::Deactivate() {
  if (!link_) return;
  link_->Deactivate();
  OnDisconnect();
  link_->UnBind();
  delete link_;
  link_ = nullptr;
}

void Server::PutHeader(std::ostream& os) const {
  if (!link_)
    os << "ctrl [null]: ";
  else if (link_->IsConnected())
    os << "ctrl [" << link_->GetIPAddr() << "]: ";
  else
    os << "ctrl [not connected]: ";
}

void Server::OnConnect() {
  std::clog << ext::header(this) << "controller connect." << std::endl;
  for (Service* s : services_) s->OnConnect();
  SetAvgStatTimer();
}

void Server::OnDisconnect() {
  for (Service* s : services_) s->OnDisconnect();
  statTimer_.reset();
}

void Server::SetAvgStatTimer() { statTimer_.set(stat_period_ms, &Server::OnUpdateAvgStat, this); }

void Server::OnUpdateAvgStat() {}

bool Server::CheckServerConnection(bool& connected) const {
  if (!link_) return false;
  connected = link_->IsConnected();
  return true;
}

void Server::OnHeartbeatTimeout() {
  if (link_) link_->Disconnect();
}

void Server::LoopBackSignal(const Service* from, const LGCP::Signal& signal) {
  // Index-based: a service may bind another one from inside OnSignal.
  for (size_t i = 0; i < services_.size(); ++i)
    if (services_[i] != from) services_[i]->OnSignal(signal);
}

unsigned int Server::delayResponse() {
  responseState_ = SuccessSent;
  // The command's own seq serves as its ticket unless a pending ticket has
  // that number already (a command without seq, or a controller reusing
  // numbers): then, as for a command without seq, a fresh number is taken.
  unsigned int ticket = seqPresent_ ? static_cast<unsigned int>(seq_) : nextTicket_++;
  while (FindDelayed(ticket) != delayed_.end()) ticket = nextTicket_++;
  if (delayed_.size() >= max_delayed) delayed_.erase(delayed_.begin());
  delayed_.push_back(Delayed{ticket, seqPresent_, seq_});
  return ticket;
}

std::vector<Server::Delayed>::iterator Server::FindDelayed(unsigned int ticket) {
  return std::find_if(delayed_.begin(), delayed_.end(), [ticket](const Delayed& d) { return d.ticket == ticket; });
}

void Server::OnMessage(const char* data, int length) {
  if (!received_) received_.reset(new LGCP::Message);
  // Decoding into the message of the previous command reuses its parts; a
  // failed decode leaves it unusable, so it is made afresh then.
  if (length >= 0 && LgcpCodec::Decode(data, data + length, *received_)) {
    OnMessage(*received_);
  } else {
    std::cerr << ext::header(this) << "receive fail: decode error!" << std::endl;
    std::cerr << " msg: " << ext::hex(data, length > 0 ? static_cast<unsigned int>(length) : 0u) << std::endl;
    received_.reset();
  }
  slot_ = -1;
}

void Server::OnMessage(const LGCP::Message& message) {
  responseState_ = NoResponse;
  if (message.seq_isPresent()) {
    seq_ = message.get_seq().getValue();
    seqPresent_ = true;
  } else {
    seqPresent_ = false;
  }
  if (!message.get_pdu().command_isSelected()) {
    slot_ = -1;
    Error(LGCP::ErrorCause::unexpectedMsgType);
    return;
  }
  if (message.slot_isPresent()) {
    unsigned int s = message.get_slot().getValue();
    if (s > static_cast<unsigned int>(max_slot)) {
      slot_ = -1;
      Error(LGCP::ErrorCause::invalidSlot);
      return;
    }
    slot_ = static_cast<int>(s);
  } else {
    slot_ = -1;
  }
  const LGCP::Command& command = message.get_pdu().get_command();
  bool taken = false;
  for (size_t i = 0; i < services_.size() && !taken; ++i) taken = services_[i]->OnCommand(command);
  if (!taken) {
    Error(LGCP::ErrorCause::unexpectedMsgType);
    return;
  }
  if (responseState_ == NoResponse) {
    std::cerr << ext::header(this) << "software error: server do NOT send ack!!!" << std::endl;
    std::cerr << ext::header(this) << "please contact technical support." << std::endl;
    Error(LGCP::ErrorCause::internal);
  }
}

namespace {

void address(LGCP::Message& m, bool seqPresent, int seq, int slot) {
  if (seqPresent)
    m.set_seq(seq);
  else
    m.omit_seq();
  if (slot != -1)
    m.set_slot(static_cast<unsigned int>(slot));
  else
    m.omit_slot();
}

}  // namespace

LGCP::Response& Server::Answer() {
  if (!answer_) answer_.reset(new LGCP::Message);
  address(*answer_, seqPresent_, seq_, slot_);
  // Selecting makes a fresh value; the one of the previous answer is kept
  // when it is of the same kind.
  LGCP::PDU& pdu = answer_->set_pdu();
  if (!pdu.response_isSelected()) pdu.select_response();
  return static_cast<LGCP::Response&>(*pdu.getSelection());
}

void Server::Success() {
  if (responseState_ != NoResponse) return;
  LGCP::Response& r = Answer();
  if (!r.success_isSelected()) r.select_success();
  SendMsg(*answer_);
  responseState_ = SuccessSent;
}

void Server::Error(LGCP::ErrorCause::NamedNumber cause) {
  if (responseState_ == ErrorSent) return;
  LGCP::Response& r = Answer();
  if (r.error_isSelected())
    static_cast<LGCP::ErrorCause&>(*r.getSelection()) = cause;
  else
    r.select_error() = cause;
  SendMsg(*answer_);
  responseState_ = ErrorSent;
}

void Server::delayedSuccess(unsigned int slot, unsigned int seq) {
  LGCP::Message m;
  std::vector<Delayed>::iterator it = FindDelayed(seq);
  if (it == delayed_.end()) {
    m.set_seq(static_cast<int>(seq));
  } else {
    if (it->seqPresent) m.set_seq(it->seq);
    delayed_.erase(it);
  }
  m.set_slot(slot);
  m.set_pdu().select_response().select_success();
  SendMsg(m);
}

void Server::SendSignal(const LGCP::Signal& signal) {
  LGCP::Message m;
  if (slot_ != -1) m.set_slot(static_cast<unsigned int>(slot_));
  m.set_pdu().select_signal(signal);
  SendMsg(m);
}

void Server::SendSignal(unsigned int slot, const LGCP::Signal& signal) {
  LGCP::Message m;
  m.set_slot(slot);
  m.set_pdu().select_signal(signal);
  SendMsg(m);
}

void Server::SendMsg(LGCP::Message& message) {
  // One buffer for every message sent: its storage is reused.
  std::vector<char>& out = sendBuffer_;
  if (!LgcpCodec::EncodeTo(message, out)) {
    std::cerr << ext::header(this) << "send fail: encode error!";
    LgcpCodec::Print(std::cerr, message);
    std::cerr << std::endl;
    return;
  }
  if (!link_) {
    std::cerr << ext::header(this) << "send fail: Service not attached!" << std::endl;
    return;
  }
  link_->Send(out.data(), static_cast<int>(out.size()));
}

}  // namespace CtrlSrv
