#pragma once
// Intrusive reference-counting pointer. T carries its own count by deriving
// from Smart_object. For types that opt in through Smart_copy_on_write, the
// non-const operator-> first gives this handle a private copy of a shared
// object (copy on write); otherwise it returns the shared object.
#include <type_traits>

struct Smart_object {
  unsigned int smart_count = 0;
  Smart_object() = default;
  // A copy starts unshared.
  Smart_object(const Smart_object&) : smart_count(0) {}
  Smart_object& operator=(const Smart_object&) { return *this; }
};

template <class T>
struct Smart_copy_on_write : std::false_type {};

// Prints "SMART POINTER ASSERTION!" on the log stream and terminates.
[[noreturn]] void SmartPtrAssertion();

template <class T>
class Smart_pointer {
 public:
  Smart_pointer() = default;
  Smart_pointer(T* p) : p_(p) {  // NOLINT: implicit by design
    if (p_) ++p_->smart_count;
  }
  Smart_pointer(const Smart_pointer& o) : p_(o.p_) {
    if (p_) ++p_->smart_count;
  }
  ~Smart_pointer() { remove_current(); }

  Smart_pointer& operator=(const Smart_pointer& o) {
    T* p = o.p_;  // o may be this handle
    if (p) ++p->smart_count;
    remove_current();
    p_ = p;
    return *this;
  }
  Smart_pointer& operator=(T* p) {
    if (p) ++p->smart_count;
    remove_current();
    p_ = p;
    return *this;
  }

  void clean() { remove_current(); }
  void remove_current() {
    if (!p_) return;
    T* p = p_;
    p_ = nullptr;
    if (p->smart_count > 0) --p->smart_count;
    if (p->smart_count == 0) delete p;
  }

  bool null() const { return p_ == nullptr; }
  bool operator!() const { return p_ == nullptr; }
  explicit operator bool() const { return p_ != nullptr; }

  const T* operator->() const {
    if (!p_) SmartPtrAssertion();
    return p_;
  }
  T* operator->() {
    if (!p_) SmartPtrAssertion();
    prepare_for_modify();
    return p_;
  }
  const T& operator*() const {
    if (!p_) SmartPtrAssertion();
    return *p_;
  }

  void prepare_for_modify() { prepare(Smart_copy_on_write<T>()); }

  // The shared object, for reading, without the null check.
  const T* get() const { return p_; }
  unsigned int use_count() const { return p_ ? p_->smart_count : 0; }

 private:
  void prepare(std::false_type) {}
  void prepare(std::true_type) {
    if (!p_ || p_->smart_count <= 1) return;
    T* copy = new T(*p_);  // a failed copy leaves the handle unchanged
    ++copy->smart_count;
    --p_->smart_count;
    p_ = copy;
  }

  T* p_ = nullptr;
};
