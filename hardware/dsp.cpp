#include "hardware/dsp.h"

#include <fcntl.h>
#include <poll.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "hardware/board/board.h"
#include "hardware/board/record.h"
#include "hardware/board/requests.h"
#include "hardware/devices.h"
#include "hardware/dsp_ids.h"

namespace Hardware {

namespace R = ::Board::Req;

namespace {

// Every live receiver, in construction order.
Containers::CyclicList& receivers() {
  static Containers::CyclicList ring;
  return ring;
}

}  // namespace

// What distinguishes the VAD switch from the SD switch.
struct DSProcReceiverService::Detector {
  int32_t DSProcReceiver::*state;
  uint32_t DSProcReceiver::*id;
  uint32_t mask;
  const char* name;  // "VAD" or "SD"
};

// ---- Service ---------------------------------------------------------------

DSProcReceiverService& DSProcReceiverService::instance() {
  static DSProcReceiverService service;
  return service;
}

DSProcReceiverService::DSProcReceiverService() { init(); }

void DSProcReceiverService::init() {
  int fd = ::Board::open(GetDSPDevName(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    std::cerr << "open dsproc fail, VAD proceeding disabled: " << std::strerror(errno) << std::endl;
    return;
  }
  event_.Bind("DSProcReceiverService::OnEvent", &DSProcReceiverService::OnEvent, this);
  event_.Schedule(Fd(fd), POLLIN);
}

bool DSProcReceiverService::configure(unsigned timeslot, bool vad) {
  const char* name = vad ? "VAD" : "SD";
  if (!isOpen()) init();
  if (!isOpen()) {
    std::cerr << "configure " << name << " fail: (interface not opened)" << " timeslot=" << timeslot << std::endl;
    return false;
  }
  ::Board::WordRecord rec(5);
  rec.set(0, int32_t(timeslot));
  if (vad) {
    rec.set(1, TypeVAD);
    rec.set(2, 3);
    rec.set(3, 127);
    rec.set(4, 0);
  } else {
    rec.set(1, TypeSD);
  }
  if (::Board::ioctl(lowlevel_fd(), R::DsprocConfigure, rec.data()) < 0) {
    int err = errno;
    std::cerr << "DSPROC_CONFIGURE " << name << " fail:" << " timeslot=" << timeslot << ErrTail{err} << std::endl;
    return false;
  }
  std::clog << "DSPROC_CONFIGURE " << name << " ts=" << timeslot << std::endl;
  return true;
}

bool DSProcReceiverService::configureVAD(unsigned timeslot) { return configure(timeslot, true); }

bool DSProcReceiverService::configureSD(unsigned timeslot) { return configure(timeslot, false); }

bool DSProcReceiverService::enable(DSProcReceiver& receiver, const Detector& d, bool on) {
  int32_t& state = receiver.*d.state;
  if ((state == 0 || state == 1) && state == int32_t(on)) return true;
  const unsigned timeslot = receiver.dsproc_timeslot();
  if (on) {
    lastId_ = NextDetectorId(lastId_);
    const uint32_t id = lastId_;
    ::Board::WordRecord rec{int32_t(timeslot), int32_t(id), int32_t(d.mask)};
    if (::Board::ioctl(lowlevel_fd(), R::DsprocEnable, rec.data()) < 0) {
      int err = errno;
      std::cerr << "DSPROC_ENABLE " << d.name << " fail:" << " timeslot=" << timeslot << " id=" << id
                << ErrTail{err} << std::endl;
      return false;
    }
    receiver.*d.id = id;
    state = 1;
    std::cerr << "DSPROC_ENABLE " << d.name << " done:" << " timeslot=" << timeslot << " id=" << id << std::endl;
    return true;
  }
  ::Board::WordRecord rec{int32_t(timeslot), 0, int32_t(d.mask)};
  if (::Board::ioctl(lowlevel_fd(), R::DsprocDisable, rec.data()) < 0) {
    int err = errno;
    std::cerr << "DSPROC_DISABLE " << d.name << " fail:" << " timeslot=" << timeslot << ErrTail{err} << std::endl;
    return false;
  }
  state = 0;
  std::cerr << "DSPROC_DISABLE " << d.name << " done:" << " timeslot=" << timeslot << std::endl;
  return true;
}

bool DSProcReceiverService::enableVAD(DSProcReceiver& receiver, bool on) {
  static const Detector vad{&DSProcReceiver::vadState_, &DSProcReceiver::vadId_, MaskVAD, "VAD"};
  return enable(receiver, vad, on);
}

bool DSProcReceiverService::enableSD(DSProcReceiver& receiver, bool on) {
  static const Detector sd{&DSProcReceiver::sdState_, &DSProcReceiver::sdId_, MaskSD, "SD"};
  return enable(receiver, sd, on);
}

bool DSProcReceiverService::enableMute(DSProcReceiver& receiver, bool rx, bool tx) {
  const bool known = (receiver.muteRx_ == 0 || receiver.muteRx_ == 1) && (receiver.muteTx_ == 0 || receiver.muteTx_ == 1);
  if (known && receiver.muteRx_ == int32_t(rx) && receiver.muteTx_ == int32_t(tx)) return true;
  const unsigned timeslot = receiver.dsproc_timeslot();
  if (rx || tx) {
    lastId_ = NextDetectorId(lastId_);
    const uint32_t id = lastId_;
    const int32_t mask = (rx ? MaskMuteRx : 0) | (tx ? MaskMuteTx : 0);
    ::Board::WordRecord rec{int32_t(timeslot), int32_t(id), mask};
    if (::Board::ioctl(lowlevel_fd(), R::DsprocEnable, rec.data()) < 0) {
      int err = errno;
      std::cerr << "DSPROC_ENABLE MUTE fail:" << " timeslot=" << timeslot << " id=" << id << ErrTail{err}
                << std::endl;
      return false;
    }
    receiver.muteId_ = id;
    receiver.muteRx_ = rx;
    receiver.muteTx_ = tx;
    std::cerr << "DSPROC_ENABLE MUTE done:" << " timeslot=" << timeslot << " id=" << id << std::endl;
    return true;
  }
  ::Board::WordRecord rec{int32_t(timeslot), 0, MaskMuteRx | MaskMuteTx};
  if (::Board::ioctl(lowlevel_fd(), R::DsprocDisable, rec.data()) < 0) {
    int err = errno;
    std::cerr << "DSPROC_DISABLE MUTE fail:" << " timeslot=" << timeslot << ErrTail{err} << std::endl;
    return false;
  }
  receiver.muteRx_ = 0;
  receiver.muteTx_ = 0;
  std::cerr << "DSPROC_DISABLE MUTE done:" << " timeslot=" << timeslot << std::endl;
  return true;
}

void DSProcReceiverService::OnEvent(int fd, short revents) {
  if (!(revents & POLLIN)) return;
  for (;;) {
    uint8_t rec[kEventSize];
    const RecordRead got = readEventRecord(fd, revents, rec, sizeof rec, "dsproc");
    // A device that hung up is let go (configuring opens it again).
    if (got == RecordRead::HungUp) event_.Release();
    if (got != RecordRead::Record) return;
    const uint32_t timeslot = ::Board::getBE32(rec);
    const uint32_t id = ::Board::getBE32(rec + 4);
    const uint32_t type = ::Board::getBE32(rec + 8);
    const uint32_t w3 = ::Board::getBE32(rec + 12);
    const int32_t w4 = int32_t(::Board::getBE32(rec + 16));
    const int32_t w5 = int32_t(::Board::getBE32(rec + 20));
    std::clog << "dsproc event: " << " timeslot=" << timeslot << " id=" << id << " type=" << type << std::endl;
    if (type == TypeVAD)
      std::clog << "dsproc vad event: " << " dir_mask=" << w3 << " vad_rx=" << w4 << " vad_tx=" << w5 << std::endl;
    else if (type == TypeSD)
      std::clog << "dsproc sd event: " << " sd_rx=" << int32_t(w3) << std::endl;

    DSProcReceiver* receiver = nullptr;
    for (auto& node : receivers()) {
      DSProcReceiver* r = static_cast<DSProcReceiver::Link&>(node).owner;
      if (r->dsproc_timeslot() == timeslot) {
        receiver = r;
        break;
      }
    }
    if (!receiver) {
      std::cerr << "receive dsproc event from unknown timeslot " << timeslot << std::endl;
      continue;
    }
    if (type != TypeVAD && type != TypeSD) continue;
    const bool vad = type == TypeVAD;
    const int32_t state = vad ? receiver->vadState_ : receiver->sdState_;
    const uint32_t rid = vad ? receiver->vadId_ : receiver->sdId_;
    if (state == 0) {
      std::clog << "ignore spurious dsproc vad event (dsproc disabled): " << " timeslot=" << timeslot
                << " id=" << id << " type=" << type << std::endl;
      continue;
    }
    if (rid != id) {
      std::clog << "ignore spurious dsproc vad event: " << " timeslot=" << timeslot << " id=" << id
                << " type=" << type << " rid=" << rid << std::endl;
      continue;
    }
    if (vad)
      receiver->dsproc_vad_event(DSProcVADEvent{(w3 & 1) ? w4 : -1, (w3 & 2) ? w5 : -1});
    else
      receiver->dsproc_sd_event(DSProcSDEvent{int32_t(w3)});
    if (!isOpen()) return;
  }
}

// ---- Receiver --------------------------------------------------------------

DSProcReceiver::DSProcReceiver() : link_(this) { receivers().AddToTail(&link_); }

DSProcReceiver::~DSProcReceiver() = default;

bool DSProcReceiver::configureVAD() { return DSProcReceiverService::instance().configureVAD(dsproc_timeslot()); }
bool DSProcReceiver::enableVAD(bool on) { return DSProcReceiverService::instance().enableVAD(*this, on); }
bool DSProcReceiver::disableVAD() { return enableVAD(false); }
bool DSProcReceiver::configureSD() { return DSProcReceiverService::instance().configureSD(dsproc_timeslot()); }
bool DSProcReceiver::enableSD(bool on) { return DSProcReceiverService::instance().enableSD(*this, on); }
bool DSProcReceiver::disableSD() { return enableSD(false); }
bool DSProcReceiver::enableMute(bool rx, bool tx) {
  return DSProcReceiverService::instance().enableMute(*this, rx, tx);
}
bool DSProcReceiver::disableMute() { return enableMute(false, false); }

}  // namespace Hardware
