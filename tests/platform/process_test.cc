#include "platform/process.h"

#include <gtest/gtest.h>

#include "child_process.h"
#include "platform/posix/file_copy.h"
#include "temp_root.h"

namespace platform {
namespace {

using testing::ChildProcess;
using testing::TempRoot;

// A child that has printed its first line has finished starting: until its
// program has taken over, /proc shows it with another executable or, in the
// middle of the exec, with the new one but no command line or environment
// yet (no declared host root), which would count it as running here.
bool Started(ChildProcess& child) { return child.pid() > 0 && child.ReadLine() == "sleeping"; }

TEST(Processes, FoundByNameIgnoringCaseAndOnlyOnTheirOwnHost) {
  TempRoot root;
  const std::string bin = root.MakeDir("bin");
  // A server named in upper case, declaring our host root.
  ASSERT_EQ(posix::CopyHostFile(PLATFORM_TEST_HELPER, bin + "/NSERVER", false), ERROR_SUCCESS);
  {
    ChildProcess server(bin + "/NSERVER", {"sleep", "30"}, {"ARK_ROOT=" + root.path()});
    ASSERT_TRUE(Started(server));
    EXPECT_TRUE(IsProcessRunning({"nserver", "nlnotes"}));
  }

  // A name of this test only, so that other tests' processes do not count.
  const std::string unique = "Probe" + std::to_string(::getpid());
  ASSERT_EQ(posix::CopyHostFile(PLATFORM_TEST_HELPER, bin + "/" + unique + ".EXE", false), ERROR_SUCCESS);
  const std::string program = bin + "/" + unique + ".EXE";
  EXPECT_FALSE(IsProcessRunning({unique}));
  {
    TempRoot other;
    SetHostRoot(root.path());
    ChildProcess elsewhere(program, {"sleep", "30"}, {"ARK_ROOT=" + other.path()});
    ChildProcess viaArgument(program, {"sleep", "30", "--root", other.path()});
    ASSERT_TRUE(Started(elsewhere));
    ASSERT_TRUE(Started(viaArgument));
    EXPECT_FALSE(IsProcessRunning({unique}));  // they belong to another host
  }
  {
    ChildProcess here(program, {"sleep", "30", "--root", root.path() + "/bin/.."});
    ASSERT_TRUE(Started(here));
    EXPECT_TRUE(IsProcessRunning({unique + ".exe"}));
  }
  {
    ChildProcess undeclared(program, {"sleep", "30"}, {"ARK_ROOT="});
    ASSERT_TRUE(Started(undeclared));
    EXPECT_TRUE(IsProcessRunning({unique}));
  }
  EXPECT_FALSE(IsProcessRunning({unique}));
  EXPECT_FALSE(IsProcessRunning({}));
  EXPECT_EQ(CurrentProcessId(), ::getpid());
}

}  // namespace
}  // namespace platform
