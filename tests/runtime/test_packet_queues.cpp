#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/packet/clean_queue.h"
#include "runtime/packet/cyclic.h"
#include "runtime/packet/packet.h"

namespace {

Packet make(unsigned char tag) {
  Packet p;
  p.reserve_head(0);
  p.put8(tag);
  return p;
}

unsigned char tag_of(const Packet& p) { return p[0]; }

// A queue of 7 refuses an eighth packet without holding it, gives packets
// back in order across the ring's wrap, and holds no reference to what it
// gave back, cleared or was destroyed with.
TEST(CleanQueue, LimitOrderWrapAndReferences) {
  const unsigned int free_before = PacketPool::free_count();
  {
    CleanQueue<Packet, 7> q;
    EXPECT_EQ(q.size(), 7u);
    for (int i = 1; i <= 7; ++i) EXPECT_TRUE(q.put(make(static_cast<unsigned char>(i))));
    Packet extra = make(99);
    EXPECT_FALSE(q.put(extra));
    EXPECT_FALSE(q.append(extra));
    EXPECT_EQ(extra.use_count(), 1u);
    EXPECT_EQ(q.count(), 7u);
    Packet p;
    for (int i = 0; i < 3; ++i) q.get(p);
    EXPECT_EQ(p.use_count(), 1u);
    for (int i = 8; i <= 10; ++i) EXPECT_TRUE(q.put(make(static_cast<unsigned char>(i))));
    std::vector<int> out;
    while (q.get(p)) out.push_back(tag_of(p));
    EXPECT_EQ(out, (std::vector<int>{4, 5, 6, 7, 8, 9, 10}));
    EXPECT_TRUE(q.put(p));
    Packet last;
    q.get_last(last);
    EXPECT_EQ(last.use_count(), 2u);  // `p` and `last`
    EXPECT_TRUE(q.empty());
    EXPECT_EQ(q.inc_index(6), 0u);
    EXPECT_EQ(q.dec_index(0), 6u);
    for (int i = 0; i < 5; ++i) q.put(make(static_cast<unsigned char>(i)));
    q.clear();
    EXPECT_EQ(q.count(), 0u);
    EXPECT_TRUE(q.put(make(1)));
    EXPECT_EQ(PacketPool::free_count(), free_before - 3);  // `extra`, `p` and the one queued
  }
  EXPECT_EQ(PacketPool::free_count(), free_before);
}

typedef Cyclic<unsigned int, 127> Seq;

TEST(CyclicSeq, ModuloArithmeticAndWindows) {
  Seq a(127), b(0), c(127);
  const unsigned int results[][2] = {
      {Seq(130), 2}, {++a, 0}, {--b, 127}, {Seq(3) - Seq(5), 126}, {Seq(120) + Seq(10), 2}, {c++, 127}, {c, 0}};
  for (const auto& r : results) EXPECT_EQ(r[0], r[1]);
  // lo <= x <= hi: x lies in the window from lo up to hi, around the ring.
  const struct {
    unsigned int lo, x, hi;
    bool in;
  } rows[] = {{120, 3, 5, true}, {120, 6, 5, false}, {5, 5, 5, true},      {5, 5, 4, true},
              {5, 4, 3, false},  {0, 127, 127, true}, {1, 0, 127, false}};
  for (const auto& r : rows) EXPECT_EQ(Seq(r.lo) <= Seq(r.x) <= Seq(r.hi), r.in) << r.lo << " " << r.x << " " << r.hi;
}

}  // namespace
