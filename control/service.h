#pragma once
// One TCP control link: a stream socket under TPKT framing, with the
// connection states Idle, Connecting, Deactivating and Connected. Every
// received TPKT payload goes to the bound Control::Notify; Send() writes one
// block as one frame. How a connected socket is obtained is the business of
// the derived classes (the listening acceptor, the connecting client).
#include <iosfwd>
#include <string>

#include "control/protocol.h"
#include "control/strm_protocol.h"
#include "runtime/loop/dpc.h"
#include "runtime/os/fd.h"
#include "runtime/os/inet4.h"

namespace Control {

// The user of a link.
class Notify {
 public:
  virtual ~Notify() = default;
  virtual void OnConnect() = 0;
  virtual void OnDisconnect() = 0;
  // One received TPKT payload.
  virtual void OnMessage(const char* data, int length) = 0;
};

class Service : private ProtocolsFamily {
 public:
  struct State {
    enum Type { Idle = 0, Connecting = 1, Deactivating = 2, Connected = 3 };
  };

  // The largest block Send() takes: one packet buffer less the TPKT header.
  static const int max_send_length = 4092;

  Service();
  ~Service() override;

  // Deactivate(), then start obtaining a connection; false (state Idle)
  // when that cannot start.
  bool Activate();
  // Stops obtaining connections; no stack shutdown, no notification.
  void Deactivate();
  // Drops the current connection (orderly stack shutdown); the user hears
  // OnDisconnect() at the loop's next deferred-call pass.
  void Disconnect();
  // Sends one block as one TPKT frame while Connected. Returns false when
  // the block was not sent (wrong state, too long, or the write failed).
  bool Send(const char* data, int length);

  void Bind(Notify* n) { notify_ = n; }
  void UnBind() { notify_ = nullptr; }

  bool IsConnected() const { return state_ == State::Connected; }
  State::Type GetState() const { return state_; }
  const INet4::Addr& GetIPAddr() const { return peer_; }

  const std::string& service_name() const { return stream_->service_name(); }
  void service_name(const std::string& n) { stream_->service_name(n); }

  // Closes the socket and detaches its event without any report.
  void Release() { stream_->release(); }
  unsigned int GetOverflowCounter() const { return stream_->GetOverflowCounter(); }
  const Measure& get_read_measure() const { return stream_->get_read_measure(); }
  const Measure& get_write_measure() const { return stream_->get_write_measure(); }

  bool verbose() const { return verbose_; }
  void set_verbose(bool on) { verbose_ = on; }

 protected:
  // Attaches a connected socket: keepalive, no-delay, stack up, OnConnect().
  void Connected(Fd fd, const INet4::Addr& peer);

  virtual bool ImplActivate() = 0;
  virtual void ImplDeactivate() = 0;
  // After each disconnection, once the state is back to Connecting.
  virtual void ImplOnDisconnect() = 0;

  // From the stack.
  void on_message(Packet& p) override;
  void on_activated(Protocol* p) override;
  void on_deactivated(Protocol* p, ProtocolStatus s) override;

 private:
  void OnDeactivateDPC();

  INet4::Addr peer_;
  bool verbose_ = true;
  State::Type state_ = State::Idle;
  Notify* notify_ = nullptr;
  StrmProtocol* stream_;
  Dpc close_dpc_;
};

const char* GetTextNotation(Service::State::Type s);
std::ostream& operator<<(std::ostream& os, Service::State::Type s);

}  // namespace Control
