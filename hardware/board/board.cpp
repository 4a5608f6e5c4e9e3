#include "hardware/board/board.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "hardware/sim/sim.h"
#include "runtime/os/paths.h"

namespace Board {
namespace {

// Plain system calls on the device files under the root folder.
class RealBackend : public Backend {
 public:
  int open(const char* path, int flags) override {
    std::string p = RootPath::resolve(path);
    return ::open(p.c_str(), flags);
  }
  int ioctl(int fd, uint32_t request, void* record) override {
    return ::ioctl(fd, static_cast<unsigned long>(request), record);
  }
  int ioctlValue(int fd, uint32_t request, unsigned long value) override {
    return ::ioctl(fd, static_cast<unsigned long>(request), value);
  }
  ssize_t read(int fd, void* buf, size_t len) override { return ::read(fd, buf, len); }
  ssize_t write(int fd, const void* buf, size_t len) override { return ::write(fd, buf, len); }
  int close(int fd) override { return ::close(fd); }
};

bool readSimulated() {
  const char* v = std::getenv("TESSAROD_BOARD");
  return v && std::strcmp(v, "sim") == 0;
}

bool& simFlag() {
  static bool flag = readSimulated();
  return flag;
}

}  // namespace

bool simulated() { return simFlag(); }

void reload() { simFlag() = readSimulated(); }

Backend& backend() {
  static RealBackend real;
  if (simulated()) return Sim::Board::instance();
  return real;
}

}  // namespace Board
