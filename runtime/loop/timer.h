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
// Arming never allocates: the Timer holds its queue entry.
// Periods must not exceed 7200000 ms.
#include <cstddef>
#include <cstring>
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

  bool queued() const { return queued_; }

  unsigned int expiry = 0;

 private:
  friend class Multiplexer;
  bool queued_ = false;
};

// A Timer holds its one queue entry itself: arming (re-arming included)
// stores the call in place and (re)queues the entry, without allocating.
class Timer {
 public:
  Timer() : entry_(this) {}
  ~Timer() { reset(); }
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  // T is taken from the method, so a derived object may arm a base's method.
  template <class T>
  void set(unsigned int ms, void (T::*method)(), typename std::common_type<T>::type* obj) {
    arm(ms, &call1<T>, obj, &method, sizeof method);
  }
  template <class T>
  void set(unsigned int ms, void (T::*method)(Timer*), typename std::common_type<T>::type* obj) {
    arm(ms, &call2<T>, obj, &method, sizeof method);
  }

  void reset();
  // True from arming until the call starts (false inside the callback
  // until it re-arms).
  bool is_running() const;
  // Remaining milliseconds until the pending call (0 when idle or due).
  unsigned int remaining() const;

 private:
  // Room for any pointer to member function (two words in the usual ABIs).
  typedef unsigned char MethodBytes[2 * sizeof(void*)];
  typedef void (*Thunk)(void* obj, const MethodBytes& method, Timer* timer);

  class Entry : public TimerEvent {
   public:
    explicit Entry(Timer* owner) : owner_(owner) {}
    void fire() override { owner_->fire(); }

   private:
    Timer* owner_;
  };

  template <class T>
  static void call1(void* obj, const MethodBytes& m, Timer*) {
    void (T::*method)();
    std::memcpy(&method, m, sizeof method);
    (static_cast<T*>(obj)->*method)();
  }
  template <class T>
  static void call2(void* obj, const MethodBytes& m, Timer* t) {
    void (T::*method)(Timer*);
    std::memcpy(&method, m, sizeof method);
    (static_cast<T*>(obj)->*method)(t);
  }

  void arm(unsigned int ms, Thunk thunk, void* obj, const void* method, std::size_t size);
  void fire();

  Entry entry_;
  Thunk thunk_ = nullptr;
  void* obj_ = nullptr;
  MethodBytes method_ = {};
};

// A plain-function timer event, queued on construction, owned by the
// queue: it deletes itself after firing.
class SimpleTimerEvent1 : public TimerEvent {
 public:
  SimpleTimerEvent1(void (*fn)(), unsigned int ms) : fn_(fn) { schedule(ms); }
  void fire() override {
    fn_();
    delete this;
  }

 private:
  void (*fn_)();
};

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
