// The layered stack: which layer hears what, in which order, and who owns
// and frees layers and status objects.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/protocol.h"

namespace {

std::vector<std::string> journal;

// A status whose destruction is counted.
int live_statuses = 0;
class CountedError : public Protocol_status_error {
 public:
  explicit CountedError(const Protocol_info* src) : Protocol_status_error(src, "boom") { ++live_statuses; }
  ~CountedError() override { --live_statuses; }
};

// A layer that records every call and passes it on as the defaults do.
class Layer : public Protocol {
 public:
  explicit Layer(const char* n, unsigned int header = 0, bool* destroyed = nullptr)
      : name_(n), header_(header), destroyed_(destroyed) {}
  ~Layer() override {
    journal.push_back(std::string("~") + name_.name());
    if (destroyed_) *destroyed_ = true;
  }
  const Protocol_name& name() const override { return name_; }
  bool compare_name(const Protocol_name& n) const override { return name_.compare(n); }

  void local_prepare_head(Packet& p) override { p.reserve_head(header_); }
  void local_activate() override {
    journal.push_back(std::string(name_.name()) + ".local_activate");
    Protocol::local_activate();
  }
  void local_deactivate() override {
    journal.push_back(std::string(name_.name()) + ".local_deactivate");
    Protocol::local_deactivate();
  }
  void message(Packet& p) override {
    journal.push_back(std::string(name_.name()) + ".message");
    transmit(p);
  }
  void receive(Packet& p) override {
    journal.push_back(std::string(name_.name()) + ".receive");
    on_message(p);
  }
  ProtocolStatus local_initialize() override {
    journal.push_back(std::string(name_.name()) + ".local_initialize");
    if (fail_init) return ProtocolStatus(new Protocol_status_error(this, "init failed"));
    return Protocol::local_initialize();
  }
  // The layer fails on its own (socket error, link lost).
  void fail() { on_deactivate(ProtocolStatus(new CountedError(this))); }

  bool fail_init = false;

 private:
  Protocol_name_str name_;
  unsigned int header_;
  bool* destroyed_;
};

// The owner of a stack, as the link services are.
class Owner : public ProtocolsFamily {
 public:
  void on_message(Packet& p) override {
    journal.push_back("owner.on_message");
    received = p.length();
  }
  void transmit(Packet& p) override {
    journal.push_back("owner.transmit");
    sent = p.length();
  }
  void on_activated(Protocol* p) override {
    journal.push_back("owner.on_activated");
    ProtocolsFamily::on_activated(p);
  }
  void on_deactivated(Protocol* p, ProtocolStatus s) override {
    journal.push_back("owner.on_deactivated");
    reporter = p;
    last = s;
  }
  void on_status(ProtocolStatus s) override { statuses.push_back(s->message()); }

  Protocol* reporter = nullptr;
  ProtocolStatus last;
  unsigned int received = 0;
  unsigned int sent = 0;
  std::vector<std::string> statuses;
};

class ProtocolStack : public ::testing::Test {
 protected:
  void SetUp() override { journal.clear(); }
};

TEST_F(ProtocolStack, DataPassesEveryLayerDownAndUp) {
  Owner o;
  Layer* b = static_cast<Layer*>(o.add_protocol_tail(new Layer("B", 2)));
  o.add_protocol_tail(new Layer("T", 4));
  Packet p;
  o.prepare_head(p);
  EXPECT_EQ(6u, p.headroom());
  p.put(10);
  o.message(p);
  std::vector<std::string> down = {"T.message", "B.message", "owner.transmit"};
  EXPECT_EQ(down, journal);
  EXPECT_EQ(10u, o.sent);

  journal.clear();
  Packet in;
  in.reserve_head(0);
  in.put(7);
  b->on_message(in);
  std::vector<std::string> up = {"T.receive", "owner.on_message"};
  EXPECT_EQ(up, journal);
  EXPECT_EQ(7u, o.received);
}

TEST_F(ProtocolStack, FailureClimbsWithoutStoppingUpperLayersAndIsFreedOnce) {
  {
    Owner o;
    Layer* b = static_cast<Layer*>(o.add_protocol_tail(new Layer("B")));
    Layer* m = static_cast<Layer*>(o.add_protocol_tail(new Layer("M")));
    Layer* t = static_cast<Layer*>(o.add_protocol_tail(new Layer("T")));
    (void)m;
    b->fail();
    std::vector<std::string> want = {"owner.on_deactivated"};
    EXPECT_EQ(want, journal);  // no local_deactivate on the way up
    EXPECT_EQ(t, o.reporter);
    EXPECT_FALSE(o.last->success());
    EXPECT_EQ("boom", o.last->message());
    EXPECT_EQ(1, live_statuses);  // the owner still holds it
    o.last.clean();
    EXPECT_EQ(0, live_statuses);
  }
  EXPECT_EQ(0, live_statuses);
}

TEST_F(ProtocolStack, AMemberDestroyedAloneLeavesTheOthersLinked) {
  Owner o;
  Layer* b = static_cast<Layer*>(o.add_protocol_tail(new Layer("B")));
  Layer* m = static_cast<Layer*>(o.add_protocol_tail(new Layer("M")));
  Layer* t = static_cast<Layer*>(o.add_protocol_tail(new Layer("T")));
  delete m;
  EXPECT_EQ(2u, o.member_count());
  EXPECT_EQ(b, o.bottom_member());
  EXPECT_EQ(t, o.top_member());
  journal.clear();
  o.activate();
  std::vector<std::string> want = {"B.local_activate", "T.local_activate", "owner.on_activated"};
  EXPECT_EQ(want, journal);
}

TEST_F(ProtocolStack, InitialisationStopsAtTheFirstFailingLayerFromTheBottom) {
  Owner o;
  Layer* b = static_cast<Layer*>(o.add_protocol_tail(new Layer("B")));
  Layer* m = static_cast<Layer*>(o.add_protocol_tail(new Layer("M")));
  o.add_protocol_tail(new Layer("T"));
  m->fail_init = true;
  ProtocolStatus s = o.initialize();
  EXPECT_FALSE(s->success());
  EXPECT_EQ("init failed", s->message());
  EXPECT_EQ(m, s->source());
  std::vector<std::string> want = {"B.local_initialize", "M.local_initialize"};
  EXPECT_EQ(want, journal);
  m->fail_init = false;
  b->fail_init = false;
  EXPECT_TRUE(o.initialize()->success());
}

}  // namespace
