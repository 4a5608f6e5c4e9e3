// The auth record link of the PPP daemon's plug-in: framing of the
// length-prefixed records (complete, split, joined, out of range), routing
// by session to the modem slots and their signals, the records activation
// sends back, and connections closed and deleted on failure.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "control/control_test_support.h"
#include "hardware/board/record.h"
#include "test_modem_support.h"

namespace {

using namespace modemtest;

attr Record(uint32_t length, uint32_t type, int32_t session) { return attr(length, type, session); }

class AuthLink : public modemtest::Bench {
 protected:
  void TearDown() override {
    for (int fd : peers) ::close(fd);
    bench().loop.RunUntil([] { return factory().authClients().empty(); }, 1000);
    modemtest::Bench::TearDown();
  }
  // A plug-in connection taken by the factory; the test holds the peer.
  int Connect() {
    int sv[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
    ::fcntl(sv[0], F_SETFL, O_NONBLOCK);
    ::fcntl(sv[1], F_SETFL, O_NONBLOCK);
    factory().AcceptClient(Fd(sv[0]), INet4::Addr("127.0.0.1:40000"));
    peers.push_back(sv[1]);
    return sv[1];
  }
  static void Write(int fd, const void* data, std::size_t n) {
    ASSERT_EQ(::write(fd, data, n), ssize_t(n));
  }
  static void Write(int fd, const attr& a) { Write(fd, a.data(), a.length()); }
  // The records the gateway sent to a peer so far, as their words.
  std::vector<std::vector<uint32_t>> Received(int fd, std::size_t n) {
    std::vector<uint8_t> bytes;
    std::vector<std::vector<uint32_t>> out;
    bench().loop.RunUntil([&] {
      uint8_t buf[1024];
      ssize_t got;
      while ((got = ::read(fd, buf, sizeof buf)) > 0) bytes.insert(bytes.end(), buf, buf + got);
      out.clear();
      for (std::size_t at = 0; at + 4 <= bytes.size();) {
        uint32_t len = Board::getBE32(&bytes[at]);
        if (len < 4 || at + len > bytes.size()) break;
        std::vector<uint32_t> words;
        for (std::size_t i = 0; i < len; i += 4) words.push_back(Board::getBE32(&bytes[at + i]));
        out.push_back(words);
        at += len;
      }
      return out.size() >= n;
    }, n ? 3000 : 50);
    return out;
  }
  // A DSP modem slot at `slot` with its modem (the first free one).
  void ModemSlot(unsigned slot) {
    ASSERT_EQ(Create(int(slot), Modem()), Strings({std::to_string(slot) + ": success"}));
    At<DspModemSlot>(slot)->IOnOutputStream();
    Await(2);
  }
  static Fill Activate(const std::string& remote) {
    return [=](LGCP::Command& c) {
      TERM::ModemUserParameters& u = c.select_activate().select_modem();
      u.set_remoteAddr(remote);
      u.set_netmask("255.255.255.0");
      u.set_gateway("10.0.0.1");
      u.set_dns("bogus");
      u.set_mtu(1500);
    };
  }
  std::vector<int> peers;
};

TEST_F(AuthLink, PluginRecordsBecomeModemSignalsOfTheirSlot) {
  ModemSlot(3);
  ModemSlot(4);  // modem 1
  int fd = Connect();
  ctltest::Capture err(std::cerr);

  attr auth = Record(attr::kAuthRequestSize, attr::AuthRequest, 1);
  auth.setText(attr::kUserOffset, attr::kTextField, "alice");
  auth.setText(attr::kPasswordOffset, attr::kTextField, "s3cret");
  Write(fd, auth);
  EXPECT_EQ(Await(1), Strings({"4: auth alice s3cret"}));

  // A name filling its whole field without a terminator ends at the field.
  std::memset(auth.data() + attr::kUserOffset, 'u', attr::kTextField);
  Write(fd, auth);
  EXPECT_EQ(Await(1), Strings({"4: auth " + std::string(64, 'u') + " s3cret"}));

  attr acct = Record(attr::kAccountingSize, attr::Accounting, 0);
  const uint32_t words[] = {0x1, 0x2, 0, 300, 5, 6, 0, 7, 99};  // from offset 24
  for (std::size_t i = 0; i < 9; ++i) acct.setWord(24 + 4 * i, words[i]);
  Write(fd, acct);
  EXPECT_EQ(Await(1), Strings({"3: acct 4294967298 300 21474836486 7 99"}));

  // Wrong sizes, ignored and unknown types, unknown sessions: logged only.
  Write(fd, Record(139, attr::AuthRequest, 0));
  Write(fd, Record(60, attr::Accounting, 0));
  Write(fd, Record(16, attr::Accept, 0));
  Write(fd, Record(36, attr::IpParams, 0));
  Write(fd, Record(12, 0x1f, 0));
  Write(fd, Record(140, attr::AuthRequest, 7));
  EXPECT_TRUE(Await(1, 200).empty());
  EXPECT_NE(err.text().find("03:dsp-modem: auth request, invalid size: 139\n"
                            "03:dsp-modem: auth accounting, invalid size: 60\n"
                            "03:dsp-modem: auth accept, ignored.\n"
                            "03:dsp-modem: auth ip, ignored.\n"
                            "03:dsp-modem: unknown request from portslave: 0x1f\n"
                            "modem[4,2]: receive auth request for unknown session 7\n"),
            std::string::npos)
      << err.text();
  EXPECT_EQ(factory().authClients().size(), 1u);
}

TEST_F(AuthLink, RecordsAreFramedByTheirLengthField) {
  ModemSlot(5);
  int fd = Connect();
  AuthClient* client = factory().authClients().back();

  // A bare length field is a whole record: too short for a session, it
  // is dropped and the connection keeps its session.
  Write(fd, Record(4, 0, 0).data(), 4);
  bench().loop.RunFor(20);
  EXPECT_EQ(client->GetSessionId(), -1);

  // Two records in one segment, then one in two pieces.
  attr a = Record(140, attr::AuthRequest, 0);
  a.setText(attr::kUserOffset, 64, "one");
  attr b = a;
  b.setText(attr::kUserOffset, 64, "two");
  std::vector<uint8_t> both(a.data(), a.data() + 140);
  both.insert(both.end(), b.data(), b.data() + 140);
  Write(fd, both.data(), both.size());
  EXPECT_EQ(Await(2), Strings({"5: auth one ", "5: auth two "}));
  EXPECT_EQ(client->GetSessionId(), 0);
  a.setText(attr::kUserOffset, 64, "three");
  Write(fd, a.data(), 7);
  bench().loop.RunFor(20);
  Write(fd, a.data() + 7, 133);
  EXPECT_EQ(Await(1), Strings({"5: auth three "}));

  // A last record written right before the plug-in hangs up still counts.
  attr acct = Record(attr::kAccountingSize, attr::Accounting, 0);
  acct.setWord(56, 42);
  Write(fd, acct);
  ::close(fd);
  peers.clear();
  EXPECT_EQ(Await(1), Strings({"5: acct 0 0 0 0 42"}));
  EXPECT_TRUE(bench().loop.RunUntil([] { return factory().authClients().empty(); }));
}

TEST_F(AuthLink, LengthOutOfRangeClosesTheConnection) {
  for (uint32_t bad : {513u, 3u}) {
    int fd = Connect();
    ctltest::Capture log(std::clog);
    uint8_t len[4];
    Board::putBE32(len, bad);
    Write(fd, len, 4);
    EXPECT_TRUE(bench().loop.RunUntil([] { return factory().authClients().empty(); })) << bad;
    EXPECT_NE(log.text().find("auth client 127.0.0.1:40000 disconnected."), std::string::npos) << log.text();
    char c;
    EXPECT_EQ(::read(fd, &c, 1), 0);  // closed by the gateway
  }
}

TEST_F(AuthLink, ActivationSendsAcceptAndIpParametersToTheSessionsConnection) {
  ModemSlot(6);  // modem 0
  int first = Connect(), second = Connect(), idle = Connect();
  // Both connections say they serve modem 0; the first accepted gets it.
  Write(first, Record(16, attr::Accept, 0));
  Write(second, Record(16, attr::Accept, 0));
  bench().loop.RunUntil([&] {
    int n = 0;
    for (AuthClient* c : factory().authClients()) n += c->GetSessionId() == 0;
    return n == 2;
  });

  EXPECT_EQ(Request(6, Activate("10.0.0.7")), Strings({"6: success"}));
  auto got = Received(first, 2);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], (std::vector<uint32_t>{16, 2, 0, 1}));
  EXPECT_EQ(got[1], (std::vector<uint32_t>{36, 3, 0, 0, 0x0A000007, 0xFFFFFF00, 0x0A000001, 0xFFFFFFFF, 1500}));
  EXPECT_TRUE(Received(second, 0).empty());
  EXPECT_TRUE(Received(idle, 0).empty());

