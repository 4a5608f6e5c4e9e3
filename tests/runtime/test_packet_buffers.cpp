#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <sstream>
#include <vector>

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

TEST_F(Packets, HeadRoomAndPushes) {
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
}

TEST_F(Packets, AppendingAPacketToItself) {
  Packet a = bytes({1, 2, 3, 4}, 8);
  a.put(a);  // the source shares the buffer being changed
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

TEST_F(Packets, PoolExhaustionThrowsAndCellsAreReusedLastFreedFirst) {
  std::vector<Packet> held;
  unsigned int n = PacketPool::free_count();
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

  // Last freed, first reused.
  int ia = PacketPool::index_of(held[10].get());
  int ib = PacketPool::index_of(held[3].get());
  held[10].clear();
  held[3].clear();
  Packet x, y;
  x.reserve_head(0);
  y.reserve_head(0);
  EXPECT_EQ(PacketPool::index_of(x.get()), ib);
  EXPECT_EQ(PacketPool::index_of(y.get()), ia);
}

// A freed cell is handed out again before any cell never used, so a
// process that never holds many packets touches few cells.
TEST_F(Packets, FreedCellIsReusedBeforeAnUntouchedOne) {
  const unsigned int touched = PacketPool::touched();
  for (int i = 0; i < 3; ++i) {
    Packet p;
    p.reserve_head(0);
    Packet q;
    q.reserve_head(0);
    const int cell = PacketPool::index_of(q.get());
    q.clear();
    q.reserve_tail(0);
    EXPECT_EQ(PacketPool::index_of(q.get()), cell);
  }
  EXPECT_LE(PacketPool::touched(), touched + 2);
}

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
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.report);
    EXPECT_DEATH(c.run(), c.report);
  }
}

struct Status : Smart_object {
  int value = 0;
};

TEST(SmartPointerDeath, NullDereference) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        Smart_pointer<Status> p;
        p->value = 1;
      },
      "SMART POINTER ASSERTION!");
}

TEST_F(Packets, ThePoolHoldsExactly1024Buffers) {
  EXPECT_EQ(packet_max_count, 1024u);
  EXPECT_EQ(PacketPool::free_count(), 1024u);  // nothing else holds one here
  std::vector<Packet> held(1024);
  for (auto& p : held) p.reserve_tail(0);
  Packet p1025;
  EXPECT_THROW(p1025.reserve_tail(0), std::bad_alloc);
}

}  // namespace
