#pragma once
// TPKT framing: 0x03, 0x00, a 16-bit big-endian length that counts the
// 4-byte header, then one message. Cuts the byte stream from below into
// messages and puts the header in front of every message sent. A frame
// must be completed within 3000 ms of the last chunk that carried part of it.
#include "control/protocol.h"
#include "runtime/loop/timer.h"

class Tpkt_protocol : public Protocol {
 public:
  enum State { idle = 0, wait_r = 1, len_1 = 2, len_2 = 3, body = 4, ignore = 5 };

  static const unsigned int header_size = 4;
  static const unsigned int frame_timeout_ms = 3000;

  Tpkt_protocol();
  ~Tpkt_protocol() override;

  const Protocol_name& name() const override { return name_; }

  void local_prepare_head(Packet& p) override;
  void local_prepare_tail(Packet& p) override;
  void local_activate() override;
  void local_deactivate() override;
  void message(Packet& p) override;
  void receive(Packet& p) override;

  void reset();
  void on_timeout(Timer* t);
  void next_state(State s) { state_ = s; }
  State state() const { return state_; }
  bool timer_running() const { return timer_.is_running(); }

 private:
  // Each consumes from the chunk.
  void receive_idle(Packet& chunk);
  void receive_wait_r(Packet& chunk);
  void receive_len_1(Packet& chunk);
  void receive_len_2(Packet& chunk);
  void receive_body(Packet& chunk);
  void receive_ignore(Packet& chunk);
  void deliver();

  Protocol_name_str name_{"TPKT"};
  unsigned int count_ = 0;
  Timer timer_;
  State state_ = idle;
  Packet reassembly_;
};
