// The serial transport over a pseudo-terminal pair: the test holds the
// master end as the line interface, the transport opens the slave end
// through a device link under its own root folder.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include "hardware/descriptor_squeeze.h"
#include "radiolink/proto_vork_uart.h"
#include "runtime/loop/dpc.h"
#include "runtime/loop/multiplexer.h"
#include "runtime/os/clock.h"
#include "runtime/test_loop_support.h"
#include "tests/radiolink/radiolink_frames.h"

using namespace VORKGW;

// The line as the transport's port sees it: writes follow the script (a
// number writes at most that many bytes, -1 fails as a full line does and
// -EINTR as an interrupted call), and
// flushing output drops what the master end has not read, as a driver would.
struct {
  int keep = -1, master = -1;
  std::vector<int> writes;
} serial;

bool IsPort(int fd) {  // the slave end, not through the test's own descriptor
  struct stat a, b;
  return fd != serial.keep && ::fstat(fd, &a) == 0 && ::fstat(serial.keep, &b) == 0 && a.st_rdev == b.st_rdev;
}

extern "C" ssize_t write(int fd, const void* buf, size_t n) {
  if (!serial.writes.empty() && IsPort(fd)) {
    const int w = serial.writes.front();
    serial.writes.erase(serial.writes.begin());
    if (w < 0) return errno = w == -EINTR ? EINTR : EAGAIN, -1;
    if (static_cast<size_t>(w) < n) n = static_cast<size_t>(w);
  }
  return ::syscall(SYS_write, fd, buf, n);
}

extern "C" int tcflush(int fd, int queue) __THROW {
  struct pollfd p = {serial.master, POLLIN, 0};
  unsigned char buf[4096];
  while (queue != TCIFLUSH && IsPort(fd) && ::poll(&p, 1, 20) > 0 && ::read(serial.master, buf, sizeof buf) > 0) {
  }
  return ::ioctl(fd, TCFLSH, queue);
}

namespace {

class Listener : public IProtoVorkNotify {
 public:
  void ProtoVorkNotify(const ProtoVorkPackets& packets) override {
    calls.push_back(packets.get_packets().size());
    for (auto it = packets.get_packets().begin(); it != packets.get_packets().end(); ++it)
      ids.push_back((*it).get_msgID().asInt());
    multiplexer.terminate();
  }
  std::vector<size_t> calls;
  std::vector<int> ids;
};

class UartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(::grantpt(master_), 0);
    ASSERT_EQ(::unlockpt(master_), 0);
    // Keep the slave side open so that the line does not hang up while the
    // transport closes and reopens it.
    keep_ = ::open(::ptsname(master_), O_RDWR | O_NOCTTY);
    ASSERT_GE(keep_, 0);
    root_.mkdirs("/dev");
    ASSERT_EQ(::symlink(::ptsname(master_), root_.file("/dev/ttyRL0").c_str()), 0);
    uart_.config.device = "/dev/ttyRL0";
    uart_.listener = &listener_;
  }
  void TearDown() override {
    serial = {};
    uart_.Close();
    if (keep_ >= 0) ::close(keep_);
    if (master_ >= 0) ::close(master_);
  }

  void ToLine(const Bytes& b) { ASSERT_EQ(::write(master_, b.data(), b.size()), static_cast<ssize_t>(b.size())); }
  // Runs the loop until the listener is called or ms pass.
  void RunFor(unsigned ms) {
    LoopDeadline deadline(ms);
    multiplexer.run(false, true);
  }
  // Runs the loop until done() holds, however slowly the machine runs (at most 10 s).
  template <class Done>
  void RunUntil(Done done) {
    for (int i = 0; i < 200 && !done(); ++i) RunFor(50);
  }
  // Bytes written to the line that the transport has not read yet.
  int Unread() {
    int n = 0;
    ::ioctl(keep_, FIONREAD, &n);
    return n;
  }
  // Everything the transport wrote to the line so far.
  Bytes FromLine() {
    Bytes out;
    unsigned char buf[4096];
    for (struct pollfd p = {master_, POLLIN, 0}; ::poll(&p, 1, 100) > 0;) {
      ssize_t n = ::read(master_, buf, sizeof buf);
      if (n <= 0) break;
      out.insert(out.end(), buf, buf + n);
    }
    return out;
  }
  struct termios SlaveSettings() {
    struct termios t = {};
    tcgetattr(keep_, &t);
    return t;
  }

  TempRoot root_;
  int master_ = -1;
  int keep_ = -1;
  Listener listener_;
  ProtoVorkUartCtl uart_;
};

