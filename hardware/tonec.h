#pragma once
// DTMF detector and tone generator service of the DSP ("/dev/dtmf").
//
// TonecReceiverService is the process's one user of the device: it owns the
// descriptor, issues the per-timeslot requests (detector configuration and
// enable, echo canceller, DTMF rejection, tone generator) and routes the
// detector's events. A slot carrying audio on a DSP timeslot derives from
// TonecReceiver: it names its timeslot, takes the detector events of that
// timeslot and plays digit sendings and the audible call (wait tone) on its
// own timer.
#include <cstdint>

#include "messages/LGCP.h"
#include "runtime/loop/event.h"
#include "runtime/loop/timer.h"
#include "runtime/packet/cyclic.h"

namespace Hardware {

class TonecReceiver;

class TonecReceiverService {
 public:
  // The process's service, made (and the device opened) at the first call.
  static TonecReceiverService& instance();

  // The process uses instance(); tests may make their own.
  TonecReceiverService();
  TonecReceiverService(const TonecReceiverService&) = delete;
  TonecReceiverService& operator=(const TonecReceiverService&) = delete;

  // Opens "/dev/dtmf" and registers it with the loop.
  void init();
  bool isOpen() const { return event_.IsActive(); }
  // The device descriptor (-1 while not open).
  int lowlevel_fd() const { return event_.lowlevel_fd(); }
  uint32_t lastId() const { return lastId_; }

  bool configureDTMF(unsigned timeslot, LGCP::DTMFParams const& params);
  bool enableDTMF(TonecReceiver& receiver, bool on);
  bool echoCancel(unsigned timeslot, bool on);
  bool enableDTMFReject(unsigned timeslot, bool on);
  bool enableToneGenerator(unsigned timeslot, unsigned short freq1, unsigned short freq2, unsigned short amp1,
                           unsigned short amp2);

  // Readiness of the device: reads and routes whole detector records.
  void OnEvent(int fd, short revents);

  // Size of one detector event record.
  static constexpr unsigned kEventSize = 16;

 private:
  bool switchByValue(uint32_t request, const char* name, unsigned timeslot);

  Event event_;
  uint32_t lastId_ = 0;
};

class TonecReceiver {
 public:
  // One detector event: the tone code and the detector's time stamp.
  struct Params {
    int32_t code;
    int32_t timestamp;
  };

  // Defaults of a digit sending and the wait tone's cadence (Hz, amplitude, ms).
  static constexpr unsigned short kDefaultAmplitude = 16384;
  static constexpr unsigned kDefaultToneMs = 70;
  static constexpr unsigned kDefaultPauseMs = 70;
  static constexpr unsigned short kWaitToneHz = 425;
  static constexpr unsigned short kWaitToneAmplitude = 0x800;
  static constexpr unsigned kWaitToneMs = 1000;
  static constexpr unsigned kWaitPauseMs = 3000;
  // The longest period the loop's timers take; longer requested durations
  // are cut to it.
  static constexpr unsigned kMaxDurationMs = 7200000;

  TonecReceiver();
  virtual ~TonecReceiver();
  TonecReceiver(const TonecReceiver&) = delete;
  TonecReceiver& operator=(const TonecReceiver&) = delete;

  virtual void tonec_event(Params const& event) = 0;
  virtual unsigned tonec_timeslot() const = 0;
  // The end of a digit sending.
  virtual void tone_gen_complete() {}

  bool configureDTMF(LGCP::DTMFParams const& params);
  bool enableDTMF(bool on);
  bool disableDTMF();
  bool echoCancel(bool on);
  bool enableDTMFReject(bool on);
  bool enableToneGenerator(unsigned short freq1, unsigned short freq2, unsigned short amp1, unsigned short amp2);
  bool enableSilence();
  // Switches the generator off when forced or while a sending runs.
  bool disableToneGenerator(bool force);

  // Starts a digit sending, or gives a running one a new list.
  void translateDTMF(LGCP::TranslateDtmfParams const& params);
  // Starts the wait tone; a running digit sending ends first.
  void activateAudibleCall();
  // Stops the wait tone unless a digit sending runs.
  void cancelAudibleCall();
  bool is_inDTMFTransmit() const { return sending_; }

  bool detectionEnabled() const { return detectionEnabled_; }
  uint32_t detectorId() const { return detectorId_; }

 private:
  friend class TonecReceiverService;

  // Ring node that knows its receiver.
  struct Link : Containers::CyclicList {
    explicit Link(TonecReceiver* r) : owner(r) {}
    TonecReceiver* owner;
  };

  void on_DTMFToneFinish(Timer*);
  void on_DTMFPauseFinish(Timer*);
  void on_waitToneFinish(Timer*);
  void on_waitPauseFinish(Timer*);
  void on_DTMFWaitRestore(Timer*);

  bool detectionEnabled_ = false;
  Timer timer_;
  bool sending_ = false;
  uint32_t detectorId_ = 0;
  LGCP::TranslateDtmfParams params_;
  Link link_;
};

}  // namespace Hardware
