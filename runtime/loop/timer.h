#pragma once
// One-shot millisecond timers on the loop's clock (Mux::milliseconds()).
//
//   class Link {
//     Timer t1_;
//     void OnT1(Timer* t);          // or void OnT1();
//    public:
//     void start() { t1_.set(45000, &Link::OnT1, this); }
//   };
//
// Arming an armed Timer replaces the pending call; reset() or destruction
// cancels it. The callback may re-arm, reset or destroy its Timer or owner.
// Periods must not exceed 7200000 ms.
#include <type_traits>

#include "runtime/loop/dual_list.h"

class Timer;

class TimerEvent : public F_dual_list_item<TimerEvent> {
 public:
  TimerEvent() = default;
  virtual ~TimerEvent();
  TimerEvent(const TimerEvent&) = delete;
  TimerEvent& operator=(const TimerEvent&) = delete;

  virtual void fire() = 0;

  // expiry := Mux::milliseconds() + ms; (re)queued in expiry order.
  void schedule(unsigned int ms);
  void reset();
  // Signed 32-bit difference of the expiries (negative: this one is earlier).
  int compare(const TimerEvent* other) const { return static_cast<int>(expiry - other->expiry); }

  unsigned int expiry = 0;

 private:
  friend class Multiplexer;
  bool queued_ = false;
};

class Timer {
 public:
  Timer() = default;
  ~Timer() { reset(); }
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  // T is taken from the method, so a derived object may arm a base's method.
  template <class T>
  void set(unsigned int ms, void (T::*method)(), typename std::common_type<T>::type* obj);
  template <class T>
  void set(unsigned int ms, void (T::*method)(Timer*), typename std::common_type<T>::type* obj);

  void reset();
  bool is_running() const { return event_ != nullptr; }
  // Gives up the owned event without destroying it (used by firing events).
  TimerEvent* Unbind() {
    TimerEvent* e = event_;
    event_ = nullptr;
    return e;
  }
  // Remaining milliseconds until the pending call (0 when idle or due).
  unsigned int remaining() const;

 private:
  void own(TimerEvent* ev) {
    TimerEvent* old = event_;
    event_ = ev;
    delete old;
  }
  TimerEvent* event_ = nullptr;
};

template <class T>
class ObjTimerEvent1 : public TimerEvent {
 public:
  typedef void (T::*Method)();
  ObjTimerEvent1(Timer* timer, Method m, T* obj, unsigned int ms) : timer_(timer), method_(m), obj_(obj) {
    schedule(ms);
  }
  void fire() override {
    timer_->Unbind();
    (obj_->*method_)();
    delete this;
  }

 private:
  Timer* timer_;
  Method method_;
  T* obj_;
};

template <class T>
class ObjTimerEvent2 : public TimerEvent {
 public:
  typedef void (T::*Method)(Timer*);
  ObjTimerEvent2(Timer* timer, Method m, T* obj, unsigned int ms) : timer_(timer), method_(m), obj_(obj) {
    schedule(ms);
  }
  void fire() override {
    Timer* t = timer_;
    t->Unbind();
    (obj_->*method_)(t);
    delete this;
  }

 private:
  Timer* timer_;
  Method method_;
  T* obj_;
};

// A plain-function timer event, queued on construction; the arming Timer
// may be null, in which case the event is owned by the queue and deletes
// itself after firing.
class SimpleTimerEvent1 : public TimerEvent {
 public:
  SimpleTimerEvent1(Timer* timer, void (*fn)(), unsigned int ms) : timer_(timer), fn_(fn) { schedule(ms); }
  void fire() override {
    if (timer_) timer_->Unbind();
    fn_();
    delete this;
  }

 private:
  Timer* timer_;
  void (*fn_)();
};

template <class T>
void Timer::set(unsigned int ms, void (T::*method)(), typename std::common_type<T>::type* obj) {
  own(new ObjTimerEvent1<T>(this, method, obj, ms));
}

template <class T>
void Timer::set(unsigned int ms, void (T::*method)(Timer*), typename std::common_type<T>::type* obj) {
  own(new ObjTimerEvent2<T>(this, method, obj, ms));
}

// A constant {method, period} record of a client class:
//   static const TimerSpec<Slot> TUpdatespec;   // {&Slot::OnUpdateTimer, 3000}
//   TimerSpec<Slot>::SpecTimer<&Slot::TUpdatespec> update_;
//   update_.set(this);
template <class T>
struct TimerSpec {
  void (T::*method)();
  unsigned int period;

  template <const TimerSpec<T>* S>
  class SpecTimer : public Timer {
   public:
    void set(T* obj) { Timer::set<T>(S->period, S->method, obj); }
  };
};
