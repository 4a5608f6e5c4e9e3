#pragma once
// RtpFactory: makes the RTP slot for a create with the alternative rtp
// whose RTP parameters carry no radio request (the radio factory takes
// those), and reports the voice driver's channel capacity per codec.
#include <iosfwd>

#include "slots/slot_factory.h"

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
