#include "links/lapd.h"

#include <cstdlib>
#include <cstring>
#include <iostream>

#include "links/q931_print.h"

namespace ISDN {

namespace {

const char* const kStateText[] = {"TEI unassigned",        "Assign awaiting TEI",  "Establish awaiting TEI",
                                  "TEI assigned",          "Awaiting establishment", "Awaiting release",
                                  "Multiple frame established", "Timer recovery"};

const char* yesno(bool b) { return b ? "true" : "false"; }
const char* runtext(bool b) { return b ? "running" : "stopped"; }

}  // namespace

const char* statetext(unsigned state) { return state < 8 ? kStateText[state] : "(unknown)"; }

std::ostream& LAPDFullState::out(std::ostream& os) const {
  os << "\n   - state: " << statetext(state);
  os << "\n   - self: TEI=" << selfTEI << ", SAPI=" << selfSAPI << ", busy=" << yesno(ownBusy);
  os << "\n   - peer: TEI=" << peerTEI << ", SAPI=" << peerSAPI << ", busy=" << yesno(peerBusy);
  os << "\n   - counters: VS=" << unsigned(VS) << ", VA=" << unsigned(VA) << ", VR=" << unsigned(VR) << ", RC=" << RC;
  os << "\n   - internal signals: AckRQ=" << yesno(AckRQ) << ", RetrRQ=" << yesno(RetrRQ)
     << ", QueuedUp=" << yesno(QueuedUp);
  os << "\n   - flags: L3Initiated=" << yesno(L3Initiated) << ", Establishable=" << yesno(Establishable)
     << ", RejectException=" << yesno(rejectException);
  os << "\n   - timers: T200 " << runtext(T200run) << ", T202 " << runtext(T202run) << ", T203 " << runtext(T203run);
  return os;
}

std::ostream& LAPD::Stats::out(std::ostream& os) const {
  os << "\n   - timers expire count: T200: " << t200 << ", T202: " << t202 << ", T203: " << t203;
  os << "\n   - errors: " << errors << ", retrains: " << retrains;
  os << "\n   - queue overflows: out: " << outOverflows << ", ack: " << ackOverflows;
  return os;
}

std::ostream& LAPD::Status::out(std::ostream& os) const {
  os << message();
  return LAPDFullState::out(os);
}

const char* LAPD::errortext(unsigned bit) {
  switch (bit) {
    case ErrA: return "Supervisory (F = 1)";
    case ErrB: return "DM (F = 1)";
    case ErrC: return "UA (F = 1)";
    case ErrD: return "UA (F = 0)";
    case ErrE: return "Receipt of DM response (F = 0)";
    case ErrF: return "Peer initiated re-establishment - SABME";
    case ErrG: return "Unsuccessful retransmission (N200 times) - SABME";
    case ErrH: return "Unsuccessful retransmission (N200 times) - DISC";
    case ErrI: return "Unsuccessful retransmission (N200 times) - Status enquiry";
    case ErrJ: return "Other - N(R) error";
    case ErrK: return "Other - Receipt of FRMR response";
    case ErrL: return "Other - Receipt of undefined frame";
    case ErrM: return "Other - Receipt of I field not permitted";
    case ErrN: return "Other - Receipt of frame with wrong size";
    case ErrO: return "Other - N201 error";
    case ErrTeiDenied: return "Tei Assign - Tei denied";
    default: return "Other - Unknown";
  }
}

LAPD::LAPD(Side::type side, unsigned trace) : side_(side), trace_(trace) { discard_queue(); }

LAPD::~LAPD() {
  timer_.reset();
  outq_.clear();
  ackq_.clear();
}

void LAPD::PutHeader(std::ostream& os) const {
  os << "LAPD[" << linkno_ << "] (" << statetext(state) << "): ";
}

std::ostream& LAPD::log() const {
  PutHeader(std::clog);
  return std::clog;
}

void LAPD::local_prepare_head(Packet& p) { p.reserve_head(4); }
void LAPD::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

LAPD::Status* LAPD::status() const { return new Status(this, "current status", *this); }

void LAPD::show_stat() const {
  std::cout << " - current state: ";
  LAPDFullState::out(std::cout);
  std::cout << "\n - statistics: ";
  stats_.out(std::cout);
  std::cout << std::endl;
}

// ---- state, flow and errors --------------------------------------------------

void LAPD::change_state(unsigned s) {
  if (s == state) return;
  if (trace_ > 1)
    std::clog << "LAPD[" << linkno_ << "] : " << "change state \"" << statetext(state) << "\" -> \""
              << statetext(s) << "\"" << std::endl;
  state = s;
}

void LAPD::change_flowstatus(FlowStatus::Type f) {
  FlowStatus::Type old = flow_;
  flow_ = f;
  if (old != f && notify_) notify_->OnLAPD_FlowStatusChange(this);
}

void LAPD::report_congestion() {
  if (outq_.count() > kCongestOn) change_flowstatus(FlowStatus::congested);
}

void LAPD::release_congestion() {
  if (outq_.count() < kCongestOff) change_flowstatus(FlowStatus::normal);
}

void LAPD::on_error(unsigned bit) { on_status(ProtocolStatus(new Status(this, errortext(bit), *this))); }

void LAPD::release(const char* text) { on_deactivate(ProtocolStatus(new Status(this, text, *this))); }

bool LAPD::GetInfo(ACP::IsdnLinkInfo& i) const {
  i.set_msuTxCount(int(stats_.l3Messages));
  i.set_msuRxCount(int(stats_.accepted));
  i.set_mT200(int(stats_.t200));
  i.set_mT203(int(stats_.t203));
  i.set_errors(int(stats_.errors));
  i.set_retrains(int(stats_.retrains));
  i.set_outOverflows(int(stats_.outOverflows));
  i.set_ackOverflows(int(stats_.ackOverflows));
  i.set_rejected(int(stats_.rejected));
  i.set_badconfirm(int(stats_.badConfirm));
  i.set_lapdState(static_cast<ACP::LAPDState::NamedNumber>(state & 7));
  i.set_rc(RC);
  i.set_peerBusy(peerBusy);
  i.set_ownBusy(ownBusy);
  i.set_rejException(rejectException);
  i.set_ackPending(false);
  i.set_l3Initiated(L3Initiated);
  i.set_establishable(Establishable);
  i.set_queuedUpRQ(QueuedUp);
  i.set_retrRQ(RetrRQ);
  i.set_ackRQ(AckRQ);
  i.set_t200run(T200run);
  i.set_t203run(T203run);
  i.set_vs(int(unsigned(VS)));
  i.set_va(int(unsigned(VA)));
  i.set_vr(int(unsigned(VR)));
  i.set_queueOut(int(outq_.count()));
  i.set_queueAck(int(ackq_.count()));
  if (infoValid_ && i == info_) return false;
  info_ = i;
  infoValid_ = true;
  return true;
}

// ---- timers ------------------------------------------------------------------

bool& LAPD::timer_flag(TimerId id) {
  switch (id) {
    case T200: return T200run;
    case T202: return T202run;
    default: return T203run;
  }
}

namespace {
const char* tname(int id) { return id == 1 ? "T200" : id == 2 ? "T202" : "T203"; }
}  // namespace

void LAPD::start_timer(TimerId id) {
  // One timer serves all three: taking it over from another is reported,
  // and the other can no longer expire, so its flag is dropped (left set, it
  // would claim a timer that never fires: a T200 flag left behind by T203
  // would keep the next I frame from arming T200).
  for (TimerId o : {T200, T202, T203}) {
    if (o == id || !timer_flag(o)) continue;
    on_status(ProtocolStatus(new Status(
        this, std::string("trying to start ") + tname(id) + " while " + tname(o) + " running", *this)));
    timer_flag(o) = false;
  }
  unsigned ms = id == T200 ? kT200 : id == T202 ? kT202 : kT203;
  timer_flag(id) = true;
  armed_ = id;
  timer_.set(ms, &LAPD::on_timer, this);
}

void LAPD::stop_timer(TimerId id) {
  if (!timer_flag(id)) return;
  for (TimerId o : {T200, T202, T203}) {
    if (o == id || !timer_flag(o)) continue;
    on_status(ProtocolStatus(new Status(
        this, std::string("trying to stop ") + tname(id) + " while " + tname(o) + " running", *this)));
  }
  timer_flag(id) = false;
  if (armed_ == id) {
    timer_.reset();
    armed_ = NoTimer;
  }
}

void LAPD::on_timer(Timer*) {
  TimerId id = armed_;
  armed_ = NoTimer;
  if (id == NoTimer || !timer_flag(id)) return;
  timer_flag(id) = false;
  switch (id) {
    case T200: ++stats_.t200; on_T200(); break;
    case T202: ++stats_.t202; on_T202(); break;
    case T203: ++stats_.t203; on_T203(); break;
    default: break;
  }
  local_events();
}

void LAPD::on_T200() {
  switch (state) {
    case AwaitingEstablishment:
      if (RC == kN200) {
        discard_queue();
        on_error(ErrG);
        change_state(TeiAssigned);
        release("link error (T200 expired N200 times)");
      } else {
        ++RC;
        tx_cmd(SABME, true);
        start_timer(T200);
      }
      break;
    case AwaitingRelease:
      if (RC == kN200) {
        on_error(ErrH);
        change_state(TeiAssigned);
        release("link error (T200 expired N200 times)");
      } else {
        ++RC;
        tx_cmd(DISC, true);
        start_timer(T200);
      }
      break;
    case MultipleFrameEstablished:
      RC = 0;
      tx_enquiry();
      RC = 1;
      if (trace_ > 1) log() << "ack expired" << std::endl;
      change_state(TimerRecovery);
      break;
    case TimerRecovery:
      if (RC == kN200) {
        if (trace_ > 1) log() << "ack error !!!" << std::endl;
        on_error(ErrI);
        establish_dl();
        L3Initiated = false;
        change_state(AwaitingEstablishment);
      } else {
        log() << "ack timeout expired RC=" << RC << std::endl;
        tx_enquiry();
        ++RC;
      }
      break;
    default:
      break;
  }
}

void LAPD::on_T202() {
  if (state != AssignAwaitingTei && state != EstablishAwaitingTei) return;
  if (RC > kN202) {
    state = TeiUnassigned;
    release("link error (T202 expired N202 times)");
    return;
  }
  ri_ = static_cast<uint16_t>(std::rand() & 0xFFFF);
  tx_identity(ri_, 127, IdRequest);
  start_timer(T202);
  ++RC;
}

void LAPD::on_T203() {
  log() << "T203." << std::endl;
  if (state == MultipleFrameEstablished) {
    tx_enquiry();
    RC = 0;
    change_state(TimerRecovery);
  }
}

// ---- procedures ----------------------------------------------------------------

void LAPD::clear_exception() {
  peerBusy = false;
  ownBusy = false;
  rejectException = false;
  AckRQ = false;
}

void LAPD::establish_dl() {
  clear_exception();
  RC = 0;
  tx_cmd(SABME, true);
  stop_timer(T203);
  start_timer(T200);
}

void LAPD::retransmission(Seq nr) {
  VA = nr;
  RetrRQ = true;
  QueuedUp = true;
}

void LAPD::tx_enquiry() {
  if (trace_ > 3) log() << "tx_enquiry, ownBusy=" << ownBusy << std::endl;
  tx_cmd(ownBusy ? RNR : RR, true);
  AckRQ = false;
  start_timer(T200);
}

void LAPD::tx_enquiry_response() {
  if (trace_ > 3) log() << "tx_enquiry_response" << std::endl;
  tx_response(ownBusy ? RNR : RR, true);
  AckRQ = false;
}

void LAPD::nr_recovery() {
  on_error(ErrJ);
  establish_dl();
  L3Initiated = false;
}

void LAPD::discard_queue() {
  if (trace_) log() << "discard queue " << " OutData=" << outq_.count() << " AckData=" << ackq_.count() << std::endl;
  outq_.clear();
  ackq_.clear();
}

void LAPD::BeginTeiAssignProcedure() {
  if (!bri_ || side_ != Side::user) return;
  change_state(AssignAwaitingTei);
  on_mdl_assign();
  ri_ = static_cast<uint16_t>(std::rand() & 0xFFFF);
  tx_identity(ri_, 127, IdRequest);
  RC = 0;
  stop_timer(T200);
  stop_timer(T203);
  start_timer(T202);
}

void LAPD::mdl_assign(unsigned char tei) {
  if (trace_ > 1) log() << "MDL-ASSIGN" << " (tei=" << unsigned(tei) << ")" << std::endl;
  selfTEI = tei;
  if (state == EstablishAwaitingTei) {
    establish_dl();
    L3Initiated = true;
    change_state(AwaitingEstablishment);
  } else {
    change_state(TeiAssigned);
  }
}

void LAPD::mdl_remove() {
  log() << "MDL-REMOVE" << std::endl;
  const char* text = "error (MDL-REMOVE received)";
  switch (state) {
    case TeiAssigned:
      discard_queue();
      change_state(TeiUnassigned);
      break;
    case AwaitingEstablishment:
      discard_queue();
      stop_timer(T200);
      change_state(TeiUnassigned);
      release(text);
      break;
    case AwaitingRelease:
      stop_timer(T200);
      change_state(TeiUnassigned);
      release(text);
      break;
    case MultipleFrameEstablished:
      discard_queue();
      stop_timer(T200);
      stop_timer(T203);
      change_state(TeiUnassigned);
      release(text);
      break;
    case TimerRecovery:
      discard_queue();
      stop_timer(T200);
      change_state(TeiUnassigned);
      release(text);
      break;
    default:
      break;
  }
}

// ---- layer-3 requests ------------------------------------------------------------

void LAPD::local_activate() {
  if (trace_) log() << "DL-ESTABLISH" << std::endl;
  switch (state) {
    case TeiUnassigned:
      RC = 0;
      on_mdl_assign();
      change_state(EstablishAwaitingTei);
      BeginTeiAssignProcedure();
      break;
    case AssignAwaitingTei:
      change_state(EstablishAwaitingTei);
      break;
    case TeiAssigned:
      establish_dl();
      L3Initiated = true;
      change_state(AwaitingEstablishment);
      break;
    case AwaitingEstablishment:
      discard_queue();
      L3Initiated = true;
      break;
    case MultipleFrameEstablished:
    case TimerRecovery:
      discard_queue();
      establish_dl();
      L3Initiated = true;
      change_state(AwaitingEstablishment);
      break;
    default:
      break;
  }
}

void LAPD::local_deactivate() {
  if (trace_ > 1) log() << "DL-RELEASE" << std::endl;
  ProtocolStatus ok(new Protocol_status_success(this, "success (deactivated locally)"));
  switch (state) {
    case TeiAssigned:
      on_deactivate(ok);
      break;
    case AwaitingEstablishment:
      discard_queue();
      RC = 0;
      tx_cmd(DISC, true);
      stop_timer(T203);
      stop_timer(T202);
      start_timer(T200);
      change_state(AwaitingRelease);
      on_deactivate(ok);
      break;
    case MultipleFrameEstablished:
      discard_queue();
      RC = 0;
      tx_cmd(DISC, true);
      stop_timer(T203);
      start_timer(T200);
      change_state(AwaitingRelease);
      break;
    case TimerRecovery:
      discard_queue();
      RC = 0;
      tx_cmd(DISC, true);
      start_timer(T200);
      change_state(AwaitingRelease);
      break;
    default:
      break;
  }
}

void LAPD::message(Packet& p) {
  ++stats_.l3Messages;
  if (p.empty()) {
    ++stats_.emptyMessages;
    return;
  }
  if (p.length() > packet_max_size - 8) {
    // It could not be sent whole behind the head room and the 4-octet header.
    PutHeader(std::cerr);
    std::cerr << "discard outgoing message: too long (" << p.length() << " octets)" << std::endl;
  } else if (outq_.count() >= kOutLimit) {
    PutHeader(std::cerr);
    std::cerr << "discard outgoing message: buffer overflow" << std::endl;
    ++stats_.outOverflows;
  } else {
    if (trace_ > 2) {
      if (outq_.count() > 7) log() << "outgoing queue size = " << outq_.count() << " tx counter = " << stats_.l3Messages << std::endl;
      log() << "add to tx queue: " << p << std::endl;
    }
    outq_.put(p);
    QueuedUp = true;
  }
  if (state == TeiUnassigned) {
    change_state(AssignAwaitingTei);
    // Without a TEI nothing could ever be sent: a BRI user side asks for one.
    BeginTeiAssignProcedure();
  }
  report_congestion();
  local_events();
}

// ---- sending -----------------------------------------------------------------------

void LAPD::local_events() {
  // 1. Forget acknowledged frames; move unacknowledged ones back when asked.
  unsigned outstanding = unsigned(VS - VA);
  unsigned acked = 0;
  while (ackq_.count() > outstanding) {
    Packet dummy;
    ackq_.get(dummy);
    ++acked;
  }
  if (acked && trace_ >= 3)
    log() << "acknowledge " << acked << " frames" << " VS=" << unsigned(VS) << " VA=" << unsigned(VA) << std::endl;
  if (trace_ > 2 && outq_.empty()) log() << "outgoing queue empty." << std::endl;
  if (RetrRQ) {
    if (trace_ && !ackq_.empty())
      log() << "retransmission " << " VS=" << unsigned(VS) << " VA=" << unsigned(VA) << std::endl;
    VS = VA;
    Packet p;
    while (ackq_.get_last(p)) {
      outq_.append(p);
      ++stats_.retrains;
    }
    RetrRQ = false;
  }
  // 2. Queued I frames.
  queued_up();
  // 3. Pending acknowledgement.
  if (AckRQ && (state == MultipleFrameEstablished || state == TimerRecovery)) {
    if (tx_response(RR, false)) AckRQ = false;
  }
  // 4. Congestion release.
  release_congestion();
}

void LAPD::queued_up() {
  while (QueuedUp) {
    QueuedUp = false;
    switch (state) {
      case MultipleFrameEstablished: {
        if (peerBusy || VS == VA + Seq(kWindow)) {
          QueuedUp = true;
          return;
        }
        Packet p;
        if (!outq_.preview(p)) return;
        if (!tx_iframe(p)) {
          QueuedUp = true;
          return;
        }
        outq_.get(p);
        if (!ackq_.put(p)) {
          PutHeader(std::cerr);
          std::cerr << "ack queue overflow!" << std::endl;
          ++stats_.ackOverflows;
        }
        ++VS;
        AckRQ = false;
        if (!T200run) {
          stop_timer(T203);
          start_timer(T200);
        }
        if (!outq_.empty()) QueuedUp = true;
        break;
      }
      case TimerRecovery:
        QueuedUp = true;
        return;
      case AwaitingEstablishment:
        QueuedUp = !L3Initiated;
        return;
      default:
        return;
    }
  }
}

bool LAPD::send_frame(Packet& f) {
  if (trace_ > 2) {
    dlogframe(f.data(), f.length(), side_ == Side::network, logbuf);
    log() << "tx: " << logbuf << std::endl;
  }
  if (!hdlc_) {
    if (trace_ > 3) log() << "no HDLC device attached!!!" << std::endl;
    return false;
  }
  if (!hdlc_->hdlc_transmit(f)) {
    log() << "tx full" << std::endl;
    return false;
  }
  return true;
}

bool LAPD::tx_cmd_resp(unsigned code, bool pf, bool command) {
  Packet f;
  prepare_head(f);
  unsigned cr = (command == (side_ == Side::network)) ? 1 : 0;
  f.put8(static_cast<uint8_t>((selfSAPI << 2) | (cr << 1)));
  f.put8(static_cast<uint8_t>((selfTEI << 1) | 1));
  switch (code) {
    case RR:
    case RNR:
    case REJ:
      f.put8(static_cast<uint8_t>(code * 4 + 1));
      f.put8(static_cast<uint8_t>(unsigned(VR) * 2 + (pf ? 1 : 0)));
      break;
    case UI:
      f.put8(0x03);
      break;
    case DM:
    case DISC:
    case UA:
    case SABME:
    case FRMR:
    case XID:
      f.put8(static_cast<uint8_t>(code | (pf ? 0x10 : 0)));
      break;
    default:
      break;
  }
  return send_frame(f);
}

bool LAPD::tx_iframe(const Packet& payload) {
  Packet f;
  prepare_head(f);
  unsigned cr = side_ == Side::network ? 1 : 0;
  f.put8(static_cast<uint8_t>((selfSAPI << 2) | (cr << 1)));
  f.put8(static_cast<uint8_t>((selfTEI << 1) | 1));
  f.put8(static_cast<uint8_t>(unsigned(VS) * 2));
  f.put8(static_cast<uint8_t>(unsigned(VR) * 2));
  unsigned n = payload.length();
  if (n > f.tailroom()) return false;  // cannot happen: message() limits the size
  if (n) std::memcpy(f.put(n), payload.data(), n);
  return send_frame(f);
}

bool LAPD::tx_identity(uint16_t ri, unsigned ai, unsigned type) {
  if (!bri_) return false;
  Packet f;
  prepare_head(f);
  f.put8(side_ == Side::network ? 0xFE : 0xFC);
  f.put8(0xFF);
  f.put8(0x03);
  f.put8(0x0F);
  f.put16(ri);
  f.put8(static_cast<uint8_t>(type));
  f.put8(static_cast<uint8_t>(ai * 2 + 1));
  return send_frame(f);
}

// ---- receiving ---------------------------------------------------------------------

void LAPD::receive(Packet& p) {
  unsigned n = p.length();
  if (n < 2) return;
  const unsigned char* d = p.data();
  if (trace_ > 2) {
    dlogframe(d, n, side_ == Side::user, logbuf);
    log() << "rx:" << logbuf << std::endl;
  }
  bool cr = d[0] & 2;
  peerSAPI = d[0] >> 2;  // kept even when the frame is dropped for its EA bit
  if (d[0] & 1) return;
  bool command = side_ == Side::user ? cr : !cr;
  peerTEI = d[1];
  if (!(d[1] & 1)) return;
  peerTEI = d[1] >> 1;
  if (bri_ && side_ == Side::user && peerTEI != selfTEI && peerTEI != 127) return;
  if (n < 3) return;
  unsigned c = d[2];
  const char* kind = command ? "command" : "response";
  if ((c & 3) == 1) {
    if (n < 4) return;
    bool pf = d[3] & 1;
    Seq nr(d[3] >> 1);
    unsigned type = (c >> 2) & 3;
    if (type == 3) {
      local_events();
      return;
    }
    if (trace_ > 3)
      log() << (type == 0 ? "RR " : type == 1 ? "RNR " : "REJ ") << kind << " pf=" << pf << std::endl;
    on_S(type, command, pf, nr);
  } else if ((c & 3) == 3) {
    bool pf = (c >> 4) & 1;
    unsigned code = c & 0xEF;
    const char* fname = nullptr;
    switch (code) {
      case 0x43: fname = "DISC "; break;
      case 0x03: fname = "UI "; break;
      case 0x0F: fname = "DM "; break;
      case 0x6F: fname = "SABME "; break;
      case 0x63: fname = "UA "; break;
      case 0x87: fname = "FRMR "; break;
      default: break;
    }
    if (fname && trace_ > 3) log() << fname << kind << std::endl;
    switch (code) {
      case 0x43: on_DISC(pf); break;
      case 0x03: on_UI(p); break;
      case 0x0F: on_DM(command, pf); break;
      case 0x6F: on_SABME(pf); break;
      case 0x63: on_UA(pf); break;
      case 0x87: on_FRMR(); break;
      default: break;
    }
  } else {
    if (n < 4) return;
    Seq ns(c >> 1);
    Seq nr(d[3] >> 1);
    bool pbit = d[3] & 1;
    if (trace_ > 3) log() << "I " << kind << std::endl;
    Packet payload = p.sub(4, n - 4);
    on_ICOM(payload, ns, nr, pbit);
  }
  local_events();
}

void LAPD::on_SABME(bool pf) {
  VS = VA = VR = 0;
  ackq_.clear();
  switch (state) {
    case TeiAssigned:
      if (Establishable) {
        tx_response(UA, pf);
        clear_exception();
        start_timer(T203);
        change_state(MultipleFrameEstablished);
        QueuedUp = !outq_.empty();
        on_activate();
      } else {
        tx_response(DM, pf);
      }
      break;
    case AwaitingEstablishment:
      tx_response(UA, pf);
      break;
    case AwaitingRelease:
      tx_response(DM, pf);
      break;
    case MultipleFrameEstablished:
    case TimerRecovery:
      tx_response(UA, pf);
      clear_exception();
      on_error(ErrF);
      change_state(MultipleFrameEstablished);
      QueuedUp = !outq_.empty();
      on_activate();
      stop_timer(T200);
      start_timer(T203);
      break;
    default:
      break;
  }
}

void LAPD::on_DISC(bool pf) {
  const char* text = "remote error (DISC received)";
  switch (state) {
    case TeiAssigned:
    case AwaitingEstablishment:
      tx_response(DM, pf);
      break;
    case AwaitingRelease:
      tx_response(UA, pf);
      break;
    case MultipleFrameEstablished:
      discard_queue();
      tx_response(UA, pf);
      stop_timer(T200);
      stop_timer(T203);
      change_state(TeiAssigned);
      release(text);
      break;
    case TimerRecovery:
      discard_queue();
      tx_response(UA, pf);
      stop_timer(T200);
      change_state(TeiAssigned);
      release(text);
      break;
    default:
      break;
  }
}

void LAPD::on_UA(bool pf) {
  // A UA (re)starts the sequence numbers, except on a running link, where an
  // unsolicited one must not lose its unacknowledged frames.
  if (state != MultipleFrameEstablished && state != TimerRecovery) {
    VS = VA = VR = 0;
    ackq_.clear();
  }
  switch (state) {
    case TeiAssigned:
    case MultipleFrameEstablished:
    case TimerRecovery:
      on_error(pf ? ErrC : ErrD);
      break;
    case AwaitingEstablishment:
      if (pf) {
        change_state(MultipleFrameEstablished);
        stop_timer(T200);
        start_timer(T203);
        QueuedUp = !outq_.empty();
        on_activate();
      } else {
        on_error(ErrD);
      }
      break;
    case AwaitingRelease:
      if (pf) {
        stop_timer(T200);
        change_state(TeiAssigned);
        on_deactivate(ProtocolStatus(new Protocol_status_success(this, "success (UA received)")));
      } else {
        on_error(ErrD);
      }
      break;
    default:
      break;
  }
}

void LAPD::on_DM(bool command, bool pf) {
  const char* text = "error (DM received)";
  bool finalResponse = !command && pf;
  switch (state) {
    case TeiAssigned:
      if (!command && !pf && Establishable) {
        establish_dl();
        L3Initiated = true;
        change_state(AwaitingEstablishment);
      }
      break;
    case AwaitingEstablishment:
      if (finalResponse) {
        discard_queue();
        stop_timer(T200);
        change_state(TeiAssigned);
        release(text);
      }
      break;
    case AwaitingRelease:
      if (finalResponse) {
        stop_timer(T200);
        change_state(TeiAssigned);
        release(text);
      }
      break;
    case MultipleFrameEstablished:
      if (finalResponse) {
        on_error(ErrB);
        break;
      }
      on_error(ErrE);
      establish_dl();
      L3Initiated = false;
      change_state(AwaitingEstablishment);
      break;
    case TimerRecovery:
      on_error(finalResponse ? ErrB : ErrE);
      establish_dl();
      L3Initiated = false;
      change_state(AwaitingEstablishment);
      break;
    default:
      break;
  }
}

void LAPD::on_FRMR() {
  if (state != MultipleFrameEstablished && state != TimerRecovery) return;
  on_error(ErrK);
  establish_dl();
  L3Initiated = false;
  change_state(AwaitingEstablishment);
}

void LAPD::on_S(unsigned type, bool command, bool pf, Seq nr) {
  if (state != MultipleFrameEstablished && state != TimerRecovery) return;
  peerBusy = type == RNR;
  bool valid = nr_valid(nr);
  if (state == MultipleFrameEstablished) {
    if (command && pf) {
      tx_enquiry_response();
    } else if (!command && pf) {
      if (type == RR) {
        log() << "receive RR (solicited response) in MFE_EST" << std::endl;
      } else {
        on_error(ErrA);
      }
    }
    if (!valid) {
      ++stats_.badConfirm;
      nr_recovery();
      change_state(AwaitingEstablishment);
      return;
    }
    switch (type) {
      case RR:
        if (nr == VS) {
          VA = nr;
          stop_timer(T200);
          start_timer(T203);
        } else if (nr != VA) {
          VA = nr;
          start_timer(T200);
        }
        break;
      case REJ:
        stop_timer(T200);
        start_timer(T203);
        retransmission(nr);
        break;
      case RNR:
        VA = nr;
        stop_timer(T203);
        start_timer(T200);
        break;
    }
    return;
  }
  // Timer recovery.
  if (command && pf) tx_enquiry_response();
  bool finalResponse = !command && pf;
  if (!valid) {
    if (type == RR && !finalResponse && trace_ > 3) log() << "receive RR with out of order N(R)" << std::endl;
    ++stats_.badConfirm;
    nr_recovery();
    change_state(AwaitingEstablishment);
    return;
  }
  if (finalResponse) {
    if (type == RNR) {
      start_timer(T200);
    } else {
      stop_timer(T200);
      start_timer(T203);
    }
    retransmission(nr);
    change_state(MultipleFrameEstablished);
  } else {
    VA = nr;
  }
}

void LAPD::on_ICOM(Packet& payload, Seq ns, Seq nr, bool p) {
  if (state != MultipleFrameEstablished && state != TimerRecovery) return;
  if (ownBusy) {
    if (p) {
      tx_response(RNR, true);
      AckRQ = false;
    }
    return;
  }
  if (ns != VR) {
    ++stats_.rejected;
    if (!rejectException) {
      rejectException = true;
      tx_response(REJ, p);
      AckRQ = false;
    } else if (p) {
      tx_response(RR, true);
      AckRQ = false;
    }
  } else {
    ++VR;
    rejectException = false;
    ++stats_.accepted;
    if (p) {
      tx_response(RR, true);
      AckRQ = false;
    } else {
      AckRQ = true;
    }
    on_message(payload);
  }
  // The N(R) is taken once the payload is up, whatever became of it.
  if (nr_valid(nr)) {
    if (state == MultipleFrameEstablished && !peerBusy) {
      if (nr == VS) {
        stop_timer(T200);
        start_timer(T203);
      } else if (nr != VA) {
        start_timer(T200);
      }
    }
    VA = nr;
  } else {
    ++stats_.badConfirm;
    nr_recovery();
    change_state(AwaitingEstablishment);
  }
}

void LAPD::on_UI(Packet& frame) {
  unsigned n = frame.length();
  if (!bri_ || n <= 3) return;
  const unsigned char* d = frame.data() + 3;
  unsigned m = n - 3;
  if (d[0] != 0x0F) {
    if (side_ == Side::user) {
      if (state == AwaitingEstablishment) change_state(TeiAssigned);
      if (state == TeiAssigned) local_activate();
    }
    Packet up = frame.sub(3, m);
    on_message(up);
    return;
  }
  if (m <= 4) return;
  uint16_t ri = static_cast<uint16_t>(d[1] | (d[2] << 8));
  unsigned type = d[3];
  unsigned ai = d[4] >> 1;
  if (trace_ > 3) log() << "on_UI() type=" << type << " Ai=" << ai << std::endl;
  switch (type) {
    case IdAssigned:
      // 127 is the group TEI: never taken as our own.
      if ((state == AssignAwaitingTei || state == EstablishAwaitingTei) && ri == ri_ && ai < 127) {
        mdl_assign(static_cast<unsigned char>(ai));
        stop_timer(T202);
        start_timer(T200);
      }
      break;
    case IdDenied:
      if (state == AssignAwaitingTei && ri == ri_) {
        if (ai == 127)
          log() << "ASP returned: All TEI's used" << std::endl;
        else
          log() << "ASP returned: TEI " << ai << " denied" << std::endl;
        on_error(ErrTeiDenied);
      }
      break;
    case IdCheckReq:
      if (state >= TeiAssigned && state <= TimerRecovery && (ai == 127 || int(ai) == selfTEI))
        tx_identity(ri_, unsigned(selfTEI), IdCheckResp);
      break;
    case IdRemove:
      if (ai == 127 || int(ai) == selfTEI) {
        mdl_remove();
        BeginTeiAssignProcedure();
      }
      break;
    default:
      break;
  }
}

}  // namespace ISDN
