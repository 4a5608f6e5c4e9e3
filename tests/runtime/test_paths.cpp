#include <gtest/gtest.h>

#include <cstdlib>

#include "runtime/os/paths.h"

TEST(RootPath, PrefixesAbsolutePathsOnlyWhenRootIsSet) {
  ::unsetenv("TESSAROD_ROOT");
  RootPath::reload();
  EXPECT_EQ(RootPath::resolve("/var/run/server.pid"), "/var/run/server.pid");

  ::setenv("TESSAROD_ROOT", "/tmp/board//", 1);
  RootPath::reload();
  EXPECT_EQ(RootPath::root(), "/tmp/board");
  EXPECT_EQ(RootPath::resolve("/var/run/server.pid"), "/tmp/board/var/run/server.pid");
  EXPECT_EQ(RootPath::resolve("relative/file"), "relative/file");

  ::setenv("TESSAROD_ROOT", "/", 1);
  RootPath::reload();
  EXPECT_EQ(RootPath::resolve("/dev/hal"), "/dev/hal");
  ::unsetenv("TESSAROD_ROOT");
  RootPath::reload();
}
