#include "links/lapd_nt.h"

#include <cstring>
#include <iostream>

namespace ISDN {

namespace {
enum : unsigned { kSABME = 0x6F, kDISC = 0x43, kDM = 0x0F, kFRMR = 0x87, kUA = 0x63, kXID = 0xAF };
enum : unsigned { kRR = 0x01, kRNR = 0x05, kREJ = 0x09 };
}  // namespace

// ---- one terminal ------------------------------------------------------------

LAPD_NT_user::~LAPD_NT_user() {
  linkTimer_.reset();
  checkTimer_.reset();
  outq_.clear();
  ackq_.clear();
}

void LAPD_NT_user::PutHeader(std::ostream& os) const {
  os << "LAPD_user(NT BRI)[";
  if (state_ == Unassigned) {
    os << "unassigned]:";
    return;
  }
  os << "Tei=" << unsigned(tei_) << (state_ == Assigned ? ",assigned" : ",wait_answer");
  if (check_) os << ",check";
  if (busy_) os << ",busy";
  os << "]";
}

std::ostream& LAPD_NT_user::log() const {
  PutHeader(std::clog);
  std::clog << ' ';
  return std::clog;
}

void LAPD_NT_user::assign() {
  if (check_ && state_ != Unassigned) {
    // The answer to a running TEI check.
    if (trace_ > 1) log() << "checked" << std::endl;
    check_ = false;
    checkTimer_.reset();
    return;
  }
  if (trace_ > 1) log() << "assigned" << std::endl;
  vs_ = vr_ = lastAck_ = 0;
  state_ = Assigned;
  tx_U(kSABME, true, true);
  busy_ = false;
  check_ = false;
  checkTimer_.reset();
  outq_.clear();
  ackq_.clear();
  retries_ = 0;
  linkTimer_.set(kIdlePoll, &LAPD_NT_user::on_timer, this);
}

void LAPD_NT_user::unassign() {
  if (trace_ > 1) log() << "unassigned" << std::endl;
  state_ = Unassigned;
  check_ = false;
  linkTimer_.reset();
  checkTimer_.reset();
  outq_.clear();
  ackq_.clear();
}

void LAPD_NT_user::checking() {
  if (!is_assigned()) return;
  check_ = true;
  if (trace_ > 1) log() << "checking started" << std::endl;
  checkTimer_.set(kCheckWait, &LAPD_NT_user::unassign, this);
}

void LAPD_NT_user::send(Packet& f) {
  if (owner_) owner_->send_to_layer1(f);
}

void LAPD_NT_user::tx_U(unsigned code, bool pf, bool command) {
  if (trace_ > 1) log() << "transmit U frame" << std::endl;
  Packet f;
  if (owner_) owner_->prepare_head(f); else f.reserve_head(4);
  f.put8(command ? 0x02 : 0x00);
  f.put8(static_cast<uint8_t>(tei_ * 2 + 1));
  f.put8(static_cast<uint8_t>(code | (pf ? 0x10 : 0)));
  send(f);
}

void LAPD_NT_user::tx_S(unsigned code, bool pf, bool command) {
  if (trace_ > 1) log() << "transmit S frame" << std::endl;
  Packet f;
  if (owner_) owner_->prepare_head(f); else f.reserve_head(4);
  f.put8(command ? 0x02 : 0x00);
  f.put8(static_cast<uint8_t>(tei_ * 2 + 1));
  f.put8(static_cast<uint8_t>(code));
  f.put8(static_cast<uint8_t>(vr_ * 2 + (pf ? 1 : 0)));
  send(f);
}

void LAPD_NT_user::send_I(const Packet& m) {
  if (trace_ > 1) log() << "transmit I frame" << std::endl;
  Packet f;
  if (owner_) owner_->prepare_head(f); else f.reserve_head(4);
  f.put8(0x02);
  f.put8(static_cast<uint8_t>(tei_ * 2 + 1));
  f.put8(static_cast<uint8_t>(vs_ * 2));
  f.put8(static_cast<uint8_t>(vr_ * 2 + 1));
  unsigned n = m.length();
  if (n) std::memcpy(f.put(n), m.data(), n);
  Packet kept = f;
  send(f);
  if (!ackq_.put(kept)) {
    PutHeader(std::cerr);
    std::cerr << " ack queue overflow!" << std::endl;
  }
  vs_ = (vs_ + 1) & 127;
  state_ = WaitAnswer;
  linkTimer_.set(kAnswerWait, &LAPD_NT_user::on_timer, this);
}

bool LAPD_NT_user::ack_queue(unsigned n) {
  if (trace_ > 1) log() << "ack queue" << std::endl;
  n &= 127;
  if (n == lastAck_) return true;
  if (vs_ < lastAck_) {
    if (n < lastAck_ && n > vs_) return false;
  } else if (n < lastAck_) {
    return false;
  }
  lastAck_ = (n - 1) & 127;
  unsigned oldest = (vs_ - ackq_.count()) & 127;
  unsigned acked = (n - oldest) & 127;
  Packet dummy;
  for (unsigned i = 0; i < acked && ackq_.get(dummy); ++i) {
  }
  return true;
}

void LAPD_NT_user::set_busy() {
  if (trace_ > 1) log() << "set busy" << std::endl;
  busy_ = true;
}

void LAPD_NT_user::set_unbusy() {
  if (busy_ && trace_ > 1) log() << "set unbusy" << std::endl;
  busy_ = false;
  if (outq_.empty()) {
    state_ = Assigned;
    linkTimer_.set(kIdlePoll, &LAPD_NT_user::on_timer, this);
    return;
  }
  Packet m;
  while (outq_.get(m)) send_I(m);
  retries_ = 0;
  state_ = WaitAnswer;
  linkTimer_.set(kAnswerWait, &LAPD_NT_user::on_timer, this);
}

void LAPD_NT_user::retransmit() {
  if (trace_ > 1) log() << "retransmit queue" << std::endl;
  unsigned n = ackq_.count();
  for (unsigned i = 0; i < n; ++i) {
    Packet f;
    ackq_.get(f);
    ackq_.put(f);
    Packet copy = f;
    send(copy);
  }
}

void LAPD_NT_user::on_timer() {
  if (state_ == Assigned) {
    state_ = WaitAnswer;
    tx_S(kRR, true, true);
    retries_ = 0;
    linkTimer_.set(kAnswerWait, &LAPD_NT_user::on_timer, this);
  } else if (state_ == WaitAnswer) {
    if (retries_ == kRetries) {
      if (trace_ > 1) log() << "T200 expiried N200 times" << std::endl;
      unassign();
      return;
    }
    ++retries_;
    // Poll again unless there are frames the terminal has not acknowledged.
    if (vs_ == lastAck_ || ackq_.empty())
      tx_S(kRR, true, true);
    else
      retransmit();
    linkTimer_.set(kAnswerWait, &LAPD_NT_user::on_timer, this);
  }
}

void LAPD_NT_user::receive(Packet& frame, bool cr) {
  unsigned n = frame.length();
  if (n < 3) return;
  const unsigned char* d = frame.data();
  unsigned c = d[2];
  bool command = !cr;  // terminals send commands with C/R 0
  if ((c & 3) == 3) {
    unsigned code = c & 0xEF;
    bool pf = (c >> 4) & 1;
    switch (code) {
      case kSABME:
        if (!command) break;
        vs_ = vr_ = lastAck_ = 0;
        if (pf) tx_U(kUA, true, false);
        ackq_.clear();
        busy_ = false;
        break;
      case kDISC:
        if (!command) break;
        if (pf) tx_U(kUA, true, false);
        unassign();
        break;
      case kDM:
      case kFRMR:
        if (command) break;
        unassign();
        break;
      case kXID:
        if (trace_ > 1) log() << "received XID frame" << std::endl;
        break;
      default:
        break;
    }
    return;
  }
  if (n < 4) return;
  unsigned nr = d[3] >> 1;
  bool pf = d[3] & 1;
  if ((c & 3) == 1) {
    switch (c) {
      case kRR:
        if (trace_ > 1) log() << "received RR frame" << std::endl;
        if (command && pf) tx_S(kRR, true, false);
        if (!ack_queue(nr)) {
          unassign();
          return;
        }
        set_unbusy();
        break;
      case kRNR:
        set_busy();
        if (command && pf) tx_S(kRR, true, false);
        if (!ack_queue(nr)) {
          unassign();
          return;
        }
        state_ = Assigned;
        linkTimer_.set(kIdlePoll, &LAPD_NT_user::on_timer, this);
        break;
      case kREJ: {
        if (trace_ > 1) log() << "received REJ frame" << std::endl;
        if (command && pf) tx_S(kRR, true, false);
        // Checked with N(R) - 1, except where N(R) names the oldest kept
        // frame: there N(R) - 1 would acknowledge the whole queue and lose it.
        const bool names_oldest = !ackq_.empty() && nr == ((vs_ - ackq_.count()) & 127);
        if (!ack_queue(names_oldest ? nr : nr - 1)) {
          unassign();
          return;
        }
        retransmit();
        busy_ = false;
        state_ = WaitAnswer;
        retries_ = 0;
        linkTimer_.set(kAnswerWait, &LAPD_NT_user::on_timer, this);
        break;
      }
      default:
        break;
    }
    return;
  }
  // I frame: only as a command.
  if (!command) return;
  unsigned ns = c >> 1;
  if (ns == vr_) {
    vr_ = (vr_ + 1) & 127;
    if (pf) tx_S(kRR, true, false);
    if (n - 4 < 4) return;
    Packet payload = frame.sub(4, n - 4);
    callref_ = payload.data()[2] & 0x7F;
    if (owner_) owner_->send_to_layer3(payload);
  } else {
    tx_S(kREJ, pf, false);
  }
  if (ack_queue(nr)) {
    state_ = Assigned;
    linkTimer_.set(kIdlePoll, &LAPD_NT_user::on_timer, this);
  } else {
    unassign();
  }
}

bool LAPD_NT_user::message(Packet& m) {
  if (!is_assigned() || m.length() < 3 || m.length() > packet_max_size - 8) return false;
  if (callref_ != (m.data()[2] & 0x7F)) return false;
  if (busy_) {
    if (outq_.count() >= 128) {
      Packet old;
      outq_.get(old);
    }
    outq_.put(m);
    return true;
  }
  send_I(m);
  return true;
}

// ---- the line ------------------------------------------------------------------

LAPD_NT::LAPD_NT() {
  for (auto& u : users_) u.set_lapd(this);
}

LAPD_NT::~LAPD_NT() { timer_.reset(); }

void LAPD_NT::set_log(unsigned level) {
  trace_ = level;
  for (auto& u : users_) u.set_log(level);
}

void LAPD_NT::PutHeader(std::ostream& os) const { os << "LAPD(NT BRI):"; }

std::ostream& LAPD_NT::log() const {
  PutHeader(std::clog);
  std::clog << ' ';
  return std::clog;
}

void LAPD_NT::local_prepare_head(Packet& p) { p.reserve_head(4); }
void LAPD_NT::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

void LAPD_NT::local_activate() {
  if (trace_) log() << "activate" << std::endl;
  check_all_Tei();
  on_activate();
}

void LAPD_NT::local_deactivate() {
  if (trace_) log() << "deactivate" << std::endl;
  timer_.reset();
  for (auto& u : users_) u.unassign();
}

void LAPD_NT::tx_identity(uint16_t ri, unsigned ai, unsigned type) {
  Packet f;
  prepare_head(f);
  f.put8(0xFE);
  f.put8(0xFF);
  f.put8(0x03);
  f.put8(0x0F);
  f.put16(ri);
  f.put8(static_cast<uint8_t>(type));
  f.put8(static_cast<uint8_t>(ai * 2 + 1));
  send_to_layer1(f);
}

void LAPD_NT::remove_twice(unsigned ai) {
  tx_identity(0, ai, IdRemove);
  tx_identity(0, ai, IdRemove);
}

LAPD_NT_user* LAPD_NT::find_Tei(unsigned tei) {
  for (auto& u : users_)
    if (u.is_assigned() && u.get_Tei() == tei) return &u;
  return nullptr;
}

LAPD_NT_user* LAPD_NT::find_free_Tei(unsigned tei) {
  for (auto& u : users_) {
    if (u.is_assigned()) continue;
    if (tei != 127) {
      u.set_Tei(tei);
      return &u;
    }
    for (unsigned t = 64; t <= 126; ++t) {
      if (!find_Tei(t)) {
        u.set_Tei(t);
        return &u;
      }
    }
    return nullptr;
  }
  return nullptr;
}

void LAPD_NT::check_all_Tei() {
  if (trace_) log() << "Checking Tei values...." << std::endl;
  timer_.reset();
  for (auto& u : users_) u.checking();
  tx_identity(0, 127, IdCheckReq);
  timer_.set(kCheckPeriod, &LAPD_NT::check_all_Tei, this);
}

void LAPD_NT::message(Packet& p) {
  if (p.length() < 4) return;
  if (p.length() > packet_max_size - 8) {
    PutHeader(std::cerr);
    std::cerr << " discard outgoing message: too long (" << p.length() << " octets)" << std::endl;
    return;
  }
  if (p.data()[3] == 0x05) {
    // SETUP goes to every terminal: UI on the broadcast TEI.
    Packet f;
    prepare_head(f);
    f.put8(0x02);
    f.put8(0xFF);
    f.put8(0x03);
    std::memcpy(f.put(p.length()), p.data(), p.length());
    send_to_layer1(f);
    return;
  }
  for (auto& u : users_)
    if (u.message(p)) return;
}

void LAPD_NT::receive(Packet& p) {
  unsigned n = p.length();
  if (n <= 2) return;
  const unsigned char* d = p.data();
  if ((d[0] & 1) || !(d[1] & 1)) return;
  bool cr = (d[0] >> 1) & 1;
  unsigned sapi = d[0] >> 2;
  unsigned tei = d[1] >> 1;
  if (tei != 127) {
    LAPD_NT_user* u = find_Tei(tei);
    if (!u) {
      u = find_free_Tei(tei);
      if (!u) {
        if (trace_) log() << "recieved packet with unassigned TEI=" << tei << ",removed" << std::endl;
        remove_twice(tei);
        return;
      }
      if (trace_) log() << "Warning:recieved packet with unassigned TEI=" << tei << std::endl;
      u->assign();
    }
    u->receive(p, cr);
    return;
  }
  if (d[2] != 0x03) return;
  if (sapi == 63) {
    on_tei_procedure(d + 3, n - 3);
    return;
  }
  on_message(p);
}

void LAPD_NT::on_tei_procedure(const unsigned char* d, unsigned n) {
  if (n <= 4 || d[0] != 0x0F) return;
  uint16_t ri = static_cast<uint16_t>(d[1] | (d[2] << 8));
  unsigned type = d[3];
  unsigned ai = d[4] >> 1;
  switch (type) {
    case IdRequest:
      if (ai < 64) {
        if (trace_) log() << "recieved identity request with wrong Ai=" << ai << ",ignored" << std::endl;
      } else if (ai < 127) {
        if (trace_) log() << "recieved identity request with wrong Ai=" << ai << ",denied" << std::endl;
        tx_identity(ri, ai, IdDenied);
      } else if (LAPD_NT_user* u = find_free_Tei(127)) {
        if (trace_) log() << "recieved identity request,TEI assigned:" << u->get_Tei() << std::endl;
        tx_identity(ri, u->get_Tei(), IdAssigned);
        u->assign();
      } else {
        if (trace_) log() << "recieved identity request, but all TEI values is ussigned" << std::endl;
        tx_identity(ri, 127, IdDenied);
      }
      break;
    case IdCheckResp: {
      if (ai == 127) {
        if (trace_) log() << "recieved check response with wrong Ai=" << 127 << ",removed" << std::endl;
        remove_twice(127);
        break;
      }
      LAPD_NT_user* u = find_Tei(ai);
      if (u && !u->is_check()) {
        if (ri == u->checkRi()) break;
        if (trace_) log() << "recieved check response with dublicated Ai=" << ai << ",removed" << std::endl;
        u->unassign();
        remove_twice(ai);
        break;
      }
      if (!u) u = find_free_Tei(ai);
      if (!u) {
        if (trace_) log() << "recieved check response with wrong Ai=" << ai << ",removed" << std::endl;
        remove_twice(ai);
        break;
      }
      if (trace_) log() << "TEI " << ai << " checked" << std::endl;
      u->assign();
      u->setCheckRi(ri);
      break;
    }
    case IdVerify:
      if (trace_) log() << "recieved verify request" << std::endl;
      check_all_Tei();
      break;
    default:
      break;
  }
}

}  // namespace ISDN
