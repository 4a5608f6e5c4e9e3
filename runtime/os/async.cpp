#include "runtime/os/async.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "runtime/os/inet4.h"

namespace ASync {

// ------------------------------------------------------------------ Copy

Copy::~Copy() {
  delete[] buf_;
  delete handler_;
}

void Copy::Bind(Handler* h) {
  if (h == handler_) return;
  Handler* old = handler_;
  handler_ = h;
  delete old;
}

void Copy::set_bufsize(unsigned int n) {
  bufsize_ = n;
  delete[] buf_;
  buf_ = nullptr;
  buf_ = new char[n ? n : 1];
  Complete(Status::aborted);
}

void Copy::set_events(const EventsParams& p) {
  params_ = p;
  Complete(Status::aborted);
}

void Copy::Start(Fd src, Fd dst) {
  state_ = Status::copying;
  // The arguments are the copy's own duplicates already: taken over.
  src_ = std::move(src);
  dst_ = std::move(dst);
  src_ev_.Release();
  dst_ev_.Release();
  src_ev_.Bind("Copy::OnSrcEvent", &Copy::OnSrcEvent, this);
  dst_ev_.Bind("Copy::OnDstEvent", &Copy::OnDstEvent, this);
  if (!buf_) {
    bufsize_ = 1024;
    buf_ = new char[bufsize_];
  }
  written_ = 0;
  wpos_ = wend_ = buf_;
  src_ev_.Schedule(src_, 0);
  dst_ev_.Schedule(dst_, 0);
  // A side that cannot be watched would leave the copy waiting for ever:
  // it fails as a failed read or write does.
  if (!src_ev_.IsActive() || !dst_ev_.IsActive()) {
    Complete(Status::error);
    return;
  }
  step_ = &Copy::SrcReady;
  Progress();
}

void Copy::Stop() {
  if (state_ != Status::copying) return;
  if (GoFlush()) Progress();
}

void Copy::Progress() {
  while ((this->*step_)()) {
  }
}

void Copy::GoReading() {
  src_ev_.SetEvents(params_.read_events);
  dst_ev_.SetEvents(0);
  step_ = &Copy::SrcReady;
}

void Copy::GoWriting() {
  src_ev_.SetEvents(0);
  dst_ev_.SetEvents(params_.write_events);
  step_ = &Copy::DstReady;
}

bool Copy::SrcReady() {
  errno = 0;
  ssize_t n = ::read(src_.lowlevel_fd(), buf_, bufsize_);
  if (n > 0) {
    wpos_ = buf_;
    wend_ = buf_ + n;
    GoWriting();
    return true;
  }
  if (n == 0) return GoFlush();
  if (errno == EAGAIN || errno == EWOULDBLOCK) {
    src_ev_.SetEvents(params_.read_events);
    dst_ev_.SetEvents(0);
    return false;
  }
  if (written_ > 0) return GoFlush();
  Complete(Status::error);
  return false;
}

bool Copy::DstReady() {
  ssize_t n = ::write(dst_.lowlevel_fd(), wpos_, static_cast<size_t>(wend_ - wpos_));
  if (n > 0) {
    written_ += static_cast<unsigned int>(n);
    wpos_ += n;
    if (wpos_ < wend_) return true;
    if (state_ == Status::source_ended) return GoFlushDst();
    GoReading();
    return true;
  }
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
    src_ev_.SetEvents(0);
    dst_ev_.SetEvents(params_.write_events);
    return false;
  }
  Complete(Status::error);
  return false;
}

bool Copy::GoFlush() {
  src_ev_.Release();
  src_.close();
  if (step_ == &Copy::DstReady) {
    state_ = Status::source_ended;
    return true;
  }
  return GoFlushDst();
}

bool Copy::GoFlushDst() {
  if (params_.flush_events != 0) {
    dst_ev_.SetEvents(params_.flush_events);
    step_ = &Copy::NotReady;
    state_ = Status::flushing;
    return true;
  }
  Complete(Status::finished);
  return false;
}

void Copy::OnSrcEvent(int, short revents) {
  if (revents & params_.read_events) {
    Progress();
  } else if (revents & (POLLERR | POLLHUP | POLLNVAL)) {
    src_ev_.Release();
    Progress();
  }
}

void Copy::OnDstEvent(int, short revents) {
  if (revents & (POLLERR | POLLHUP | POLLNVAL)) {
    Complete(Status::error);
    return;
  }
  if (state_ == Status::copying || state_ == Status::source_ended) {
    if (revents & params_.write_events) Progress();
  } else if (state_ == Status::flushing) {
    if (revents & params_.flush_events) Complete(Status::finished);
  }
}

void Copy::Complete(Status::Type s) {
  if (state_ != Status::copying && state_ != Status::source_ended && state_ != Status::flushing) return;
  src_ev_.UnBind();
  dst_ev_.UnBind();
  state_ = s;
  src_ev_.Release();
  dst_ev_.Release();
  src_.close();
  dst_.close();
  step_ = &Copy::NotReady;
  if (handler_) handler_->Invoke(s);  // last: the owner may destroy the copy
}

// --------------------------------------------------------------- Connect

Connect::~Connect() { delete handler_; }

void Connect::Bind(Handler* h) {
  if (h == handler_) return;
  Handler* old = handler_;
  handler_ = h;
  delete old;
}

void Connect::Start(const std::string& address, unsigned int timeout_ms) {
  state_ = Status::connecting;
  sock_ = Fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
  if (!sock_.is_valid() || !sock_.NonBlock()) {
    Complete(Status::failed);
    return;
  }
  INet4::Addr addr;
  addr.Assign(address, nullptr);
  if (::connect(sock_.lowlevel_fd(), addr, addr.size()) == 0) {
    Complete(Status::connected);
    return;
  }
  if (errno != EINPROGRESS) {
    Complete(Status::failed);
    return;
  }
  ev_.Schedule(sock_, POLLOUT);
  if (!ev_.IsActive()) {
    // Unwatched, the attempt could only end by its time-out.
    Complete(Status::failed);
    return;
  }
  ev_.Bind("Connect::OnSocketEvent", &Connect::OnSocketEvent, this);
  timer_.set(timeout_ms, &Connect::OnTimeOut, this);
}

void Connect::OnSocketEvent(int fd, short revents) {
  if (revents & (POLLERR | POLLHUP | POLLNVAL)) {
    Complete(Status::failed);
    return;
  }
  if (!(revents & POLLOUT)) return;
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
    Complete(Status::failed);
    return;
  }
  Complete(Status::connected);
}

void Connect::OnTimeOut(Timer*) { Complete(Status::failed); }

void Connect::Complete(Status::Type s) {
  if (state_ != Status::connecting) return;
  state_ = s;
  // The connected socket is handed over, not duplicated: a success cannot
  // turn into an empty descriptor for want of one.
  Fd result;
  if (s == Status::connected) result = std::move(sock_);
  sock_.close();
  ev_.Release();
  ev_.UnBind();
  timer_.reset();
  if (handler_) handler_->Invoke(s, std::move(result));
}

}  // namespace ASync
