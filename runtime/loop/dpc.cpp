#include "runtime/loop/dpc.h"

#include "runtime/loop/multiplexer.h"

Dpc::~Dpc() {
  Deactivate();
  delete handler_;
}

void Dpc::Bind(DpcHandler* h) {
  if (h == handler_) return;
  DpcHandler* old = handler_;
  handler_ = h;
  delete old;
}

void Dpc::Activate() {
  if (active_) return;
  multiplexer.attach(this);
  active_ = true;
}

void Dpc::Deactivate() {
  if (!active_) return;
  multiplexer.dettach(this);
  active_ = false;
}
