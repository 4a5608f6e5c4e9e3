#pragma once
// ISDN::LAPD: the Q.921 data link of one ISDN signalling channel (user or
// network side) over an HDLC channel of the board. Multiple-frame
// acknowledged operation with modulo-128 sequence numbers and window 7,
// T200/T202/T203 on one shared timer, and on BRI user-side links the
// automatic TEI assignment through SAPI 63 UI frames.
#include <cstdint>
#include <iosfwd>
#include <string>

#include "control/protocol.h"
#include "hardware/hdlc.h"
#include "messages/ACP.h"
#include "runtime/loop/timer.h"
#include "runtime/packet/clean_queue.h"
#include "runtime/packet/cyclic.h"
#include "runtime/packet/packet.h"

namespace ISDN {

struct Side {
  enum type { user = 0, network = 1 };
};

// Text of a link state (0-7), "(unknown)" otherwise.
const char* statetext(unsigned state);

typedef Cyclic<unsigned int, 127u> Seq;

// The whole protocol state of a link; statuses carry a snapshot of it.
struct LAPDFullState {
  enum State {
    TeiUnassigned = 0,
    AssignAwaitingTei = 1,
    EstablishAwaitingTei = 2,
    TeiAssigned = 3,
    AwaitingEstablishment = 4,
    AwaitingRelease = 5,
    MultipleFrameEstablished = 6,
    TimerRecovery = 7
  };
  uint32_t state = TeiAssigned;
  int32_t selfTEI = 0;
  int32_t selfSAPI = 0;
  int32_t peerTEI = 0;
  int32_t peerSAPI = 0;
  int32_t RC = 0;
  bool peerBusy = false;
  bool ownBusy = false;
  bool rejectException = false;
  bool L3Initiated = false;
  bool Establishable = true;
  bool QueuedUp = false;
  bool RetrRQ = false;
  bool AckRQ = false;
  bool T200run = false;
  bool T202run = false;
  bool T203run = false;
  Seq VS, VA, VR;

  std::ostream& out(std::ostream& os) const;
};

class LAPD : public Protocol, private LAPDFullState, public HDLC::Notify {
 public:
  struct FlowStatus {
    enum Type { normal = 0, congested = 1 };
  };

  // Flow-status listener (the slot owning the link).
  class Notify {
   public:
    virtual ~Notify() {}
    virtual void OnLAPD_FlowStatusChange(LAPD* link) = 0;
  };

  struct Stats {
    uint32_t t200 = 0, t202 = 0, t203 = 0;
    uint32_t errors = 0;
    uint32_t retrains = 0;
    uint32_t outOverflows = 0, ackOverflows = 0;
    uint32_t l3Messages = 0;
    uint32_t accepted = 0;
    uint32_t emptyMessages = 0;
    uint32_t rejected = 0;
    uint32_t badConfirm = 0;
    std::ostream& out(std::ostream& os) const;
  };

  // An error status with a snapshot of the link's state.
  class Status : public Protocol_status_error, private LAPDFullState {
   public:
    Status(const Protocol_info* source, const std::string& text, const LAPDFullState& st)
        : Protocol_status_error(source, text), LAPDFullState(st) {}
    std::ostream& out(std::ostream& os) const override;
    const LAPDFullState& snapshot() const { return *this; }
  };

  // MDL error bits reported through on_error.
  enum Error : unsigned {
    ErrA = 0x0001, ErrB = 0x0002, ErrC = 0x0004, ErrD = 0x0008, ErrE = 0x0010, ErrF = 0x0020,
    ErrG = 0x0040, ErrH = 0x0080, ErrI = 0x0100, ErrJ = 0x0200, ErrK = 0x0400, ErrL = 0x0800,
    ErrM = 0x1000, ErrN = 0x2000, ErrO = 0x4000, ErrTeiDenied = 0x8000
  };
  static const char* errortext(unsigned bit);

  // Timer values (ms) and counters of the procedures.
  static constexpr unsigned kT200 = 1000, kT202 = 2000, kT203 = 10000;
  static constexpr int kN200 = 3, kN202 = 3;
  static constexpr unsigned kWindow = 7;
  static constexpr unsigned kOutLimit = 128;  // layer-3 messages accepted into the queue
  static constexpr unsigned kCongestOn = 88, kCongestOff = 65;

  LAPD(Side::type side, unsigned trace);
  ~LAPD() override;

