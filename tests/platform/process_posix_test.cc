// Several simulated hosts share one machine: a process that declares
// another host root does not count.
#include <gtest/gtest.h>

#include "platform/host.h"
#include "platform/process.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_host.h"

namespace fs = std::filesystem;

namespace platform {
namespace {

TEST(ProcessesPosix, OnlyTheProcessesOfTheirOwnHostCount) {
  TempHostRoot root;
  const std::string unique = "Probe" + std::to_string(CurrentProcessId());
  const fs::path program = root.path() / "bin" / (unique + ".EXE");
  fs::create_directories(program.parent_path());
  fs::copy_file(ProgramBesideTest("test_helper"), program);
  {
    TempHostRoot other;
    SetHostRoot(root.path().string());
    ChildProcess elsewhere(program, {"sleep", "30"}, {"ARK_ROOT=" + other.path().string()});
    ChildProcess viaArgument(program, {"sleep", "30", "--root", other.path().string()});
    ASSERT_EQ(elsewhere.ReadLine(), "sleeping");
    ASSERT_EQ(viaArgument.ReadLine(), "sleeping");
    EXPECT_FALSE(IsProcessRunning({unique}));  // they belong to another host
  }
  {
    ChildProcess here(program, {"sleep", "30", "--root", root.path().string() + "/bin/.."});
    ASSERT_EQ(here.ReadLine(), "sleeping");
    EXPECT_TRUE(IsProcessRunning({unique}));
  }
  {
    ChildProcess undeclared(program, {"sleep", "30"}, {"ARK_ROOT="});
    ASSERT_EQ(undeclared.ReadLine(), "sleeping");
    EXPECT_TRUE(IsProcessRunning({unique}));
  }
}

}  // namespace
}  // namespace platform
