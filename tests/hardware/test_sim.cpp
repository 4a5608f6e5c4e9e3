// The simulated board behind the seam: device opens, requests and their
// log, the TDM fabric, controller channels and the control socket.
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include "sim_env.h"

namespace {

class SimBoard : public SimTest::Fixture {
 protected:
  void TearDown() override {
    for (int fd : fds_) ::close(fd);
  }
  int open(const char* path, int flags = O_RDWR) {
    int fd = Board::open(path, flags);
    if (fd >= 0) fds_.push_back(fd);
    return fd;
  }
  std::vector<int> fds_;
};

TEST_F(SimBoard, MultiplexerRequestsProgramTheFabricAndAreLogged) {
  int fd = open("/dev/hal");
  ASSERT_GE(fd, 0);
  // {request, channel, second word, second word after}: a constant byte
  // replaces the connection and reads back on every output taking the
  // channel as source; disabled and never-driven channels read idle.
  const struct { uint32_t req; int32_t ch, word, after; } rows[] = {
      {R::MuxConnect, 8583, 5, 5},       {R::MuxWrite, 8200, 0xD5, 0xD5}, {R::MuxConnect, 8300, 8200, 8200},
      {R::MuxRead, 8300, 0xFF, 0xD5},    {R::MuxDisable, 8200, 0, 0},     {R::MuxRead, 8200, 0, 0xFF}};
  for (const auto& r : rows) {
    Board::WordRecord w{r.ch, r.word};
    EXPECT_EQ(Board::ioctl(fd, r.req, w.data()), 0) << r.ch;
    EXPECT_EQ(w.get(1), r.after) << r.ch;
  }
  EXPECT_EQ(sim().tdm().sourceOf(8583), 5);
  EXPECT_EQ(sim().tdm().sourceOf(8200), -1);
  // The log keeps every record as it came in, big-endian.
  ASSERT_EQ(sim().log().size(), 6u);
  const auto first = sim().log().front();
  EXPECT_EQ(first.device + " " + std::to_string(first.request), "/dev/hal " + std::to_string(R::MuxConnect));
  EXPECT_EQ(first.in, (Bytes{0, 0, 0x21, 0x87, 0, 0, 0, 5}));
  EXPECT_EQ(first.text(), "/dev/hal 0x80084d02 8583 5 -> 0");
}

// Copies made and closed through an Fd or the seam are followed without the
// kernel's help; a number the daemon gave up is not taken for the old session.
TEST_F(SimBoard, DescriptorCopiesAndClosesAreFollowed) {
  Board::WordRecord rec{8192};
  const int fd = Board::open("/dev/hal", O_RDWR);
  ASSERT_GE(fd, 0);
  Fd copy(fd);  // takes it
  {
    Fd second(copy);  // a dup
    ASSERT_NE(second.lowlevel_fd(), fd);
    EXPECT_EQ(sim().sessionOf(second.lowlevel_fd()), sim().sessionOf(fd));
    EXPECT_EQ(Board::ioctl(second.lowlevel_fd(), R::MuxDisable, rec.data()), 0);
  }
  const int raw = ::dup(fd);  // unseen: found once through the kernel
  EXPECT_EQ(Board::ioctl(raw, R::MuxDisable, rec.data()), 0);
  EXPECT_EQ(Board::close(raw), 0);
  copy.close();
  int p[2];
  ASSERT_EQ(::pipe(p), 0);  // takes the numbers just given up
  for (int n : {p[0], p[1]}) {
    EXPECT_EQ(Board::ioctl(n, R::MuxDisable, rec.data()), -1) << n;
    EXPECT_EQ(errno, ENOTTY);
  }
  ::close(p[0]);
  ::close(p[1]);
  EXPECT_EQ(sim().logSize(), 2u);
}

// A reset lets go of the sessions whose descriptors are closed and releases
// held ones, serving what they queued; open descriptors keep their sessions.
TEST_F(SimBoard, ResetEndsClosedSessionsAndReleasesHeldOnes) {
  const int kept = open("/dev/mcc/ctl"), gone = Board::open("/dev/mcc/ctl", O_RDWR);
  ASSERT_GE(gone, 0);
  Sim::Session* s = sim().sessionOf(kept);
  sim().hold(*s, true);
  const uint8_t frame[3] = {1, 2, 3};
  ASSERT_EQ(Board::write(kept, frame, sizeof frame), 3);
  ASSERT_EQ(Board::close(gone), 0);
  sim().reset();
  ASSERT_EQ(sim().sessions("/dev/mcc/ctl"), std::vector<Sim::Session*>{s});
  EXPECT_FALSE(s->held);
  EXPECT_EQ(s->txFrames, 1u);
}

// The log keeps the most recent requests, each with its record complete,
// in as little room as it is given.
TEST_F(SimBoard, TheLogIsARingOfTheMostRecentRequests) {
  const int fd = open("/dev/maintenance");
  // {records, requests kept}: 4 records, or 512 with 16384 bytes beside
  // them, which hold the last 204 of the 400 80-byte records.
  for (auto [records, kept] : {std::pair{4u, 4u}, {512u, 205u}}) {
    sim().setLogCapacity(records);
    uint8_t status[80] = {};
    for (uint32_t i = 0; i < 400; ++i) {
      Board::putBE32(status, i % 4);
      Board::putBE32(status + 76, i);
      Board::ioctl(fd, R::E1Status, status);
    }
    Board::ioctlValue(fd, R::E1SetTclk, 5);
    const auto log = sim().log();
    ASSERT_EQ(log.size(), kept);
    for (uint32_t k = 0, first = 401 - kept; k + 1 < kept; ++k) {
      ASSERT_EQ(log[k].in.size(), 80u);
      EXPECT_EQ(Board::getBE32(&log[k].in[0]), (first + k) % 4);
      EXPECT_EQ(Board::getBE32(&log[k].in[76]), first + k);
    }
    EXPECT_EQ(log.back().text(), "/dev/maintenance 0xc0044d0b =5 -> 0");
    EXPECT_EQ(sim().firstWords("/dev/maintenance", R::E1Status).size(), kept - 1);
  }
  sim().setLogCapacity(1 << 16);
}

// Without TESSAROD_BOARD=sim the seam is plain system calls on the device
// files under the root folder.
TEST_F(SimBoard, TheRealBackendUsesTheFilesUnderTheRoot) {
  ::unsetenv("TESSAROD_BOARD");
  Board::reload();
  const std::string dir = SimTest::root() + "/dev";
  ::mkdir(dir.c_str(), 0755);
  ASSERT_EQ(::close(::open((dir + "/probe").c_str(), O_CREAT | O_WRONLY, 0600)), 0);
  const int fd = Board::open("/dev/probe", O_RDWR);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(Board::write(fd, "ab", 2), 2);
  uint8_t rec[4] = {};
  EXPECT_EQ(Board::ioctl(fd, R::MuxDisable, rec), -1);  // a plain file: no requests
  EXPECT_EQ(errno, ENOTTY);
  EXPECT_EQ(Board::ioctlValue(fd, R::E1SetTclk, 1), -1);
  EXPECT_EQ(::lseek(fd, 0, SEEK_SET), 0);
  char buf[4] = {};
  EXPECT_EQ(Board::read(fd, buf, sizeof buf), 2);
  EXPECT_EQ(Board::close(fd), 0);
  EXPECT_FALSE(Board::simulated());
  ::setenv("TESSAROD_BOARD", "sim", 1);
  Board::reload();
  EXPECT_TRUE(Board::simulated());
}

// ---- Control protocol ----------------------------------------------------

// Control socket lines in order, each with its exact answer.
TEST_F(SimBoard, ControlCommands) {
  int fd = open("/dev/hal");
  Board::WordRecord a{8583, 5}, b{11, 40};
  Board::ioctl(fd, R::MuxConnect, a.data());
  Board::ioctl(fd, R::MuxConnect, b.data());
  const auto before = Mux::clockOffset();
  for (auto [line, reply] :
       {std::pair{"xpoints", "11 40\n8583 5\nok\n"}, {"log 1", "/dev/hal 0x80084d02 11 40 -> 0\nok\n"},
        {"inject 40 02 01 03", "outputs 1\nok\n"}, {"frames 11", "020103\nok\n"}, {"frames 11", "ok\n"},
        {"drive 8200 0x3a", "ok\n"}, {"spi 1 51 7", "ok\n"}, {"spi 1 51", "7\nok\n"}, {"clock 120000", "ok\n"},
        {"fail /dev/hal 80084d02 5", "ok\n"}, {"absent /dev/hal on", "ok\n"}})
    EXPECT_EQ(sim().execute(line), reply) << line;
  EXPECT_EQ(sim().tdm().read(8200), 0x3a);
  EXPECT_EQ(Mux::clockOffset() - before, 120000u);  // the loop's clock moves on by what is asked
  EXPECT_EQ(Board::ioctl(fd, R::MuxConnect, a.data()), -1);
  EXPECT_EQ(errno, 5);
  EXPECT_EQ(Board::open("/dev/hal", O_RDWR), -1);
  EXPECT_EQ(sim().execute("absent /dev/hal off"), "ok\n");
  EXPECT_NE(sim().execute("help").find("xpoints"), std::string::npos);
}

// Bad lines and counts out of range are refused with a clear line at once,
// never acted on ("*": the answer begins so).
TEST_F(SimBoard, BadLinesAndCountsOutOfRangeAreRefused) {
  const struct {
    const char* line;
    std::string reply;
  } rows[] = {
      {"modems 100000000", "error: count 100000000 out of range (0..256)\n"},
      {"modems 2 2147483647", "error: timeslot 2147483647 out of range (0..65535)\n"},
      {"modems -1", "error: count -1 out of range (0..256)\n"},
      {"mixer-unit 0 2000000000 64", "error: channels 2000000000 out of range (0..4096)\n"},
      {"mixer-unit 144115188075855872 32 64", "error: unit 144115188075855872 out of range (0..255)\n"},
      {"mixer-unit 0 32 64 2147483647", "error: timeslot 2147483647 out of range (0..65535)\n"},
      {"mcc-capacity 1 1 2147483647", "error: transparent 2147483647 out of range (0..4096)\n"},
      {"mcc-next 2147483647", "error: channel 2147483647 out of range (0..65535)\n"},
      {"voice-caps 1 2 3 99999999999", "error: g711mcc 99999999999 out of range (0..4096)\n"},
      {"clock 4294967296", "error: ms 4294967296 out of range (0..86400000)\n"},
      {"clock 99999999999999999999", "error: ms 99999999999999999999 out of range (0..86400000)\n"},
      {"fail /dev/hal any 5 -1", "error: count -1 out of range (1..1000000000)\n"},
      {"fail /dev/hal any 0", "error: errno 0 out of range (1..4095)\n"},
      {"drive 2147483648 1", "error: channel 2147483648 out of range (0..65535)\n"},
      {"spi 256 1", "error: channel 256 out of range (0..255)\n"},
      {"spi 1", "error: usage: spi <chan> <reg> [<value>]\n"},
      {"clock -5", "error: *"}, {"bogus", "error: unknown command*"}, {"inject 10 0g", "error: *"},
      {"inject 10 123", "error: *"}, {"fail /dev/nothing any 5", "error: *"}, {"drive x", "error: *"},
      {"eof 77", "error: no controller channel*"}, {"modems 2 100", "0 ts 100 free\n1 ts 101 free\nok\n"},
      {"mixer-unit 3 8 16", "ok\n"}, {"mcc-capacity 0x10 0 4096", "ok\n"},
  };
  for (const auto& r : rows) {
    const std::string got = sim().execute(r.line);
    const bool prefix = r.reply.back() == '*';
    EXPECT_EQ(prefix ? got.substr(0, r.reply.size() - 1) + "*" : got, r.reply) << r.line;
  }
  EXPECT_EQ(sim().execute("mixer-units"), "0 32 64 512\n1 32 64 576\n3 8 16 704\nok\n");
  EXPECT_EQ(sim().execute("mcc-capacity"), "16 0 4096\nok\n");
  EXPECT_EQ(sim().execute("xpoints"), "ok\n");
}

TEST_F(SimBoard, ControlSocketIsTheOwnersOnlyAndGoesAway) {
  const mode_t old = ::umask(0);
  sim().stopControl();
  const std::string path = SimTest::root() + "/run/tessarod-sim.sock";
  EXPECT_NE(::access(path.c_str(), F_OK), 0);
  ASSERT_TRUE(sim().startControl());
  ::umask(old);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0600u);
}

