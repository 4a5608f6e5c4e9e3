#pragma once
// Deferred calls: while active, a Dpc runs on every deferred-call phase of
// the loop, twice per pass (after the due timers and just before the poll),
// active Dpcs in ascending address order. A one-shot call deactivates itself
// in its callback.
//
//   Dpc dpc_;
//   dpc_.Bind(this, &Owner::OnDpc);
//   dpc_.Activate();
//   void Owner::OnDpc() { dpc_.Deactivate(); ... }

#include <type_traits>

class DpcHandler {
 public:
  virtual void Invoke() = 0;
  virtual ~DpcHandler() {}
};

class DpcHandler1 : public DpcHandler {
 public:
  explicit DpcHandler1(void (*fn)()) : fn_(fn) {}
  void Invoke() override {
    if (fn_) fn_();
  }

 private:
  void (*fn_)();
};

template <class T>
class TDpcHandler : public DpcHandler {
 public:
  TDpcHandler(T* obj, void (T::*method)()) : obj_(obj), method_(method) {}
  void Invoke() override { (obj_->*method_)(); }

 private:
  T* obj_;
  void (T::*method_)();
};

class Dpc {
 public:
  Dpc() = default;
  ~Dpc();
  Dpc(const Dpc&) = delete;
  Dpc& operator=(const Dpc&) = delete;

  void Bind(DpcHandler* h);
  void Bind(void (*fn)()) { Bind(new DpcHandler1(fn)); }
  template <class T>
  void Bind(typename std::common_type<T>::type* obj, void (T::*method)()) {
    Bind(new TDpcHandler<T>(obj, method));
  }

  void Activate();
  void Deactivate();
  bool IsActive() const { return active_; }
  void Invoke() {
    if (handler_) handler_->Invoke();
  }

 private:
  DpcHandler* handler_ = nullptr;
  bool active_ = false;
};
