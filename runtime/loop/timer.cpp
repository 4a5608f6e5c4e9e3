#include "runtime/loop/timer.h"

#include "runtime/loop/multiplexer.h"
#include "runtime/os/clock.h"

TimerEvent::~TimerEvent() { reset(); }

void TimerEvent::schedule(unsigned int ms) {
  expiry = Mux::milliseconds() + ms;
  multiplexer.set(this);
}

void TimerEvent::reset() { multiplexer.reset(this); }

void Timer::reset() {
  TimerEvent* e = event_;
  event_ = nullptr;
  delete e;
}

unsigned int Timer::remaining() const {
  if (!event_) return 0;
  int d = static_cast<int>(event_->expiry - Mux::milliseconds());
  return d > 0 ? static_cast<unsigned int>(d) : 0u;
}
