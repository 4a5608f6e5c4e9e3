#pragma once
// Stand-ins for the modem slots' helper programs under a test's root
// folder: "/usr/local/sbin/pppd" (name "pppd"), "/usr/local/sbin/fax"
// ("fax-transfer") and "/usr/local/bin/fax" ("fax-receiver"). Each records
// its arguments, one a line, in "<root>/modem/<name>.args" and then does
// what "<root>/modem/<name>.mode" says:
//   (empty)     waits (about 20 s) until it is signalled;
//   exit <n>    exits with code n;
//   ignore-hup  ignores SIGHUP, then waits.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

namespace modemtest {

inline void InstallProgram(const std::string& root, const std::string& path, const std::string& name) {
  for (std::size_t p = 1; (p = path.find('/', p)) != std::string::npos; ++p)
    ::mkdir((root + path.substr(0, p)).c_str(), 0755);
  ::mkdir((root + "/modem").c_str(), 0755);
  std::ofstream(root + path, std::ios::trunc) << "#!/bin/sh\nn=" << name << R"(
d="$TESSAROD_ROOT/modem"
mode=$(cat "$d/$n.mode" 2>/dev/null)
[ "$mode" = ignore-hup ] && trap '' HUP
for a in "$@"; do printf '%s\n' "$a"; done > "$d/$n.args.tmp" && mv "$d/$n.args.tmp" "$d/$n.args"
case "$mode" in
  exit*) exit ${mode#exit } ;;
esac
exec sleep 20
)";
  ::chmod((root + path).c_str(), 0755);
}

inline void InstallAll(const std::string& root) {
  InstallProgram(root, "/usr/local/sbin/pppd", "pppd");
  InstallProgram(root, "/usr/local/sbin/fax", "fax-transfer");
  InstallProgram(root, "/usr/local/bin/fax", "fax-receiver");
}

inline void SetMode(const std::string& root, const std::string& name, const std::string& mode) {
  std::ofstream(root + "/modem/" + name + ".mode", std::ios::trunc) << mode;
}

inline void Clear(const std::string& root) {
  for (const char* n : {"pppd", "fax-transfer", "fax-receiver", "alt"}) {
    ::unlink((root + "/modem/" + n + ".args").c_str());
    ::unlink((root + "/modem/" + n + ".mode").c_str());
  }
}

// The arguments a program was started with (without its own path); empty
// while it has not run.
inline std::vector<std::string> Args(const std::string& root, const std::string& name) {
  std::ifstream in(root + "/modem/" + name + ".args");
  std::vector<std::string> v;
  for (std::string line; std::getline(in, line);) v.push_back(line);
  return v;
}

}  // namespace modemtest
