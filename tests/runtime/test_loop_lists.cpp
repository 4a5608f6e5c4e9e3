#include <gtest/gtest.h>

#include <vector>

#include "runtime/loop/dual_list.h"

namespace {

struct Item : F_dual_list_item<Item> {
  explicit Item(int k = 0, int t = 0) : key(k), tag(t) {}
  int compare(const Item* o) const { return key - o->key; }
  int key;
  int tag;
};

// A type whose list base is not its first base, to check the links are
// reached through the base wherever it lies.
struct Padding {
  char pad[24] = {};
};
struct Offset : Padding, F_dual_list_item<Offset> {
  int v = 0;
};

template <class L>
std::vector<int> keys(const L& l) {
  std::vector<int> out;
  for (auto it = l.begin(); it != l.end(); ++it) out.push_back(it->key * 10 + it->tag);
  return out;
}

TEST(DualList, InsertRemoveKeepLinksConsistent) {
  F_dual_list<Item> l;
  Item a(1), b(2), c(3), d(4);
  l.insert_to_tail(&b);
  l.insert_to_head(&a);
  l.insert_to_tail(&d);
  l.insert_after(&b, &c);
  EXPECT_EQ(keys(l), (std::vector<int>{10, 20, 30, 40}));
  l.insert_after(&d, new Item(5));  // after the tail: becomes the tail
  Item* five = l.remove_from_tail();
  EXPECT_EQ(five->key, 5);
  delete five;
  l.remove(&b);
  EXPECT_EQ(keys(l), (std::vector<int>{10, 30, 40}));
  EXPECT_EQ(a.get_next(), &c);
  EXPECT_EQ(c.get_prev(), &a);
  EXPECT_EQ(l.remove_from_head(), &a);
  EXPECT_EQ(l.remove_from_tail(), &d);
  EXPECT_EQ(l.begin().operator->(), &c);
  EXPECT_EQ(c.get_prev(), nullptr);
  EXPECT_EQ(c.get_next(), nullptr);
  EXPECT_EQ(l.count(), 1u);
}

TEST(SortedList, EqualKeysKeepInsertionOrder) {
  F_sorted_list<Item> l;
  Item a(5, 1), b(3, 0), c(5, 2), d(9, 0);
  l.insert_to_tail_by_grown(&a);
  l.insert_to_tail_by_grown(&b);
  l.insert_to_tail_by_grown(&c);
  l.insert_to_tail_by_grown(&d);
  EXPECT_EQ(keys(l), (std::vector<int>{30, 51, 52, 90}));
  Item e(1, 0), f(9, 1);
  l.insert_to_tail_by_grown(&e);
  l.insert_to_tail_by_grown(&f);
  EXPECT_EQ(keys(l), (std::vector<int>{10, 30, 51, 52, 90, 91}));
  EXPECT_EQ(l.count(), 6u);
}

}  // namespace
