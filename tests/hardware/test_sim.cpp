// The simulated board behind the seam: device opens, requests and their
// log, the TDM fabric, controller channels and the control socket.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "hardware/board/record.h"
#include "hardware/board/requests.h"
#include "hardware/sim/hal.h"
#include "hardware/sim/mcc.h"
#include "runtime/os/clock.h"
#include "sim_env.h"

namespace R = Board::Req;
using Sim::Bytes;

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
  // Opens a controller channel of the given type on channel `ch`.
  int channel(int ch, int type = 0) {
    sim().mcc().setNextChannel(ch);
    int fd = open("/dev/mcc/ctl", O_RDWR | O_NONBLOCK);
    Board::WordRecord alloc{type, 512, 0, 1, 4};
    EXPECT_EQ(Board::ioctl(fd, R::MccAllocate, alloc.data()), 0);
    EXPECT_EQ(Board::ioctl(fd, R::MccTimeslot, nullptr), ch);
    return fd;
  }
  std::vector<int> fds_;
};

TEST_F(SimBoard, MultiplexerRequestsProgramTheFabricAndAreLogged) {
  int fd = open("/dev/hal");
  ASSERT_GE(fd, 0);

  Board::WordRecord connect{8583, 5};
  EXPECT_EQ(Board::ioctl(fd, R::MuxConnect, connect.data()), 0);
  EXPECT_EQ(sim().tdm().sourceOf(8583), 5);

  // A constant byte replaces the connection; the byte reads back on the
  // channel and on every output taking it as source.
  Board::WordRecord write{8200, 0xD5};
  EXPECT_EQ(Board::ioctl(fd, R::MuxWrite, write.data()), 0);
  Board::WordRecord link{8300, 8200};
  Board::ioctl(fd, R::MuxConnect, link.data());
  Board::WordRecord read{8300, 0xFF};
  EXPECT_EQ(Board::ioctl(fd, R::MuxRead, read.data()), 0);
  EXPECT_EQ(read.get(1), 0xD5);

  // Disabled and never-driven channels read idle.
  Board::WordRecord disable{8200};
  Board::ioctl(fd, R::MuxDisable, disable.data());
  Board::WordRecord read2{8200, 0};
  Board::ioctl(fd, R::MuxRead, read2.data());
  EXPECT_EQ(read2.get(1), 0xFF);
  EXPECT_EQ(sim().tdm().sourceOf(8200), -1);

  // The log keeps every record as it came in, big-endian.
  ASSERT_EQ(sim().log().size(), 6u);
  const auto& first = sim().log().front();
  EXPECT_EQ(first.device, "/dev/hal");
  EXPECT_EQ(first.request, R::MuxConnect);
  EXPECT_EQ(first.in, (Bytes{0, 0, 0x21, 0x87, 0, 0, 0, 5}));
  EXPECT_EQ(first.text(), "/dev/hal 0x80084d02 8583 5 -> 0");
}

// ---- Control protocol ----------------------------------------------------

TEST_F(SimBoard, ControlCommands) {
  int fd = open("/dev/hal");
  Board::WordRecord a{8583, 5}, b{11, 40};
  Board::ioctl(fd, R::MuxConnect, a.data());
  Board::ioctl(fd, R::MuxConnect, b.data());
  EXPECT_EQ(sim().execute("xpoints"), "11 40\n8583 5\nok\n");
  EXPECT_EQ(sim().execute("log 1"), "/dev/hal 0x80084d02 11 40 -> 0\nok\n");

  EXPECT_EQ(sim().execute("inject 40 02 01 03"), "outputs 1\nok\n");
  EXPECT_EQ(sim().execute("frames 11"), "020103\nok\n");
  EXPECT_EQ(sim().execute("frames 11"), "ok\n");

  EXPECT_EQ(sim().execute("fail /dev/hal 80084d02 5"), "ok\n");
  EXPECT_EQ(Board::ioctl(fd, R::MuxConnect, a.data()), -1);
  EXPECT_EQ(errno, 5);

  EXPECT_EQ(sim().execute("absent /dev/hal on"), "ok\n");
  EXPECT_EQ(Board::open("/dev/hal", O_RDWR), -1);
  EXPECT_EQ(sim().execute("absent /dev/hal off"), "ok\n");

  EXPECT_EQ(sim().execute("drive 8200 0x3a"), "ok\n");
  EXPECT_EQ(sim().tdm().read(8200), 0x3a);
  EXPECT_EQ(sim().execute("spi 1 51 7"), "ok\n");
  EXPECT_EQ(sim().execute("spi 1 51"), "7\nok\n");

  // The loop's clock moves on by what is asked.
  const auto before = Mux::clockOffset();
  EXPECT_EQ(sim().execute("clock 120000"), "ok\n");
  EXPECT_EQ(Mux::clockOffset() - before, 120000u);

  // Bad input is answered, never acted on.
  EXPECT_EQ(sim().execute("clock -5").rfind("error: ", 0), 0u);
  EXPECT_EQ(sim().execute("bogus").rfind("error: unknown command", 0), 0u);
  EXPECT_EQ(sim().execute("inject 10 0g").rfind("error: ", 0), 0u);
  EXPECT_EQ(sim().execute("inject 10 123").rfind("error: ", 0), 0u);
  EXPECT_EQ(sim().execute("fail /dev/nothing any 5").rfind("error: ", 0), 0u);
  EXPECT_EQ(sim().execute("eof 77").rfind("error: no controller channel", 0), 0u);
  EXPECT_EQ(sim().execute("drive x").rfind("error: ", 0), 0u);
  EXPECT_NE(sim().execute("help").find("xpoints"), std::string::npos);
}

TEST_F(SimBoard, AbsentDevicesAndInjectedFailures) {
  sim().setPresent("/dev/hal", false);
  EXPECT_EQ(Board::open("/dev/hal", O_RDWR), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(Board::open("/dev/no-such-device", O_RDWR), -1);
  sim().setPresent("/dev/hal", true);

  int fd = open("/dev/hal");
  ASSERT_GE(fd, 0);
  sim().failNext("/dev/hal", R::MuxConnect, EIO, 2);
  Board::WordRecord rec{8192, 1};
  EXPECT_EQ(Board::ioctl(fd, R::MuxConnect, rec.data()), -1);
  EXPECT_EQ(errno, EIO);
  // Other requests pass meanwhile; the failure is counted per request.
  Board::WordRecord dis{8192};
  EXPECT_EQ(Board::ioctl(fd, R::MuxDisable, dis.data()), 0);
  EXPECT_EQ(Board::ioctl(fd, R::MuxConnect, rec.data()), -1);
  EXPECT_EQ(Board::ioctl(fd, R::MuxConnect, rec.data()), 0);
  EXPECT_EQ(sim().log()[0].text(), "/dev/hal 0x80084d02 8192 1 -> -1 " + std::string(std::strerror(EIO)));

  // Unknown requests are refused as a driver would; foreign descriptors too.
  EXPECT_EQ(Board::ioctl(fd, 0xc0084dff, rec.data()), -1);
  EXPECT_EQ(errno, ENOTTY);
  EXPECT_EQ(Board::ioctl(-1, R::MuxConnect, rec.data()), -1);
  EXPECT_EQ(errno, EBADF);
  int pipefd[2];
  ASSERT_EQ(::pipe(pipefd), 0);
  EXPECT_EQ(Board::ioctl(pipefd[0], R::MuxConnect, rec.data()), -1);
  EXPECT_EQ(errno, ENOTTY);
  ::close(pipefd[0]);
  ::close(pipefd[1]);
}

}  // namespace
