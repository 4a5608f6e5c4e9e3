#include "slots/isdn_slot.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <utility>

#include "hardware/board/board.h"
#include "hardware/board/record.h"
#include "hardware/board/requests.h"

IsdnSlot::IsdnSlot(Fd device, ISDN::LAPD* link) : mLink(link) {
  mChannel = ::Board::ioctl(device.lowlevel_fd(), ::Board::Req::MccTimeslot, nullptr);
  if (mChannel < 0) {
    mChannelError = errno;
    mChannel = -1;
  }
  mLink->BindNotify(this);
  mLink->hdlc(this);
  mEvent.Bind("IsdnSlot::OnEvent", &IsdnSlot::OnEvent, this);
  mEvent.Schedule(device, POLLIN | POLLOUT);
  if (!mEvent.IsActive()) mWatchError = errno;
  mReady = false;
  add_protocol_tail(mLink);
}

IsdnSlot::~IsdnSlot() {
  mEvent.Release();
  // The link may still hold frames for its channel: it goes before the
  // slot's own parts do.
  delete mLink;
}

bool IsdnSlot::IActivate(const TERM::TermActivateParams&) {
  activate();
  return true;
}

bool IsdnSlot::IDeactivate() {
  deactivate();
  return true;
}

bool IsdnSlot::IUserData(const std::vector<char>& data) {
  Packet p;
  prepare_head(p);
  if (p.null()) p.reserve_head(0);
  // A message the link cannot carry in one frame is refused, not cut.
  if (data.size() > p.tailroom()) {
    std::cerr << static_cast<const Slot&>(*this) << ": user data too long: " << data.size() << std::endl;
    return false;
  }
  if (!data.empty()) std::memcpy(p.put(static_cast<unsigned>(data.size())), data.data(), data.size());
  message(p);
  return true;
}

bool IsdnSlot::hdlc_transmit(Packet& p) {
  if (p.length() == 0) return true;
  if (!mEvent.IsActive()) return false;
  for (;;) {
    ssize_t n = ::Board::write(mEvent.lowlevel_fd(), p.data(), p.length());
    if (n >= 0) return true;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      mReady = false;
      mEvent.SetEvents(POLLIN | POLLOUT);
    }
    return false;
  }
}

void IsdnSlot::OnEvent(int, short revents) {
  if (revents & (POLLIN | POLLERR | POLLHUP)) {
    Packet p;
    p.reserve_head(0);
    ssize_t n = ::Board::read(mEvent.lowlevel_fd(), p.data(), p.tailroom());
    if (n > 0) {
      p.put(static_cast<unsigned>(n));
      receive(p);
    } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      // A device that has ended stays readable: watching it further would
      // spin the loop. The link finds the channel closed.
      std::cerr << static_cast<const Slot&>(*this) << ": read error: " << (n == 0 ? "end of file" : std::strerror(errno))
                << std::endl;
      mEvent.Release();
      mReady = false;
      return;
    }
  }
  if ((revents & POLLOUT) && !mReady && mEvent.IsActive()) {
    mReady = true;
    mEvent.SetEvents(POLLIN);
    mLink->on_hdlc_ready();
  }
}

void IsdnSlot::on_message(Packet& p) {
  const char* bytes = reinterpret_cast<const char*>(p.data());
  OnUserData(std::vector<char>(bytes, bytes + p.length()));
}

void IsdnSlot::on_activated(Protocol*) {
  UpdateISDN_Statistics();
  OnActivated();
}

void IsdnSlot::on_deactivated(Protocol*, ProtocolStatus) {
  UpdateISDN_Statistics();
  OnDeactivated();
}

void IsdnSlot::UpdateISDN_Statistics() {
  ACP::IsdnLinkInfo info;
  if (mLink->GetInfo(info)) OnIoctlResponse(LGCP::IoctlResponse(LGCP::IoctlResponse::isdnLinkInfo::Id(), info));
}

IsdnFactory& IsdnFactory::instance() {
  static IsdnFactory factory;
  return factory;
}

void IsdnFactory::PutHeader(std::ostream& os) const { os << "mcc/isdn: "; }

Slot* IsdnFactory::INewSlot(const LGCP::CreateParams& params) {
  if (!params.isdn_isSelected()) return nullptr;
  const LGCP::IsdnParams& p = params.get_isdn();
  Fd device(::Board::open("/dev/mcc/ctl", O_RDWR | O_NONBLOCK | O_CLOEXEC));
  if (!device.is_valid()) {
    int e = errno;
    PutHeader(std::cerr);
    std::cerr << "fail to open MCC device: " << std::strerror(e) << std::endl;
    return nullptr;
  }
  const bool bri = p.get_type().is_bri();
  auto* link = new ISDN::LAPD(ISDN::Side::user, 0);
  if (bri) link->change_to_bri();
  link->set_linkno(static_cast<unsigned>(p.get_trunk().getValue()));
  link->set_log(static_cast<unsigned>(p.get_log().getValue()));
  link->set_side(p.get_side().network_isSelected() ? ISDN::Side::network : ISDN::Side::user);

  ::Board::WordRecord alloc{bri ? 1 : 0, 512, 0, 1, 1};
  if (::Board::ioctl(device.lowlevel_fd(), ::Board::Req::MccAllocate, alloc.data()) == -1) {
    int e = errno;
    PutHeader(std::cerr);
    std::cerr << "MCC_ALLOCATE fail: " << std::strerror(e) << std::endl;
    delete link;
    return nullptr;
  }
  auto* slot = new IsdnSlot(std::move(device), link);
  if (slot->channel() < 0) {
    // Without a controller channel the slot could not be connected.
    PutHeader(std::cerr);
    std::cerr << "MCC_TIMESLOT fail: " << std::strerror(slot->channelError()) << std::endl;
    delete slot;
    return nullptr;
  }
  if (!slot->is_open()) {
    // The channel went with the factory's descriptor: the link would have
    // nothing to run on.
    PutHeader(std::cerr);
    std::cerr << "dup fail: " << std::strerror(slot->watchError()) << std::endl;
    delete slot;
    return nullptr;
  }
  return slot;
}
