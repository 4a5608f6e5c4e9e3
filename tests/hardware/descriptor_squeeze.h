#pragma once
// A process out of descriptors while the object lives: the soft limit goes
// just above the highest descriptor open now and every number left below
// it is taken; Free(n) gives exactly n back. Everything is restored at the
// end.
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
    int high = 2;
    if (DIR* d = ::opendir("/proc/self/fd")) {
      while (dirent* e = ::readdir(d)) high = std::max(high, std::atoi(e->d_name));
      ::closedir(d);
    }
    ::getrlimit(RLIMIT_NOFILE, &saved_);
    rlimit low = saved_;
    low.rlim_cur = std::min(saved_.rlim_cur, rlim_t(high + 17));
    ::setrlimit(RLIMIT_NOFILE, &low);
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) taken_.push_back(fd);
  }
  ~DescriptorSqueeze() {
    Free(taken_.size());
    ::setrlimit(RLIMIT_NOFILE, &saved_);
  }
  DescriptorSqueeze(const DescriptorSqueeze&) = delete;
  DescriptorSqueeze& operator=(const DescriptorSqueeze&) = delete;

  void Free(std::size_t n) {
    for (; n && !taken_.empty(); --n, taken_.pop_back()) ::close(taken_.back());
  }

 private:
  rlimit saved_{};
  std::vector<int> taken_;
};

}  // namespace SimTest
