#include "radio/rtp_vork_factory.h"

RtpVORKFactory& RtpVORKFactory::instance() {
  static RtpVORKFactory factory;
  return factory;
}
