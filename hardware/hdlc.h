#pragma once
// HDLC data-link channels on the board's multichannel controller
// ("/dev/mcc/ctl"). Each activation opens the device, allocates one
// controller channel, cross-connects it through HwMux to its line
// timeslot(s), and then moves whole frames: one frame per read, one per
// write. Users receive frames, readiness and errors through HDLC::Notify.
#include <cstdint>
#include <iosfwd>

#include "runtime/loop/event.h"
#include "runtime/packet/packet.h"

// The transmit side shared by HDLC channels and the ISDN slot.
class GenericHDLC {
 public:
  virtual ~GenericHDLC() {}
  // Sends the packet as one frame; true when accepted.
  virtual bool hdlc_transmit(Packet& p) = 0;
  virtual bool is_open() const = 0;
  virtual bool is_ready() const = 0;
};

class HDLC : public GenericHDLC {
 public:
  // The receive side, implemented by the channel's user.
  class Notify {
   public:
    struct Cause {
      enum Type { ReadError = 0 };
    };
    virtual ~Notify() {}
    // One received frame; the user may keep a copy of the Packet.
    virtual void on_hdlc_receive(Packet& p) = 0;
    // The channel failed and has already deactivated itself.
    virtual void on_hdlc_error(Cause::Type cause) = 0;
    // The channel has become able to take frames.
    virtual void on_hdlc_ready() = 0;
  };

  struct Params {
    int32_t trunk = 0;
    int32_t timeslot = 0;  // line timeslot, shown in the log prefix
    int32_t tdm = -1;      // multiplexer channel the controller receives from (and sends to, but type 2)
    int32_t tdm_out = -1;  // multiplexer channel the controller sends to for type 2
    int32_t type = 0;      // 0 SS7 link, 1 data link, 2 ISDN BRI D channel
  };

  struct Statistics {
    uint32_t txSU = 0;        // frames written
    uint32_t txDiscard = 0;   // refused: channel not active
    uint32_t txError = 0;     // write failed (not EINTR/EAGAIN)
    uint32_t txOverflow = 0;  // never counted
    uint32_t rxSU = 0;        // frames received and handed on
  };

  HDLC();
  ~HDLC() override;
  HDLC(const HDLC&) = delete;
  HDLC& operator=(const HDLC&) = delete;

  void params(const Params& p) { params_ = p; }
  const Params& params() const { return params_; }
  void trunk(unsigned t) { trunk_ = t; }
  void logLevel(unsigned level) { logLevel_ = level; }
  void bind(Notify* n) { notify_ = n ? n : stub(); }
  void unbind() { notify_ = stub(); }

  // Opens and connects the channel; true on success.
  bool activate();
  void deactivate();

  bool hdlc_transmit(Packet& p) override;
  bool is_open() const override { return event_.IsActive(); }
  bool is_ready() const override { return ready_; }
  const Statistics& statistics() const { return stats_; }

  void PutHeader(std::ostream& os) const;
  void on_event(int fd, short revents);
  void do_read();

 private:
  static Notify* stub();
  void readError(const char* text);

  bool ready_ = false;
  Params params_;
  Statistics stats_;
  Event event_;
  unsigned logLevel_ = 0;
  unsigned trunk_ = 0;
  Notify* notify_ = nullptr;
  // Changes at every activation and deactivation, so that an event handler
  // can tell whether the channel it started with is still the same.
  unsigned generation_ = 0;
};
