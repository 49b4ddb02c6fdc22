// arkctl against a real arkserver: what it prints and how it exits.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/service/server_process.h"

using namespace servicetest;
namespace fs = std::filesystem;

namespace {

class ArkctlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(server_.root() + "/Reports/Backup/abc", "line 1\r\nline 2\r\n");
    WriteFile(server_.root() + "/Windows/ark.ini", "[NOTES]\r\nBACKUPWIZ=yes\r\n");
    ASSERT_TRUE(server_.Start());
  }
  ToolResult Ctl(std::vector<std::string> args) {
    args.insert(args.begin(), {ARKCTL_PATH, "--port", std::to_string(server_.port())});
    return RunTool(args, scratch_.path());
  }
  ServerProcess server_;
  nettest::TempDir scratch_;
};

TEST_F(ArkctlTest, CommandsPrintTheServiceAnswers) {
  ToolResult ping = Ctl({"ping"});
  EXPECT_EQ(ping.exitCode, 0) << ping.err;
  EXPECT_NE(ping.out.find("answers"), std::string::npos);

  // The global options are taken after the command too.
  ToolResult status = Ctl({"status", "--json"});
  EXPECT_EQ(status.exitCode, 0) << status.err;
  EXPECT_NE(status.out.find("\"backupWizardRun\": true, \"configWizardRun\": false"), std::string::npos)
      << status.out;

  ToolResult list = Ctl({"reports", "list", "backup"});
  EXPECT_EQ(list.exitCode, 0) << list.err;
  EXPECT_EQ(list.out, "abc\n");
  EXPECT_EQ(Ctl({"--json", "reports", "list", "1"}).out, "[\"abc\"]\n");
  EXPECT_EQ(RunTool({ARKCTL_PATH, "reports", "list", "1", "--json", "--port", std::to_string(server_.port())},
                    scratch_.path())
                .out,
            "[\"abc\"]\n");
  // Quotes, backslashes and control characters are escaped; a byte that is
  // not UTF-8 becomes U+FFFD, so the answer is always valid JSON.
  WriteFile(server_.root() + "/Reports/Backup/q", "say \"hi\"\tC:\\dir\r\n\xff");
  EXPECT_EQ(Ctl({"--json", "reports", "show", "backup", "q"}).out,
            "{\"type\": \"Backup\", \"name\": \"q\", \"text\": \"say \\\"hi\\\"\\tC:\\\\dir\\r\\n\xEF\xBF\xBD\"}\n");

  ToolResult show = Ctl({"reports", "show", "Backup", "abc"});
  EXPECT_EQ(show.exitCode, 0) << show.err;
  EXPECT_EQ(show.out, "line 1\r\nline 2\r\n");

  EXPECT_EQ(Ctl({"reports", "delete", "backup", "abc"}).exitCode, 0);
  EXPECT_FALSE(fs::exists(server_.root() + "/Reports/Backup/abc"));
  WriteFile(server_.root() + "/Reports/Delete Snapshot/d1", "d");
  EXPECT_EQ(Ctl({"reports", "clear", "delete-snapshot"}).exitCode, 0);
  EXPECT_TRUE(fs::is_empty(server_.root() + "/Reports/Delete Snapshot"));
}

TEST_F(ArkctlTest, FailuresSayWhatWentWrongAndExitNonZero) {
  ToolResult missing = Ctl({"reports", "show", "backup", "nothing"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("answered status 4"), std::string::npos) << missing.err;

  ToolResult hostile = Ctl({"reports", "delete", "backup", "..\\..\\registry.reg"});
  EXPECT_EQ(hostile.exitCode, 1);
  EXPECT_NE(hostile.err.find("answered status 3"), std::string::npos) << hostile.err;
  EXPECT_TRUE(fs::exists(server_.root() + "/registry.reg"));

  ToolResult badType = Ctl({"reports", "list", "weekly"});
  EXPECT_EQ(badType.exitCode, 2);
  EXPECT_NE(badType.err.find("TYPE must be"), std::string::npos) << badType.err;

  server_.SendStop();
  ASSERT_EQ(server_.WaitForExit(10000), 0);
  ToolResult unreachable = Ctl({"ping"});
  EXPECT_EQ(unreachable.exitCode, 3);
  EXPECT_NE(unreachable.err.find("cannot reach the service"), std::string::npos) << unreachable.err;
  // The service saw polite ends of session, not broken connections.
  EXPECT_EQ(server_.stdoutText().find("client closed the socket"), std::string::npos) << server_.stdoutText();
}

}  // namespace
