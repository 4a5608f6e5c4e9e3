#include "control/strm_protocol.h"

#include <errno.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <iostream>
#include <sstream>
#include <utility>

#include "runtime/log/ext.h"
#include "runtime/loop/multiplexer.h"
#include "runtime/os/clock.h"

int strm_protocol_debug = 0;

namespace {

std::string to_text(const Errno& e) {
  std::ostringstream os;
  os << e;
  return os.str();
}

}  // namespace

StrmProtocol::StrmProtocol() { init(); }

StrmProtocol::StrmProtocol(Fd fd) {
  init();
  attach(std::move(fd));
}

StrmProtocol::~StrmProtocol() {
  if (strm_protocol_debug)
    std::clog << "Enter StrmProtocol::~StrmProtocol()" << " this=" << std::hex << static_cast<const void*>(this)
              << std::dec << std::endl;
  release();
}

void StrmProtocol::init() {
  overflow_ = 0;
  verbose_ = false;
  event_.Bind("StrmProtocol::on_event", &StrmProtocol::on_event, this);
}

void StrmProtocol::attach(Fd fd) {
  release();
  fd_ = std::move(fd);  // the argument is our own copy already
  int outq = 0;
  if (fd_.is_valid() && ::ioctl(fd_.lowlevel_fd(), TIOCOUTQ, &outq) == 0)
    outq_is_free_space_ = outq > 0;
  else
    outq_is_free_space_ = false;
}

void StrmProtocol::release() {
  if (!fd_.is_valid()) return;
  event_.Release();
  fd_.close();
}

void StrmProtocol::local_prepare_head(Packet& p) { p.reserve_head(0); }
void StrmProtocol::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

void StrmProtocol::local_activate() {
  if (!fd_.is_valid()) {
    on_deactivate(ProtocolStatus(new Protocol_status_error(this, "fd not attached")));
    return;
  }
  event_.Schedule(fd_, POLLIN);
  if (!event_.IsActive()) {
    // Unwatched, the socket would stay open and deaf: it is closed and the
    // failure goes up like any other.
    Errno e;
    std::cerr << ext::header(this) << "dup fail: " << e << std::endl;
    on_error(std::string("dup fail: ") + to_text(e));
    return;
  }
  on_activate();
}

void StrmProtocol::local_deactivate() {
  release();
  on_deactivate(ProtocolStatus(new Protocol_status_success(this, "success")));
}

void StrmProtocol::on_event(int, short revents) {
  if (revents & POLLERR) {
    Errno e;
    on_error(std::string("pollerr: ") + to_text(e));
  } else if (revents & POLLHUP) {
    Errno e;
    on_error(std::string("pollhup: ") + to_text(e));
  } else if (revents & POLLIN) {
    do_read();
  }
}

void StrmProtocol::do_read() {
  Packet p;
  p.reserve_head(0);
  read_measure_.begin();
  ssize_t n = ::recv(fd_.lowlevel_fd(), p.data(), p.tailroom(), MSG_DONTWAIT | MSG_NOSIGNAL);
  read_measure_.end();
  if (n < 0) {
    if (errno == EAGAIN) return;
    Errno e;
    on_error(std::string("read error: ") + to_text(e));
    return;
  }
  if (n == 0) {
    Errno e;
    on_error(std::string("read error: ") + to_text(e));
    return;
  }
  if (verbose_) {
    std::clog << ext::header(this) << "receive success";
    put_figures(std::clog);
    std::clog << std::endl;
  }
  p.put(static_cast<unsigned int>(n));
  on_message(p);
  p.clear();
}

void StrmProtocol::message(Packet& p) {
  write_measure_.begin();
  // The 1000 ms bound counts from the start of the call, whatever the
  // writes before the first full socket took.
  const unsigned int start = Mux::milliseconds();
  const unsigned char* data = p.null() ? nullptr : p.data();
  unsigned int len = p.length();
  unsigned int done = 0;
  for (;;) {
    if (done >= len) {
      if (verbose_) {
        std::clog << ext::header(this) << "write success";
        put_figures(std::clog);
        std::clog << std::endl;
      }
      write_measure_.end();
      return;
    }
    // send() rather than write(): a peer that went away must not raise SIGPIPE.
    ssize_t r = ::send(fd_.lowlevel_fd(), data + done, len - done, MSG_NOSIGNAL);
    if (r != -1) {
      done += static_cast<unsigned int>(r);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN) {
      Errno e;
      write_measure_.end();
      std::cerr << ext::header(this) << "write error";
      put_figures(std::cerr);
      std::cerr << ", error=" << e << std::endl;
      ++overflow_;
      on_error(std::string("write error: ") + to_text(e));
      return;
    }
    int left = static_cast<int>(start + write_timeout_ms - Mux::milliseconds());
    if (left >= 1) {
      multiplexer.resetWD();
      pollfd pfd;
      pfd.fd = fd_.lowlevel_fd();
      pfd.events = POLLOUT;
      pfd.revents = 0;
      int pr = ::poll(&pfd, 1, left);
      int perr = errno;
      // A loop that caches its clock per pass must see the wait, or the
      // bound would restart with every wait.
      if (!Mux::g_tv_time.is_zero()) Mux::mux_settimeofday();
      multiplexer.resetWD();
      if (pr == 1) continue;
      if (pr == -1 && perr == EINTR) continue;
    }
    write_measure_.end();
    std::cerr << ext::header(this) << "write timeout";
    put_figures(std::cerr);
    std::cerr << std::endl;
    ++overflow_;
    on_error("write timeout");
    return;
  }
}

void StrmProtocol::on_error(const std::string& text) {
  release();
  on_deactivate(ProtocolStatus(new Protocol_status_error(this, text)));
}

static unsigned int sockopt_int(const Fd& fd, int opt) {
  int v = 0;
  socklen_t l = sizeof v;
  ::getsockopt(fd.lowlevel_fd(), SOL_SOCKET, opt, &v, &l);
  return static_cast<unsigned int>(v);
}

static unsigned int ioctl_int(const Fd& fd, unsigned long req) {
  int v = 0;
  ::ioctl(fd.lowlevel_fd(), req, &v);
  return static_cast<unsigned int>(v);
}

unsigned int StrmProtocol::sendbuf_space() const { return sockopt_int(fd_, SO_SNDBUF); }
unsigned int StrmProtocol::recvbuf_space() const { return sockopt_int(fd_, SO_RCVBUF); }
unsigned int StrmProtocol::inq_space() const { return ioctl_int(fd_, FIONREAD); }
unsigned int StrmProtocol::outq_space() const { return ioctl_int(fd_, TIOCOUTQ); }

unsigned int StrmProtocol::free_space() const {
  return outq_is_free_space_ ? outq_space() : sendbuf_space() - outq_space();
}

void StrmProtocol::PutHeader(std::ostream& os) const { os << "SockStream[" << service_name_ << "]: "; }

void StrmProtocol::put_figures(std::ostream& os) const {
  os << ", sendbuf=" << sendbuf_space() << ", recvbuf=" << recvbuf_space() << ", free=" << free_space()
     << ", inq=" << inq_space() << ", outq=" << outq_space();
}
