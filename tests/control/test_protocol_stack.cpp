// The layered stack: which layer hears what, in which order, and who owns
// and frees layers and status objects.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/protocol.h"

namespace {

std::vector<std::string> journal;
int live_statuses = 0;  // statuses of CountedError alive

class CountedError : public Protocol_status_error {
 public:
  explicit CountedError(const Protocol_info* src) : Protocol_status_error(src, "boom") { ++live_statuses; }
  ~CountedError() override { --live_statuses; }
};

// A layer that records every call and passes it on as the defaults do.
class Layer : public Protocol {
 public:
  explicit Layer(const char* n, unsigned int header = 0) : name_(n), header_(header) {}
  ~Layer() override { note("~"); }
  const Protocol_name& name() const override { return name_; }
  void local_prepare_head(Packet& p) override { p.reserve_head(header_); }
  void local_activate() override { note(".local_activate"), Protocol::local_activate(); }
  void local_deactivate() override { note(".local_deactivate"), Protocol::local_deactivate(); }
  void message(Packet& p) override { note(".message"), transmit(p); }
  void receive(Packet& p) override { note(".receive"), on_message(p); }
  ProtocolStatus local_initialize() override {
    note(".local_initialize");
    return fail_init ? ProtocolStatus(new Protocol_status_error(this, "init failed")) : Protocol::local_initialize();
  }
  // The layer fails on its own (socket error, link lost).
  void fail() { on_deactivate(ProtocolStatus(new CountedError(this))); }
  bool fail_init = false;

 private:
  void note(const char* what) {
    journal.push_back(what[0] == '~' ? std::string("~") + name_.name() : std::string(name_.name()) + what);
  }
  Protocol_name_str name_;
  unsigned int header_;
};

// The owner of a stack, as the link services are.
class Owner : public ProtocolsFamily {
 public:
  Owner() {
    b = static_cast<Layer*>(add_protocol_tail(new Layer("B", 2)));
    m = static_cast<Layer*>(add_protocol_tail(new Layer("M")));
    t = static_cast<Layer*>(add_protocol_tail(new Layer("T", 4)));
    journal.clear();
  }
  void on_message(Packet& p) override { journal.push_back("owner.on_message " + std::to_string(p.length())); }
  void transmit(Packet& p) override { journal.push_back("owner.transmit " + std::to_string(p.length())); }
  void on_activated(Protocol* p) override {
    journal.push_back("owner.on_activated");
    ProtocolsFamily::on_activated(p);
  }
  void on_deactivated(Protocol* p, ProtocolStatus s) override {
    journal.push_back(std::string("owner.on_deactivated by ") + static_cast<Layer*>(p)->name().name());
    last = s;
  }
  void on_status(ProtocolStatus s) override { journal.push_back("owner.on_status " + s->message()); }
  Layer *b, *m, *t;
  ProtocolStatus last;
};

typedef std::vector<std::string> Journal;

TEST(ProtocolStack, DataPassesEveryLayerDownAndUp) {
  Owner o;
  Packet p;
  o.prepare_head(p);
  EXPECT_EQ(6u, p.headroom());
  p.put(10);
  o.message(p);
  EXPECT_EQ((Journal{"T.message", "M.message", "B.message", "owner.transmit 10"}), journal);
  journal.clear();
  Packet in;
  in.reserve_head(0);
  in.put(7);
  o.b->on_message(in);
  EXPECT_EQ((Journal{"M.receive", "T.receive", "owner.on_message 7"}), journal);
  journal.clear();
  o.receive(in);  // the family hands data from below to its bottom member
  o.b->on_status(ProtocolStatus(new Protocol_status_success(o.b, "up")));  // climbs, changes nothing
  EXPECT_EQ((Journal{"B.receive", "M.receive", "T.receive", "owner.on_message 7", "owner.on_status up"}), journal);
}

TEST(ProtocolStack, SuccessWalksDownFailureClimbsAndEachStatusIsFreedOnce) {
  {
    Owner o;
    o.activate();
    EXPECT_EQ((Journal{"B.local_activate", "M.local_activate", "T.local_activate", "owner.on_activated"}), journal);
    journal.clear();
    o.deactivate();
    EXPECT_EQ((Journal{"T.local_deactivate", "M.local_deactivate", "B.local_deactivate", "owner.on_deactivated by B"}),
              journal);
    EXPECT_TRUE(o.last->success());
    journal.clear();
    o.b->fail();  // no local_deactivate on the way up
    EXPECT_EQ((Journal{"owner.on_deactivated by T"}), journal);
    EXPECT_EQ("boom", o.last->message());
    EXPECT_EQ(o.b, o.last->source());
    EXPECT_EQ(1, live_statuses);  // the owner still holds it
    o.last.clean();
    EXPECT_EQ(0, live_statuses);
    journal.clear();
  }
  EXPECT_EQ((Journal{"~T", "~M", "~B"}), journal);  // members go top first
}

TEST(ProtocolStack, InitialisationStopsAtTheFirstFailingLayerAndSkipsADestroyedOne) {
  Owner o;
  o.m->fail_init = true;
  ProtocolStatus s = o.initialize();
  EXPECT_FALSE(s->success());
  EXPECT_EQ("init failed", s->message());
  EXPECT_EQ(o.m, s->source());
  EXPECT_EQ((Journal{"B.local_initialize", "M.local_initialize"}), journal);
  delete o.m;  // a member destroyed alone leaves the others linked
  EXPECT_EQ(2u, o.member_count());
  EXPECT_EQ(o.b, o.bottom_member());
  EXPECT_EQ(o.t, o.top_member());
  EXPECT_TRUE(o.initialize()->success());
  journal.clear();
  o.activate();
  EXPECT_EQ((Journal{"B.local_activate", "T.local_activate", "owner.on_activated"}), journal);
  EXPECT_EQ("error", ProtocolsFamily().initialize()->message());
  // A family without members passes no status on, either way.
  ProtocolsFamily* empty = static_cast<ProtocolsFamily*>(o.add_protocol_tail(new ProtocolsFamily));
  journal.clear();
  empty->on_deactivated(nullptr, ProtocolStatus(new Protocol_status_success(empty, "success")));
  empty->on_deactivated(nullptr, ProtocolStatus(new CountedError(empty)));
  EXPECT_EQ(Journal{}, journal);
  EXPECT_EQ(0, live_statuses);
}

}  // namespace
