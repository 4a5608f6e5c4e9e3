#pragma once
// Cyclic<T, M>: a sequence number counting modulo M + 1 with the window test
// of sliding-window protocols: `a <= b <= c` is true when b lies on the way
// from a up to c (both included), modulo M + 1.
//
// Containers::CyclicList: an intrusive ring whose head and members are the
// same node type; Containers::offset gets from a node to its embedding object.
#include <cstddef>
#include <type_traits>

template <class T, T M>
class Cyclic {
 public:
  static constexpr T modulus = M + 1;

  struct LessEqPair {
    T a;
    T b;
    bool operator<=(const Cyclic& c) const {
      return static_cast<T>((b - a) & M) <= static_cast<T>((static_cast<T>(c) - a) & M);
    }
  };

  Cyclic() = default;
  Cyclic(T v) : v_(v & M) {}  // NOLINT: implicit by design
  operator T() const { return v_; }

  Cyclic operator+(const Cyclic& b) const { return Cyclic(v_ + b.v_); }
  Cyclic operator-(const Cyclic& b) const { return Cyclic(v_ - b.v_); }
  Cyclic& operator++() {
    v_ = v_ == M ? 0 : v_ + 1;
    return *this;
  }
  Cyclic operator++(int) {
    Cyclic old = *this;
    ++*this;
    return old;
  }
  Cyclic& operator--() {
    v_ = v_ == 0 ? M : v_ - 1;
    return *this;
  }
  Cyclic operator--(int) {
    Cyclic old = *this;
    --*this;
    return old;
  }
  LessEqPair operator<=(const Cyclic& b) const { return LessEqPair{v_, b.v_}; }
  bool operator==(const Cyclic& b) const { return v_ == b.v_; }
  bool operator!=(const Cyclic& b) const { return v_ != b.v_; }

 private:
  T v_ = 0;
};

namespace Containers {

class CyclicList {
 public:
  template <class Ref, class Ptr>
  class TIterator {
   public:
    explicit TIterator(Ptr n = nullptr) : node_(n) {}
    TIterator& operator++() {
      node_ = node_->next_;
      return *this;
    }
    Ref operator*() const { return *node_; }
    Ptr operator->() const { return node_; }
    bool operator==(const TIterator& o) const { return node_ == o.node_; }
    bool operator!=(const TIterator& o) const { return node_ != o.node_; }

   private:
    Ptr node_;
  };
  typedef TIterator<CyclicList&, CyclicList*> iterator;

  CyclicList() : next_(this), prev_(this) {}
  ~CyclicList() { unlink(); }
  CyclicList(const CyclicList&) = delete;
  CyclicList& operator=(const CyclicList&) = delete;

  void AddToTail(CyclicList* node) {
    node->unlink();
    node->next_ = this;
    node->prev_ = prev_;
    prev_->next_ = node;
    prev_ = node;
  }
  void unlink() {
    next_->prev_ = prev_;
    prev_->next_ = next_;
    next_ = prev_ = this;
  }
  bool alone() const { return next_ == this; }

  iterator begin() { return iterator(next_); }
  iterator end() { return iterator(this); }

 private:
  CyclicList* next_;
  CyclicList* prev_;
};

// The object of type T that embeds node as its member `member`.
template <class T>
T* offset(CyclicList* node, CyclicList T::*member) {
  // A correctly aligned, unconstructed probe; only addresses are taken.
  static typename std::aligned_storage<sizeof(T), alignof(T)>::type storage;
  const T* probe = reinterpret_cast<const T*>(&storage);
  std::ptrdiff_t off = reinterpret_cast<const char*>(&(probe->*member)) - reinterpret_cast<const char*>(probe);
  return reinterpret_cast<T*>(reinterpret_cast<char*>(node) - off);
}

template <class T>
T* offset(CyclicList& node, CyclicList T::*member) {
  return offset<T>(&node, member);
}

}  // namespace Containers
