#pragma once
// Asynchronous copy between two descriptors and asynchronous TCP connect,
// both driven by the event loop and reporting one completion status to a
// member function of their owner. The owner may destroy the object from
// inside its completion callback.
#include <poll.h>

#include <string>
#include <utility>

#include "runtime/loop/event.h"
#include "runtime/loop/timer.h"
#include "runtime/os/fd.h"

namespace ASync {

class Copy {
 public:
  struct Status {
    enum Type { not_started = 0, copying = 1, source_ended = 2, flushing = 3, error = 4, finished = 5, aborted = 6 };
  };

  struct EventsParams {
    int read_events = POLLIN;
    int write_events = POLLOUT;
    int flush_events = POLLWRNORM;  // 0: finish once everything is written
  };

  class Handler {
   public:
    virtual ~Handler() {}
    virtual void Invoke(Status::Type status) = 0;
  };

  template <class T>
  class THandler : public Handler {
   public:
    typedef void (T::*Action)(Status::Type);
    THandler(T* owner, Action a) : owner_(owner), action_(a) {}
    void Invoke(Status::Type s) override {
      if (action_) (owner_->*action_)(s);
    }

   private:
    T* owner_;
    Action action_;
  };

  Copy() = default;
  ~Copy();
  Copy(const Copy&) = delete;
  Copy& operator=(const Copy&) = delete;

  // Both abort a running copy (status 6).
  void set_bufsize(unsigned int n);
  void set_events(const EventsParams& p);

  template <class T>
  void Bind(typename THandler<T>::Action a, T* owner) {
    Bind(new THandler<T>(owner, a));
  }
  void Bind(Handler* h);
  void UnBind() { Bind(static_cast<Handler*>(nullptr)); }

  // Takes both descriptors over; a side that cannot be watched (no
  // descriptor left for the watch) completes with error inside the call.
  void Start(Fd src, Fd dst);
  void Stop();

  Status::Type state() const { return state_; }
  unsigned int written() const { return written_; }

 private:
  typedef bool (Copy::*Step)();
  bool SrcReady();
  bool DstReady();
  bool NotReady() { return false; }
  void Progress();
  void GoReading();
  void GoWriting();
  bool GoFlush();
  bool GoFlushDst();
  void OnSrcEvent(int fd, short revents);
  void OnDstEvent(int fd, short revents);
  void Complete(Status::Type s);

  Fd src_;
  Fd dst_;
  EventsParams params_;
  unsigned int bufsize_ = 0;
  char* buf_ = nullptr;
  Step step_ = &Copy::NotReady;
  Handler* handler_ = nullptr;
  Event src_ev_;
  Event dst_ev_;
  unsigned int written_ = 0;
  char* wpos_ = nullptr;
  char* wend_ = nullptr;
  Status::Type state_ = Status::not_started;
};

class Connect {
 public:
  struct Status {
    enum Type { not_started = 0, connecting = 1, failed = 2, connected = 3, stopped = 4 };
  };

  class Handler {
   public:
    virtual ~Handler() {}
    virtual void Invoke(Status::Type status, Fd sock) = 0;
  };

  template <class T>
  class THandler : public Handler {
   public:
    typedef void (T::*Action)(Status::Type, Fd);
    THandler(T* owner, Action a) : owner_(owner), action_(a) {}
    void Invoke(Status::Type s, Fd sock) override {
      if (action_) (owner_->*action_)(s, std::move(sock));
    }

   private:
    T* owner_;
    Action action_;
  };

  Connect() = default;
  ~Connect();
  Connect(const Connect&) = delete;
  Connect& operator=(const Connect&) = delete;

  template <class T>
  void Bind(typename THandler<T>::Action a, T* owner) {
    Bind(new THandler<T>(owner, a));
  }
  void Bind(Handler* h);
  void UnBind() { Bind(static_cast<Handler*>(nullptr)); }

  // address: "a.b.c.d:port"; timeout in ms. An attempt that cannot be
  // watched fails inside the call.
  void Start(const std::string& address, unsigned int timeout_ms);
  void Stop() { Complete(Status::stopped); }
  Status::Type state() const { return state_; }

 private:
  void OnSocketEvent(int fd, short revents);
  void OnTimeOut(Timer* t);
  void Complete(Status::Type s);

  Status::Type state_ = Status::not_started;
  Fd sock_;
  Event ev_;
  Handler* handler_ = nullptr;
  Timer timer_;
};

}  // namespace ASync
