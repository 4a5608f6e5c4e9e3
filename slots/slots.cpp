#include "slots/slots.h"

#include "slots/slot_factory.h"

Slots& Slots::instance() {
  static Slots service;
  return service;
}

void Slots::UpdateHardwareResources() {
#if TSD_HAVE_LGCP
  LGCP::Resources res;
  res.set_rtp_g729(0);
  res.set_rtp_g723(0);
  res.set_rtp_g711(0);
  res.set_rtp_g711mcc(0);
  res.set_modem(0);
  res.set_mcc_data(0);
  res.set_mcc_bri(0);
  res.set_mcc_trans(0);
  res.set_t38_instances(0);
  res.set_digital_modems(0);
  res.set_lin16(0);
  res.set_mux(true);
  res.omit_drvVersion();
  // The factories of the chain add their counts here once they report them.
  SendSignal(LGCP::Signal(LGCP::Signal::query::Id(), res));
#endif
}
