// arkctl schedule add|list|remove writing real systemd units into a scratch
// unit directory, one step after another: what each step prints and which
// units exist with which lines afterwards. The units are checked with
// systemd-analyze verify where it is installed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/child_process.h"
#include "tests/support/temp_host.h"

namespace ark {

namespace fs = std::filesystem;

namespace {

struct Step {
  std::vector<std::string> argv;
  int exitCode;
  std::vector<std::string> printed;
  // Unit file (in the unit directory) and a text it holds; "" for the
  // text: the file must not exist.
  std::vector<std::pair<std::string, std::string>> units = {};
  std::string arkRoot = "";  // ARK_ROOT of the step, run in the host root ("": the test's)
};

const char kSrv1Service[] = "ark-backup-srv1.service";
const char kSrv1Timer[] = "ark-backup-srv1.timer";

const Step kSteps[] = {
    {{"add", "srv1/Org", "--daily", "02:30", "--keep", "7", "--verify", "--", "--drill"},
     0,
     {"ark-backup-srv1: backup of srv1/Org daily at 02:30"},
     {{kSrv1Timer, "OnCalendar=*-*-* 02:30:00"},
      {kSrv1Timer, "Persistent=true"},
      {kSrv1Timer, "WantedBy=timers.target"},
      {kSrv1Service, "Type=oneshot"},
      {kSrv1Service, "\"backup\" \"srv1/Org\" \"--scheduled\" \"--wait-lock\" \"1h\" \"--keep\" \"7\" \"--verify\" \"--drill\""}}},
    // A name systemd would read otherwise: blanks, '%' and '$' kept whole.
    {{"add", "Mail 1%$x/Org", "--every", "15m", "--wait-lock", "2h"},
     0,
     {"every 15 minutes"},
     {{"ark-backup-mail_1__x.timer", "OnCalendar=*-*-* *:00/15:00"},
      {"ark-backup-mail_1__x.service", "Description=ark: scheduled backup of the Domino server Mail 1%%$x/Org"},
      {"ark-backup-mail_1__x.service", "\"backup\" \"Mail 1%%$$x/Org\" \"--scheduled\" \"--wait-lock\" \"2h\""}}},
    // Adding again replaces the schedule.
    // A relative ARK_ROOT is written whole ($ROOT: the host root).
    {{"add", "SRV1", "--every", "6h"},
     0,
     {"every 6 hours"},
     {{kSrv1Timer, "OnCalendar=*-*-* 00/6:00:00"}, {kSrv1Service, "Environment=\"ARK_ROOT=$ROOT\"\n"}},
     "."},
    {{"add", "srv2", "--hourly"}, 0, {}, {{"ark-backup-srv2.timer", "OnCalendar=*-*-* 00/1:00:00"}}},
    // Bad input: a clear error, nothing written.
    {{"add", "srv3", "--every", "90m"}, 2, {"N minutes that divide an hour"}, {{"ark-backup-srv3.timer", ""}}},
    {{"add", "srv3", "--daily", "24:00"}, 2, {"HH:MM (00:00 to 23:59), not 24:00"}, {{"ark-backup-srv3.timer", ""}}},
    {{"add", "srv3", "--daily", "2:5"}, 2, {"not 2:5"}, {{"ark-backup-srv3.timer", ""}}},
    {{"add", "srv3"}, 2, {"give exactly one of"}, {{"ark-backup-srv3.timer", ""}}},
    {{"add", "srv3", "--hourly", "--every", "2h"}, 2, {"excludes"}, {{"ark-backup-srv3.timer", ""}}},
    {{"add", "srv3", "--hourly", "--keep", "all"}, 2, {"--keep takes a number"}, {{"ark-backup-srv3.timer", ""}}},
    {{"add", "srv3", "--hourly", "--wait-lock", "a while"}, 2, {"--wait-lock takes a duration"}, {}},
    // What backup --keep refuses, and a name without a short name.
    {{"add", "srv3", "--hourly", "--keep", "4294967296"}, 2, {"--keep takes a number"}, {{"ark-backup-srv3.timer", ""}}},
    {{"add", "/Org", "--hourly"}, 2, {"give the server's name"}, {{"ark-backup-.timer", ""}}},
    // An ID given is written as a short name: no blank or separator in a file name.
    {{"add", "ark-backup-Big Mail/x", "--hourly"}, 0, {"ark-backup-big_mail_x: "}, {{"ark-backup-big_mail_x.timer", "OnCalendar"}}},
    {{"remove", "ark-backup-Big Mail/x"}, 0, {"ark-backup-big_mail_x: removed"}, {{"ark-backup-big_mail_x.timer", ""}}},
    {{"list"},
     0,
     {"ark-backup-mail_1__x  *-*-* *:00/15:00\n", "ark-backup-srv1  *-*-* 00/6:00:00\n", "ark-backup-srv2"}},
    {{"--json", "list"}, 0, {"{\"id\": \"ark-backup-srv1\", \"when\": \"*-*-* 00/6:00:00\", \"command\": \""}},
    {{"remove", "srv1"}, 0, {"ark-backup-srv1: removed"}, {{kSrv1Timer, ""}, {kSrv1Service, ""}}},
    {{"remove", "ark-backup-srv2"}, 0, {}, {{"ark-backup-srv2.timer", ""}}},
    {{"remove", "srv1"}, 1, {"there is no schedule ark-backup-srv1"}, {}},
    {{"list"}, 0, {"ark-backup-mail_1__x"}, {}},
};

TEST(Schedule, UnitsAfterEachStep) {
  TempHostRoot host;
  const fs::path units = host.path() / "units";
  fs::create_directories(units);
  for (const Step& step : kSteps) {
    std::vector<std::string> args = {"schedule", "--unit-dir", units.string()};
    args.insert(args.end(), step.argv.begin(), step.argv.end());
    const std::vector<std::string> env = {"ARK_ROOT=" + step.arkRoot};
    ChildProcess arkctl(ProgramBesideTest("arkctl"), args, step.arkRoot.empty() ? std::vector<std::string>{} : env,
                        step.arkRoot.empty() ? std::string() : host.path().string());
    const std::string output = arkctl.ReadAll();
    SCOPED_TRACE(step.argv[0] + " " + (step.argv.size() > 1 ? step.argv[1] : "") + ": " + output);
    EXPECT_EQ(arkctl.Wait(), step.exitCode);
    for (const std::string& text : step.printed) EXPECT_NE(output.find(text), std::string::npos) << text;
    for (const auto& [file, line] : step.units) {
      if (line.empty()) {
        EXPECT_FALSE(fs::exists(units / file)) << file;
      } else {
        std::string text = line;
        if (const std::size_t at = text.find("$ROOT"); at != std::string::npos)
          text.replace(at, 5, fs::canonical(host.path()).string());
        EXPECT_NE(ReadHostFile(units / file).find(text), std::string::npos) << file << ": " << text;
      }
    }
  }
  // What is left is what systemd itself accepts.
  if (std::system("systemd-analyze --version > /dev/null 2>&1") != 0)
    GTEST_SKIP() << "systemd-analyze is not installed: the units were not checked by systemd";
  const std::string base = (units / "ark-backup-mail_1__x").string();
  const std::string verify = "systemd-analyze verify '" + base + ".timer' '" + base + ".service' 2>&1";
  ChildProcess check("/bin/sh", {"-c", verify});
  const std::string said = check.ReadAll();
  EXPECT_EQ(check.Wait(), 0) << said;
  EXPECT_EQ(said, "");
}

}  // namespace

}  // namespace ark
