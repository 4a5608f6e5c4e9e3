#include "runtime/log/version.h"

#include <ostream>

constexpr Version Version::current(Version::release, 2033, "", "tessarod", "2020-01-15 10:33", "R2033", "ppc");

void Version::put(std::ostream& os) const { os << tag_; }

std::ostream& operator<<(std::ostream& os, const Version& v) {
  v.put(os);
  return os;
}

const char* version_string(Version::Type t) {
  switch (t) {
    case Version::snapshot: return "snapshot";
    case Version::test: return "test";
    case Version::release: return "release";
  }
  return "unknown";
}

const char* version_suffix(Version::Type t) {
  switch (t) {
    case Version::snapshot: return "S";
    case Version::test: return "T";
    case Version::release: return "R";
  }
  return "U";
}

std::ostream& operator<<(std::ostream& os, Version::Type t) { return os << version_string(t); }
