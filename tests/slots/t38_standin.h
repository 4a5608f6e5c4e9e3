#pragma once
// A stand-in for the T.38 engine "/usr/local/sbin/t38" under a test's root
// folder. It records its arguments, one a line, in "<root>/t38/args" and
// then does what "<root>/t38/mode" says:
//   (empty)   waits (about 20 s) until it is signalled;
//   exit <n>  exits with code n;
//   echo      reads one record from its standard input (the controller
//             channel it was given), writes it back there, then waits.
// Asked "--num-of-instances", it prints "<root>/t38/instances" (nothing
// when that file is missing).
#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace t38test {

inline void InstallEngine(const std::string& root) {
  ::mkdir((root + "/usr").c_str(), 0755);
  ::mkdir((root + "/usr/local").c_str(), 0755);
  ::mkdir((root + "/usr/local/sbin").c_str(), 0755);
  ::mkdir((root + "/t38").c_str(), 0755);
  const std::string path = root + "/usr/local/sbin/t38";
  std::ofstream(path, std::ios::trunc) << R"(#!/bin/sh
d="$TESSAROD_ROOT/t38"
if [ "$1" = "--num-of-instances" ]; then
  [ -f "$d/instances" ] && cat "$d/instances"
  exit 0
fi
for a in "$@"; do printf '%s\n' "$a"; done > "$d/args.tmp" && mv "$d/args.tmp" "$d/args"
mode=$(cat "$d/mode" 2>/dev/null)
case "$mode" in
  exit*) exit ${mode#exit } ;;
  echo) dd bs=4096 count=1 2>/dev/null >&0 ;;
esac
exec sleep 20
)";
  ::chmod(path.c_str(), 0755);
}

inline void RemoveEngine(const std::string& root) { ::unlink((root + "/usr/local/sbin/t38").c_str()); }

inline void Set(const std::string& root, const std::string& file, const std::string& text) {
  std::ofstream(root + "/t38/" + file, std::ios::trunc) << text;
}
inline void Clear(const std::string& root) {
  for (const char* f : {"args", "mode", "instances"}) ::unlink((root + "/t38/" + f).c_str());
}

// The arguments the engine was started with (without its own path); empty
// while it has not run.
inline std::vector<std::string> Args(const std::string& root) {
  std::ifstream in(root + "/t38/args");
  std::vector<std::string> v;
  for (std::string line; std::getline(in, line);) v.push_back(line);
  return v;
}

}  // namespace t38test
