#pragma once
// Detaching the process from its terminal and routing std::cout, std::cerr
// and std::clog to syslog (mode 0) or to hourly log files (mode 1).
#include <streambuf>
#include <string>

namespace Daemon {

struct Params {
  int mode = 0;          // 0 syslog, 1 log files, anything else: detach only
  bool nochdir = false;  // false: change to the root directory
  std::string name = "unknown";  // syslog ident (mode 0) or log directory (mode 1)
};

// Detaches and installs the stream buffers; one exists per process.
class Sentry {
 public:
  explicit Sentry(const Params& params);
  ~Sentry();
  Sentry(const Sentry&) = delete;
  Sentry& operator=(const Sentry&) = delete;

 private:
  int mMode;
  std::basic_streambuf<char>* mLogFile = nullptr;
};

// The first call detaches; later calls do nothing.
void Init(const Params& params);

}  // namespace Daemon
