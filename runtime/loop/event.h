#pragma once
// An Event registers one descriptor with the loop and calls a member
// function of its client with the poll results:
//
//   class Link {
//     Event ev_;
//     void OnSocketEvent(int fd, short revents);
//    public:
//     Link(Fd sock) {
//       ev_.Bind("Link::OnSocketEvent", &Link::OnSocketEvent, this);
//       ev_.Schedule(sock, POLLIN);   // the Event keeps its own duplicate
//     }
//   };
//
// The handler is called after every poll that reported anything on any
// descriptor, with revents possibly 0: test the bits you want. It may bind,
// unbind, release, reschedule or destroy the Event (and its owner).
#include <string>

#include "runtime/log/measure.h"
#include "runtime/loop/multiplexer.h"
#include "runtime/os/fd.h"

class Event : public EventHandler {
 public:
  class Handler {
   public:
    virtual ~Handler() {}
    virtual void Invoke(int fd, short revents) = 0;
  };

  template <class T>
  class THandler : public Handler {
   public:
    typedef void (T::*Action)(int, short);
    THandler(Action action, T* obj) : action_(action), obj_(obj) {}
    void Invoke(int fd, short revents) override {
      if (action_) (obj_->*action_)(fd, revents);
    }

   private:
    Action action_;
    T* obj_;
  };

  Event() = default;
  ~Event() override;
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  template <class T>
  void Bind(const std::string& name, typename THandler<T>::Action action, T* obj) {
    name_ = name;
    Bind(new THandler<T>(action, obj));
  }
  void Bind(Handler* h);
  void UnBind();

  // Takes a duplicate of fd and attaches with the mask; an invalid fd, or a
  // duplicate that fails, leaves the Event idle (IsActive() false) with
  // errno telling why, so the client can report it.
  void Schedule(Fd fd, short events);
  void Release();
  void SetEvents(int events) { events_ = static_cast<short>(events); }

  int lowlevel_fd() const { return fd_.lowlevel_fd(); }
  bool IsActive() const { return fd_.is_valid(); }
  const Measure& measure() const { return measure_; }
  short events() const { return events_; }
  unsigned int count() const { return count_; }
  bool bound() const { return handler_ != nullptr; }

  void shedule_event(pollfd& entry) override;
  void svc_event(short revents) override;
  using EventHandler::svc_event;
  std::string event_name() const override { return name_; }
  bool is_named() const override { return true; }

 private:
  Handler* handler_ = nullptr;
  Fd fd_;
  short events_ = 0;
  std::string name_ = "Unknown";
  unsigned int count_ = 0;
  Measure measure_;
};
