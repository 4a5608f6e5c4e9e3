#include "links/mtp2.h"

#include <cstring>
#include <iostream>
#include <ostream>

#include "runtime/log/ext.h"
#include "runtime/os/clock.h"

namespace SS7 {

namespace {

// Each octet as a blank and its value in hexadecimal.
struct HexDump {
  const Packet& p;
};

std::ostream& operator<<(std::ostream& os, const HexDump& d) {
  const unsigned char* b = d.p.length() ? d.p.data() : nullptr;
  for (unsigned int i = 0; i < d.p.length(); ++i) os << ' ' << ext::hex(b[i], 0);
  return os;
}

const SLC::Seq one(1u);
const unsigned int kHeadRoom = 3;
// Smallest MSU payload: the service information octet and two octets of
// signalling information (LI 3). Anything shorter would read as a FISU or
// an LSSU on the far end.
const unsigned int kMinMsu = 3;

}  // namespace

const SLC::TimerVal SLC::T1 = {45000, &SLC::on_T1};
const SLC::TimerVal SLC::T2 = {7000, &SLC::on_T2};
const SLC::TimerVal SLC::T3 = {1500, &SLC::on_T3};
const SLC::TimerVal SLC::T4n = {8200, &SLC::on_T4};
const SLC::TimerVal SLC::T4e = {500, &SLC::on_T4};
const SLC::TimerVal SLC::T5 = {100, &SLC::on_T5};
const SLC::TimerVal SLC::T6 = {4500, &SLC::on_T6};
const SLC::TimerVal SLC::T7 = {12000, &SLC::on_T7};

std::ostream& operator<<(std::ostream& os, SLC::Indication i) {
  switch (i) {
    case SLC::SIO:
      return os << "out of alignment";
    case SLC::SIN:
      return os << "normal alignment";
    case SLC::SIE:
      return os << "emergency alignment";
    case SLC::SIOS:
      return os << "out of service";
  }
  return os << "unknown:" << ext::hex(static_cast<unsigned int>(i), 0);
}

std::ostream& operator<<(std::ostream& os, SLC::State::type t) {
  switch (t) {
    case SLC::State::idle:
      return os << "idle";
    case SLC::State::not_aligned:
      return os << "not aligned";
    case SLC::State::aligned:
      return os << "aligned";
    case SLC::State::proving:
      return os << "proving";
    case SLC::State::aligned_ready:
      return os << "aligned ready";
    case SLC::State::worked:
      return os << "worked";
  }
  return os << "unknown";
}

std::ostream& operator<<(std::ostream& os, const SLC::DumpPtr& d) {
  return os << " BSN=" << static_cast<unsigned int>(d.slc->bsnr_) << " BIB=" << (d.slc->bibr_ ? 1 : 0)
            << " FSN=" << static_cast<unsigned int>(d.slc->fsnr_) << " FIB=" << (d.slc->fibr_ ? 1 : 0);
}

SLC::SLC() : state_(&idle_), name_("MTP/L2"), last_congestion_(Mux::milliseconds()) {}

SLC::~SLC() = default;

void SLC::PutShortInfo(std::ostream& os) const {
  os << "SS7/L2 " << "[" << "dpc=" << dpc_ << ", slc=" << slc_ << ", trunk=" << linkno_ << "]";
}

void SLC::PutHeader(std::ostream& os) const {
  PutShortInfo(os);
  os << " (" << state_->get_state_id() << ")" << ": ";
}

const SLC::Statistics& SLC::statistics() const {
  stats_.rtbSize = rtb_count_;
  return stats_;
}

// ---- set-up and owner calls --------------------------------------------------

void SLC::OnTrunkHardStatus(bool up) {
  if (up || state_ == &idle_) return;
  std::clog << ext::header(this) << " transport OFF by low level terminated" << std::endl;
  next_state(idle_);
}

void SLC::local_prepare_head(Packet& p) { p.reserve_head(kHeadRoom); }

void SLC::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

void SLC::local_activate() {
  if (state_ == &idle_) {
    if (trace.mtp_activate) std::clog << ext::header(this) << "local_activate: executing..." << std::endl;
    next_state(not_aligned_);
    return;
  }
  if (trace.mtp_activate) std::clog << ext::header(this) << "local_activate: ignored." << std::endl;
  if (state_ == &worked_) on_activate();
}

void SLC::local_deactivate() {
  if (trace.mtp_activate) std::clog << ext::header(this) << "local_deactivate()" << std::endl;
  next_state(idle_);
}

void SLC::protocol_info(std::ostream& os) const { os << "MTP/L2"; }

void SLC::on_hdlc_receive(Packet& p) { receive(p); }

void SLC::on_hdlc_error(HDLC::Notify::Cause::Type cause) {
  std::clog << ext::header(this) << "hdlc error [cause=" << static_cast<int>(cause) << "]" << std::endl;
}

void SLC::on_hdlc_ready() {
  std::clog << ext::header(this) << "hdlc ready" << std::endl;
  process_tb();
}

bool SLC::send_msu(Packet& p) {
  if (p.empty()) {
    if (trace.msu_processing) std::clog << ext::header(this) << "fail to send msu (bad packet)" << std::endl;
    return false;
  }
  Packet copy = p;
  return send(copy, fsn_);
}

bool SLC::CoutCongestion() {
  unsigned int now = Mux::milliseconds();
  if (static_cast<int>(now - last_congestion_) < 1000) return true;
  last_congestion_ = now;
  return false;
}

// ---- receiving -----------------------------------------------------------------

void SLC::receive(Packet& p) {
  if (trace.raw_receive) std::clog << ext::header(this) << " rx raw" << HexDump{p} << std::endl;
  stats_.octetsRx += p.length();
  if (p.length() < 3) {
    std::cerr << ext::header(this) << "ignore packet, length too small " << p << std::endl;
    return;
  }
  std::uint8_t o0 = p.pull8();
  std::uint8_t o1 = p.pull8();
  std::uint8_t li = p.pull8();
  bsnr_ = o0 & 0x7F;
  bibr_ = (o0 & 0x80) != 0;
  fsnr_ = o1 & 0x7F;
  fibr_ = (o1 & 0x80) != 0;
  length_ = li;

  unsigned int r = p.length();
  unsigned int e = r < 63 ? r : 63;
  if (li != e) {
    std::cerr << ext::header(this) << "invalid packet length," << " expected = " << static_cast<unsigned int>(li)
              << ", received = " << r << std::endl;
    if (e != 63 && li < e) {
      std::cerr << ext::header(this) << "truncate " << (e - li) << " octet(s) : " << p << std::endl;
      p.trim(e - li);
    } else if (e == 63) {
      std::cerr << ext::header(this) << "can't truncate signalling unit." << std::endl;
    }
  }
  length_ = p.length();
  ++stats_.msuRxCount;

  if (length_ == 0) {
    state_->fisu(*this);
  } else if (length_ <= 2) {
    Indication i = static_cast<Indication>(p.pull8());
    state_->lssu(*this, i);
  } else {
    state_->msu(*this, p);
  }
}

// ---- sending -------------------------------------------------------------------

void SLC::message(Packet& p) {
  if (trace.mtp_transmit) std::clog << ext::header(this) << " mtp tx" << HexDump{p} << std::endl;
  state_->message(*this, p);
}

void SLC::put_to_tb(Packet& p) {
  if (p.length() < kMinMsu) {
    std::cerr << ext::header(this) << "msu too short (" << p.length() << " octet(s)), ignoring msu: " << p
              << std::endl;
    return;
  }
  if (tb_.count() >= kTbLimit) {
    ++stats_.overflowCntr;
    std::cerr << ext::header(this) << "no space in TB buffer," << " TB=" << tb_.count() << " RTB=" << rtb_count_
              << " ignoring msu: " << p << std::endl;
    return;
  }
  tb_.put(p);
}

void SLC::process_tb() {
  if (!is_worked()) return;
  if (tb_.empty()) {
    fisu();
    return;
  }
  while (rtb_count_ < kRtbLimit) {
    Packet head;
    if (!tb_.preview(head)) break;
    Seq fsn = rtb_last_ + one;
    if (!send(head, fsn)) break;
    tb_.get(head);
    rtb_last_ = fsn;
    rtb_[fsn] = head;
    if (++rtb_count_ == 1) set(T7);
  }
}

bool SLC::send(const Packet& payload, Seq fsn) {
  if (!hdlc_) {
    std::clog << ext::header(this) << "no HDLC interface attached!!!" << std::endl;
    return false;
  }
  unsigned int len = payload.length();
  Packet unit;
  if (len && payload.headroom() >= kHeadRoom) {
    unit = payload;  // shares the buffer until the header is written
  } else {
    prepare_head(unit);
    if (unit.headroom() < kHeadRoom) unit.reserve_head(kHeadRoom);
    if (len) std::memcpy(unit.put(len), payload.data(), len);
  }
  unit.push8(static_cast<std::uint8_t>(len <= 61 ? len : 63));
  unit.push8(static_cast<std::uint8_t>(static_cast<unsigned int>(fsn) | (fib_ ? 0x80u : 0u)));
  unit.push8(static_cast<std::uint8_t>(static_cast<unsigned int>(bsn_) | (bib_ ? 0x80u : 0u)));
  unsigned int octets = unit.length();
  if (!hdlc_->hdlc_transmit(unit)) {
    if (trace.raw_transmit) std::clog << ext::header(this) << " tx full!" << std::endl;
    return false;
  }
  if (len) fsn_ = fsn;
  if (trace.raw_transmit) std::clog << ext::header(this) << " tx raw" << HexDump{unit} << std::endl;
  ++stats_.msuTxCount;
  stats_.octetsTx += octets;
  return true;
}

void SLC::fisu() { send(Packet(), fsn_); }

void SLC::lssu(Indication i) {
  if (!hdlc_) return;
  Packet p;
  prepare_head(p);
  std::uint8_t* b = p.put(4);
  b[0] = 0xFF;
  b[1] = 0xFF;
  b[2] = 0x01;
  b[3] = i;
  hdlc_->hdlc_transmit(p);
}

// ---- sequence control -------------------------------------------------------------

void SLC::reset() {
  for (Packet& p : rtb_) p.clear();
  rtb_first_ = 0;
  rtb_last_ = 127;
  rtb_count_ = 0;
  nack_outstanding_ = false;
  bad_bsn_ = false;
  abnormal_fib_ = false;
  bsn_ = 127;
  fsn_ = 127;
  fib_ = true;
  bib_ = true;
}

void SLC::make_expected() {
  fsnx_ = bsn_;
  fibx_ = bib_;
  own_fib_ = fib_;
}

void SLC::process_bsnr() {
  Seq before = rtb_first_ - one;
  if (!((before <= bsnr_) <= rtb_last_)) {
    if (!bad_bsn_) {
      bad_bsn_ = true;
      return;
    }
    if (trace.msu_processing)
      std::cerr << ext::header(this) << "bad su acknowledgement received: " << DumpPtr(this) << std::endl;
    next_state(idle_);
    return;
  }
  bad_bsn_ = false;
  if (rtb_first_ != bsnr_ + one) set(T7);
  while (rtb_first_ - one != bsnr_) {
    rtb_[rtb_first_].clear();
    ++rtb_first_;
    if (rtb_count_) --rtb_count_;
  }
  if (rtb_first_ - one == rtb_last_) timer_.reset();
  if (bibr_ != own_fib_) retransmit();
}

void SLC::retransmit() {
  if (trace.msu_processing) std::cerr << ext::header(this) << "retransmit" << " rtb=" << rtb_count_ << std::endl;
  ++stats_.repeatCntr;
  fsn_ = rtb_first_ - one;
  fib_ = bibr_;
  // Back to the head of the TB, newest first, so that they stand in the
  // order of their first transmission.
  for (Seq i = rtb_last_; i != fsn_; --i) {
    if (!tb_.append(rtb_[i]))
      std::cerr << ext::header(this) << "no space in TB buffer for retransmission, msu lost: " << rtb_[i]
                << std::endl;
    rtb_[i].clear();
  }
  rtb_last_ = fsn_;
  rtb_count_ = 0;
  process_tb();
}

void SLC::nack() {
  bib_ = !bib_;
  fibx_ = bib_;
  nack_outstanding_ = true;
  fisu();
  ++stats_.badSeqCntr;
  if (trace.msu_processing) std::cerr << ext::header(this) << "nack!" << std::endl;
}

// A unit whose FIB differs from the one expected.
void SLC::abnormal_fib() {
  if (nack_outstanding_) {
    process_bsnr();
  } else if (abnormal_fib_) {
    if (trace.msu_processing)
      std::cerr << ext::header(this) << "bad start of a retransmission: " << DumpPtr(this) << std::endl;
    next_state(idle_);
  } else {
    abnormal_fib_ = true;
  }
}

// ---- states -------------------------------------------------------------------------

void SLC::next_state(State& s) {
  if (trace.state)
    std::clog << ext::shortinfo(this) << ": " << "change state from " << ext::quoted(state_->get_state_id())
              << " to " << ext::quoted(s.get_state_id()) << std::endl;
  state_->on_leave(*this);
  state_ = &s;
  s.on_enter(*this);
}

void SLC::on_enter(IdleState&) {
  reset();
  sios();
  on_deactivate(ProtocolStatus(new Protocol_status_error(this, "impossible phasing")));
}

void SLC::lssu(IdleState&, Indication i) {
  if (i == SIO)
    next_state(aligned_);
  else if (i == SIN || i == SIE)
    next_state(proving_);
}

void SLC::on_enter(NotAlignedState&) {
  reset();
  set(T2);
  sio();
}

void SLC::on_leave(NotAlignedState&) { timer_.reset(); }

void SLC::lssu(NotAlignedState&, Indication i) {
  if (i == SIO)
    next_state(aligned_);
  else if (i == SIN || i == SIE)
    next_state(proving_);
}

void SLC::on_enter(AlignedState&) {
  set(T3);
  if (trace.timers) std::clog << ext::header(this) << "set T3" << std::endl;
  if (emergency_)
    sie();
  else
    sin();
}

void SLC::on_leave(AlignedState&) { timer_.reset(); }

void SLC::lssu(AlignedState&, Indication i) {
  if (i == SIN || i == SIE) next_state(proving_);
}

void SLC::on_enter(ProvingState&) {
  if (emergency_) {
    set(T4e);
    sie();
  } else {
    set(T4n);
    sin();
  }
  if (trace.timers) std::clog << ext::header(this) << "set T4" << std::endl;
}

void SLC::on_leave(ProvingState&) { timer_.reset(); }

void SLC::fisu(ProvingState&) { next_state(worked_); }

void SLC::lssu(ProvingState&, Indication i) {
  if (i != SIN && i != SIE) next_state(idle_);
}

void SLC::msu(ProvingState&, Packet&) { next_state(worked_); }

void SLC::on_enter(AlignedReadyState&) {
  set(T1);
  fisu();
}

void SLC::on_leave(AlignedReadyState&) { timer_.reset(); }

void SLC::on_enter(WorkedState&) {
  if (!tb_.empty()) std::cerr << ext::header(this) << "discard " << tb_.count() << " msu in TB" << std::endl;
  tb_.clear();
  reset();
  fisu();
  process_tb();
  on_activate();
}

void SLC::on_leave(WorkedState&) { timer_.reset(); }

void SLC::fisu(WorkedState&) {
  make_expected();
  if (fibr_ != fibx_) {
    abnormal_fib();
    return;
  }
  nack_outstanding_ = false;
  abnormal_fib_ = false;
  process_bsnr();
  if (!is_worked()) return;  // the acknowledgement failed the link
  if (fsnr_ != fsnx_) nack();
}

void SLC::lssu(WorkedState&, Indication i) {
  std::cerr << ext::header(this) << "receive lssu: " << i << " " << DumpPtr(this) << std::endl;
  next_state(idle_);
}

void SLC::msu(WorkedState&, Packet& p) {
  make_expected();
  if (fsnr_ == fsnx_) {
    if (trace.msu_processing)
      std::clog << ext::header(this) << "discard msu due to 5.2.2/i Q.702" << " fsnr=" << fsnr_ << " fsnx=" << fsnx_
                << std::endl;
    return;
  }
  if (fibr_ != fibx_) {
    abnormal_fib();
    return;
  }
  nack_outstanding_ = false;
  abnormal_fib_ = false;
  process_bsnr();
  // A link that failed on this unit's acknowledgement neither answers nor
  // delivers it.
  if (!is_worked()) return;
  if (fsnr_ != fsnx_ + one) {
    if (trace.msu_processing)
      std::clog << ext::header(this) << "discard msu due to 5.2.2/ii Q.702" << " fsnr=" << fsnr_
                << " fsnx=" << fsnx_ << std::endl;
    nack();
    return;
  }
  bsn_ = fsnr_;
  if (trace.msu_processing) std::cerr << ext::header(this) << "ack!" << std::endl;
  fisu();
  if (trace.mtp_receive) std::clog << ext::header(this) << " mtp rx" << HexDump{p} << std::endl;
  on_message(p);
}

void SLC::message(WorkedState&, Packet& p) {
  put_to_tb(p);
  process_tb();
}

// ---- timers ---------------------------------------------------------------------------

void SLC::set(TimerVal v) { timer_.set(v.ms, v.handler, this); }

void SLC::on_T1(Timer*) {
  if (trace.timers) std::clog << ext::header(this) << "T1 expired" << std::endl;
  next_state(idle_);
}

void SLC::on_T2(Timer*) {
  if (trace.timers) std::clog << ext::header(this) << "T2 expired" << std::endl;
  next_state(idle_);
}

void SLC::on_T3(Timer*) {
  if (trace.timers) std::clog << ext::header(this) << "T3 expired" << std::endl;
  next_state(idle_);
}

void SLC::on_T4(Timer*) {
  if (trace.timers) std::clog << ext::header(this) << "T4 expired." << std::endl;
  next_state(aligned_ready_);
}

void SLC::on_T7(Timer*) {
  if (trace.timers)
    std::clog << ext::header(this) << "T7 expired: " << rtb_count_ << " packets in RTB." << std::endl;
  next_state(idle_);
}

}  // namespace SS7
