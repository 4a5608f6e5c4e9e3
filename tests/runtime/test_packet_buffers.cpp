#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/packet/clean_queue.h"
#include "runtime/packet/cyclic.h"
#include "runtime/packet/packet.h"

namespace {

class Packets : public ::testing::Test {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    free_at_start_ = PacketPool::free_count();
  }
  void TearDown() override { EXPECT_EQ(PacketPool::free_count(), free_at_start_) << "a test leaked pool cells"; }
  unsigned int free_at_start_ = 0;
};

Packet bytes(std::initializer_list<unsigned char> b, unsigned int head = 0) {
  Packet p;
  p.reserve_head(head);
  for (unsigned char c : b) p.put8(c);
  return p;
}

// Cells never used come first, in array order, and a freed cell queues
// behind them: after taking three and freeing the first two, the next two
// are cells never used before.
TEST_F(Packets, FreedCellsQueueBehindTheNeverUsedOnes) {
  const unsigned int unused = PacketPool::touched();  // cells from here on were never taken
  ASSERT_LE(unused + 5, 1024u);
  Packet p[5];
  for (int i : {0, 1, 2}) p[i].reserve_head(0);
  p[0].clear();
  p[1].clear();
  for (int i : {3, 4}) p[i].reserve_tail(0);
  std::vector<int> cells;
  for (int i : {2, 3, 4}) cells.push_back(PacketPool::index_of(p[i].get()));
  const int u = static_cast<int>(unused);
  EXPECT_EQ(cells, (std::vector<int>{u + 2, u + 3, u + 4}));
}

// Head room, length and tail room after reserving on a null packet (and a
// second head reservation: layered transmit preparation adds up).
TEST_F(Packets, ReserveRules) {
  const struct {
    bool head;
    unsigned int n, again, headroom, tailroom;
  } rows[] = {{true, 0, 0, 0, 4096},   {false, 0, 0, 4096, 0}, {true, 4096, 0, 4096, 0},
              {false, 10, 0, 4086, 10}, {true, 4, 2, 6, 4090}};
  for (const auto& r : rows) {
    Packet p;
    EXPECT_TRUE(p.null());
    EXPECT_EQ(p.length(), 0u);
    if (r.head) p.reserve_head(r.n);
    else p.reserve_tail(r.n);
    if (r.again) p.reserve_head(r.again);
    EXPECT_EQ(p._headroom(), r.headroom) << r.n;
    EXPECT_EQ(p._length(), 0u);
    EXPECT_EQ(p.tailroom(), r.tailroom) << r.n;
  }
}

// Pushes fill the head room; 16-bit values in both byte orders; a packet
// appended to itself (the source shares the buffer being changed).
TEST_F(Packets, PushesByteOrdersAndSelfAppend) {
  Packet p;
  p.reserve_head(4);
  p.put(3);
  p.push(4);
  EXPECT_EQ(p._headroom(), 0u);
  EXPECT_EQ(p.length(), 7u);

  Packet b;
  b.reserve_head(2);
  b.push16_b(0x1234);
  EXPECT_EQ(b.text(), "12 34");
  b.put16(0x1234);
  b.put16_b(0x1234);
  EXPECT_EQ(b.text(), "12 34 34 12 12 34");
  EXPECT_EQ(b.pull16_b(), 0x1234);
  EXPECT_EQ(b.pull16(), 0x1234);
  EXPECT_EQ(b.pull16_l(), 0x3412);
  EXPECT_TRUE(b.empty());
  Packet a = bytes({1, 2, 3, 4}, 8);
  a.put(a);
  EXPECT_EQ(a.text(), "01 02 03 04 01 02 03 04");
}

