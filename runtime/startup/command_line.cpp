#include "runtime/startup/command_line.h"

#include <getopt.h>

#include <cstdlib>
#include <ostream>

int print_version = 0;

namespace Startup {

void PrintUsage(std::ostream& out) {
  out << "Usage:\n"
         " tessarod -Dh\n"
         "  -D --daemon                      run as daemon\n"
         "  -p --port                        use this port\n"
         "     --disable-clock               disable clock control\n"
         "     --version                     print version\n"
         "  -h --help                        display this information\n"
      << std::endl;
}

int ParseCommandLine(int argc, char** argv, Options& opts, std::ostream& out, void (*disableClock)()) {
  enum { kDisableClock = 256, kPort };
  static const struct option longOptions[] = {
      {"daemon", no_argument, nullptr, 'D'},
      {"disable-clock", no_argument, nullptr, kDisableClock},
      {"port", required_argument, nullptr, kPort},
      {"version", no_argument, &print_version, 1},
      {"help", no_argument, nullptr, 'h'},
      {nullptr, 0, nullptr, 0},
  };
  opterr = 1;
  optind = 0;  // a full restart of getopt, so the parser can run more than once
  for (;;) {
    int c = getopt_long(argc, argv, "Dh", longOptions, nullptr);
    if (c == -1) break;
    switch (c) {
      case 'D':
        opts.daemon = true;
        break;
      case kDisableClock:
        if (disableClock) disableClock();
        break;
      case kPort:
        opts.port = std::atoi(optarg);
        break;
      case 'h':
        PrintUsage(out);
        return 0;
      case '?':
        PrintUsage(out);
        return 2;
      default:
        break;
    }
  }
  return -1;
}

}  // namespace Startup
