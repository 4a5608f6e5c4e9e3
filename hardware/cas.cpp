// The CAS signalling of the E1 trunks, the part of E1Ctl that drives
// "/dev/e1-cas": open and close CAS on a trunk or a timeslot, set the
// transmitted bits, read both directions back, and pass every change the
// driver reports on to the controller as a cas signal.
#include "hardware/cas.h"

#include <fcntl.h>
#include <poll.h>

#include <iostream>

#include "hardware/board/board.h"
#include "hardware/board/requests.h"
#include "hardware/e1_ctl.h"
#include "runtime/log/ext.h"

namespace {

bool validTrunk(int path) { return path >= 0 && path < E1Ctl::kTrunks; }

}  // namespace

bool E1Ctl::CheckOpenCas() {
  if (casFd_.is_valid()) return true;
  int fd = Board::open("/dev/e1-cas", O_RDWR | O_NONBLOCK);
  if (fd < 0) return false;
  casFd_ = Fd(fd);
  casEvent_.Bind("E1/Cas", &E1Ctl::OnUpdateCas, this);
  casEvent_.Schedule(casFd_, POLLIN);
  if (!casEvent_.IsActive()) {
    // Unwatched, no signalling change would ever be read: closed, so that
    // the next use tries again.
    Errno e;
    std::cerr << ext::header(this) << "cas interface dup fail: " << e << std::endl;
    casFd_.close();
    return false;
  }
  std::clog << ext::header(this) << "cas interface opened!" << std::endl;
  return true;
}

void E1Ctl::OnUpdateCas(int, short revents) {
  // One read of up to one record per readiness report; anything but a whole
  // record (nothing yet, an error, a short one) is dropped quietly.
  uint8_t buf[cas_channel::kSize];
  ssize_t n = Board::read(casEvent_.lowlevel_fd(), buf, sizeof buf);
  if (n == ssize_t(cas_channel::kSize)) {
    cas_channel ch;
    ch.decode(buf);
    SendCASSignal(ch.path, ch.timeslot, ch.rx, ch.tx);
    return;
  }
  // A driver that hung up would report readiness for ever: let it go; the
  // next connect, status tick or command opens it again.
  if (n == 0 && (revents & POLLHUP)) {
    casEvent_.Release();
    casFd_.close();
  }
}

void E1Ctl::HandleCas(const LGCP::IoctlParams& params) {
  if (!CheckOpenCas() || !params.cas_isSelected()) return;
  LGCP::CasCommand command = params.get_cas();
  cas_channel ch;
  ch.path = command.get_channel().get_path().getValue();
  ch.timeslot = command.get_channel().get_timeslot().getValue();
  const LGCP::CasCommandSignal& cmd = command.get_cmd();
  if (cmd.open_isSelected()) HandleCasOpen(ch, cmd.get_open().getValue());
  else if (cmd.close_isSelected()) HandleCasClose(ch);
  else if (cmd.set_isSelected()) HandleCasSet(ch, cmd.get_set().getValue());
  else if (cmd.get_isSelected()) HandleCasGet(ch);
}

void E1Ctl::ReportCas(const cas_channel& channel) {
  cas_channel ch = channel;
  ch.rx = 0;
  ch.tx = 0;
  uint8_t rec[cas_channel::kSize];
  ch.encode(rec);
  int r = Board::ioctl(casFd_.lowlevel_fd(), Board::Req::CasGet, rec);
  if (r < 0) {
    SendCASSignal(ch.path, ch.timeslot, r, 0);
    return;
  }
  ch.decode(rec);
  SendCASSignal(channel.path, channel.timeslot, ch.rx, ch.tx);
}

void E1Ctl::HandleCasOpen(const cas_channel& channel, int tx) {
  if (!validTrunk(channel.path)) return;
  const int trunk = channel.path;
  if (!casOpen_[trunk]) {
    int r = Board::ioctlValue(casFd_.lowlevel_fd(), Board::Req::CasOpenTrunk, static_cast<unsigned long>(trunk));
    SendCASTrunkStatus(trunk, r);
    if (r < 0) {
      std::clog << ext::header(this) << "open cas signalling on trunk(" << trunk << ") - fail(" << r << ")"
                << std::endl;
      return;
    }
    std::clog << ext::header(this) << "open cas signalling on trunk(" << trunk << ") - ok" << std::endl;
    casOpen_[trunk] = 1;
  }
  if (channel.timeslot == 0 || channel.timeslot == 16) return;
  cas_channel_setup setup;
  setup.channel = channel;
  setup.channel.rx = 0;
  setup.channel.tx = static_cast<uint8_t>(tx & 15);
  setup.close = 0;
  uint8_t rec[cas_channel_setup::kSize];
  setup.encode(rec);
  int r = Board::ioctl(casFd_.lowlevel_fd(), Board::Req::CasSetup, rec);
  if (r < 0) {
    SendCASSignal(channel.path, channel.timeslot, r, 0);
    return;
  }
  ReportCas(channel);
}

void E1Ctl::HandleCasClose(const cas_channel& channel) {
  if (!validTrunk(channel.path)) return;
  const int trunk = channel.path;
  if (!casOpen_[trunk]) return;
  if (channel.timeslot == 0) {
    int r = Board::ioctlValue(casFd_.lowlevel_fd(), Board::Req::CasCloseTrunk, static_cast<unsigned long>(trunk));
    if (r == 0) r = 1;
    SendCASTrunkStatus(trunk, r);
    if (r >= 0) casOpen_[trunk] = 0;
    return;
  }
  if (channel.timeslot == 16) return;
  cas_channel_setup setup;
  setup.channel = channel;
  setup.channel.rx = 0;
  setup.channel.tx = 0;
  setup.close = 1;
  uint8_t rec[cas_channel_setup::kSize];
  setup.encode(rec);
  int r = Board::ioctl(casFd_.lowlevel_fd(), Board::Req::CasSetup, rec);
  if (r < 0) SendCASSignal(channel.path, channel.timeslot, r, 0);
  else SendCASSignal(channel.path, channel.timeslot, -1, 1);
}

void E1Ctl::HandleCasSet(const cas_channel& channel, int tx) {
  if (!validTrunk(channel.path) || !casOpen_[channel.path]) return;
  cas_channel ch = channel;
  ch.rx = 0;
  ch.tx = static_cast<uint8_t>(tx & 15);
  uint8_t rec[cas_channel::kSize];
  ch.encode(rec);
  int r = Board::ioctl(casFd_.lowlevel_fd(), Board::Req::CasSetTx, rec);
  if (r < 0) {
    SendCASSignal(channel.path, channel.timeslot, r, 0);
    return;
  }
  ReportCas(channel);
}

void E1Ctl::HandleCasGet(const cas_channel& channel) {
  if (!validTrunk(channel.path) || !casOpen_[channel.path]) return;
  ReportCas(channel);
}

void E1Ctl::SendCASSignal(int path, int timeslot, int rx, int tx) {
  LGCP::Signal signal;
  LGCP::CasSignalling& cas = signal.select_cas();
  cas.set_channel().set_path(path);
  cas.set_channel().set_timeslot(timeslot);
  cas.set_rx(rx);
  cas.set_tx(tx);
  SendSignal(signal);
}

void E1Ctl::SendCASTrunkStatus(int trunk, int result) { SendCASSignal(trunk, 0, result, 0); }

void E1Ctl::Assign(LGCP::CasChannel& to, cas_channel from) {
  to.set_path(from.path);
  to.set_timeslot(from.timeslot);
}