TEST_F(Packets, CopyOnWriteKeepsSharedBufferUnchanged) {
  Packet a = bytes({1, 2, 3});
  unsigned int free_before = PacketPool::free_count();
  Packet b = a;
  EXPECT_EQ(a.use_count(), 2u);
  EXPECT_EQ(PacketPool::free_count(), free_before);
  b.put8(4);
  EXPECT_EQ(PacketPool::free_count(), free_before - 1);
  EXPECT_EQ(a.text(), "01 02 03");
  EXPECT_EQ(b.text(), "01 02 03 04");
  EXPECT_EQ(a.use_count(), 1u);

  Packet c = a;
  c.pull(1);
  EXPECT_EQ(a.text(), "01 02 03");
  EXPECT_EQ(c.text(), "02 03");
  EXPECT_EQ(c._headroom(), 1u);  // the copy keeps the window's position

  Packet d = a;
  d.clear();
  EXPECT_TRUE(d.null());
  EXPECT_EQ(a.use_count(), 1u);
  // Reading never copies.
  Packet e = a;
  unsigned int f = PacketPool::free_count();
  EXPECT_EQ(e.length(), 3u);
  EXPECT_EQ(static_cast<const Packet&>(e)[0], 1u);
  EXPECT_EQ(e.text(), "01 02 03");
  EXPECT_EQ(PacketPool::free_count(), f);
}

TEST_F(Packets, PoolExhaustionThrowsAndCellsAreReusedFirstFreedFirst) {
  std::vector<Packet> held;
  const unsigned int n = PacketPool::free_count();
  EXPECT_EQ(n, 1024u);  // nothing else holds one here
  for (unsigned int i = 0; i < n; ++i) {
    held.emplace_back();
    held.back().reserve_head(0);
  }
  EXPECT_EQ(PacketPool::free_count(), 0u);
  Packet extra;
  EXPECT_THROW(extra.reserve_head(0), std::bad_alloc);
  EXPECT_TRUE(extra.null());
  // Copy on write of a shared buffer with an empty pool throws too, and
  // leaves the handle as it was.
  Packet shared = held[0];
  EXPECT_THROW(shared.put8(1), std::bad_alloc);
  EXPECT_EQ(shared.use_count(), 2u);
  shared.clear();

  // With the free list otherwise empty, A and then B freed come back as A,
  // then B.
  int ia = PacketPool::index_of(held[10].get());
  int ib = PacketPool::index_of(held[3].get());
  held[10].clear();
  held[3].clear();
  Packet x, y;
  x.reserve_head(0);
  y.reserve_head(0);
  EXPECT_EQ(PacketPool::index_of(x.get()), ia);
  EXPECT_EQ(PacketPool::index_of(y.get()), ib);
}

struct Status : Smart_object {
  int value = 0;
};

TEST_F(Packets, BrokenPreconditionsTerminateWithAReport) {
  struct Case {
    void (*run)();
    const char* report;
  } const cases[] = {
      {[] { Packet().reserve_head(4097); }, "PACKET ASSERTION FAILED!\nlength>packet_max_size\n\\(null\\)"},
      {[] {
         Packet p;
         p.reserve_head(4);
         p.put8(0xAB);
         p.push(5);
       },
       "PACKET ASSERTION FAILED!\nlen<=_headroom\\(\\)\nhead=4, data=1, tail=4091\ndump:\n ab\n"},
      {[] { bytes({1})[1] = 0; }, "index out of range"},
      {[] { bytes({1})[-1] = 0; }, "index out of range"},
      {[] { Packet().put8(1); }, "PACKET ASSERTION FAILED!\nnull packet\n\\(null\\)"},
      {[] { bytes({1, 2}).trim(3); }, "len<=_length\\(\\)"},
      {[] {
         Packet p;
         p.reserve_tail(4096);
         p.reserve_tail(1);
       },
       "_tailroom\\(\\)\\+len <= packet_max_size"},
      {[] { Packet().put(5000); }, "null packet"},
      {[] { (void)Packet()._length(); }, "SMART POINTER ASSERTION!"},
      {[] {
         Smart_pointer<Status> p;
         p->value = 1;
       },
       "SMART POINTER ASSERTION!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.report);
    EXPECT_DEATH(c.run(), c.report);
  }
}


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
