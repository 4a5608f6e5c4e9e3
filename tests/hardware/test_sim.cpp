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

TEST_F(SimBoard, FramesTravelThroughTheCrosspoints) {
  int ctl = channel(40, 1);
  int hal = open("/dev/hal");
  Board::WordRecord tx{11, 40}, rx{40, 10};
  Board::ioctl(hal, R::MuxConnect, tx.data());
  Board::ioctl(hal, R::MuxConnect, rx.data());

  // The far end's frames on timeslot 10 arrive one per read.
  EXPECT_EQ(sim().tdm().send(10, {1, 2, 3}), 1);
  sim().tdm().send(10, {4});
  uint8_t buf[64];
  EXPECT_EQ(Board::read(ctl, buf, sizeof buf), 3);
  EXPECT_EQ(Board::read(ctl, buf, sizeof buf), 1);
  EXPECT_EQ(buf[0], 4);
  EXPECT_EQ(Board::read(ctl, buf, sizeof buf), -1);
  EXPECT_EQ(errno, EAGAIN);

  // What the daemon writes leaves on timeslot 11 unchanged.
  const uint8_t frame[] = {0x02, 0x01, 0x7f, 0x00, 0xff};
  EXPECT_EQ(Board::write(ctl, frame, sizeof frame), 5);
  sim().pump();
  auto out = sim().tdm().takeFarEnd(11);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0], Bytes(frame, frame + 5));
  EXPECT_TRUE(sim().tdm().takeFarEnd(11).empty());
}

TEST_F(SimBoard, HeldTransmitterFillsUpAndDrainsOnRelease) {
  int fd = channel(40);
  sim().hold(*sim().mcc().channel(40), true);
  const uint8_t f[] = {1};
  int accepted = 0;
  while (Board::write(fd, f, 1) == 1) ++accepted;
  EXPECT_EQ(errno, EAGAIN);
  EXPECT_GT(accepted, 0);
  sim().pump();  // held: nothing is taken
  pollfd p{fd, POLLOUT, 0};
  EXPECT_EQ(::poll(&p, 1, 0), 0);

  sim().hold(*sim().mcc().channel(40), false);
  EXPECT_EQ(::poll(&p, 1, 0), 1);
  EXPECT_TRUE(p.revents & POLLOUT);
  EXPECT_EQ(sim().mcc().channel(40)->txFrames, unsigned(accepted));
}

TEST_F(SimBoard, EndOfFileAndReadErrorsOnDemand) {
  int fd = channel(40);
  sim().failRead(*sim().mcc().channel(40), EIO);
  pollfd p{fd, POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 0), 1);
  uint8_t buf[8];
  EXPECT_EQ(Board::read(fd, buf, sizeof buf), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(::poll(&p, 1, 0), 0);  // the error is reported once

  sim().endSession(*sim().mcc().channel(40));
  EXPECT_EQ(::poll(&p, 1, 0), 1);
  EXPECT_TRUE(p.revents & POLLHUP);
  EXPECT_EQ(Board::read(fd, buf, sizeof buf), 0);
  EXPECT_EQ(Board::ioctl(fd, R::MccTimeslot, nullptr), -1);
}

// ---- Control protocol ----------------------------------------------------

}  // namespace
