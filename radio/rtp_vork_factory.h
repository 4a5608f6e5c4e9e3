#pragma once
// RtpVORKFactory: makes the radio RTP slot (gateway role) for a create with
// the alternative rtp whose RTP parameters carry a radio request with a
// vork status, and reports the voice driver's channel capacity per codec.
#include <iosfwd>

#include "slots/slot_factory.h"

class RtpVORKFactory : public SlotFactory {
 public:
  static RtpVORKFactory& instance();

  const char* GetName() const override { return "RTP Ext VORK"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  void Query(LGCP::Resources& resources) override;
  // Reads the channel counts of the voice driver.
  void IQuery();

  // The payload types: the same mapping as the plain RTP slots.
  static int translateCodec(TERM::Payload::NamedNumber payload);
  static int translateCodec(TERM::Payload::NamedNumber payload, TERM::Payload::NamedNumber direction);

  // The factory's log prefix: "rtp ext VORK[<g723>,<g729>,<g711>]: ".
  std::ostream& PutHeader(std::ostream& os) const;

  int g729() const { return g729_; }
  int g723() const { return g723_; }
  int g711() const { return g711_; }
  int g711mcc() const { return g711mcc_; }

 private:
  RtpVORKFactory();

  int g729_ = 0;
  int g723_ = 0;
  int g711_ = 0;
  int g711mcc_ = 0;
};
