#include "hardware/tonec.h"

#include <fcntl.h>
#include <poll.h>

#include <algorithm>
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

// A duration from the controller, in milliseconds, as the timers take it.
unsigned duration(const ASN1::INTEGER& value) {
  return std::min(unsigned(value.getValue()), TonecReceiver::kMaxDurationMs);
}

}  // namespace

// ---- Service ---------------------------------------------------------------

TonecReceiverService& TonecReceiverService::instance() {
  static TonecReceiverService service;
  return service;
}

TonecReceiverService::TonecReceiverService() { init(); }

void TonecReceiverService::init() {
  int fd = ::Board::open(GetDTMFDevName(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    std::cerr << "open tonec fail, DTMF proceeding disabled: " << std::strerror(errno) << std::endl;
    return;
  }
  event_.Bind("TonecReceiverService::OnEvent", &TonecReceiverService::OnEvent, this);
  event_.Schedule(Fd(fd), POLLIN);
}

bool TonecReceiverService::configureDTMF(unsigned timeslot, LGCP::DTMFParams const& params) {
  if (!isOpen()) init();
  if (!isOpen()) {
    std::cerr << "configure DTMF fail: (interface not opened)" << " timeslot=" << timeslot << std::endl;
    return false;
  }
  const uint32_t twist = params.get_threshold().get_twist().getValue();
  const uint32_t ratio = params.get_threshold().get_ratio().getValue();
  const uint32_t noise = params.get_threshold().get_noise().getValue();
  const uint32_t silence = params.get_level().get_silence().getValue();
  ::Board::WordRecord rec(5);
  rec.set(0, int32_t(timeslot));
  rec.set(1, int32_t(twist));
  rec.set(2, int32_t(ratio));
  rec.set(3, int32_t(silence));
  rec.set(4, int32_t(noise));
  if (::Board::ioctl(lowlevel_fd(), R::DtmfConfigureDetector, rec.data()) < 0) {
    int err = errno;
    std::cerr << "DTMF_CONFIGURE_DETECTOR fail:" << " timeslot=" << timeslot << ErrTail{err} << std::endl;
    return false;
  }
  std::clog << "DTMF_CONFIGURE_DETECTOR" << " ts=" << timeslot << " twist=" << twist << " ratio=" << ratio
            << " noise=" << noise << " silence=" << silence << std::endl;
  return true;
}

bool TonecReceiverService::enableDTMF(TonecReceiver& receiver, bool on) {
  if (receiver.detectionEnabled_ == on) return true;
  const unsigned timeslot = receiver.tonec_timeslot();
  if (on) {
    lastId_ = NextDetectorId(lastId_);
    const uint32_t id = lastId_;
    ::Board::WordRecord rec(2);
    rec.set(0, int32_t(timeslot));
    rec.set(1, int32_t(id));
    if (::Board::ioctl(lowlevel_fd(), R::DtmfEnableDetector, rec.data()) < 0) {
      int err = errno;
      std::cerr << "DTMF_ENABLE_DETECTOR fail:" << " timeslot=" << timeslot << " id=" << id << ErrTail{err}
                << std::endl;
      return false;
    }
    receiver.detectorId_ = id;
    receiver.detectionEnabled_ = true;
    std::cerr << "DTMF_ENABLE_DETECTOR done:" << " timeslot=" << timeslot << " id=" << id << std::endl;
    return true;
  }
  if (::Board::ioctlValue(lowlevel_fd(), R::DtmfDisableDetector, timeslot) < 0) {
    int err = errno;
    std::cerr << "DTMF_DISABLE_DETECTOR fail:" << " timeslot=" << timeslot << ErrTail{err} << std::endl;
    return false;
  }
  receiver.detectionEnabled_ = false;
  std::cerr << "DTMF_DISABLE_DETECTOR done:" << " timeslot=" << timeslot << std::endl;
  return true;
}

bool TonecReceiverService::switchByValue(uint32_t request, const char* name, unsigned timeslot) {
  if (::Board::ioctlValue(lowlevel_fd(), request, timeslot) < 0) {
    int err = errno;
    std::cerr << name << " fail:" << " timeslot=" << timeslot << ErrTail{err} << std::endl;
    return false;
  }
  std::clog << name << "[" << timeslot << "] ok" << std::endl;
  return true;
}

bool TonecReceiverService::echoCancel(unsigned timeslot, bool on) {
  return on ? switchByValue(R::ChannelLmsOn, "CHANNEL_LMS_ON", timeslot)
            : switchByValue(R::ChannelLmsOff, "CHANNEL_LMS_OFF", timeslot);
}

bool TonecReceiverService::enableDTMFReject(unsigned timeslot, bool on) {
  return on ? switchByValue(R::DtmfRejectionEnable, "DTMF_REJECTION_ENABLE", timeslot)
            : switchByValue(R::DtmfRejectionDisable, "DTMF_REJECTION_DISABLE", timeslot);
}

bool TonecReceiverService::enableToneGenerator(unsigned timeslot, unsigned short freq1, unsigned short freq2,
                                               unsigned short amp1, unsigned short amp2) {
  uint8_t rec[12] = {};
  ::Board::putBE32(rec, timeslot);
  ::Board::putBE16(rec + 4, freq1);
  ::Board::putBE16(rec + 6, freq2);
  ::Board::putBE16(rec + 8, amp1);
  ::Board::putBE16(rec + 10, amp2);
  if (::Board::ioctl(lowlevel_fd(), R::DtmfDial, rec) < 0) {
    int err = errno;
    std::cerr << "DTMF_DIAL fail:" << " timeslot=" << timeslot << ErrTail{err} << std::endl;
    return false;
  }
  return true;
}

void TonecReceiverService::OnEvent(int fd, short revents) {
  if (!(revents & POLLIN)) return;
  for (;;) {
    uint8_t rec[kEventSize];
    const RecordRead got = readEventRecord(fd, revents, rec, sizeof rec, "tonec");
    // A device that hung up is let go (configuring opens it again).
    if (got == RecordRead::HungUp) event_.Release();
    if (got != RecordRead::Record) return;
    const uint32_t code = ::Board::getBE32(rec);
    const uint32_t timeslot = ::Board::getBE32(rec + 4);
    const uint32_t timestamp = ::Board::getBE32(rec + 8);
    const uint32_t id = ::Board::getBE32(rec + 12);
    std::clog << "dtmf event: " << " timestamp=" << timestamp << " timeslot=" << timeslot << " code=" << code
              << " id=" << id << std::endl;

    TonecReceiver* receiver = nullptr;
    for (auto& node : receivers()) {
      TonecReceiver* r = static_cast<TonecReceiver::Link&>(node).owner;
      if (r->tonec_timeslot() == timeslot) {
        receiver = r;
        break;
      }
    }
    if (!receiver) {
      std::cerr << "receive tonec event from unknown timeslot " << timeslot << std::endl;
      continue;
    }
    if (!receiver->detectionEnabled_) {
      std::clog << "ignore spurious dtmf event (DTMF disabled): " << " timestamp=" << timestamp
                << " timeslot=" << timeslot << " code=" << code << " id=" << id << std::endl;
      continue;
    }
    if (receiver->detectorId_ != id) {
      std::clog << "ignore spurious dtmf event: " << " timestamp=" << timestamp << " timeslot=" << timeslot
                << " code=" << code << " id=" << id << " rid=" << receiver->detectorId_ << std::endl;
      continue;
    }
    receiver->tonec_event(TonecReceiver::Params{int32_t(code), int32_t(timestamp)});
    // The receiver may have closed the device (or gone) in its callback.
    if (!isOpen()) return;
  }
}

// ---- Receiver --------------------------------------------------------------

TonecReceiver::TonecReceiver() : link_(this) { receivers().AddToTail(&link_); }

TonecReceiver::~TonecReceiver() = default;

bool TonecReceiver::configureDTMF(LGCP::DTMFParams const& params) {
  return TonecReceiverService::instance().configureDTMF(tonec_timeslot(), params);
}

bool TonecReceiver::enableDTMF(bool on) { return TonecReceiverService::instance().enableDTMF(*this, on); }

bool TonecReceiver::disableDTMF() { return TonecReceiverService::instance().enableDTMF(*this, false); }

bool TonecReceiver::echoCancel(bool on) { return TonecReceiverService::instance().echoCancel(tonec_timeslot(), on); }

bool TonecReceiver::enableDTMFReject(bool on) {
  return TonecReceiverService::instance().enableDTMFReject(tonec_timeslot(), on);
}

bool TonecReceiver::enableToneGenerator(unsigned short freq1, unsigned short freq2, unsigned short amp1,
                                        unsigned short amp2) {
  return TonecReceiverService::instance().enableToneGenerator(tonec_timeslot(), freq1, freq2, amp1, amp2);
}

bool TonecReceiver::enableSilence() { return enableToneGenerator(1000, 1000, 0, 0); }

bool TonecReceiver::disableToneGenerator(bool force) {
  if (!force && !sending_) return false;
  return enableToneGenerator(0, 0, 0, 0);
}

void TonecReceiver::translateDTMF(LGCP::TranslateDtmfParams const& params) {
  params_ = params;
  if (sending_) return;  // the running sequence takes the new list at its next pause end
  sending_ = true;
  on_DTMFPauseFinish(nullptr);
}

void TonecReceiver::on_DTMFPauseFinish(Timer*) {
  auto& digits = params_.set_digits();
  if (digits.empty()) {
    disableToneGenerator(true);
    sending_ = false;
    tone_gen_complete();
    return;
  }
  const LGCP::DualTone& digit = digits[0];
  const auto freq1 = static_cast<unsigned short>(digit.get_freq1().getValue());
  const auto freq2 = static_cast<unsigned short>(digit.get_freq2().getValue());
  const auto amp1 =
      params_.amp1_isPresent() ? static_cast<unsigned short>(params_.get_amp1().getValue()) : kDefaultAmplitude;
  const auto amp2 =
      params_.amp2_isPresent() ? static_cast<unsigned short>(params_.get_amp2().getValue()) : kDefaultAmplitude;
  enableToneGenerator(freq1, freq2, amp1, amp2);
  digits.erase(digits.begin());
  timer_.set(params_.toneDuration_isPresent() ? duration(params_.get_toneDuration()) : kDefaultToneMs,
             &TonecReceiver::on_DTMFToneFinish, this);
}

void TonecReceiver::on_DTMFToneFinish(Timer*) {
  enableSilence();
  timer_.set(params_.pauseDuration_isPresent() ? duration(params_.get_pauseDuration()) : kDefaultPauseMs,
             &TonecReceiver::on_DTMFPauseFinish, this);
}

void TonecReceiver::activateAudibleCall() {
  // A digit sending that is still running ends here, and says so: otherwise
  // its flag would stay set for good, the wait tone could never be
  // cancelled and the end of the sending would never be reported.
  const bool endedSending = sending_;
  if (sending_) {
    sending_ = false;
    params_.set_digits().clear();
  }
  on_waitPauseFinish(nullptr);
  if (endedSending) tone_gen_complete();
}

void TonecReceiver::on_waitPauseFinish(Timer*) {
  enableToneGenerator(kWaitToneHz, 0, kWaitToneAmplitude, kWaitToneAmplitude);
  timer_.set(kWaitToneMs, &TonecReceiver::on_waitToneFinish, this);
}

void TonecReceiver::on_waitToneFinish(Timer*) {
  enableSilence();
  timer_.set(kWaitPauseMs, &TonecReceiver::on_waitPauseFinish, this);
}

void TonecReceiver::cancelAudibleCall() {
  if (sending_) return;
  disableToneGenerator(true);
  timer_.reset();
}

void TonecReceiver::on_DTMFWaitRestore(Timer*) { disableToneGenerator(true); }

}  // namespace Hardware