  void set_side(Side::type s) { side_ = s; }
  void set_log(unsigned level) { trace_ = level; }
  void set_linkno(unsigned n) { linkno_ = n; }
  void change_to_bri() { bri_ = true; }
  void hdlc(GenericHDLC* h) { hdlc_ = h; }
  void BindNotify(Notify* n) { notify_ = n; }

  FlowStatus::Type GetFlowStatus() const { return flow_; }
  // Fills info; true only when it differs from the previous call's result.
  bool GetInfo(ACP::IsdnLinkInfo& info) const;

  const Protocol_name& name() const override { return name_; }
  void local_prepare_head(Packet& p) override;
  void local_prepare_tail(Packet& p) override;
  void local_activate() override;    // DL-ESTABLISH request
  void local_deactivate() override;  // DL-RELEASE request
  void message(Packet& p) override;  // layer-3 message to send
  void receive(Packet& p) override;  // one frame from the channel

  void on_hdlc_receive(Packet& p) override { receive(p); }
  void on_hdlc_error(HDLC::Notify::Cause::Type) override {}
  void on_hdlc_ready() override { local_events(); }

  // The flow status turns congested above kCongestOn queued messages and
  // normal again below kCongestOff.
  void report_congestion();
  void release_congestion();

  virtual void mdl_assign(unsigned char tei);
  virtual void on_mdl_assign() {}
  virtual void mdl_remove();
  virtual void on_error(unsigned bit);

  Status* status() const;
  void show_stat() const;
  void PutHeader(std::ostream& os) const;

  // Read access for owners and tests.
  const LAPDFullState& fullState() const { return *this; }
  const Stats& stats() const { return stats_; }
  unsigned outQueued() const { return outq_.count(); }
  unsigned ackQueued() const { return ackq_.count(); }
  Side::type side() const { return side_; }
  uint16_t teiRequestRi() const { return ri_; }

 private:
  enum TimerId { NoTimer, T200, T202, T203 };
  enum Code : unsigned {
    RR = 0, RNR = 1, REJ = 2, UI = 3, DM = 15, DISC = 67, UA = 99, SABME = 111, FRMR = 135, XID = 175
  };
  enum TeiMsg : unsigned { IdRequest = 1, IdAssigned = 2, IdDenied = 3, IdCheckReq = 4, IdCheckResp = 5, IdRemove = 6 };

  // Frame handlers.
  void on_SABME(bool pf);
  void on_DISC(bool pf);
  void on_UA(bool pf);
  void on_DM(bool command, bool pf);
  void on_FRMR();
  void on_S(unsigned type, bool command, bool pf, Seq nr);
  void on_ICOM(Packet& payload, Seq ns, Seq nr, bool p);
  void on_UI(Packet& frame);

  // Procedures.
  void establish_dl();
  void clear_exception();
  void retransmission(Seq nr);
  void tx_enquiry();
  void tx_enquiry_response();
  void nr_recovery();
  bool nr_valid(Seq nr) const { return VA <= nr <= VS; }
  void BeginTeiAssignProcedure();
  void discard_queue();
  void local_events();
  void queued_up();
  void change_state(unsigned s);
  void change_flowstatus(FlowStatus::Type f);
  void release(const char* text);

  // Frames.
  bool tx_cmd(unsigned code, bool p) { return tx_cmd_resp(code, p, true); }
  bool tx_response(unsigned code, bool f) { return tx_cmd_resp(code, f, false); }
  bool tx_cmd_resp(unsigned code, bool pf, bool command);
  bool tx_iframe(const Packet& payload);
  bool tx_identity(uint16_t ri, unsigned ai, unsigned type);
  bool send_frame(Packet& f);

  // The shared timer.
  void start_timer(TimerId id);
  void stop_timer(TimerId id);
  bool& timer_flag(TimerId id);
  void on_timer(Timer* t);
  void on_T200();
  void on_T202();
  void on_T203();

  std::ostream& log() const;

  Side::type side_;
  Stats stats_;
  Notify* notify_ = nullptr;
  FlowStatus::Type flow_ = FlowStatus::normal;
  mutable ACP::IsdnLinkInfo info_;
  mutable bool infoValid_ = false;
  unsigned linkno_ = 0;
  unsigned trace_;
  bool bri_ = false;
  uint16_t ri_ = 0;
  Timer timer_;
  TimerId armed_ = NoTimer;
  CleanQueue<Packet, 135> outq_;
  CleanQueue<Packet, 7> ackq_;
  Protocol_name_str name_{"ISDN::LAPD"};
  GenericHDLC* hdlc_ = nullptr;
};

}  // namespace ISDN
