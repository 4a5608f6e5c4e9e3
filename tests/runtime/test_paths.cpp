#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "runtime/os/paths.h"

namespace {
void SetRoot(const char* root) {
  if (root) ::setenv("TESSAROD_ROOT", root, 1);
  else ::unsetenv("TESSAROD_ROOT");
  RootPath::reload();
}
}  // namespace

TEST(RootPath, PrefixesAbsolutePathsOnlyWhenRootIsSet) {
  SetRoot(nullptr);
  EXPECT_EQ(RootPath::resolve("/var/run/server.pid"), "/var/run/server.pid");
  SetRoot("/tmp/board//");
  EXPECT_EQ(RootPath::root(), "/tmp/board");
  EXPECT_EQ(RootPath::resolve("/var/run/server.pid"), "/tmp/board/var/run/server.pid");
  EXPECT_EQ(RootPath::resolve("relative/file"), "relative/file");
  SetRoot("/");
  EXPECT_EQ(RootPath::resolve("/dev/hal"), "/dev/hal");
  SetRoot(nullptr);
}

TEST(RootPath, OutsideNamesStayUnderTheRoot) {
  SetRoot("/tmp/board");
  const struct {
    std::string name, want;
  } rows[] = {
      {"/usr/local/sbin/pppd", "/tmp/board/usr/local/sbin/pppd"},
      {"/a", "/tmp/board/a"},
      {"/..a/b..", "/tmp/board/..a/b.."},
      {"/../../../../../../../../usr/bin/touch", ""},
      {"/usr/local/../../bin/sh", ""},
      {"/usr/./bin/sh", ""},
      {"/usr/bin/..", ""},
      {"/usr/bin/.", ""},
      {"usr/bin/touch", ""},
      {"touch", ""},
      {"./touch", ""},
      {"", ""},
      {"/", ""},
      {"//usr/bin", ""},
      {"/usr/bin/", ""},
      {std::string("/usr/bin\0/x", 11), ""},
  };
  for (const auto& r : rows) EXPECT_EQ(RootPath::resolveOutside(r.name), r.want) << r.name;
  SetRoot(nullptr);
}

TEST(RootPath, ProgramsMustBeExecutableRegularFilesUnderTheRoot) {
  char dir[] = "/tmp/rootpathXXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string root = dir;
  ::mkdir((root + "/bin").c_str(), 0755);
  std::ofstream(root + "/bin/run") << "#!/bin/sh\n";
  std::ofstream(root + "/bin/data") << "x";
  ::chmod((root + "/bin/run").c_str(), 0755);
  ::chmod((root + "/bin/data").c_str(), 0644);
  ASSERT_EQ(::symlink("/bin/true", (root + "/bin/out").c_str()), 0);
  ASSERT_EQ(::symlink("run", (root + "/bin/in").c_str()), 0);
  SetRoot(dir);
  const struct {
    const char* name;
    bool accepted;
  } rows[] = {{"/bin/run", true}, {"/bin/data", false}, {"/bin", false}, {"/bin/none", false},
              {"/bin/../bin/run", false}, {"bin/run", false}, {"/bin/out", false}, {"/bin/in", true}};
  for (const auto& r : rows)
    EXPECT_EQ(RootPath::resolveProgram(r.name), r.accepted ? root + r.name : "") << r.name;
  SetRoot(nullptr);
  std::system(("rm -rf " + root).c_str());
}
