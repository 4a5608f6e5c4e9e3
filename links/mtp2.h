#pragma once
// SS7 message transfer part, level 2: signalling link control.
//
// One layer ("MTP/L2") of a protocol stack, running on an HDLC channel that
// adds the flags and check bits. It aligns and proves the link with link
// status signal units, then numbers the MSUs handed down from above, keeps
// them until the peer acknowledges them, retransmits them on a negative
// acknowledgement, and passes every correctly sequenced MSU up.
//
// A signal unit, as exchanged with the channel:
//   octet 0  BSN (bits 0-6), BIB (bit 7)
//   octet 1  FSN (bits 0-6), FIB (bit 7)
//   octet 2  LI
//   octet 3+ status field (LSSU) or SIO and SIF (MSU)
#include <cstdint>
#include <iosfwd>

#include "control/protocol.h"
#include "hardware/hdlc.h"
#include "runtime/loop/timer.h"
#include "runtime/packet/clean_queue.h"
#include "runtime/packet/cyclic.h"
#include "runtime/packet/packet.h"

namespace SS7 {

class SLC : public Protocol, public HDLC::Notify {
 public:
  typedef Cyclic<unsigned int, 127u> Seq;

  // Status field of an LSSU; any other octet value may arrive too.
  enum Indication : std::uint8_t { SIO = 0, SIN = 1, SIE = 2, SIOS = 3 };

  // Trace switches, in the order of the controller's SS7 log request.
  struct Trace {
    bool state = false;
    bool raw_receive = false;
    bool raw_transmit = false;
    bool mtp_transmit = false;
    bool mtp_receive = false;
    bool mtp_activate = false;
    bool timers = false;
    bool msu_processing = false;
  };

  struct Statistics {
    std::uint32_t msuTxCount = 0;    // FISUs and MSUs handed to the channel
    std::uint32_t msuRxCount = 0;    // received units that passed the length check
    std::uint32_t octetsTx = 0;      // octets of those sent units
    std::uint32_t octetsRx = 0;      // octets of every received unit
    std::uint32_t overflowCntr = 0;  // MSUs refused by the transmission buffer limit
    std::uint32_t rtbSize = 0;       // MSUs awaiting acknowledgement
    std::uint32_t repeatCntr = 0;    // retransmissions
    std::uint32_t badSeqCntr = 0;    // negative acknowledgements sent
  };

  class State {
   public:
    enum type { idle = 0, not_aligned = 1, aligned = 2, proving = 3, aligned_ready = 4, worked = 5 };
    explicit State(type t) : id_(t) {}
    virtual ~State() {}
    virtual void on_enter(SLC&) = 0;
    virtual void on_leave(SLC&) = 0;
    virtual void fisu(SLC&) = 0;
    virtual void lssu(SLC&, Indication) = 0;
    virtual void msu(SLC&, Packet&) = 0;
    virtual void message(SLC&, Packet&) = 0;
    virtual type get_state_id() const = 0;

   protected:
    type id_;
  };

  // A state whose operations go to the link control's overloads for it;
  // where there is none, the overload for a base state (or the do-nothing
  // one for State) is chosen.
  template <int N, class Base>
  class TState : public Base {
   public:
    TState() : Base(static_cast<State::type>(N)) {}
    explicit TState(State::type t) : Base(t) {}
    void on_enter(SLC& s) override { s.on_enter(*this); }
    void on_leave(SLC& s) override { s.on_leave(*this); }
    void fisu(SLC& s) override { s.fisu(*this); }
    void lssu(SLC& s, Indication i) override { s.lssu(*this, i); }
    void msu(SLC& s, Packet& p) override { s.msu(*this, p); }
    void message(SLC& s, Packet& p) override { s.message(*this, p); }
    State::type get_state_id() const override { return static_cast<State::type>(N); }
  };

  typedef TState<0, State> IdleState;
  typedef TState<1, State> NotAlignedState;
  typedef TState<2, State> AlignedState;
  typedef TState<3, State> ProvingState;
  typedef TState<4, ProvingState> AlignedReadyState;
  typedef TState<5, State> WorkedState;

  // A level 2 timer: its period and the handler its expiry calls.
  struct TimerVal {
    unsigned int ms;
    void (SLC::*handler)(Timer*);
  };
  static const TimerVal T1, T2, T3, T4n, T4e, T5, T6, T7;

  // MSUs waiting for a sequence number: above this count new ones are refused;
  // the room beyond it takes the MSUs a retransmission moves back.
  static const unsigned int kTbLimit = 200;
  // Most MSUs held unacknowledged at a time.
  static const unsigned int kRtbLimit = 127;

  SLC();
  ~SLC() override;
  SLC(const SLC&) = delete;
  SLC& operator=(const SLC&) = delete;

  // Set-up, before activation. The channel is not owned.
  void hdlc(HDLC* channel) { hdlc_ = channel; }
  void set_linkno(unsigned int n) { linkno_ = n; }
  void set_slc(unsigned int v) { slc_ = v; }
  void set_dpc(unsigned int v) { dpc_ = v; }
  void set_opc(unsigned int v) { opc_ = v; }
  void set_emergency(bool on) { emergency_ = on; }

