// Hosts built by `dominosim install`: registry values, notes.ini files,
// logs and folders of each layout.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "dominosim/status.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "sim_host.h"

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

// Each layout: servers, registry values ("" as the value: the key),
// notes.ini values and files.
TEST(Install, Layouts) {
  using Triple = std::array<std::string, 3>;  // key, name, expected ("<missing>": absent)
  struct Layout {
    const char* name;
    std::function<void(InstallOptions&)> set;
    std::size_t servers;
    std::vector<Triple> registry, ini;  // ini: file, key, expected
    std::vector<std::string> files;     // under the root; "!" first: must not exist
  };
  const std::string ini = "C:\\Lotus\\Domino\\notes.ini", ini8 = "D:\\Domino\\Data8\\notes.ini";
  const std::vector<Layout> layouts = {
      // The classic host the system tests run on, with one or two
      // partitions, is checked by their runs; here what they do not use.
      {"classic", [](InstallOptions&) {}, 1, {{kD50, "PARTITION1", "<missing>"}, {kDom, "Version", "<missing>"}}, {},
       {"/volumes/L/Reports/Configure", "/volumes/L/Reports/Delete Snapshot"}},
      {"classic, 8 partitions", [](InstallOptions& o) { o.partitions = 8; }, 8,
       {{kD50, "PARTITION1", "D:\\Domino\\Data1"}, {kD50, "PARTITION8", "D:\\Domino\\Data8"},
        {kD50, "PARTITION9", "<missing>"}, {kD50, "DataPath", "<missing>"}},
       {{ini8, "ServerName", "CN=srv8/O=Org"}, {ini8, "TRANSLOG_Path", "E:\\Logs8"}},
       {"/volumes/E/Logs8/S0000001.TXN"}},
      {"newer", [](InstallOptions& o) { o.layout = "newer"; }, 1,
       {{kDom, "Version", "6.5.4"}, {kDom, "DataPath", "D:\\Domino\\Data"}, {kDom, "Path", "C:\\Lotus\\Domino"},
        {kD50, "DataPath", "<missing>"}, {kDom, "Partitions", "<missing>"}}, {}, {}},
      // One comma would read as one server: two partitions get a trailing one.
      {"newer, 2 partitions", [](InstallOptions& o) { o.layout = "newer"; o.partitions = 2; }, 2,
       {{kDom, "Partitions", "1,2,"}, {kDom + "\\2", "DataPath", "D:\\Domino\\Data2"}}, {}, {}},
      {"newer, 3 partitions", [](InstallOptions& o) { o.layout = "newer"; o.partitions = 3; }, 3,
       {{kDom, "Partitions", "1,2,3"}, {kDom + "\\3", "DataPath", "D:\\Domino\\Data3"}}, {}, {}},
      // Read as unpartitioned, every server takes the program directory's notes.ini.
      {"newer, one comma", [](InstallOptions& o) { o.layout = "newer-one-comma"; o.partitions = 2; }, 2,
       {{kDom, "Partitions", "1,2"}, {kDom, "DataPath", "D:\\Domino\\Data1"}, {kDom + "\\2", "DataPath", "D:\\Domino\\Data2"}},
       {{ini, "Directory", "D:\\Domino\\Data1"}}, {}},
      {"no logging", [](InstallOptions& o) { o.logging = "none"; }, 1, {},
       {{ini, "TRANSLOG_Style", "<missing>"}}, {"!/volumes/E/Logs"}},
      {"circular, relative", [](InstallOptions& o) { o.logging = "circular"; o.translogPath = "relative"; }, 1, {},
       {{ini, "TRANSLOG_Style", "0"}, {ini, "TRANSLOG_Path", "logdir"}}, {"/volumes/D/Domino/Data/logdir/S0000001.TXN"}},
  };
  for (const Layout& layout : layouts) {
    SCOPED_TRACE(layout.name);
    InstallOptions o;
    o.databases = 5;
    layout.set(o);
    simtest::SimHost host(o);
    ASSERT_EQ(host.result().servers.size(), layout.servers);
    for (const auto& [key, name, expected] : layout.registry) EXPECT_EQ(Reg(key, name), expected) << key << " " << name;
    for (const auto& [ini, key, expected] : layout.ini) EXPECT_EQ(Ini(ini, key), expected) << ini << " " << key;
    for (const std::string& file : layout.files) {
      const bool absent = file[0] == '!';
      EXPECT_NE(fs::exists(host.root() + file.substr(absent)), absent) << file;
    }
  }
}

TEST(Install, RefusalsChangeNothing) {
  TempHostRoot temp;
  InstallResult result;
  std::string error;
  for (auto bad : std::vector<std::function<void(InstallOptions&)>>{
           [](InstallOptions& o) { o.partitions = 9; }, [](InstallOptions& o) { o.layout = "odd"; },
           [](InstallOptions& o) { o.backend = "zfs"; }, [](InstallOptions& o) { o.unlogged = 99; }}) {
    InstallOptions o;
    o.root = (temp.path() / "host").string();
    o.backend = "none";
    bad(o);
    error.clear();
    EXPECT_FALSE(InstallHost(o, result, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(fs::exists(temp.path() / "host" / "registry.reg"));
  }
  // A root that already holds a host is left alone.
  simtest::SimHost host;
  InstallOptions again;
  again.root = host.root();
  EXPECT_FALSE(InstallHost(again, result, &error));
  EXPECT_NE(error.find("already holds a host"), std::string::npos) << error;
}

}  // namespace
