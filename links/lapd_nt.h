#pragma once
// ISDN::LAPD_NT: the network side of a BRI line. Hands out TEI values to up
// to eight terminals (automatic assignment, check and removal), keeps one
// simplified acknowledged link per assigned TEI, routes layer-3 messages
// between the terminals and the single layer above by call reference, and
// broadcasts SETUP to all terminals.
#include <cstdint>
#include <iosfwd>

#include "control/protocol.h"
#include "runtime/loop/timer.h"
#include "runtime/packet/clean_queue.h"
#include "runtime/packet/packet.h"

namespace ISDN {

class LAPD_NT;

class LAPD_NT_user {
 public:
  enum State { Unassigned = 0, Assigned = 1, WaitAnswer = 2 };
  static constexpr unsigned kIdlePoll = 10000, kAnswerWait = 1000, kCheckWait = 2000;
  static constexpr unsigned kRetries = 3;

  LAPD_NT_user() = default;
  ~LAPD_NT_user();
  LAPD_NT_user(const LAPD_NT_user&) = delete;
  LAPD_NT_user& operator=(const LAPD_NT_user&) = delete;

  void set_lapd(LAPD_NT* owner) { owner_ = owner; }
  bool is_check() const { return check_; }
  unsigned get_Tei() const { return tei_; }
  bool is_assigned() const { return state_ != Unassigned; }
  void set_Tei(unsigned tei) { tei_ = static_cast<uint8_t>(tei); }
  void set_log(unsigned level) { trace_ = level; }

  void assign();
  void unassign();
  void checking();
  // A frame addressed to this entry's TEI (whole frame, address first).
  void receive(Packet& frame, bool cr);
  // A layer-3 message; true when this entry takes it.
  bool message(Packet& m);

  // Read access for the owner and tests.
  int state() const { return state_; }
  bool busy() const { return busy_; }
  unsigned vs() const { return vs_; }
  unsigned vr() const { return vr_; }
  unsigned callref() const { return callref_; }
  uint16_t checkRi() const { return checkRi_; }
  void setCheckRi(uint16_t ri) { checkRi_ = ri; }
  unsigned outQueued() const { return outq_.count(); }
  unsigned ackQueued() const { return ackq_.count(); }
  void PutHeader(std::ostream& os) const;

 private:
  void on_timer();
  bool ack_queue(unsigned n);
  void set_busy();
  void set_unbusy();
  void retransmit();
  void send_I(const Packet& m);
  void tx_U(unsigned code, bool pf, bool command);
  void tx_S(unsigned code, bool pf, bool command);
  void send(Packet& f);
  std::ostream& log() const;

  bool check_ = false;
  LAPD_NT* owner_ = nullptr;
  uint8_t vr_ = 0;
  uint8_t lastAck_ = 0;
  uint8_t vs_ = 0;
  uint8_t tei_ = 0;
  int state_ = Unassigned;
  Timer linkTimer_;
  Timer checkTimer_;
  unsigned retries_ = 0;
  uint8_t callref_ = 0;
  bool busy_ = false;
  unsigned trace_ = 0;
  CleanQueue<Packet, 135> outq_;
  CleanQueue<Packet, 7> ackq_;
  uint16_t checkRi_ = 0;
};

class LAPD_NT : public Protocol {
 public:
  static constexpr unsigned kUsers = 8;
  static constexpr unsigned kCheckPeriod = 60000;

  LAPD_NT();
  ~LAPD_NT() override;

  void set_log(unsigned level);

  void local_prepare_head(Packet& p) override;
  void local_prepare_tail(Packet& p) override;
  void local_activate() override;
  void local_deactivate() override;
  void message(Packet& p) override;
  void receive(Packet& p) override;

  void send_to_layer3(Packet& p) { on_message(p); }
  void send_to_layer1(Packet& p) { transmit(p); }
  void tx_identity(uint16_t ri, unsigned ai, unsigned type);

  unsigned trace() const { return trace_; }
  const LAPD_NT_user& user(unsigned i) const { return users_[i]; }
  void PutHeader(std::ostream& os) const;

 private:
  enum TeiMsg : unsigned { IdRequest = 1, IdAssigned = 2, IdDenied = 3, IdCheckReq = 4, IdCheckResp = 5,
                           IdRemove = 6, IdVerify = 7 };
  void on_tei_procedure(const unsigned char* d, unsigned n);
  void check_all_Tei();
  void remove_twice(unsigned ai);
  LAPD_NT_user* find_Tei(unsigned tei);
  LAPD_NT_user* find_free_Tei(unsigned tei);
  std::ostream& log() const;

  Timer timer_;
  LAPD_NT_user users_[kUsers];
  unsigned trace_ = 0;
};

}  // namespace ISDN
