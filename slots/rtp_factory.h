#pragma once
// RtpFactory: makes the RTP slot for a create with the alternative rtp
// whose RTP parameters carry no radio request (the radio factory takes
// those), and reports the voice driver's channel capacity per codec.
#include <functional>
#include <iosfwd>

#include "hardware/devices.h"
#include "runtime/os/fd.h"
#include "slots/slot_factory.h"

// What opening an RTP session leaves for the slot; the plain and the radio
// RTP factories open theirs alike.
struct RtpSessionStart {
  rtp_connection_params block;  // as sent to the driver
  Fd rtcp;                      // bound to the local RTP port plus one
  Fd device;                    // the RTP driver with the session begun
  rtp_channel_info info;        // the channel the driver added
};

class RtpFactory : public SlotFactory {
 public:
  static RtpFactory& instance();

  const char* GetName() const override { return "RTP"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  void Query(LGCP::Resources& resources) override;
  // Reads the channel counts of the voice driver.
  void IQuery();

  // RTP payload type of a payload; 0 for one without a type.
  static int translateCodec(TERM::Payload::NamedNumber payload);
  // The type of `payload`, unless `direction` names another payload that
  // is G.711 A-law or u-law: then that one's.
  static int translateCodec(TERM::Payload::NamedNumber payload, TERM::Payload::NamedNumber direction);
  // The type of a payload, -1 for one without a type.
  static int payloadType(TERM::Payload::NamedNumber payload);

  using Header = std::function<std::ostream&(std::ostream&)>;
  // Checks the addresses, binds the RTCP socket, begins the driver session
  // and adds its channel; the first step that fails is logged after
  // `header` and gives false.
  static bool StartSession(const LGCP::CreateRtpParams& params, const Header& header, RtpSessionStart& out);
  // The voice driver's channel counts per codec; G.711, G.723 and G.729
  // start from 0, the G.711 mcc count is kept when the driver is absent.
  static void ReadCapacity(const Header& header, int& g729, int& g723, int& g711, int& g711mcc);

  // The factory's log prefix: "rtp[<g723>,<g729>,<g711>]: ".
  std::ostream& PutHeader(std::ostream& os) const;

  int g729() const { return g729_; }
  int g723() const { return g723_; }
  int g711() const { return g711_; }
  int g711mcc() const { return g711mcc_; }

 private:
  RtpFactory();

  int g729_ = 0;
  int g723_ = 0;
  int g711_ = 0;
  int g711mcc_ = 0;
};
