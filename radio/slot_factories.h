#pragma once
// The thirteen slot factories in the daemon's order: the one made last is
// asked first. Start-up and the in-process test daemons make them here.
#include "radio/rtp_vork_factory.h"
#include "slots/factories.h"

inline void CreateSlotFactories() {
  MapFactory::instance();
  PstnFactory::instance();
  RtpFactory::instance();
  ModemFactory::instance();
  Mixer::MixerFactory::instance();
  ExtFactory::instance();
  MccFactory::instance();
  EchoFactory::instance();
  VoiceFactory::instance();
  T38SoftFactory::instance();
  IsdnFactory::instance();
  RtpVORKFactory::instance();
  HdlcSlotFactory::instance();
}