Bytes SetIdFrame(uint32_t seq, uint8_t id) { return MakeFrame(DLI_SET_ID, seq, 0, 0x02, 0x01, {id, 0}); }

TEST_F(UartTest, MissingDeviceRetriesUntilItAppears) {
  Mux::mux_settimeofday();  // the loop's clock stands still but for the test's moves
  uart_.config.device = "";
  uart_.TryOpen();
  EXPECT_FALSE(uart_.IsOpen());
  EXPECT_TRUE(uart_.RetryPending());
  uart_.config.device = "/dev/ttyRL0";
  Mux::advanceClock(19999);
  runOnePass();
  EXPECT_FALSE(uart_.IsOpen());
  Mux::advanceClock(1);  // the retry comes 20000 ms after the failure
  runOnePass();
  Mux::mux_cleartimeofday();
  EXPECT_TRUE(uart_.IsOpen());
  EXPECT_FALSE(uart_.RetryPending());
  uart_.Close();
  EXPECT_FALSE(uart_.IsOpen() || uart_.RetryPending());
}

// Opened with one descriptor free, the port cannot be watched: it is closed
// (with a line under debug) and opened again 20000 ms later.
TEST_F(UartTest, APortThatCannotBeWatchedIsClosedAndReopenedLater) {
  uart_.debug = true;
  StreamCapture log(std::clog);
  {
    SimTest::DescriptorSqueeze squeeze;
    squeeze.Free(1);
    uart_.TryOpen();
  }
  EXPECT_FALSE(uart_.IsOpen());
  EXPECT_TRUE(uart_.RetryPending());
  EXPECT_EQ(log.text(), "vorkgw: dup fail: Too many open files\n");
  Mux::advanceClock(19000);
  RunFor(20);
  EXPECT_FALSE(uart_.IsOpen());
  Mux::advanceClock(1000);
  RunUntil([&] { return uart_.IsOpen(); });
  ASSERT_TRUE(uart_.IsOpen());
  ToLine(SetIdFrame(1, 7));
  RunUntil([&] { return !listener_.calls.empty(); });
  EXPECT_EQ(listener_.calls, std::vector<size_t>{1});
}

TEST_F(UartTest, LineSettings) {
  struct termios before = SlaveSettings();
  uart_.config.baud = 12345;  // not a rate the line knows: 9600
  uart_.config.parity = 3;
  uart_.config.stop_bits = 0;
  uart_.TryOpen();
  ASSERT_TRUE(uart_.IsOpen());
  struct termios t = SlaveSettings();
  EXPECT_EQ(V(cfgetospeed(&t), t.c_cflag & CSTOPB, t.c_iflag, t.c_lflag & (ICANON | ECHO)),
            V(static_cast<speed_t>(B9600), 0u, static_cast<tcflag_t>(IGNPAR), 0u));
  uart_.config.baud = 115200;
  uart_.TryOpen();  // reopening an open port
  t = SlaveSettings();
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
  // (A pseudo-terminal keeps CS8 and no parity whatever it is told.)
  // Closing gives the port its earlier settings back.
  uart_.Close();
  struct termios after = SlaveSettings();
  EXPECT_EQ(V(after.c_cflag, after.c_lflag), V(before.c_cflag, before.c_lflag));

  // The settings made from a configuration: baud, data bits, parity, stop bits.
  t = ProtoVorkUartCtl::MakeSettings(ProtoVorkUartCtl::ConfigTTY());
  EXPECT_EQ(V(t.c_cflag, t.c_iflag, t.c_oflag, t.c_lflag, t.c_cc[VEOL], t.c_cc[VMIN]),
            V(B115200 | CS8 | CREAD | CLOCAL, IGNPAR, 0, 0, 1, 0));
  typedef ProtoVorkUartCtl::ConfigTTY C;
  for (auto [c, cflag] : {std::pair<C, tcflag_t>{{"", 9600, 8, 0, 1}, B9600 | CS8},
                          {{"", 57600, 7, 2, 2}, B57600 | CS7 | PARENB | CSTOPB},
                          {{"", 57600, 5, 1, 0}, B57600 | CS8 | PARENB | PARODD}})
    EXPECT_EQ(ProtoVorkUartCtl::MakeSettings(c).c_cflag, cflag | CREAD | CLOCAL) << c.baud << " " << c.data_bits;
}