// With no descriptor left a pending client can not be taken: the socket is
// set aside (logged once) instead of keeping the loop busy, and the client
// is served once the loop's clock has moved on a second.
TEST_F(SimBoard, NoDescriptorLeftPausesTheControlSocket) {
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strncpy(a.sun_path, sim().controlPath().c_str(), sizeof a.sun_path - 1);
  int client = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  fds_.push_back(client);

  // Sanitizer checks need descriptors of their own: everything the
  // failure path does runs once here first.
  SimTest::FrozenClock clock;
  SimTest::LogCapture cap;
  std::cerr << "" << std::strerror(EMFILE) << "" << std::endl;
  cap.clear();
  sim().pauseControl();
  sim().resumeControl();
  rlimit was{};
  ::getrlimit(RLIMIT_NOFILE, &was);
  std::vector<int> filler;
  for (int fd; (fd = ::dup(client)) >= 0;) filler.push_back(fd);
  const int highest = filler.empty() ? client : filler.back();
  for (int fd : filler) ::close(fd);
  rlimit low = was;
  low.rlim_cur = rlim_t(highest) + 1;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
  // Closed above only to be able to lower the limit; taken again here.
  filler.clear();
  for (int fd; (fd = ::dup(client)) >= 0;) filler.push_back(fd);

  for (int pass = 0; pass < 3; ++pass) sim().pump();
  EXPECT_TRUE(sim().controlPaused());
  EXPECT_EQ(SimTest::pollNow(sim().pollFd()), 0);  // nothing left to spin on
  EXPECT_EQ(cap.err(), "sim: control socket: accept failed: Too many open files; retrying in 1 s\n");

  for (int fd : filler) ::close(fd);
  ::setrlimit(RLIMIT_NOFILE, &was);
  clock.advance(999);
  EXPECT_TRUE(sim().controlPaused());
  clock.advance(1);
  EXPECT_FALSE(sim().controlPaused());
  ASSERT_EQ(::send(client, "mcc-capacity\n", 13, MSG_NOSIGNAL), 13);
  for (int pass = 0; pass < 3 && SimTest::pollNow(client) == 0; ++pass) sim().pump();
  char buf[64] = {};
  EXPECT_EQ(std::string(buf, std::size_t(::recv(client, buf, sizeof buf, MSG_DONTWAIT))), "32 16 32\nok\n");
}

