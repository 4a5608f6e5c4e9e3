#pragma once
// Voice-activity (VAD), SD and mute service of the DSP ("/dev/dsp").
//
// DSProcReceiverService is the process's one user of the device: it
// configures and switches the detectors and the muting of each timeslot and
// routes the detector events. A slot carrying audio on a DSP timeslot
// derives from DSProcReceiver: it names its timeslot, remembers what was
// switched for it and takes its VAD and SD events.
#include <cstdint>

#include "runtime/loop/event.h"
#include "runtime/packet/cyclic.h"

namespace Hardware {

class DSProcReceiver;

// A VAD event: the value of each direction, -1 where the event does not
// report that direction.
struct DSProcVADEvent {
  int32_t rx;
  int32_t tx;
};

// An SD event: the receive state.
struct DSProcSDEvent {
  int32_t rx;
};

class DSProcReceiverService {
 public:
  // Detector types and function mask bits as the driver takes them.
  enum { TypeVAD = 1, TypeSD = 2 };
  enum { MaskVAD = 1, MaskSD = 2, MaskMuteRx = 4, MaskMuteTx = 8 };
  static constexpr unsigned kEventSize = 24;

  // The process's service, made (and the device opened) at the first call.
  static DSProcReceiverService& instance();

  // The process uses instance(); tests may make their own.
  DSProcReceiverService();
  DSProcReceiverService(const DSProcReceiverService&) = delete;
  DSProcReceiverService& operator=(const DSProcReceiverService&) = delete;

  // Opens "/dev/dsp" and registers it with the loop.
  void init();
  bool isOpen() const { return event_.IsActive(); }
  int lowlevel_fd() const { return event_.lowlevel_fd(); }
  uint32_t lastId() const { return lastId_; }

  bool configureVAD(unsigned timeslot);
  bool configureSD(unsigned timeslot);
  bool enableVAD(DSProcReceiver& receiver, bool on);
  bool enableSD(DSProcReceiver& receiver, bool on);
  bool enableMute(DSProcReceiver& receiver, bool rx, bool tx);

  // Readiness of the device: reads and routes whole event records.
  void OnEvent(int fd, short revents);

 private:
  struct Detector;
  bool configure(unsigned timeslot, bool vad);
  bool enable(DSProcReceiver& receiver, const Detector& d, bool on);

  Event event_;
  uint32_t lastId_ = 0;
};

class DSProcReceiver {
 public:
  DSProcReceiver();
  virtual ~DSProcReceiver();
  DSProcReceiver(const DSProcReceiver&) = delete;
  DSProcReceiver& operator=(const DSProcReceiver&) = delete;

  virtual void dsproc_vad_event(DSProcVADEvent const& event) = 0;
  virtual void dsproc_sd_event(DSProcSDEvent const& event) = 0;
  virtual unsigned dsproc_timeslot() const = 0;

  bool configureVAD();
  bool enableVAD(bool on);
  bool disableVAD();
  bool configureSD();
  bool enableSD(bool on);
  bool disableSD();
  bool enableMute(bool rx, bool tx);
  bool disableMute();

  // States: -1 never switched, 0 off, 1 on.
  int32_t vadState() const { return vadState_; }
  uint32_t vadId() const { return vadId_; }
  int32_t sdState() const { return sdState_; }
  uint32_t sdId() const { return sdId_; }
  int32_t muteRx() const { return muteRx_; }
  int32_t muteTx() const { return muteTx_; }
  uint32_t muteId() const { return muteId_; }

 private:
  friend class DSProcReceiverService;

  struct Link : Containers::CyclicList {
    explicit Link(DSProcReceiver* r) : owner(r) {}
    DSProcReceiver* owner;
  };

  int32_t vadState_ = -1;
  uint32_t vadId_ = 0;
  int32_t sdState_ = -1;
  uint32_t sdId_ = 0;
  int32_t muteRx_ = -1;
  int32_t muteTx_ = -1;
  uint32_t muteId_ = 0;
  Link link_;
};

}  // namespace Hardware
