#pragma once
// Intrusive doubly linked lists: the links live in the listed objects (which
// derive from F_dual_list_item<T>), so linking and unlinking never allocate
// and never fail. The lists own nothing and do not check membership.

template <class T>
class F_dual_list;

template <class T>
class F_dual_list_item {
 public:
  constexpr F_dual_list_item() = default;
  ~F_dual_list_item() = default;

  T* get_next() const { return next; }
  T* get_prev() const { return prev; }

 private:
  friend class F_dual_list<T>;
  T* next = nullptr;
  T* prev = nullptr;
};

template <class T>
class F_dual_list {
 public:
  class iterator {
   public:
    iterator() = default;
    iterator(T* p) : p_(p) {}  // NOLINT: implicit by design
    iterator& operator++() {
      p_ = link(p_)->next;
      return *this;
    }
    iterator operator++(int) {
      iterator old = *this;
      p_ = link(p_)->next;
      return old;
    }
    bool operator!=(const iterator& o) const { return p_ != o.p_; }
    bool operator==(const iterator& o) const { return p_ == o.p_; }
    T* operator*() const { return p_; }
    T* operator->() const { return p_; }
    bool good() const { return p_ != nullptr; }
    bool operator!() const { return p_ == nullptr; }

   private:
    T* p_ = nullptr;
  };

  constexpr F_dual_list() = default;
  // Chains n cells of an array in array order: cell 0 is the head.
  F_dual_list(T* storage, unsigned int n) { init(storage, n); }
  ~F_dual_list() = default;
  F_dual_list(const F_dual_list&) = delete;
  F_dual_list& operator=(const F_dual_list&) = delete;

  void init(T* storage, unsigned int n) {
    head = tail = nullptr;
    count_ = 0;
    for (unsigned int i = 0; i < n; ++i) insert_to_tail(&storage[i]);
  }

  iterator begin() const { return iterator(head); }
  iterator end() const { return iterator(); }
  iterator last() const { return iterator(tail); }
  T* first_item() const { return head; }
  T* last_item() const { return tail; }

  void insert_to_tail(T* item) {
    link(item)->next = nullptr;
    link(item)->prev = tail;
    if (tail)
      link(tail)->next = item;
    else
      head = item;
    tail = item;
    ++count_;
  }
  void push_back(T* item) { insert_to_tail(item); }

  void insert_to_head(T* item) {
    link(item)->prev = nullptr;
    link(item)->next = head;
    if (head)
      link(head)->prev = item;
    else
      tail = item;
    head = item;
    ++count_;
  }

  void insert_after(T* position, T* item) {
    link(item)->next = link(position)->next;
    link(item)->prev = position;
    if (link(position)->next)
      link(link(position)->next)->prev = item;
    else
      tail = item;
    link(position)->next = item;
    ++count_;
  }

  T* remove(T* item) {
    F_dual_list_item<T>* l = link(item);
    if (l->prev)
      link(l->prev)->next = l->next;
    else
      head = l->next;
    if (l->next)
      link(l->next)->prev = l->prev;
    else
      tail = l->prev;
    --count_;
    return item;
  }

  T* remove_from_head() {
    if (!head) return nullptr;
    T* item = head;
    head = link(item)->next;
    if (head)
      link(head)->prev = nullptr;
    else
      tail = nullptr;
    --count_;
    return item;
  }

  T* remove_from_tail() {
    if (!tail) return nullptr;
    T* item = tail;
    tail = link(item)->prev;
    if (tail)
      link(tail)->next = nullptr;
    else
      head = nullptr;
    --count_;
    return item;
  }

  // Linear search; the lists themselves never need it, callers that must
  // know whether an object is listed use it before removing.
  bool contains(const T* item) const {
    for (T* p = head; p; p = link(p)->next)
      if (p == item) return true;
    return false;
  }

  unsigned int size() const { return count_; }
  unsigned int count() const { return count_; }
  bool empty() const { return count_ == 0; }

  // Exchanges the contents of the two lists in constant time.
  void merge(F_dual_list& other) {
    T* h = head;
    T* t = tail;
    unsigned int c = count_;
    head = other.head;
    tail = other.tail;
    count_ = other.count_;
    other.head = h;
    other.tail = t;
    other.count_ = c;
  }

 protected:
  static F_dual_list_item<T>* link(T* p) { return static_cast<F_dual_list_item<T>*>(p); }
  static const F_dual_list_item<T>* link(const T* p) {
    return static_cast<const F_dual_list_item<T>*>(p);
  }

  T* head = nullptr;
  T* tail = nullptr;
  unsigned int count_ = 0;
};

// A list kept in key order: T provides `int compare(T const*) const`
// (below 1: the object does not come after the argument).
template <class T>
class F_sorted_list : public F_dual_list<T> {
 public:
  constexpr F_sorted_list() = default;

  // Walks from the tail and inserts after the first object that does not
  // come after the new one, so equal keys keep their insertion order.
  void insert_to_tail_by_grown(T* item) {
    for (T* p = this->tail; p; p = this->link(p)->get_prev()) {
      if (p->compare(item) < 1) {
        this->insert_after(p, item);
        return;
      }
    }
    this->insert_to_head(item);
  }
};
