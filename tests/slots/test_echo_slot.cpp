// Echo slots: declined while no echo bus is known; on buses a scan found,
// a slot with both streams on its bus channel, and the buses reported.
#include "test_map_bench.h"

namespace {

using namespace kindtest;

Fill Echo(int bus, int channel) {
  return [=](LGCP::Command& c) {
    LGCP::EchoParams& p = c.select_create().select_echo();
    p.set_bus(bus);
    p.set_channel(channel);
  };
}

void Query(LGCP::Command& c) { c.select_query(); }

// A factory whose detection found some buses.
class FoundBuses : public EchoFactory {
 public:
  explicit FoundBuses(std::initializer_list<unsigned> buses) {
    for (unsigned b : buses) mPresent[b] = true;
  }
};

class EchoSlots : public Bench {
 protected:
  // The echoBus list of the resource report.
  std::vector<int> EchoBuses() {
    EXPECT_EQ(Ask(-1, Query), kOk);
    for (const auto& m : e1test::Msgs(last.begin(), last.end())) {
      if (!m.get_pdu().signal_isSelected() || !m.get_pdu().get_signal().query_isSelected()) continue;
      std::vector<int> v;
      for (const auto& b : m.get_pdu().get_signal().get_query().get_echoBus()) v.push_back(b.getValue());
      return v;
    }
    ADD_FAILURE() << "no resource report";
    return {};
  }
};

TEST_F(EchoSlots, NoBusFoundDeclinesEveryCreate) {
  EXPECT_EQ(Ask(2, Echo(0, 0)), int(LGCP::ErrorCause::insufficientResources));
  EXPECT_TRUE(EchoBuses().empty());
  EXPECT_FALSE(EchoFactory::instance().present(0));
}

TEST_F(EchoSlots, FoundBusesGiveSlotsAndAreReported) {
  std::unique_ptr<FoundBuses> found;
  {
    ctltest::Capture log(std::clog);
    found.reset(new FoundBuses({5, 2}));
    EXPECT_EQ(log.text(), "Scanning echo channels ...\n");
  }
  EXPECT_EQ(EchoBuses(), std::vector<int>({2, 5}));
  EXPECT_EQ(Request(3, Echo(2, 3)), Strings({"3: success", "3: transmitter active 67", "3: receiver active 67"}));
  for (auto [bus, channel] : {std::pair<int, int>{1, 0}, {2, 32}, {2, -1}, {16, 0}, {-1, 0}})
    EXPECT_EQ(Ask(4, Echo(bus, channel)), int(LGCP::ErrorCause::insufficientResources)) << bus << " " << channel;
  ASSERT_EQ(Ask(1, Timeslot(0, 4)), kOk);
  EXPECT_EQ(Ask(3, ConnectTo(1)), kOk);
  EXPECT_EQ(sourceOf(4), 67);
  EXPECT_EQ(Ask(3, Destroy), kOk);
  EXPECT_EQ(sourceOf(4), -1);
  found->Scan();
  EXPECT_TRUE(EchoBuses().empty());
}

}  // namespace