  // A slot whose session no connection serves: logged, still a success.
  ModemSlot(7);  // modem 1
  ctltest::Capture log(std::clog);
  EXPECT_EQ(Request(7, Activate("10.0.0.8")), Strings({"7: success"}));
  EXPECT_NE(log.text().find("send error: unknown auth 1 session."), std::string::npos) << log.text();
}

TEST_F(AuthLink, HdlcModemRecordsGoToAConnectionThatSentNothingYet) {
  ifaces()["hdlc0"] = {};
  factory().IQuery();
  // A DSP modem slot without its modem, created first, has no session: it
  // neither sends nor takes the records of session -1.
  ASSERT_EQ(Create(7, Modem()), Strings({"7: success"}));
  ASSERT_EQ(Create(8, Modem([](TERM::ModemParams& p) {
              p.set_ddm().push_back(TERM::DigitalDataModeEnum(TERM::DigitalDataModeEnum::ddm8BIT));
            })),
            Strings({"8: success"}));
  int fd = Connect();
  EXPECT_EQ(Request(7, Activate("10.0.0.3")), Strings({"7: success"}));
  EXPECT_TRUE(Received(fd, 0).empty());
  EXPECT_EQ(Request(8, Activate("10.0.0.9")), Strings({"8: success"}));
  auto got = Received(fd, 2);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], (std::vector<uint32_t>{16, 2, 0xFFFFFFFF, 1}));

  attr auth = Record(140, attr::AuthRequest, -1);
  auth.setText(attr::kUserOffset, 64, "bob");
  Write(fd, auth);
  EXPECT_EQ(Await(1), Strings({"8: auth bob "}));
}

