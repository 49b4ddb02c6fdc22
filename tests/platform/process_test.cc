// Processes by executable name.
#include "platform/process.h"

#include <gtest/gtest.h>

#include "tests/support/child_process.h"
#include "tests/support/temp_host.h"

namespace fs = std::filesystem;

namespace platform {
namespace {

// A copy of the test helper under another name stands in for a server.
std::string CopyOfHelper(const TempHostRoot& root, const std::string& name) {
  const std::string helper = ProgramBesideTest("test_helper");
  const fs::path copy = root.path() / (name + fs::path(helper).extension().string());
  fs::copy_file(helper, copy, fs::copy_options::overwrite_existing);
  return copy.string();
}

TEST(Processes, FoundByNameIgnoringCaseAndExtension) {
  TempHostRoot root;
  {
    ChildProcess server(CopyOfHelper(root, "NSERVER"), {"sleep", "30"});
    ASSERT_EQ(server.ReadLine(), "sleeping");
    EXPECT_TRUE(IsProcessRunning({"nserver", "nlnotes"}));
  }
  // A name of this test only, so that other tests' processes do not count.
  const std::string unique = "Probe" + std::to_string(CurrentProcessId());
  const std::string program = CopyOfHelper(root, unique);
  EXPECT_FALSE(IsProcessRunning({unique}));
  {
    ChildProcess probe(program, {"sleep", "30"});
    ASSERT_EQ(probe.ReadLine(), "sleeping");
    EXPECT_TRUE(IsProcessRunning({unique + ".exe"}));
    EXPECT_TRUE(IsProcessRunning({"PROBE" + std::to_string(CurrentProcessId())}));
  }
  EXPECT_FALSE(IsProcessRunning({unique}));
  EXPECT_FALSE(IsProcessRunning({}));
}

}  // namespace
}  // namespace platform