TEST_F(SimBoard, AbsentDevicesAndInjectedFailures) {
  sim().setPresent("/dev/hal", false);
  for (const char* dev : {"/dev/hal", "/dev/no-such-device"}) {
    EXPECT_EQ(Board::open(dev, O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);
  }
  sim().setPresent("/dev/hal", true);
  int fd = open("/dev/hal"), p[2];
  ASSERT_EQ(::pipe(p), 0);
  fds_.insert(fds_.end(), {p[0], p[1]});
  sim().failNext("/dev/hal", R::MuxConnect, EIO, 2);
  Board::WordRecord rec{8192, 1};
  // {descriptor, request, result, errno}: the failure is counted per
  // request, others pass meanwhile; unknown requests and foreign
  // descriptors are refused as a driver would.
  const struct { int fd; uint32_t req; int result, err; } rows[] = {
      {fd, R::MuxConnect, -1, EIO}, {fd, R::MuxDisable, 0, 0},      {fd, R::MuxConnect, -1, EIO},
      {fd, R::MuxConnect, 0, 0},    {fd, 0xc0084dff, -1, ENOTTY},   {-1, R::MuxConnect, -1, EBADF},
      {p[0], R::MuxConnect, -1, ENOTTY}};
  for (const auto& r : rows) {
    EXPECT_EQ(Board::ioctl(r.fd, r.req, rec.data()), r.result) << r.fd << " " << r.req;
    if (r.result < 0) {
      EXPECT_EQ(errno, r.err) << r.fd << " " << r.req;
    }
  }
  EXPECT_EQ(sim().log()[0].text(), "/dev/hal 0x80084d02 8192 1 -> -1 " + std::string(std::strerror(EIO)));
}

}  // namespace
