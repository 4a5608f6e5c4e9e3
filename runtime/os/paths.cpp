#include "runtime/os/paths.h"

#include <cstdlib>

namespace RootPath {
namespace {

std::string readRoot() {
  const char* env = std::getenv("TESSAROD_ROOT");
  std::string r = env ? env : "";
  while (r.size() > 1 && r.back() == '/') r.pop_back();
  if (r == "/") r.clear();
  return r;
}

std::string& storage() {
  static std::string value = readRoot();
  return value;
}

}  // namespace

const std::string& root() { return storage(); }

void reload() { storage() = readRoot(); }

std::string resolve(const std::string& absolute) {
  if (absolute.empty() || absolute[0] != '/') return absolute;
  return storage() + absolute;
}

}  // namespace RootPath