  Trace trace;

  unsigned int get_bsn() const { return bsn_; }
  State::type get_state_id() const { return state_->get_state_id(); }
  const Statistics& statistics() const;
  bool emergency() const { return emergency_; }
  unsigned int tb_count() const { return tb_.count(); }
  unsigned int rtb_count() const { return rtb_count_; }
  bool timer_running() const { return timer_.is_running(); }

  // The trunk carrying the link went up or down.
  void OnTrunkHardStatus(bool up);

  // Protocol
  void local_prepare_head(Packet& p) override;
  void local_prepare_tail(Packet& p) override;
  void local_activate() override;
  void local_deactivate() override;
  void message(Packet& p) override;
  void receive(Packet& p) override;
  void protocol_info(std::ostream& os) const override;
  const Protocol_name& name() const override { return name_; }
  bool compare_name(const Protocol_name& n) const override { return name_.compare(n); }

  // HDLC::Notify
  void on_hdlc_receive(Packet& p) override;
  void on_hdlc_error(HDLC::Notify::Cause::Type cause) override;
  void on_hdlc_ready() override;

  bool send_msu(Packet& p);
  bool CoutCongestion();

  void PutHeader(std::ostream& os) const;
  void PutShortInfo(std::ostream& os) const;

  // Prints the header of the last received unit.
  struct DumpPtr {
    explicit DumpPtr(const SLC* s) : slc(s) {}
    const SLC* slc;
  };

 private:
  friend std::ostream& operator<<(std::ostream& os, const DumpPtr& d);

  // State handlers; the State& overloads do nothing.
  void on_enter(State&) {}
  void on_leave(State&) {}
  void fisu(State&) {}
  void lssu(State&, Indication) {}
  void msu(State&, Packet&) {}
  void message(State&, Packet&) {}

  void on_enter(IdleState&);
  void lssu(IdleState&, Indication i);

  void on_enter(NotAlignedState&);
  void on_leave(NotAlignedState&);
  void lssu(NotAlignedState&, Indication i);

  void on_enter(AlignedState&);
  void on_leave(AlignedState&);
  void lssu(AlignedState&, Indication i);

  void on_enter(ProvingState&);
  void on_leave(ProvingState&);
  void fisu(ProvingState&);
  void lssu(ProvingState&, Indication i);
  void msu(ProvingState&, Packet&);

  void on_enter(AlignedReadyState&);
  void on_leave(AlignedReadyState&);

  void on_enter(WorkedState&);
  void on_leave(WorkedState&);
  void fisu(WorkedState&);
  void lssu(WorkedState&, Indication i);
  void msu(WorkedState&, Packet& p);
  void message(WorkedState&, Packet& p);

  void next_state(State& s);
  bool is_worked() const { return state_ == &worked_; }

  void set(TimerVal v);
  void on_T1(Timer*);
  void on_T2(Timer*);
  void on_T3(Timer*);
  void on_T4(Timer*);
  void on_T5(Timer*) {}
  void on_T6(Timer*) {}
  void on_T7(Timer*);

  void reset();
  void make_expected();
  void process_bsnr();
  void abnormal_fib();
  void retransmit();
  void nack();
  void put_to_tb(Packet& p);
  void process_tb();
  bool send(const Packet& payload, Seq fsn);
  void lssu(Indication i);
  void sio() { lssu(SIO); }
  void sin() { lssu(SIN); }
  void sie() { lssu(SIE); }
  void sios() { lssu(SIOS); }
  void fisu();

  // Last received header.
  Seq bsnr_;
  bool bibr_ = false;
  Seq fsnr_;
  bool fibr_ = false;
  std::uint32_t length_ = 0;

  // Header values sent.
  Seq bsn_ = 127;
  bool bib_ = true;
  Seq fsn_ = 127;
  bool fib_ = true;

  // Expectation taken at each FISU or MSU received in service.
  Seq fsnx_;
  bool fibx_ = true;
  bool own_fib_ = true;

  bool nack_outstanding_ = false;
  bool bad_bsn_ = false;
  bool abnormal_fib_ = false;

  Packet rtb_[128];
  Seq rtb_first_ = 0;
  Seq rtb_last_ = 127;
  std::uint32_t rtb_count_ = 0;

  CleanQueue<Packet, 327> tb_;

  unsigned int linkno_ = 0;

  Timer timer_;

  IdleState idle_;
  NotAlignedState not_aligned_;
  AlignedState aligned_;
  ProvingState proving_;
  AlignedReadyState aligned_ready_;
  WorkedState worked_;
  State* state_;

  bool emergency_ = false;

  Protocol_name_str name_;

  unsigned int last_congestion_ = 0;

  unsigned int slc_ = 0;
  unsigned int dpc_ = 0;
  unsigned int opc_ = 0;

  mutable Statistics stats_;

  HDLC* hdlc_ = nullptr;
};

std::ostream& operator<<(std::ostream& os, SLC::Indication i);
std::ostream& operator<<(std::ostream& os, SLC::State::type t);
std::ostream& operator<<(std::ostream& os, const SLC::DumpPtr& d);

}  // namespace SS7
