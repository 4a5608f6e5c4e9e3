#include "slots/echo_slot.h"

#include <iostream>

void EchoSlot::IAfterCreate() {
  OnChangeOutputStream(true);
  OnChangeInputStream(true);
}

EchoFactory& EchoFactory::instance() {
  static EchoFactory factory;
  return factory;
}

EchoFactory::EchoFactory() : mPresent() { Scan(); }

void EchoFactory::Scan() {
  for (bool& present : mPresent) present = false;
  std::clog << "Scanning echo channels ..." << std::endl;
}

Slot* EchoFactory::INewSlot(const LGCP::CreateParams& params) {
  if (!params.echo_isSelected()) return nullptr;
  long bus = params.get_echo().get_bus().getValue();
  long channel = params.get_echo().get_channel().getValue();
  // A channel beyond its bus would land on the next bus's channels.
  if (bus < 0 || bus >= long(kBuses) || !mPresent[bus] || channel < 0 || channel >= long(kChannelsPerBus))
    return nullptr;
  return new EchoSlot(unsigned(kChannelsPerBus * bus + channel));
}

void EchoFactory::Query(LGCP::Resources& resources) {
  for (unsigned bus = 0; bus < kBuses; ++bus)
    if (mPresent[bus]) resources.set_echoBus().push_back(ASN1::INTEGER(int(bus), &ASN1::INTEGER::theInfo));
}
