#include "control/service.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cstring>
#include <iostream>

#include "control/tpkt_protocol.h"
#include "runtime/log/measure.h"

namespace Control {

Service::Service() {
  stream_ = new StrmProtocol;
  add_protocol_tail(stream_);
  add_protocol_tail(new Tpkt_protocol);
  close_dpc_.Bind(this, &Service::OnDeactivateDPC);
}

Service::~Service() = default;

bool Service::Activate() {
  Deactivate();
  state_ = State::Connecting;
  bool ok = ImplActivate();
  if (!ok) state_ = State::Idle;
  return ok;
}

void Service::Deactivate() {
  ImplDeactivate();
  state_ = State::Idle;
}

void Service::Disconnect() {
  if (state_ == State::Deactivating) return;
  deactivate();
}

void Service::Connected(Fd fd, const INet4::Addr& peer) {
  if (state_ == State::Deactivating) return;
  int on = 1;
  if (::setsockopt(fd.lowlevel_fd(), SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0 && verbose_)
    std::cerr << "fail set keepalive to control socket." << std::endl;
  if (::setsockopt(fd.lowlevel_fd(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0 && verbose_)
    std::cerr << "fail to turn off Nagle algorithm." << std::endl;
  peer_ = peer;
  state_ = State::Connected;
  stream_->attach(std::move(fd));
  activate();
  if (notify_) notify_->OnConnect();
}

bool Service::Send(const char* data, int length) {
  if (state_ == State::Connected) {
    if (length < 0 || length > max_send_length) {
      // One block must fit one packet buffer behind the TPKT header; a
      // longer one is refused rather than overrunning the buffer.
      std::cerr << "Control::Service::Send() refuse to send " << length << " bytes, max " << max_send_length << "."
                << std::endl;
      return false;
    }
    static Profile::Point point1("Control::Service::Send [1]");
    point1.begin();
    Packet p;
    prepare_head(p);
    if (length > 0) std::memcpy(p.put(static_cast<unsigned int>(length)), data, static_cast<size_t>(length));
    point1.end();
    static Profile::Point point2("Control::Service::Send [2]");
    point2.begin();
    top_member()->message(p);
    point2.end();
    // A failed write takes the stack down before message() returns.
    return state_ == State::Connected;
  }
  if (state_ != State::Deactivating && verbose_)
    std::cerr << "Control::Service::Send() ignore Send request in " << GetTextNotation(state_) << " state."
              << std::endl;
  return false;
}

void Service::on_message(Packet& p) {
  if (state_ == State::Deactivating || !notify_) return;
  notify_->OnMessage(reinterpret_cast<const char*>(p.null() ? nullptr : p.data()), static_cast<int>(p.length()));
}

void Service::on_activated(Protocol*) {}

void Service::on_deactivated(Protocol*, ProtocolStatus) {
  if (verbose_) std::cerr << "control connection " << peer_ << " closed." << std::endl;
  state_ = State::Deactivating;
  close_dpc_.Activate();
}

void Service::OnDeactivateDPC() {
  close_dpc_.Deactivate();
  state_ = State::Connecting;
  ImplOnDisconnect();
  if (notify_) notify_->OnDisconnect();
}

const char* GetTextNotation(Service::State::Type s) {
  switch (s) {
    case Service::State::Idle: return "Idle";
    case Service::State::Connecting: return "Connecting";
    case Service::State::Deactivating: return "Deactivating";
    case Service::State::Connected: return "Connected";
  }
  return "Unknown";
}

std::ostream& operator<<(std::ostream& os, Service::State::Type s) { return os << GetTextNotation(s); }

}  // namespace Control
