#pragma once
// The board seam: every open, ioctl, read and write on one of the board's
// character devices goes through these functions. Two backends stand behind
// them: the real one (plain system calls on the device path placed under
// $TESSAROD_ROOT) and the simulated board, chosen with TESSAROD_BOARD=sim.
// Either way the caller holds a real descriptor it can poll, dup and close.
#include <sys/types.h>

#include <cstdint>

namespace Board {

class Backend {
 public:
  virtual ~Backend() = default;
  // Opens a device by its board path ("/dev/hal"); a descriptor or -1 with errno.
  virtual int open(const char* path, int flags) = 0;
  // A request whose argument is a record of requestSize(request) bytes
  // (nullptr for requests without argument). Result as ioctl gives it.
  virtual int ioctl(int fd, uint32_t request, void* record) = 0;
  // A request whose 4-byte argument is passed by value.
  virtual int ioctlValue(int fd, uint32_t request, unsigned long value) = 0;
  virtual ssize_t read(int fd, void* buf, size_t len) = 0;
  virtual ssize_t write(int fd, const void* buf, size_t len) = 0;
  // Closes a descriptor from open() (or a copy of one) that no Fd holds.
  virtual int close(int fd) = 0;
};

// The backend in use: the simulated board when $TESSAROD_BOARD is "sim" at
// the first call (or after reload()), else the real devices.
Backend& backend();
bool simulated();
// Re-reads $TESSAROD_BOARD; for tests.
void reload();

// Convenience forwarding to backend().
inline int open(const char* path, int flags) { return backend().open(path, flags); }
inline int ioctl(int fd, uint32_t request, void* record) { return backend().ioctl(fd, request, record); }
inline int ioctlValue(int fd, uint32_t request, unsigned long value) {
  return backend().ioctlValue(fd, request, value);
}
inline ssize_t read(int fd, void* buf, size_t len) { return backend().read(fd, buf, len); }
inline ssize_t write(int fd, const void* buf, size_t len) { return backend().write(fd, buf, len); }
inline int close(int fd) { return backend().close(fd); }

}  // namespace Board
