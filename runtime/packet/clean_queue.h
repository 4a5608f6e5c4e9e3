#pragma once
// A fixed ring of N elements (used with T = Packet). Taking an element out
// releases its slot, and clear() releases every slot, so a queue never keeps
// a pool buffer alive for a frame that has left it.

template <class T, unsigned int N>
class CleanQueue {
 public:
  CleanQueue() = default;
  ~CleanQueue() = default;  // the slots release their elements
  CleanQueue(const CleanQueue&) = delete;
  CleanQueue& operator=(const CleanQueue&) = delete;

  bool put(const T& x) {
    if (count_ >= N) return false;
    slots_[tail_] = x;
    tail_ = inc_index(tail_);
    ++count_;
    return true;
  }

  // x becomes the oldest element (the front of the queue).
  bool append(const T& x) {
    if (count_ >= N) return false;
    head_ = dec_index(head_);
    slots_[head_] = x;
    ++count_;
    return true;
  }

  bool get(T* out) {
    if (count_ == 0) return false;
    *out = slots_[head_];
    slots_[head_] = T();
    head_ = inc_index(head_);
    --count_;
    return true;
  }
  bool get(T& out) { return get(&out); }

  // Takes the newest element.
  bool get_last(T* out) {
    if (count_ == 0) return false;
    tail_ = dec_index(tail_);
    *out = slots_[tail_];
    slots_[tail_] = T();
    --count_;
    return true;
  }
  bool get_last(T& out) { return get_last(&out); }

  bool preview(T* out) const {
    if (count_ == 0) return false;
    if (out) *out = slots_[head_];
    return true;
  }
  bool preview(T& out) const { return preview(&out); }

  unsigned int count() const { return count_; }
  unsigned int size() const { return N; }
  bool empty() const { return count_ == 0; }
  bool full() const { return count_ >= N; }

  // Empties the queue and releases every element it held.
  void clear() {
    for (unsigned int i = 0; i < N; ++i) slots_[i] = T();
    head_ = tail_ = count_ = 0;
  }

  unsigned int inc_index(unsigned int i) const { return i > N - 2 ? 0 : i + 1; }
  unsigned int dec_index(unsigned int i) const { return i == 0 ? N - 1 : i - 1; }

 private:
  T slots_[N];
  unsigned int head_ = 0;
  unsigned int tail_ = 0;
  unsigned int count_ = 0;
};
