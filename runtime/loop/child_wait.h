#pragma once
// Child-process watch: an owner that starts a program learns, from the loop,
// when it ends and with which raw wait status.
//
//   class Modem {
//     ChildWait wait_;
//     void on_terminate(int status);
//    public:
//     Modem() { wait_.Bind(this, &Modem::on_terminate); }
//     void start() { pid_t pid = fork(); ...; wait_.Attach(pid); }
//   };
//
// main() calls ChildWait::Activate() once before running the loop. SIGCHLD
// only wakes the loop; the loop reaps every ended child with a non-blocking
// waitpid, logs "terminate child process, pid=<pid> status=<status>" on the
// log stream and calls the first attached ChildWait of that pid once.
#include <new>
#include <string>
#include <type_traits>

#include "runtime/loop/dual_list.h"
#include "runtime/loop/event.h"

class ChildWaitService;

class ChildWait : public F_dual_list_item<ChildWait> {
 public:
  class Handler {
   public:
    virtual ~Handler() {}
    virtual void Invoke(ChildWait& w, int status) = 0;
    // Handlers live only in a ChildWait's in-place buffer.
    static void operator delete(void*) {}
  };

  class DummyHandler : public Handler {
   public:
    void Invoke(ChildWait&, int) override {}
  };

  template <class T>
  class THandler1 : public Handler {
   public:
    THandler1(T& owner, void (T::*method)(int)) : owner_(owner), method_(method) {}
    void Invoke(ChildWait&, int status) override { (owner_.*method_)(status); }

   private:
    T& owner_;
    void (T::*method_)(int);
  };

  // Keeps the process-wide service alive while any unit that uses the watch
  // is initialised.
  class Init {
   public:
    Init();
    ~Init();
  };

  ChildWait();
  ~ChildWait();
  ChildWait(const ChildWait&) = delete;
  ChildWait& operator=(const ChildWait&) = delete;

  template <class T>
  void Bind(typename std::common_type<T>::type* owner, void (T::*method)(int)) {
    static_assert(sizeof(THandler1<T>) <= sizeof(buffer_), "handler too large");
    handler_->~Handler();
    handler_ = new (buffer_) THandler1<T>(*owner, method);
  }

  void Attach(int pid);
  void Detach();
  int pid() const { return pid_; }
  void Invoke(int status) { handler_->Invoke(*this, status); }

  static void Initialize();
  static void Cleanup();
  static void Activate();
  static unsigned int UsageCounter;

 private:
  int pid_ = 0;
  alignas(void*) unsigned char buffer_[64];
  Handler* handler_;
};

static ChildWait::Init childWaitInit;

class ChildWaitService {
 public:
  ChildWaitService();
  ~ChildWaitService();

  void Attach(ChildWait* w);
  void Detach(ChildWait* w);
  // Opens the wake-up socket pair, watches it and installs SIGCHLD; wakes
  // the loop only for a child that had already ended.
  void Activate();
  bool active() const { return ev_.IsActive(); }
  unsigned int attached() const { return list_.count(); }

  static void SigChldHandlerWrapper(int sig, siginfo_t* info, void* ctx);
  void SigChldHandler();
  void OnChildEvent(int fd, short revents);
  // Reaps every ended child and reports each; called from the loop.
  void ReapChildren();

  static ChildWaitService* childWaitService;

 private:
  void Report(int pid, int status);
  Event ev_;
  Fd wr_;
  F_dual_list<ChildWait> list_;
};
