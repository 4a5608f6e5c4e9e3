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
// Arming creates a timer event that the Timer owns and that queues itself
// in the loop; arming an armed Timer replaces the pending call; reset() or
// destruction cancels it. A firing event first lets go of its Timer, then
// calls, then destroys itself, so the callback may re-arm, reset or destroy
// its Timer or owner. Events live in fixed-size blocks recycled through a
// process-wide free list: a loop in steady state arms without allocating.
// Periods must not exceed 7200000 ms.
#include <cstddef>
#include <type_traits>

#include "runtime/loop/dual_list.h"

class Timer;

// The queued entry: the loop orders events by expiry and calls fire() once
// per queuing, after taking the event out of the queue.
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

  bool queued() const { return queued_; }

  // Event objects up to kBlockSize bytes come from the free list of blocks
  // (larger ones from the heap); a freed block goes back to the list.
  static void* operator new(std::size_t size);
  static void operator delete(void* p, std::size_t size) noexcept;
  static constexpr std::size_t kBlockSize = 64;

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

  // (obj->*method)() runs once, from the loop, ms milliseconds from now.
  // T is taken from the method, so a derived object may arm a base's method.
  template <class T>
  void set(unsigned int ms, void (T::*method)(), typename std::common_type<T>::type* obj);
  // The same; the call is (obj->*method)(this timer).
  template <class T>
  void set(unsigned int ms, void (T::*method)(Timer*), typename std::common_type<T>::type* obj);
  // The same for a plain function.
  void set(unsigned int ms, void (*fn)());

  // Destroys the owned event, if any: its call never happens.
  void reset();
  // True from arming until the call starts (false inside the callback
  // until it re-arms).
  bool is_running() const { return event_ != nullptr; }
  // Gives up the owned event without destroying it and returns it (null
  // when idle); the timer is idle afterwards. Firing events call it.
  TimerEvent* Unbind() {
    TimerEvent* e = event_;
    event_ = nullptr;
    return e;
  }
  // Remaining milliseconds until the pending call (0 when idle or due).
  unsigned int remaining() const;

 private:
  // Takes the new, already queued event; the old one is destroyed after,
  // which dequeues it.
  void own(TimerEvent* ev) {
    TimerEvent* old = event_;
    event_ = ev;
    delete old;
  }

  TimerEvent* event_ = nullptr;
};

// A member function without argument, called on its object.
template <class T>
class ObjTimerEvent1 : public TimerEvent {
 public:
  typedef void (T::*Method)();
  ObjTimerEvent1(Timer* timer, Method method, T* obj, unsigned int ms)
      : timer_(timer), method_(method), obj_(obj) {
    schedule(ms);
  }
  void fire() override {
    // Nothing but this event is touched after the call: the callback may
    // re-arm or destroy the timer and its owner.
    timer_->Unbind();
    (obj_->*method_)();
    delete this;
  }

 private:
  Timer* timer_;
  Method method_;
  T* obj_;
};

// A member function that receives the arming timer.
template <class T>
class ObjTimerEvent2 : public TimerEvent {
 public:
  typedef void (T::*Method)(Timer*);
  ObjTimerEvent2(Timer* timer, Method method, T* obj, unsigned int ms)
      : timer_(timer), method_(method), obj_(obj) {
    schedule(ms);
  }
  void fire() override {
    timer_->Unbind();
    (obj_->*method_)(timer_);
    delete this;
  }

 private:
  Timer* timer_;
  Method method_;
  T* obj_;
};

// A plain function without argument.
class SimpleTimerEvent1 : public TimerEvent {
 public:
  SimpleTimerEvent1(Timer* timer, void (*fn)(), unsigned int ms) : timer_(timer), fn_(fn) { schedule(ms); }
  void fire() override {
    timer_->Unbind();
    fn_();
    delete this;
  }

 private:
  Timer* timer_;
  void (*fn_)();
};

template <class T>
void Timer::set(unsigned int ms, void (T::*method)(), typename std::common_type<T>::type* obj) {
  static_assert(sizeof(ObjTimerEvent1<T>) <= TimerEvent::kBlockSize, "timer events fit a block");
  own(new ObjTimerEvent1<T>(this, method, obj, ms));
}

template <class T>
void Timer::set(unsigned int ms, void (T::*method)(Timer*), typename std::common_type<T>::type* obj) {
  static_assert(sizeof(ObjTimerEvent2<T>) <= TimerEvent::kBlockSize, "timer events fit a block");
  own(new ObjTimerEvent2<T>(this, method, obj, ms));
}

inline void Timer::set(unsigned int ms, void (*fn)()) { own(new SimpleTimerEvent1(this, fn, ms)); }

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
