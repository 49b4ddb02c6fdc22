// Hosts built by `dominosim install`: registry values, notes.ini files,
// logs and folders of each layout.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <algorithm>
#include <functional>
#include <memory>
#include <sys/wait.h>

#include "dominosim/status.h"
#include "dominosim/txn_log.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "sim_host.h"

using namespace dominosim;
namespace fs = std::filesystem;

namespace {

std::string Reg(const std::string& key, const std::string& value) {
  std::string out;
  return platform::RegGetString(key, value, out) == ERROR_SUCCESS ? out : "<missing>";
}
std::string Ini(const std::string& ini, const std::string& key) {
  std::string out;
  platform::GetPrivateProfileString("NOTES", key, "<missing>", out, 256, ini);
  return out;
}
int Commas(const std::string& text) { return int(std::count(text.begin(), text.end(), ',')); }

const char* kD50 = "SOFTWARE\\Lotus\\Domino\\5.0";
const char* kDom = "SOFTWARE\\Lotus\\Domino";

TEST(Install, SingleServerClassicHost) {
  simtest::TempHost host;
  ASSERT_TRUE(host.ok()) << host.error();
  EXPECT_EQ(Reg(kD50, "DataPath"), "D:\\Domino\\Data");
  EXPECT_EQ(Reg(kD50, "Path"), "C:\\Lotus\\Domino");
  EXPECT_EQ(Reg(kD50, "PARTITION1"), "<missing>");
  EXPECT_EQ(Reg(kDom, "Version"), "<missing>");
  EXPECT_EQ(Reg("SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName", "ComputerName"), "ARKHOST");
  EXPECT_EQ(Reg("SOFTWARE\\Corvane\\Arkhold for Domino 1.0\\Client", "ReportFolder"), "L:\\Reports");
  EXPECT_EQ(Reg("SYSTEM\\CurrentControlSet\\Control\\Session Manager\\DOS Devices", "D:"), host.root() + "/volumes/D");
  for (const char* type : {"Configure", "Backup", "Restore", "Delete Snapshot"}) {
    EXPECT_TRUE(fs::is_directory(host.root() + "/volumes/L/Reports/" + type)) << type;
  }
  EXPECT_EQ(Ini("C:\\Windows\\ark.ini", "CHANGE_INFO_DIR"), "L:\\ArkLedger");
  EXPECT_TRUE(fs::is_directory(host.root() + "/volumes/L/ArkLedger"));

  const InstalledServer& s = host.server();
  EXPECT_EQ(s.notesIni, "C:\\Lotus\\Domino\\notes.ini");
  EXPECT_EQ(Ini(s.notesIni, "Directory"), "D:\\Domino\\Data");
  EXPECT_EQ(Ini(s.notesIni, "ServerName"), "CN=srv1/O=Org");
  EXPECT_EQ(Ini(s.notesIni, "TRANSLOG_Style"), "1");
  EXPECT_EQ(Ini(s.notesIni, "TRANSLOG_Path"), "E:\\Logs");
  EXPECT_TRUE(fs::exists(host.root() + "/volumes/E/Logs/S0000001.TXN"));
  ASSERT_EQ(s.databases.size(), 12u);
  int templates = 0, boxes = 0, nested = 0, unlogged = 0;
  for (const std::string& db : s.databases) {
    EXPECT_TRUE(fs::exists(host.Host(db))) << db;
    templates += db.ends_with(".ntf");
    boxes += db.ends_with(".box");
    nested += std::count(db.begin(), db.end(), '\\') > 3;
    unlogged += db.find("scratch") != std::string::npos;
  }
  EXPECT_GE(templates, 2);
  EXPECT_EQ(boxes, 1);
  EXPECT_GE(nested, 4);
  EXPECT_EQ(unlogged, 2);
  EXPECT_NE(std::find(s.databases.begin(), s.databases.end(), "D:\\Domino\\Data\\log.nsf"), s.databases.end());
}

TEST(Install, PartitionedClassicHosts) {
  for (int partitions : {1, 2, 8}) {
    InstallOptions o;
    o.partitions = partitions;
    o.databases = 6;
    simtest::TempHost host(o);
    ASSERT_TRUE(host.ok()) << host.error();
    ASSERT_EQ(int(host.result().servers.size()), partitions);
    for (int p = 1; p <= partitions; ++p) {
      std::string data = "D:\\Domino\\Data" + std::to_string(p);
      EXPECT_EQ(Reg(kD50, "PARTITION" + std::to_string(p)), data);
      std::string ini = data + "\\notes.ini";
      EXPECT_EQ(host.server(p - 1).notesIni, ini);
      EXPECT_EQ(Ini(ini, "Directory"), data);
      EXPECT_EQ(Ini(ini, "ServerName"), "CN=srv" + std::to_string(p) + "/O=Org");
      EXPECT_EQ(Ini(ini, "TRANSLOG_Path"), "E:\\Logs" + std::to_string(p));
      EXPECT_TRUE(fs::exists(host.root() + "/volumes/E/Logs" + std::to_string(p) + "/S0000001.TXN"));
    }
    EXPECT_EQ(Reg(kD50, "PARTITION" + std::to_string(partitions + 1)), "<missing>");
    EXPECT_EQ(Reg(kD50, "DataPath"), "<missing>");
  }
}

TEST(Install, NewerLayouts) {
  {
    InstallOptions o;
    o.layout = "newer";
    simtest::TempHost host(o);
    ASSERT_TRUE(host.ok()) << host.error();
    EXPECT_NE(Reg(kDom, "Version"), "<missing>");
    EXPECT_EQ(Reg(kDom, "DataPath"), "D:\\Domino\\Data");
    EXPECT_EQ(Reg(kDom, "Path"), "C:\\Lotus\\Domino");
    EXPECT_EQ(Reg(kD50, "DataPath"), "<missing>");
  }
  for (int partitions : {1, 2, 3}) {
    InstallOptions o;
    o.layout = "newer";
    o.partitions = partitions;
    o.databases = 5;
    simtest::TempHost host(o);
    ASSERT_TRUE(host.ok()) << host.error();
    EXPECT_NE(Commas(Reg(kDom, "Partitions")), 1) << partitions;  // one comma reads as one server
    for (int p = 1; p <= partitions; ++p) {
      EXPECT_EQ(Reg(std::string(kDom) + "\\" + std::to_string(p), "DataPath"), "D:\\Domino\\Data" + std::to_string(p));
    }
  }
  {
    InstallOptions o;
    o.layout = "newer-one-comma";
    o.partitions = 2;
    o.databases = 5;
    simtest::TempHost host(o);
    ASSERT_TRUE(host.ok()) << host.error();
    EXPECT_EQ(Commas(Reg(kDom, "Partitions")), 1);
    EXPECT_EQ(Reg(kDom, "DataPath"), "D:\\Domino\\Data1");
    EXPECT_EQ(Reg(std::string(kDom) + "\\2", "DataPath"), "D:\\Domino\\Data2");
    // Read as unpartitioned, every server takes the program directory's notes.ini.
    EXPECT_EQ(Ini("C:\\Lotus\\Domino\\notes.ini", "Directory"), "D:\\Domino\\Data1");
  }
}

TEST(Install, LoggingVariantsAndRefusals) {
  {
    InstallOptions o;
    o.logging = "none";
    simtest::TempHost host(o);
    ASSERT_TRUE(host.ok()) << host.error();
    EXPECT_EQ(Ini(host.server().notesIni, "TRANSLOG_Style"), "<missing>");
    EXPECT_FALSE(fs::exists(host.root() + "/volumes/E/Logs"));
  }
  {
    InstallOptions o;
    o.logging = "circular";
    o.translogPath = "relative";
    simtest::TempHost host(o);
    ASSERT_TRUE(host.ok()) << host.error();
    EXPECT_EQ(Ini(host.server().notesIni, "TRANSLOG_Style"), "0");
    EXPECT_EQ(Ini(host.server().notesIni, "TRANSLOG_Path"), "logdir");
    EXPECT_TRUE(fs::exists(host.root() + "/volumes/D/Domino/Data/logdir/S0000001.TXN"));
    EXPECT_EQ(host.Config().logDirWin, "D:\\Domino\\Data\\logdir");
  }
  for (auto bad : std::vector<std::function<void(InstallOptions&)>>{
           [](InstallOptions& o) { o.partitions = 9; }, [](InstallOptions& o) { o.layout = "odd"; },
           [](InstallOptions& o) { o.backend = "zfs"; }, [](InstallOptions& o) { o.unlogged = 99; }}) {
    InstallOptions o;
    o.backend = "none";
    bad(o);
    simtest::TempHost host(o, true);
    EXPECT_FALSE(host.ok());
    EXPECT_FALSE(host.error().empty());
    EXPECT_FALSE(fs::exists(host.root().empty() ? "/nonexistent" : host.root() + "/registry.reg"));
  }
  // A root that already holds a host is left alone.
  simtest::TempHost host;
  ASSERT_TRUE(host.ok());
  InstallOptions again;
  again.root = host.root();
  InstallResult result;
  std::string error;
  EXPECT_FALSE(InstallHost(again, result, &error));
  EXPECT_NE(error.find("already holds a host"), std::string::npos) << error;
}

// With the directory backend: every volume prepared and the snapshot
// component registered with one disk per volume.
TEST(Install, SnapshotComponentRegistered) {
  InstallOptions o;
  o.backend = "dir";
  o.databases = 3;
  simtest::TempHost host(o, true);
  ASSERT_TRUE(host.ok()) << host.error();
  EXPECT_TRUE(platform::RegKeyExists("SOFTWARE\\Classes\\CLSID\\{4d19cff7-4c5d-4f02-95c8-80ede568f053}"));
  EXPECT_TRUE(platform::RegKeyExists("SOFTWARE\\Classes\\CLSID\\{9491fb97-380c-4544-9bc5-6b7823e4d705}"));
  for (const char* drive : {"D", "E", "L"}) EXPECT_TRUE(fs::is_directory(host.root() + "/volumes/" + drive));
  EXPECT_TRUE(fs::exists(host.Host(host.server().databases[0])));
}

// The tool itself: install, then digest while nserver writes.
TEST(Install, ToolInstallsAndDigestsWhileServerRuns) {
  std::string dir = simtest::MakeTempDir();
  std::string cmd = std::string(DOMINOSIM_PATH) + " install --root " + dir + "/h --backend none --databases 6 2>&1";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(cmd.c_str(), "r"), ::pclose);
  std::string out;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe.get())) out += buffer;
  EXPECT_EQ(::pclose(pipe.release()), 0) << out;
  EXPECT_NE(out.find("Server CN=srv1/O=Org (partition 1)"), std::string::npos) << out;
  EXPECT_NE(out.find("notes.ini: C:\\Lotus\\Domino\\notes.ini"), std::string::npos) << out;
  {
    simtest::ServerProcess server(dir + "/h", "C:\\Lotus\\Domino\\notes.ini", "0");
    std::string digest = std::string(DOMINOSIM_PATH) + " digest --root " + dir + "/h --ini 'C:\\Lotus\\Domino\\notes.ini'";
    std::unique_ptr<FILE, int (*)(FILE*)> d(::popen(digest.c_str(), "r"), ::pclose);
    int lines = 0;
    while (std::fgets(buffer, sizeof buffer, d.get())) {
      std::string line = buffer;
      EXPECT_EQ(line.rfind("D:\\Domino\\Data\\", 0), 0u) << line;
      EXPECT_EQ(line.size(), line.find(' ') + 1 + 64 + 1) << line;
      ++lines;
    }
    EXPECT_EQ(::pclose(d.release()), 0);
    EXPECT_EQ(lines, 6);
  }
  std::string bad = std::string(DOMINOSIM_PATH) + " install --root " + dir + "/h2 --partitions 9 >/dev/null 2>&1";
  EXPECT_NE(std::system(bad.c_str()), 0);
  EXPECT_FALSE(fs::exists(dir + "/h2/registry.reg"));
  // A damaged database: its line says so, the others are still digested.
  {
    std::FILE* f = std::fopen((dir + "/h/volumes/D/Domino/Data/names.nsf").c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    std::fseek(f, 5 * 4096 + 100, SEEK_SET);
    std::fputc(0x55, f);
    std::fclose(f);
  }
  std::string digest = std::string(DOMINOSIM_PATH) + " digest --root " + dir + "/h --ini 'C:\\Lotus\\Domino\\notes.ini'";
  std::unique_ptr<FILE, int (*)(FILE*)> d(::popen(digest.c_str(), "r"), ::pclose);
  std::string text;
  while (std::fgets(buffer, sizeof buffer, d.get())) text += buffer;
  EXPECT_NE(::pclose(d.release()), 0);
  EXPECT_NE(text.find("D:\\Domino\\Data\\names.nsf ERROR Database is damaged\n"), std::string::npos) << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6);
  // nserver refuses a notes.ini it cannot read.
  std::string server = std::string(NSERVER_PATH) + " --root " + dir + "/h --ini 'C:\\none\\notes.ini' 2>/dev/null";
  EXPECT_EQ(WEXITSTATUS(std::system(server.c_str())), 2);
  fs::remove_all(dir);
}

}  // namespace