TEST_F(AuthLink, AFailedSendClosesAndDeletesTheConnection) {
  ModemSlot(9);
  int fd = Connect();
  Write(fd, Record(16, attr::Accept, 0));
  bench().loop.RunUntil([] { return factory().authClients().back()->GetSessionId() == 0; });
  // The plug-in goes before the gateway has noticed: the send fails and
  // the connection is gone once the send has returned.
  ::close(fd);
  peers.clear();
  attr accept = Record(16, attr::Accept, 0);
  ctltest::Capture log(std::clog);
  EXPECT_FALSE(factory().SendAuth(&accept));
  EXPECT_TRUE(factory().authClients().empty());
  EXPECT_NE(log.text().find("auth client 127.0.0.1:40000 disconnected."), std::string::npos) << log.text();
  // Later records for the session find no connection.
  EXPECT_FALSE(factory().SendAuth(&accept));
}

TEST_F(AuthLink, PluginConnectsOverLoopbackTcp) {
  ASSERT_TRUE(factory().listening()) << "the authentication port 52000 is taken";
  ModemSlot(10);
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(52000);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  peers.push_back(fd);
  ctltest::Capture err(std::cerr);
  ASSERT_TRUE(bench().loop.RunUntil([] { return factory().authClients().size() == 1; }));
  EXPECT_NE(err.text().find("incoming auth connection from 127.0.0.1:"), std::string::npos) << err.text();
  attr auth = Record(140, attr::AuthRequest, 0);
  auth.setText(attr::kUserOffset, 64, "carol");
  auth.setText(attr::kPasswordOffset, 64, "pw");
  Write(fd, auth);
  EXPECT_EQ(Await(1), Strings({"10: auth carol pw"}));
}

}  // namespace
