#include "runtime/loop/timer.h"

#include "runtime/loop/multiplexer.h"
#include "runtime/os/clock.h"

TimerEvent::~TimerEvent() { reset(); }

void TimerEvent::schedule(unsigned int ms) {
  expiry = Mux::milliseconds() + ms;
  multiplexer.set(this);
}

void TimerEvent::reset() { multiplexer.reset(this); }

void Timer::arm(unsigned int ms, Thunk thunk, void* obj, const void* method, std::size_t size) {
  static_assert(sizeof(void (Timer::*)()) <= sizeof(MethodBytes), "member pointers fit the timer");
  thunk_ = thunk;
  obj_ = obj;
  std::memcpy(method_, method, size);
  // Dequeued first when armed, so the period counts from this call.
  entry_.schedule(ms);
}

void Timer::fire() {
  // The loop has dequeued the entry: the timer is idle. Nothing of it is
  // touched after the call, which may re-arm, reset or destroy it.
  const Thunk thunk = thunk_;
  void* const obj = obj_;
  MethodBytes method;
  std::memcpy(method, method_, sizeof method);
  thunk(obj, method, this);
}

void Timer::reset() { entry_.reset(); }

bool Timer::is_running() const { return entry_.queued(); }

unsigned int Timer::remaining() const {
  if (!is_running()) return 0;
  int d = static_cast<int>(entry_.expiry - Mux::milliseconds());
  return d > 0 ? static_cast<unsigned int>(d) : 0u;
}
