// Connections between slots: the logical graph (source and receivers of
// each slot) and the hardware path are kept in step. The side with the
// higher connection priority programs the path; at equal priorities the
// receiver connects and the transmitter disconnects.
#include <iostream>

#include "hardware/hwmux.h"
#include "slots/slot.h"

bool Connect(Slot& transmitter, Slot& receiver) {
  if (receiver.GetSource() == &transmitter) return true;

  if (transmitter.GetReceivers().empty()) {
    if (!transmitter.IOnOutputStream()) {
      std::cerr << "slot " << transmitter << " don't have output stream to " << receiver << std::endl;
      return false;
    }
    transmitter.OnChangeOutputStream(true);
  }

  Slot* previous = receiver.GetSource();
  if (!previous) {
    if (!receiver.IOnInputStream()) {
      std::cerr << "slot " << receiver << " don't have input stream from " << transmitter << std::endl;
      return false;
    }
    receiver.OnChangeInputStream(true);
  } else {
    // Take the old path down first; the logical link goes after success.
    llDisconnect(receiver);
  }

  if (!llConnect(transmitter, receiver)) {
    if (previous && !llConnect(*previous, receiver)) {
      // The old path was taken down above and cannot be restored: drop the
      // old link too, so that the graph does not claim a path that is gone.
      receiver.LogicalDisconnect();
      if (previous->GetReceivers().empty()) previous->IOnOutputRelease();
    }
    if (!receiver.GetSource()) receiver.IOnInputRelease();
    if (transmitter.GetReceivers().empty()) transmitter.IOnOutputRelease();
    return false;
  }

  if (previous) {
    receiver.LogicalDisconnect();
    if (previous->GetReceivers().empty()) previous->IOnOutputRelease();
  }
  receiver.LogicalConnect(transmitter);
  return true;
}

bool Disconnect(Slot& receiver) {
  Slot* source = receiver.GetSource();
  if (!source) return true;
  bool result = llDisconnect(receiver);
  // The logical link goes even when the hardware refused.
  receiver.LogicalDisconnect();
  receiver.IOnInputRelease();
  if (source->GetReceivers().empty()) source->IOnOutputRelease();
  return result;
}

bool llConnect(Slot& transmitter, Slot& receiver) {
  if (transmitter.GetConnectionPriority() <= receiver.GetConnectionPriority())
    return receiver.IHwConnectReceiver(transmitter);
  return transmitter.IHwConnectTransmitter(receiver);
}

bool llDisconnect(Slot& receiver) {
  Slot* source = receiver.GetSource();
  if (!source) return false;
  if (receiver.GetConnectionPriority() <= source->GetConnectionPriority())
    return source->IHwDisconnectTransmitter(receiver);
  return receiver.IHwDisconnectReceiver(*source);
}

bool MuxConnect(Slot& transmitter, Slot& receiver) {
  int tx = transmitter.IGetTransmitChannel();
  int rx = receiver.IGetReceiveChannel();
  if (!HwMux::instance()->Connect(tx, rx)) return false;
  std::clog << "mux: slot " << transmitter << " [" << tx << "] -> " << receiver << " [" << rx << "]" << std::endl;
  return true;
}

bool MuxDisconnect(Slot& receiver) {
  int rx = receiver.IGetReceiveChannel();
  if (!HwMux::instance()->Disconnect(rx)) return false;
  std::clog << "mux: disconnect slot " << receiver << " [" << rx << "]" << std::endl;
  return true;
}
