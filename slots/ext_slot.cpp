#include "slots/ext_slot.h"

#include <iostream>

#include "hardware/hwmux.h"

namespace {
constexpr long kFirstChannel = 8192;
constexpr long kChannels = 2048;
}  // namespace

void ExtSlot::IAfterCreate() { OnChangeOutputStream(true); }

bool ExtSlot::IBeforeDestroy() {
  HwMux::instance()->Disable(IGetReceiveChannel());
  return true;
}

bool ExtSlot::IActivate(const TERM::TermActivateParams&) {
  // Already active: the channel may carry a connected source by now;
  // putting the idle byte on it would cut that path behind its back.
  if (GetInputStream()) return true;
  OnChangeInputStream(true);
  HwMux::instance()->Disconnect(IGetReceiveChannel());
  return true;
}

bool ExtSlot::IDeactivate() {
  OnChangeInputStream(false);
  HwMux::instance()->Disable(IGetReceiveChannel());
  return true;
}

ExtFactory& ExtFactory::instance() {
  static ExtFactory factory;
  return factory;
}

Slot* ExtFactory::INewSlot(const LGCP::CreateParams& params) {
  if (!params.ext_isSelected()) return nullptr;
  long transmitter = params.get_ext().get_transmitter().getValue();
  long receiver = params.get_ext().get_receiver().getValue();
  // Any other number would reach a trunk timeslot or no channel at all.
  if (transmitter < 0 || transmitter >= kChannels || receiver < 0 || receiver >= kChannels) {
    std::cerr << "ext-slot: channel out of range, transmitter=" << transmitter << " receiver=" << receiver
              << std::endl;
    return nullptr;
  }
  return new ExtSlot(unsigned(kFirstChannel + transmitter), unsigned(kFirstChannel + receiver));
}
