#pragma once
// The daemon's command line: "--daemon"/"-D", "--port" N, "--disable-clock",
// "--version", "--help"/"-h".
#include <iosfwd>

// Set to 1 by "--version".
extern int print_version;

namespace Startup {

struct Options {
  int port = 20001;
  bool daemon = false;
};

// The seven lines of the usage text and a closing line end.
void PrintUsage(std::ostream& out);

// Parses argv into `opts`. "--disable-clock" calls `disableClock` at once.
// "--help" prints the usage and gives 0; a rejected option prints the usage
// (after getopt's own complaint on the error stream) and gives 2. Otherwise
// -1: go on (check print_version next).
int ParseCommandLine(int argc, char** argv, Options& opts, std::ostream& out, void (*disableClock)());

}  // namespace Startup
