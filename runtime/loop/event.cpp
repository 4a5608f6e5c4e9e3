#include "runtime/loop/event.h"

#include <cerrno>
#include <utility>

Event::~Event() {
  delete handler_;
  handler_ = nullptr;
  if (fd_.is_valid()) mux_detach();
  fd_.close();
}

void Event::Bind(Handler* h) {
  if (h == handler_) return;
  Handler* old = handler_;
  handler_ = h;
  delete old;
}

void Event::UnBind() { Bind(nullptr); }

void Event::Schedule(Fd fd, short events) {
  // fd is this Event's own already (the copy made for the call, or a
  // temporary handed over): it is taken over, not duplicated again.
  const int dupError = errno;
  if (fd_.is_valid()) mux_detach();
  fd_ = std::move(fd);
  events_ = events;
  if (fd_.is_valid()) mux_attach();
  else errno = dupError;
}

void Event::Release() {
  if (fd_.is_valid()) mux_detach();
  if (fd_.is_valid()) fd_.close();
}

void Event::shedule_event(pollfd& entry) {
  entry.fd = fd_.lowlevel_fd();
  entry.events = events_;
  entry.revents = 0;
}

void Event::svc_event(short revents) {
  if (revents & events_) ++count_;
  // Nothing of this object may be touched after the call: the handler may
  // rebind, release or destroy the Event.
  if (handler_) handler_->Invoke(fd_.lowlevel_fd(), revents);
}
