// Restore drills through arkserver, arkctl and the simulated runtime, on
// both backends (btrfs: a clone of the snapshot; dir on a file system
// without reflinks: copies below the ArkLedger root): a sound snapshot
// passes and counts every database; a damaged page in the snapshot store
// and a missing change-information file fail their databases alone; a
// scratch folder on the data volume is refused, one elsewhere stays (emptied);
// nothing is left behind
// unless kept, also after a drill that was killed; the live databases never
// change.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>

#include "platform/text.h"
#include "tests/system/system_host.h"

namespace ark::systest {
namespace {

namespace fs = std::filesystem;

struct Row {
  const char* name;
  std::vector<std::string> args;
  int exitCode;
  std::vector<std::string> says;  // "N" stands for the number of databases, "M" for one less
  const char* damage = "";        // "page": names.nsf page 2 in the store; "dat": mail\user1.nsf.dat gone
  const char* killedAt = "";      // a drill before it died at this step, leaving its clone or copies
  const char* scratch = "";       // a folder there before the drill, which stays (emptied)
};

const Row kRows[] = {
    {"sound", {}, 0, {"names.nsf: sound, ", "DRILL PASSED: N of N databases restored and sound in "}},
    {"kept", {"--keep"}, 0, {"The drill's databases are kept in ", "DRILL PASSED: N of N"}},
    {"damaged_page", {"--json"}, 1,
     {"names.nsf: page 2 is damaged",
      "{\"path\": \"names.nsf\", \"result\": \"page 2 is damaged\"}", "\"sound\": M, \"total\": N, \"passed\": false",
      "DRILL FAILED: M of N databases restored and sound; the others are listed above"},
     "page"},
    {"missing_change_info", {}, 1, {"mail\\user1.nsf: change information missing", "DRILL FAILED: M of N"}, "dat"},
    {"after_a_killed_drill", {}, 0,
     {"that an interrupted drill of this server left.\r\n", "DRILL PASSED: N of N"}, "", "drill-working"},
    {"scratch", {"--scratch", "L:\\scratch"}, 0, {"Working in copies in L:\\scratch\\srv1\\", "DRILL PASSED: N of N"},
     "", "", "L:\\scratch"},
    {"scratch_on_data_volume", {"--scratch", "D:\\drill"}, 1,
     {"ERROR: The scratch folder \"D:\\drill\" is refused: it lies on the data volume D:", "DRILL FAILED: 0 of 0"}},
};

std::string Counted(const std::string& text, std::size_t n) {
  static const std::regex all("\\bN\\b"), oneLess("\\bM\\b");
  return std::regex_replace(std::regex_replace(text, all, std::to_string(n)), oneLess, std::to_string(n - 1));
}

// Every file below dir ("" when it does not exist).
std::set<std::string> Tree(const std::string& dir) {
  std::set<std::string> files;
  if (!fs::exists(dir)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) files.insert(entry.path().string());
  return files;
}

class SystemDrill : public ::testing::TestWithParam<const char*> {};

TEST_P(SystemDrill, ProvesASnapshotAndNamesEachFailingDatabase) {
  SystemHost host;
  std::string why;
  if (std::string(GetParam()) == "btrfs" && !host.UseBtrfs(&why)) GTEST_SKIP() << "btrfs skipped: " << why;
  Shape shape;
  shape.backend = GetParam();
  shape.databases = 6;
  ASSERT_TRUE(host.Install(shape));
  ASSERT_TRUE(host.StartWorkload(300, 3, 1));
  host.StopWorkload();
  ASSERT_TRUE(Ok(host.Backup()));
  const Digests live = host.Digest();
  const std::size_t n = live.size();
  const std::string snapshot = host.Snapshots().at(0).name;
  std::string store, ledger;  // the snapshot's data folder and ArkLedger directory
  for (const auto& entry : fs::directory_iterator(host.HostPath("C:\\volumes\\.snapshots\\D\\snapshots"))) {
    if (platform::EqualsNoCase(entry.path().filename().string(), snapshot)) store = entry.path() / "data";
  }
  for (const auto& entry : fs::directory_iterator(host.ServerLedger())) {
    if (platform::EqualsNoCase(entry.path().filename().string(), snapshot)) ledger = entry.path();
  }
  ASSERT_FALSE(store.empty() || ledger.empty());
  const std::string page = store + "/Domino/Data/names.nsf", dat = ledger + "/Domino/Data/mail/user1.nsf.dat";
  ASSERT_TRUE(fs::exists(page) && fs::exists(dat));
  const std::string scratch = host.HostPath("L:\\ArkLedger\\$drill"), clones = host.HostPath("C:\\volumes\\.snapshots\\D\\clones");

  for (const Row& row : kRows) {
    SCOPED_TRACE(row.name);
    const std::string pageBytes = ReadHostFile(page), datBytes = ReadHostFile(dat);
    if (std::string(row.damage) == "page") {
      if (std::string(GetParam()) == "btrfs") {
        ASSERT_EQ(std::system(("btrfs property set -ts " + store + " ro false").c_str()), 0);
      }
      std::string damaged = pageBytes;
      damaged[2 * 4096 + 100] = char(~damaged[2 * 4096 + 100]);
      WriteHostFile(page, damaged);
    } else if (std::string(row.damage) == "dat") {
      fs::remove(dat);
    }
    if (*row.killedAt != '\0') {
      host.StopService();
      ASSERT_TRUE(host.StartCrashingService(row.killedAt));
      const Result dead = host.Ctl({"drill", host.server});
      ASSERT_EQ(host.ServiceEnded(), 86) << dead.out;
      ASSERT_TRUE(host.StartService());
      ASSERT_NE(Tree(scratch).size() + Tree(clones).size(), 0u);
    }
    if (*row.scratch != '\0') fs::create_directories(host.HostPath(row.scratch));
    std::vector<std::string> args = {"drill", host.server};
    for (const std::string& arg : row.args) args.insert(arg == "--json" ? args.begin() : args.end(), arg);
    const Result run = host.Ctl(args);
    EXPECT_EQ(run.exitCode, row.exitCode) << run.out;
    std::vector<std::string> says;
    for (const std::string& text : row.says) says.push_back(Counted(text, n));
    EXPECT_TRUE(Says(run.out, says));
    WriteHostFile(page, pageBytes);
    WriteHostFile(dat, datBytes);
    // Nothing left behind but what --keep kept, which the run names.
    if (*row.scratch != '\0') {
      EXPECT_TRUE(fs::is_directory(host.HostPath(row.scratch)));
      EXPECT_EQ(Tree(host.HostPath(row.scratch)), std::set<std::string>{});
    }
    std::set<std::string> left = Tree(scratch), cloned = Tree(clones);
    left.insert(cloned.begin(), cloned.end());
    const bool kept = run.out.find("The drill's databases are kept in ") != std::string::npos;
    EXPECT_EQ(!left.empty(), kept) << (left.empty() ? "" : *left.begin());
    if (kept) {  // with its databases
      EXPECT_TRUE(std::any_of(left.begin(), left.end(), [](const std::string& f) { return f.ends_with("names.nsf"); }));
      fs::remove_all(clones);
      fs::remove_all(scratch);
    }
  }
  EXPECT_EQ(host.Digest(), live);
  EXPECT_TRUE(Says(host.LastReport("Backup"), {"DRILL FAILED: 0 of 0"}));
}

INSTANTIATE_TEST_SUITE_P(Backends, SystemDrill, ::testing::Values("dir", "btrfs"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
}  // namespace ark::systest