// Two frames and half of a third in one read, then the rest; then 100
// small frames (1800 bytes) in one read of the port.
TEST_F(UartTest, FramesAreDeliveredWhateverTheReadsCut) {
  uart_.TryOpen();
  ASSERT_TRUE(uart_.IsOpen());
  uart_.debug = true;
  StreamCapture log(std::clog);
  Bytes third = SetIdFrame(3, 3);
  Bytes chunk = SetIdFrame(1, 1), second = SetIdFrame(2, 2);
  chunk.insert(chunk.end(), second.begin(), second.end());
  chunk.insert(chunk.end(), third.begin(), third.begin() + 9);
  ToLine(chunk);
  RunFor(2000);
  ToLine(Bytes(third.begin() + 9, third.end()));
  RunFor(2000);
  EXPECT_EQ(listener_.calls, (std::vector<size_t>{2, 1}));
  EXPECT_EQ(listener_.ids, (std::vector<int>{DLI_SET_ID, DLI_SET_ID, DLI_SET_ID}));
  // Only the half frame that ends a read is incomplete, not a frame that crosses a slice of one read of 548.
  const char incomplete[] = "vorkgw: error unpacked message = 0 status = 'CONVERT_NOT_ENOUGHT_RAW_DATA'(-202)\n";
  EXPECT_EQ(V(log.text().rfind(incomplete, 0), log.text().rfind("vorkgw")), V(0, 0));
  Bytes big = MakeFrame(DLI_SET_ID, 4, 0, 0x02, 0x01, Bytes(256, 0)), pair = big;
  pair.insert(pair.end(), big.begin(), big.end());
  ToLine(pair);
  RunUntil([&] { return listener_.calls.size() == 3; });
  EXPECT_EQ(listener_.calls, (std::vector<size_t>{2, 1, 2}));
  EXPECT_EQ(V(log.text().rfind(incomplete, 0), log.text().rfind("vorkgw")), V(0, 0));

  Bytes all;
  for (int i = 0; i < 100; ++i) {
    Bytes f = SetIdFrame(static_cast<uint32_t>(i), static_cast<uint8_t>(i));
    all.insert(all.end(), f.begin(), f.end());
  }
  ToLine(all);
  for (int i = 0; i < 10 && listener_.ids.size() < 105; ++i) RunFor(2000);
  EXPECT_EQ(listener_.ids.size(), 105u);
}

TEST_F(UartTest, BadFrameReachesNoListenerAndLogsOnlyWithDebug) {
  uart_.TryOpen();
  Bytes bad = SetIdFrame(1, 1);
  bad[17] ^= 0x55;
  {
    StreamCapture log(std::clog);
    ToLine(bad);
    RunUntil([&] { return Unread() == 0; });
    RunFor(50);
    EXPECT_EQ(log.text().find("vorkgw"), std::string::npos);
  }
  uart_.debug = true;
  StreamCapture log(std::clog);
  ToLine(bad);
  RunUntil([&] { return Has(log.text(), "vorkgw"); });
  EXPECT_TRUE(listener_.calls.empty());
  EXPECT_TRUE(Has(log.text(), "vorkgw: error unpacked message = 0 status = 'CONVERT_BAD_CRC'(-195)\n"));
}

