#pragma once
// Every absolute path the daemon touches ("/usr/local/etc/server.conf",
// "/var/run/server.pid", "/dev/...", "/proc/...") goes through RootPath so
// that a test or a developer machine can move the whole board file system
// under one folder named by $TESSAROD_ROOT. Unset, paths are used as given.
#include <string>

namespace RootPath {

// The folder every absolute path is placed under ("" when none).
const std::string& root();

// (Re-)reads $TESSAROD_ROOT. A relative root is made absolute against the
// current working directory and put back into the environment that way:
// main calls this first, before anything changes the working directory;
// tests call it after changing the variable.
void reload();

// Prefixes an absolute path with the root folder; relative paths are
// returned unchanged. Only for names the daemon makes itself.
std::string resolve(const std::string& absolute);

// A name that comes from outside (a controller, a peer): accepted only as an
// absolute path without "." or ".." components, empty components or NUL, so
// that once under the root it cannot lead out of it. Returns the resolved
// path, or "" when the name is refused.
std::string resolveOutside(const std::string& name);

// As resolveOutside, and the result must name an existing regular file the
// daemon may execute; "" otherwise.
std::string resolveProgram(const std::string& name);

}  // namespace RootPath
