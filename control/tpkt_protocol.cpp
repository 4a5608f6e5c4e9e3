#include "control/tpkt_protocol.h"

#include <cstring>
#include <iostream>

#include "runtime/log/measure.h"

Tpkt_protocol::Tpkt_protocol() = default;

Tpkt_protocol::~Tpkt_protocol() {
  timer_.reset();
  reassembly_.clear();
}

void Tpkt_protocol::local_prepare_head(Packet& p) { p.reserve_head(header_size); }
void Tpkt_protocol::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

void Tpkt_protocol::local_activate() {
  reset();
  on_activate();
}

void Tpkt_protocol::local_deactivate() {
  reset();
  on_deactivate(ProtocolStatus(new Protocol_status_success(this, "TPKT deactivated")));
}

void Tpkt_protocol::reset() {
  timer_.reset();
  reassembly_.clear();
  state_ = idle;
}

void Tpkt_protocol::on_timeout(Timer*) {
  std::clog << " TPKT packet timeout." << std::endl;
  reset();
}

void Tpkt_protocol::message(Packet& p) {
  static Profile::Point point("Tpkt_protocol::message");
  point.begin();
  p.push16_b(static_cast<unsigned short>(p.length() + header_size));
  p.push8(0x00);
  p.push8(0x03);
  point.end();
  transmit(p);
}

void Tpkt_protocol::receive(Packet& chunk) {
  while (!chunk.empty()) {
    switch (state_) {
      case idle: receive_idle(chunk); break;
      case wait_r: receive_wait_r(chunk); break;
      case len_1: receive_len_1(chunk); break;
      case len_2: receive_len_2(chunk); break;
      case body: receive_body(chunk); break;
      case ignore: receive_ignore(chunk); break;
    }
  }
  if (state_ == idle)
    timer_.reset();
  else
    timer_.set(frame_timeout_ms, &Tpkt_protocol::on_timeout, this);
}

void Tpkt_protocol::receive_idle(Packet& chunk) {
  if (chunk.pull8() == 0x03) {
    state_ = wait_r;
  } else {
    std::clog << *static_cast<Protocol_info*>(this) << " bad TPKT packet start." << std::endl;
  }
}

void Tpkt_protocol::receive_wait_r(Packet& chunk) {
  if (chunk.pull8() == 0x00) {
    state_ = len_1;
  } else {
    std::clog << *static_cast<Protocol_info*>(this) << " bad TPKT reserved." << std::endl;
    state_ = idle;
  }
}

void Tpkt_protocol::receive_len_1(Packet& chunk) {
  count_ = chunk.pull8();
  state_ = len_2;
}

void Tpkt_protocol::receive_len_2(Packet& chunk) {
  count_ = count_ * 256 + chunk.pull8();
  if (count_ <= 3) {
    std::clog << "TPKT too small " << count_ << std::endl;
    state_ = idle;
    return;
  }
  count_ -= header_size;
  reassembly_.clear();
  reassembly_.reserve_head(0);
  if (count_ > reassembly_.tailroom()) {
    std::clog << "TPKT length too big, received = " << count_ << " max = " << reassembly_.tailroom() << std::endl;
    reassembly_.clear();
    state_ = ignore;
    return;
  }
  if (count_ == 0) {
    deliver();
    return;
  }
  state_ = body;
}

void Tpkt_protocol::receive_body(Packet& chunk) {
  unsigned int n = chunk.length() < count_ ? chunk.length() : count_;
  const unsigned char* src = reinterpret_cast<const unsigned char*>(chunk.pull(n));
  std::memcpy(reassembly_.put(n), src, n);
  count_ -= n;
  if (count_ == 0) deliver();
}

void Tpkt_protocol::receive_ignore(Packet& chunk) {
  unsigned int n = chunk.length() < count_ ? chunk.length() : count_;
  chunk.pull(n);
  count_ -= n;
  if (count_ == 0) state_ = idle;
}

void Tpkt_protocol::deliver() {
  // The frame is handed up from a local handle, so that an owner reacting to
  // it (even by resetting or destroying this layer's state) cannot pull the
  // buffer from under the call.
  Packet frame = reassembly_;
  reassembly_.clear();
  state_ = idle;
  on_message(frame);
}
