#include "hardware/hdlc.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "hardware/board/board.h"
#include "hardware/board/record.h"
#include "hardware/board/requests.h"
#include "hardware/hwmux.h"
#include "runtime/log/traces.h"
#include "runtime/os/fd.h"

namespace R = Board::Req;

namespace {

// Controller channel type of MCC_ALLOCATE for a channel type.
int32_t controllerType(int32_t type) {
  switch (type) {
    case 0: return 3;  // SS7
    case 2: return 1;  // BRI
    default: return 0; // data
  }
}

}  // namespace

HDLC::Notify* HDLC::stub() {
  class Stub : public Notify {
   public:
    void on_hdlc_receive(Packet&) override {}
    void on_hdlc_error(Cause::Type) override {}
    void on_hdlc_ready() override {}
  };
  static Stub s;
  return &s;
}

HDLC::HDLC() { unbind(); }

HDLC::~HDLC() { event_.Release(); }

void HDLC::PutHeader(std::ostream& os) const {
  const std::ios_base::fmtflags flags = os.flags();
  os << "hdlc" << " [" << std::dec << trunk_ << "/" << params_.timeslot << "]: ";
  os.flags(flags);
}

void HDLC::deactivate() {
  event_.Release();
  ready_ = false;
  ++generation_;
  if (traces.signalling.hdlc) {
    PutHeader(std::clog);
    std::clog << "deactivated" << std::endl;
  }
}

bool HDLC::activate() {
  deactivate();
  stats_ = Statistics();

  Fd dev(Board::open("/dev/mcc/ctl", O_RDWR | O_NONBLOCK | O_CLOEXEC));
  if (!dev.is_valid()) {
    int e = errno;
    PutHeader(std::cerr);
    std::cerr << "fail to open MCC device: " << std::strerror(e) << std::endl;
    return false;
  }
  Board::WordRecord alloc{controllerType(params_.type), 512, 0, 1, 4};
  if (Board::ioctl(dev.lowlevel_fd(), R::MccAllocate, alloc.data()) == -1) {
    int e = errno;
    PutHeader(std::cerr);
    std::cerr << "MCC_ALLOCATE fail: " << std::strerror(e) << std::endl;
    return false;
  }
  int c = Board::ioctl(dev.lowlevel_fd(), R::MccTimeslot, nullptr);
  if (c < 0) {
    int e = errno;
    PutHeader(std::cerr);
    std::cerr << "MCC_TIMESLOT fail: " << std::strerror(e) << std::endl;
    return false;
  }

  // The watch's duplicate is what keeps the channel allocated once dev
  // closes: without it nothing is switched and the channel is not active.
  event_.Bind("HDLC::OnEvent", &HDLC::on_event, this);
  event_.Schedule(dev, POLLIN | POLLOUT);
  if (!event_.IsActive()) {
    int e = errno;
    PutHeader(std::cerr);
    std::cerr << "dup fail: " << std::strerror(e) << std::endl;
    return false;
  }

  HwMux* mux = HwMux::instance();
  mux->Connect(c, params_.type == 2 ? params_.tdm_out : params_.tdm);
  mux->Connect(params_.tdm, c);
  ready_ = false;
  ++generation_;
  if (traces.signalling.hdlc) {
    PutHeader(std::clog);
    std::clog << "activated" << std::endl;
  }
  return true;
}

void HDLC::on_event(int, short revents) {
  const unsigned generation = generation_;
  if (revents & (POLLIN | POLLERR | POLLHUP)) {
    do_read();
    // A hang-up or error with nothing to read fails the channel too; the
    // read above reports it when there was something to read.
    if (generation_ == generation && is_open() && (revents & (POLLERR | POLLHUP))) {
      errno = (revents & POLLERR) ? EIO : EPIPE;
      readError(std::strerror(errno));
    }
  }
  // Only the channel this event was for may become ready: a read error or a
  // callback may have closed or replaced it meanwhile.
  if ((revents & POLLOUT) && !ready_ && generation_ == generation && is_open()) {
    ready_ = true;
    event_.SetEvents(POLLIN);
    notify_->on_hdlc_ready();
  }
}

void HDLC::readError(const char* text) {
  PutHeader(std::cerr);
  std::cerr << "read error: " << text << std::endl;
  deactivate();
  notify_->on_hdlc_error(Notify::Cause::ReadError);
}

void HDLC::do_read() {
  if (traces.signalling.hdlc) {
    PutHeader(std::clog);
    std::clog << "do_read" << std::endl;
  }
  if (!event_.IsActive()) {
    PutHeader(std::clog);
    std::clog << "do_read: !m_event.IsActive()" << std::endl;
    return;
  }
  const unsigned generation = generation_;
  for (;;) {
    Packet p;
    p.reserve_head(0);
    ssize_t n = Board::read(event_.lowlevel_fd(), p.data(), p.tailroom());
    if (n > 0) {
      p.put(static_cast<unsigned>(n));
      if (traces.signalling.hdlc) std::clog << "HDLC[" << trunk_ << "]: rx " << p << std::endl;
      ++stats_.rxSU;
      notify_->on_hdlc_receive(p);
      p.clear();
      // The receiver may have deactivated (or even re-activated) the channel.
      if (generation_ != generation || !event_.IsActive()) return;
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;  // no more frames
    // End of file or any other failure, an interrupted read included: the
    // channel is given up.
    readError(n == 0 ? "end of file" : std::strerror(errno));
    return;
  }
}

bool HDLC::hdlc_transmit(Packet& p) {
  if (p.length() == 0) return true;
  if (!event_.IsActive()) {
    ++stats_.txDiscard;
    return false;
  }
  if (traces.signalling.hdlc) std::clog << "HDLC[" << trunk_ << "]: tx " << p << std::endl;
  ssize_t n;
  do {
    n = Board::write(event_.lowlevel_fd(), p.data(), p.length());
  } while (n == -1 && errno == EINTR);
  if (n != -1) {
    ++stats_.txSU;
    return true;
  }
  if (errno == EAGAIN || errno == EWOULDBLOCK) {
    ready_ = false;
    event_.SetEvents(POLLIN | POLLOUT);
    return false;
  }
  ++stats_.txError;
  return false;
}