// Packets go out in order with consecutive sequences; one that cannot be
// converted is not sent (and only logged with debug on).
TEST_F(UartTest, WritesPacketsInOrder) {
  uart_.TryOpen();
  ProtoVorkPackets list;
  for (ProtoVorkMsgID::NamedNumber id :
       {ProtoVorkMsgID::gw_rad_rx_on, ProtoVorkMsgID::gw_rad_rx_off, ProtoVorkMsgID::gw_rad_rx_on}) {
    ProtoVorkPacket p;
    p.set_msgID(id);
    p.set_dstAddr(ProtoVorkAddress::dli);
    list.set_packets().push_back(p);
  }
  uart_.Write(list);
  Bytes line = FromLine();
  ASSERT_EQ(line.size(), 3u * 18u);
  Channel dli(PROTO_MODE_DIGITAL);
  dli.Feed(line);
  std::vector<s_data_cmd> got = dli.Received();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ((std::vector<int>{got[0].msgID, got[1].msgID, got[2].msgID}),
            (std::vector<int>{GW_RAD_RX_ON, GW_RAD_RX_OFF, GW_RAD_RX_ON}));
  EXPECT_EQ(got[2].msgSeqNum, got[0].msgSeqNum + 1);
  EXPECT_EQ(got[0].cmdStatus + got[1].cmdStatus + got[2].cmdStatus, 0);

  ProtoVorkPacket p;
  p.set_msgID(ProtoVorkMsgID::dli_set_id);
  {
    StreamCapture log(std::clog);
    uart_.Write(p);
    EXPECT_EQ(log.text(), "");
  }
  uart_.debug = true;
  StreamCapture log(std::clog);
  uart_.Write(p);
  EXPECT_TRUE(FromLine().empty());
  EXPECT_EQ(log.text().rfind("vorkgw: error decode asn for msgID  = 2000\nProto=cmdStatus  : 0,\n", 0), 0u);

  // A full line or an interrupted call fails a write at once; a frame cut after 5 bytes is completed.
  // A transport destroyed leaves its last frame on the line, the settings restored.
  typedef std::tuple<std::vector<int>, size_t, const char*> Cut;
  for (auto [writes, sent, text] : {Cut{{-1}, 0, "vorkgw: TTY write error = 11\n"},
                                    Cut{{-EINTR}, 0, "vorkgw: TTY write error = 4\n"}, Cut{{5, -1}, 18, ""}}) {
    serial = {keep_, master_, writes};
    StreamCapture cut(std::clog);
    uart_.Write(list.get_packets()[0]);
    EXPECT_EQ(V(FromLine().size(), cut.text() == text), V(sent, true)) << cut.text();
  }
  {
    ProtoVorkUartCtl last;
    last.config = {"/dev/ttyRL0", 9600, 8, 0, 1};
    last.TryOpen();
    last.Write(list.get_packets()[0]);
  }
  struct termios after = SlaveSettings();
  EXPECT_EQ(V(FromLine().size(), cfgetospeed(&after)), V(18, B115200));
}

TEST_F(UartTest, HangupClosesAndRetriesInsteadOfSpinning) {
  uart_.TryOpen();
  uart_.Read();  // nothing pending: the read gives 0 and the port stays
  ASSERT_TRUE(uart_.IsOpen());
  EXPECT_FALSE(uart_.RetryPending());
  // Input still held when the hang-up is reported is read first.
  ToLine(SetIdFrame(1, 7));
  uart_.OnEvent(-1, POLLIN | POLLHUP);
  EXPECT_EQ(V(listener_.calls.size(), uart_.IsOpen()), V(1, true));
  ::close(keep_);
  ::close(master_);
  keep_ = master_ = -1;
  RunUntil([&] { return !uart_.IsOpen(); });
  EXPECT_FALSE(uart_.IsOpen());
  EXPECT_TRUE(uart_.RetryPending());
}

}  // namespace
