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

TEST(CleanQueue, FillLimitAndOrder) {
  CleanQueue<Packet, 7> q;
  EXPECT_EQ(q.size(), 7u);
  for (int i = 0; i < 7; ++i) EXPECT_TRUE(q.put(make(static_cast<unsigned char>(i))));
  Packet extra = make(99);
  EXPECT_FALSE(q.put(extra));
  EXPECT_FALSE(q.append(extra));
  EXPECT_EQ(q.count(), 7u);
  EXPECT_EQ(extra.use_count(), 1u);  // refused: not referenced
  Packet out;
  EXPECT_TRUE(q.get(out));
  EXPECT_EQ(tag_of(out), 0);
}

TEST(CleanQueue, TakingOutReleasesTheSlot) {
  CleanQueue<Packet, 7> q;
  Packet p = make(5);
  q.put(p);
  EXPECT_EQ(p.use_count(), 2u);
  p.clear();
  Packet out;
  q.get(out);
  EXPECT_EQ(out.use_count(), 1u);
  q.put(out);
  Packet last;
  q.get_last(last);
  EXPECT_EQ(last.use_count(), 2u);  // `out` and `last`
  EXPECT_TRUE(q.empty());
}

TEST(CleanQueue, ClearReleasesThePackets) {
  unsigned int free_before = PacketPool::free_count();
  {
    CleanQueue<Packet, 135> q;
    for (int i = 0; i < 100; ++i) q.put(make(static_cast<unsigned char>(i)));
    EXPECT_EQ(PacketPool::free_count(), free_before - 100);
    q.clear();
    EXPECT_EQ(q.count(), 0u);
    EXPECT_TRUE(q.empty());
    EXPECT_EQ(PacketPool::free_count(), free_before);  // nothing pinned
    EXPECT_TRUE(q.put(make(1)));
    EXPECT_EQ(q.count(), 1u);
  }
  EXPECT_EQ(PacketPool::free_count(), free_before);  // destruction frees too
}

TEST(CleanQueue, RingWraps) {
  CleanQueue<Packet, 7> q;
  for (int i = 1; i <= 7; ++i) q.put(make(static_cast<unsigned char>(i)));
  Packet p;
  for (int i = 0; i < 3; ++i) q.get(p);
  for (int i = 8; i <= 10; ++i) EXPECT_TRUE(q.put(make(static_cast<unsigned char>(i))));
  EXPECT_EQ(q.count(), 7u);
  q.get(p);
  EXPECT_EQ(tag_of(p), 4);
  std::vector<int> rest;
  while (q.get(p)) rest.push_back(tag_of(p));
  EXPECT_EQ(rest, (std::vector<int>{5, 6, 7, 8, 9, 10}));
  EXPECT_EQ(q.inc_index(5), 6u);
  EXPECT_EQ(q.inc_index(6), 0u);
  EXPECT_EQ(q.dec_index(0), 6u);
}

typedef Cyclic<unsigned int, 127> Seq;

TEST(CyclicSeq, ModuloArithmetic) {
  EXPECT_EQ(static_cast<unsigned int>(Seq(130)), 2u);
  Seq a(127);
  ++a;
  EXPECT_EQ(static_cast<unsigned int>(a), 0u);
  Seq b(0);
  --b;
  EXPECT_EQ(static_cast<unsigned int>(b), 127u);
  EXPECT_EQ(static_cast<unsigned int>(Seq(3) - Seq(5)), 126u);
  EXPECT_EQ(static_cast<unsigned int>(Seq(120) + Seq(10)), 2u);
  Seq c(127);
  Seq old = c++;
  EXPECT_EQ(static_cast<unsigned int>(old), 127u);
  EXPECT_EQ(static_cast<unsigned int>(c), 0u);
}

TEST(CyclicSeq, WindowTest) {
  EXPECT_TRUE(Seq(120) <= Seq(3) <= Seq(5));
  EXPECT_FALSE(Seq(120) <= Seq(6) <= Seq(5));
  EXPECT_TRUE(Seq(5) <= Seq(5) <= Seq(5));
  EXPECT_TRUE(Seq(5) <= Seq(5) <= Seq(4));  // whole ring
  EXPECT_FALSE(Seq(5) <= Seq(4) <= Seq(3));
  EXPECT_TRUE(Seq(0) <= Seq(127) <= Seq(127));
  EXPECT_FALSE(Seq(1) <= Seq(0) <= Seq(127));
}

}  // namespace
