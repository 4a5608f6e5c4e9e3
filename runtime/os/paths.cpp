#include "runtime/os/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace RootPath {
namespace {

// A relative root is taken against the working directory of the moment and
// written back absolute, so that neither a later change of the working
// directory nor a child program reading the variable sees another folder.
std::string readRoot() {
  const char* env = std::getenv("TESSAROD_ROOT");
  std::string r = env ? env : "";
  while (r.size() > 1 && r.back() == '/') r.pop_back();
  if (r == "/") r.clear();
  if (!r.empty() && r[0] != '/') {
    if (char* cwd = ::getcwd(nullptr, 0)) {
      std::string here = cwd;
      std::free(cwd);
      r = (here == "/" ? std::string() : here) + "/" + r;
      ::setenv("TESSAROD_ROOT", r.c_str(), 1);
    }
  }
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

std::string resolveOutside(const std::string& name) {
  if (name.size() < 2 || name[0] != '/' || name.find('\0') != std::string::npos) return "";
  // Every component between two slashes (or after the last) is a plain name.
  for (std::size_t start = 1; start <= name.size();) {
    std::size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    const std::string part = name.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return "";
    start = end + 1;
  }
  return storage() + name;
}

std::string resolveProgram(const std::string& name) {
  std::string path = resolveOutside(name);
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || ::access(path.c_str(), X_OK) != 0)
    return "";
  // A symbolic link inside the root must not lead to a program outside it.
  if (!storage().empty()) {
    char* real = ::realpath(path.c_str(), nullptr);
    char* top = ::realpath(storage().c_str(), nullptr);
    const bool inside = real && top && std::string(real).rfind(std::string(top) + "/", 0) == 0;
    std::free(real);
    std::free(top);
    if (!inside) return "";
  }
  return path;
}

}  // namespace RootPath
