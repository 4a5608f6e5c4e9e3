#include "slots/mcc_slot.h"

#include <fcntl.h>
#include <poll.h>

#include <cerrno>
#include <iostream>
#include <memory>
#include <utility>

#include "hardware/board/board.h"
#include "hardware/board/record.h"
#include "hardware/board/requests.h"

namespace {
const char kDevice[] = "/dev/mcc/ctl";
// Records of 0 bytes in a row after which a drain gives up: a driver that
// keeps answering 0 must not hold the loop.
constexpr int kMaxEmptyReads = 8;
}  // namespace

MccSlot::MccSlot(Fd fd) : channel(Board::ioctl(fd.lowlevel_fd(), Board::Req::MccTimeslot, nullptr)) {
  mEvent.Bind("MccSlot::OnEvent", &MccSlot::OnEvent, this);
  mEvent.Schedule(fd, POLLIN);
  if (!mEvent.IsActive()) mWatchError = errno;
}

bool MccSlot::IUserData(const std::vector<char>& data) {
  // One write, whatever it returns: data that cannot go now is not sent.
  if (mEvent.IsActive()) Board::write(mEvent.lowlevel_fd(), data.data(), data.size());
  return true;
}

void MccSlot::OnEvent(int, short revents) {
  bool ended = (revents & (POLLIN | POLLHUP)) && !DoRead();
  // A hang-up, an error or a channel that only answers end of file would
  // wake every poll: once what was left is read, the channel is no longer
  // watched (the descriptor closes, which frees the channel in the
  // controller).
  if (mEvent.IsActive() && (ended || (revents & (POLLHUP | POLLERR)))) {
    std::cerr << *this << ": channel " << channel << " ended by the controller" << std::endl;
    mEvent.Release();
  }
}

bool MccSlot::DoRead() {
  int empty = 0;
  std::vector<char> buf;  // one buffer for the whole drain: it keeps its capacity
  for (;;) {
    buf.resize(Mcc::kReadSize);
    ssize_t n = Board::read(mEvent.lowlevel_fd(), buf.data(), buf.size());
    if (n > 0) {
      buf.resize(static_cast<std::size_t>(n));
      OnUserData(buf);
      empty = 0;
      continue;
    }
    if (n == 0) {
      if (++empty >= kMaxEmptyReads) return false;
      continue;
    }
    if (errno == EINTR) continue;
    return true;  // EAGAIN: the channel is empty; other failures end the drain too
  }
}

std::ostream& MccFactory::PutHeader(std::ostream& os) const { return os << "mcc: "; }

MccFactory& MccFactory::instance() {
  static MccFactory factory;
  return factory;
}

Slot* MccFactory::INewSlot(const LGCP::CreateParams& params) {
  if (!params.mcc_isSelected()) return nullptr;
  const LGCP::MccParams& p = params.get_mcc();
  Fd dev(Board::open(kDevice, O_RDWR | O_NONBLOCK | O_CLOEXEC));
  if (!dev) {
    Errno e;
    PutHeader(std::cerr) << "fail to open MCC device: " << e << std::endl;
    return nullptr;
  }
  int32_t mode;
  switch (p.get_type().asInt()) {
    case LGCP::MccType::data: mode = Mcc::kData; break;
    case LGCP::MccType::bri: mode = Mcc::kBri; break;
    case LGCP::MccType::transparent: mode = Mcc::kTransparent; break;
    default: return nullptr;  // dev closes on return
  }
  if (p.get_mode().asInt() == LGCP::MccMode::ss7) mode = Mcc::kSs7;

  Board::WordRecord block{mode, 512, 0, 1, 1};
  PutHeader(std::clog) << "MCC_ALLOCATE" << " type=" << mode << std::endl;
  if (Board::ioctl(dev.lowlevel_fd(), Board::Req::MccAllocate, block.data()) < 0) {
    Errno e;
    PutHeader(std::cerr) << "MCC_ALLOCATE fail: " << e << std::endl;
    return nullptr;
  }
  std::unique_ptr<MccSlot> slot(new MccSlot(std::move(dev)));
  // A slot without a channel could never be switched or carry data.
  if (slot->GetChannel() < 0) {
    PutHeader(std::cerr) << "MCC_TIMESLOT fail: " << slot->GetChannel() << std::endl;
    return nullptr;
  }
  // Nor one whose channel went with the factory's descriptor: the watch's
  // duplicate is what keeps it allocated.
  if (!slot->IsOpen()) {
    PutHeader(std::cerr) << "dup fail: " << Errno(slot->WatchError()) << std::endl;
    return nullptr;
  }
  return slot.release();
}

void MccFactory::Query(LGCP::Resources& resources) {
  resources.set_mcc_data(0);
  resources.set_mcc_bri(0);
  resources.set_mcc_trans(0);
  Fd dev(Board::open(kDevice, O_RDONLY | O_CLOEXEC));
  if (!dev) return;
  Board::WordRecord block(4);
  if (Board::ioctl(dev.lowlevel_fd(), Mcc::kResources, block.data()) < 0) return;
  resources.set_mcc_data(block.get(0));
  resources.set_mcc_bri(block.get(1));
  resources.set_mcc_trans(block.get(2));
}
