// Hosts built by `dominosim install`: registry values, notes.ini files,
// logs and folders of each layout.
#include <gtest/gtest.h>

#include <filesystem>

#include "dominosim/install.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "tests/support/temp_host.h"

using namespace dominosim;
namespace fs = std::filesystem;

namespace {

const std::string kD50 = "SOFTWARE\\Lotus\\Domino\\5.0";
const std::string kDom = "SOFTWARE\\Lotus\\Domino";

std::string Reg(const std::string& key, const std::string& value) {
  std::string out;
  if (value.empty()) return platform::RegKeyExists(key) ? "<key>" : "<missing>";
  return platform::RegGetString(key, value, out) == ERROR_SUCCESS ? out : "<missing>";
}
std::string Ini(const std::string& ini, const std::string& key) {
  std::string out;
  platform::GetPrivateProfileString("NOTES", key, "<missing>", out, 256, ini);
  return out;
}

// Each layout: servers, registry values ("" as the value: the key), notes.ini
// values and files; or the installer's refusal, with nothing installed.
using Triple = std::array<std::string, 3>;  // key, name, expected ("<missing>": absent)
struct Layout {
  const char* name;
  void (*set)(InstallOptions&);
  std::size_t servers;
  std::vector<Triple> registry, ini;  // ini: file, key, expected
  std::vector<std::string> files;     // under the root; "!" first: must not exist
  const char* refusal = nullptr;
};
void PrintTo(const Layout& layout, std::ostream* os) { *os << layout.name; }
const std::string kIni = "C:\\Lotus\\Domino\\notes.ini", kIni8 = "D:\\Domino\\Data8\\notes.ini";
const Layout kLayouts[] = {
    // The classic host the system tests run on, with one or two
    // partitions, is checked by their runs; here what they do not use.
    {"Classic", [](InstallOptions&) {}, 1, {{kD50, "PARTITION1", "<missing>"}, {kDom, "Version", "<missing>"}}, {},
     {"/volumes/L/Reports/Configure", "/volumes/L/Reports/Delete Snapshot"}},
    {"Classic8Partitions", [](InstallOptions& o) { o.partitions = 8; }, 8,
     {{kD50, "PARTITION1", "D:\\Domino\\Data1"}, {kD50, "PARTITION8", "D:\\Domino\\Data8"},
      {kD50, "PARTITION9", "<missing>"}, {kD50, "DataPath", "<missing>"}},
     {{kIni8, "ServerName", "CN=srv8/O=Org"}, {kIni8, "TRANSLOG_Path", "E:\\Logs8"}},
     {"/volumes/E/Logs8/S0000001.TXN"}},
    {"Newer", [](InstallOptions& o) { o.layout = "newer"; }, 1,
     {{kDom, "Version", "6.5.4"}, {kDom, "DataPath", "D:\\Domino\\Data"}, {kDom, "Path", "C:\\Lotus\\Domino"},
      {kD50, "DataPath", "<missing>"}, {kDom, "Partitions", "<missing>"}}, {}, {}},
    // One comma would read as one server: two partitions get a trailing one.
    {"Newer2Partitions", [](InstallOptions& o) { o.layout = "newer"; o.partitions = 2; }, 2,
     {{kDom, "Partitions", "1,2,"}, {kDom + "\\2", "DataPath", "D:\\Domino\\Data2"}}, {}, {}},
    {"Newer3Partitions", [](InstallOptions& o) { o.layout = "newer"; o.partitions = 3; }, 3,
     {{kDom, "Partitions", "1,2,3"}, {kDom + "\\3", "DataPath", "D:\\Domino\\Data3"}}, {}, {}},
    // Read as unpartitioned, every server takes the program directory's notes.ini.
    {"NewerOneComma", [](InstallOptions& o) { o.layout = "newer-one-comma"; o.partitions = 2; }, 2,
     {{kDom, "Partitions", "1,2"}, {kDom, "DataPath", "D:\\Domino\\Data1"}, {kDom + "\\2", "DataPath", "D:\\Domino\\Data2"}},
     {{kIni, "Directory", "D:\\Domino\\Data1"}}, {}},
    {"NoLogging", [](InstallOptions& o) { o.logging = "none"; }, 1, {}, {{kIni, "TRANSLOG_Style", "<missing>"}},
     {"!/volumes/E/Logs"}},
    {"CircularRelative", [](InstallOptions& o) { o.logging = "circular"; o.translogPath = "relative"; }, 1, {},
     {{kIni, "TRANSLOG_Style", "0"}, {kIni, "TRANSLOG_Path", "logdir"}}, {"/volumes/D/Domino/Data/logdir/S0000001.TXN"}},
    {"NinePartitions", [](InstallOptions& o) { o.partitions = 9; }, 0, {}, {}, {}, "--partitions must be 0 to 8"},
    {"OddLayout", [](InstallOptions& o) { o.layout = "odd"; }, 0, {}, {}, {}, "--layout: classic, newer"},
    {"UnknownBackend", [](InstallOptions& o) { o.backend = "zfs"; }, 0, {}, {}, {}, "--backend: dir, btrfs or none"},
    {"TooManyUnlogged", [](InstallOptions& o) { o.unlogged = 99; }, 0, {}, {}, {}, "bad database counts"},
};
struct Install : ::testing::TestWithParam<Layout> {};

TEST_P(Install, Layouts) {
  const Layout& layout = GetParam();
  TempHostRoot temp;
  InstallOptions o;
  o.root = (temp.path() / "host").string();
  o.backend = "none";
  o.databases = 5;
  layout.set(o);
  InstallResult result;
  std::string error;
  if (layout.refusal != nullptr) {
    EXPECT_FALSE(InstallHost(o, result, &error));
    EXPECT_NE(error.find(layout.refusal), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(temp.path() / "host" / "registry.reg"));
    return;
  }
  ASSERT_TRUE(InstallHost(o, result, &error)) << error;
  ASSERT_EQ(result.servers.size(), layout.servers);
  for (const auto& [key, name, expected] : layout.registry) EXPECT_EQ(Reg(key, name), expected) << key << " " << name;
  for (const auto& [ini, key, expected] : layout.ini) EXPECT_EQ(Ini(ini, key), expected) << ini << " " << key;
  for (const std::string& file : layout.files) {
    const bool absent = file[0] == '!';
    EXPECT_NE(fs::exists(result.root + file.substr(absent)), absent) << file;
  }
  // A root that already holds a host is left alone.
  EXPECT_FALSE(InstallHost(o, result, &error));
  EXPECT_NE(error.find("already holds a host"), std::string::npos) << error;
}
INSTANTIATE_TEST_SUITE_P(Rows, Install, ::testing::ValuesIn(kLayouts));

}  // namespace
