#pragma once
// The pid file guard: "/var/run/<name>.pid" (through RootPath) holds the
// decimal process id without a line end while the guard lives; its mode
// is 0644 whatever the umask.
#include <string>

namespace Linux {

class Run {
 public:
  explicit Run(const char* name);
  ~Run();
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  bool is_open() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace Linux
