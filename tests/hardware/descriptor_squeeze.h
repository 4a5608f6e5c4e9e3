#pragma once
// A process out of descriptors, for as long as the object lives: the soft
// limit is lowered just above the highest descriptor open now, and every
// number left below it is taken (by /dev/null); Free(n) gives back exactly
// n of them. The limit and the taken descriptors are restored at the end.
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace SimTest {

class DescriptorSqueeze {
 public:
  DescriptorSqueeze() {
    ::getrlimit(RLIMIT_NOFILE, &saved_);
    rlimit low = saved_;
    low.rlim_cur = rlim_t(Highest() + 1 + kRoom);
    if (low.rlim_cur < saved_.rlim_cur) ::setrlimit(RLIMIT_NOFILE, &low);
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) taken_.push_back(fd);
  }
  ~DescriptorSqueeze() {
    Free(taken_.size());
    ::setrlimit(RLIMIT_NOFILE, &saved_);
  }
  DescriptorSqueeze(const DescriptorSqueeze&) = delete;
  DescriptorSqueeze& operator=(const DescriptorSqueeze&) = delete;

  void Free(std::size_t n) {
    for (; n && !taken_.empty(); --n) {
      ::close(taken_.back());
      taken_.pop_back();
    }
  }

 private:
  static constexpr int kRoom = 16;
  static int Highest() {
    int high = 2;
    if (DIR* d = ::opendir("/proc/self/fd")) {
      while (dirent* e = ::readdir(d)) high = std::max(high, std::atoi(e->d_name));
      ::closedir(d);
    }
    return high;
  }
  rlimit saved_{};
  std::vector<int> taken_;
};

}  // namespace SimTest
