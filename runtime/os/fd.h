#pragma once
// The owned descriptor and the thin descriptor helpers. Every descriptor
// held in an Fd carries close-on-exec; a child that must inherit one has the
// flag cleared explicitly with SetCloexec. None of these log; failures come
// back as results with errno set by the system call.
#include <iosfwd>

class Fd {
 public:
  struct BoolResult {};

  Fd() = default;
  explicit Fd(int fd);  // takes ownership; sets close-on-exec
  Fd(const Fd& other);  // holds a dup() of the other's descriptor
  Fd& operator=(const Fd& other);
  // Handing a descriptor on: the other is left empty and nothing is
  // duplicated, so passing ownership cannot fail for want of descriptors.
  Fd(Fd&& other) noexcept;
  Fd& operator=(Fd&& other) noexcept;
  ~Fd();

  // A dup(2) of the descriptor with close-on-exec; the caller owns it.
  // -1 for an empty Fd.
  int dup() const;
  // close(2) and empty; -1 with EBADF on an empty Fd.
  int close();
  // Closes, then opens an existing path (no creation mode).
  bool open(const char* path, int flags);
  bool NonBlock();

  bool is_valid() const { return fd_ >= 0; }
  operator BoolResult*() const { return fd_ >= 0 ? reinterpret_cast<BoolResult*>(1) : nullptr; }
  int lowlevel_fd() const { return fd_; }

 private:
  int fd_ = -1;
};

// Told of every descriptor an Fd duplicates or closes: the simulated board
// keeps a table of the descriptors it handed out and follows their copies
// without asking the kernel. At most one watcher; nullptr removes it.
class FdWatcher {
 public:
  virtual void duplicated(int from, int to) = 0;
  virtual void closing(int fd) = 0;

 protected:
  ~FdWatcher() = default;
};
void SetFdWatcher(FdWatcher* watcher);

int read(Fd& fd, void* buf, unsigned int len);
int write(Fd& fd, const void* buf, unsigned int len);
int close(Fd& fd);

bool NonBlockMode(int fd);
bool BlockMode(int fd);
bool SetCloexec(int fd, bool on);

// A captured errno value that prints as its strerror text.
class Errno {
 public:
  Errno();
  explicit Errno(int value) : value_(value) {}
  int value() const { return value_; }
  void Put(std::ostream& os) const;

 private:
  int value_;
};

std::ostream& operator<<(std::ostream& os, const Errno& e);
