// Discovery of the host's Domino servers from the registry and notes.ini,
// per installation layout, with a runtime double that answers per notes.ini.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <regex>

#include "domino/discovery.h"
#include "platform/host.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "tests/support/mock_domino_api.h"
#include "tests/support/temp_host.h"

namespace ark {

using ::testing::_;
using ::testing::Invoke;

namespace {

constexpr const char* k50 = "SOFTWARE\\Lotus\\Domino\\5.0";
constexpr const char* kDomino = "SOFTWARE\\Lotus\\Domino";

// What the runtime answers for the server of one notes.ini.
struct FakeServer {
  std::string canonicalName;
  STATUS styleStatus = 0;
  DWORD style = 1;
  STATUS initStatus = 0;
};

class FakeRuntime {  // answers for the server of the notes.ini it was started with
 public:
  FakeRuntime() {
    ON_CALL(api_, InitRuntime(_, _)).WillByDefault(Invoke([this](int argc, char** argv) {
      current_ = argc == 2 ? std::string(argv[1]).substr(1) : std::string("<default>");
      return servers[current_].initStatus;
    }));
    ON_CALL(api_, GetServerName(_)).WillByDefault(Invoke([this](char* buffer) {
      return std::snprintf(buffer, 256, "%s", servers[current_].canonicalName.c_str()), STATUS(0);
    }));
    ON_CALL(api_, AbbreviateName(_, _, _, _, _, _))
        .WillByDefault(Invoke([](DWORD, DWORD, const char* name, char* out, WORD size, WORD* len) {
          const std::string abbreviated = std::regex_replace(name, std::regex("[A-Z]+="), "");  // CN=a/O=b: a/b
          std::snprintf(out, size, "%s", abbreviated.c_str());
          if (len != nullptr) *len = WORD(abbreviated.size());
          return STATUS(0);
        }));
    ON_CALL(api_, GetLoggingStyle(_)).WillByDefault(Invoke([this](DWORD* style) {
      *style = servers[current_].style;
      return servers[current_].styleStatus;
    }));
  }
  // A server whose notes.ini lies at iniPath (a Windows path).
  FakeServer& Add(const std::string& iniPath, const std::string& canonicalName, const std::string& translog = "") {
    std::string hostPath;
    EXPECT_EQ(platform::ToHostPath(iniPath, hostPath), 0u);
    std::filesystem::create_directories(std::filesystem::path(hostPath).parent_path());
    platform::WritePrivateProfileString("Notes", "TRANSLOG_Path", translog, iniPath);
    servers[iniPath].canonicalName = canonicalName;
    return servers[iniPath];
  }
  std::map<std::string, FakeServer> servers;

 private:
  ::testing::NiceMock<MockDominoApi> api_;
  std::string current_;
};

// One server record in a line.
std::string Describe(const DominoServerInfo& s) {
  char line[1024];
  std::snprintf(line, sizeof line, "%d %s %s %s|%s%s %s%s %s%s%s v%d", s.partition, s.registryValueName.c_str(),
                s.notesIniPath.c_str(), s.serverName.c_str(), s.commonName.c_str(), s.partitioned ? " partitioned" : "",
                s.logDirectory.c_str(), s.logDirectoryRelative ? " (relative)" : "", s.loggingStyleText.c_str(),
                s.archiveLogging ? " archive" : "", s.loggingEnabled ? " logging" : "", int(s.dominoVersion));
  return line;
}

void Partitions(int count) {
  for (int n = 1; n <= count; ++n) platform::RegSetString(k50, "PARTITION" + std::to_string(n), "D:\\P" + std::to_string(n));
}

struct Layout {
  std::function<void(FakeRuntime&)> install;
  bool found;
  bool partitioned;
  int count;
  std::vector<std::string> servers;  // each record Described (none: only the count is checked)
};

const Layout kLayouts[] = {
    // One server: DataPath, and the notes.ini of the program directory.
    {[](FakeRuntime& rt) {
       platform::RegSetString(k50, "DataPath", "D:\\Domino\\Data");
       platform::RegSetString(kDomino, "Path", "D:\\Domino");
       rt.Add("D:\\Domino\\notes.ini", "CN=solo", "D:\\Domino\\Data\\").styleStatus = ERR_LOGGING_DISABLED;
     },
     true, false, 1,
     {"1 DataPath D:\\Domino\\notes.ini solo| D:\\Domino\\Data\\ No Logging v0"}},
    // One comma in Partitions makes the installation unpartitioned.
    {[](FakeRuntime& rt) {
       platform::RegSetString(kDomino, "Version", "6.5");
       platform::RegSetString(kDomino, "Partitions", "a,b");
       platform::RegSetString(kDomino, "Path", "D:\\Prog");
       Partitions(2);
       rt.Add("D:\\Prog\\notes.ini", "CN=one/O=Org");
     },
     true, false, 2,
     {"1 DataPath D:\\Prog\\notes.ini one/Org|one  Archive archive logging v6",
      "2 DataPath D:\\Prog\\notes.ini one/Org|one  Archive archive logging v6"}},
    // At most eight partitions, and the list stops at the first gap
    // unless the newer per-partition key fills it.
    {[](FakeRuntime&) { Partitions(9); }, true, true, 8, {}},
    {[](FakeRuntime& rt) {
       Partitions(9);
       platform::RegDeleteValue(k50, "PARTITION2");
       rt.Add("D:\\P1\\notes.ini", "CN=p1/O=Org");
     },
     true, true, 1,
     {"1 PARTITION1 D:\\P1\\notes.ini p1/Org|p1 partitioned  Archive archive logging v0"}},
    {[](FakeRuntime&) {
       Partitions(9);
       platform::RegDeleteValue(k50, "PARTITION2");
       platform::RegSetString(std::string(kDomino) + "\\2", "DataPath", "D:\\P2");
     },
     true, true, 8, {}},
    // Nothing installed, a data path too long, no program directory.
    {[](FakeRuntime&) {}, false, false, 0, {}},
    {[](FakeRuntime&) {
       platform::RegSetString(k50, "DataPath", "D:\\" + std::string(260, 'x'));
       platform::RegSetString(k50, "Path", "D:\\Prog");
     },
     false, false, 0, {}},
    {[](FakeRuntime&) { platform::RegSetString(k50, "DataPath", "D:\\Data"); }, false, false, 0, {}},
    // Partitions with their own notes.ini: a server whose runtime cannot
    // start is reported; the rest are found.
    {[](FakeRuntime& rt) {
       Partitions(3);
       rt.Add("D:\\P1\\notes.ini", "CN=a/O=Org", "E:\\logs").style = 0;
       rt.Add("D:\\P2\\notes.ini", "CN=b/O=Org").initStatus = 0x0103;
       rt.Add("D:\\P3\\notes.ini", "CN=c/O=Org", "logdir");
     },
     true, true, 3,
     {"1 PARTITION1 D:\\P1\\notes.ini a/Org|a partitioned E:\\logs Circular logging v0",
      "2 PARTITION2 D:\\P2\\notes.ini Bad Notes Installation| partitioned  Information not available. v0",
      "3 PARTITION3 D:\\P3\\notes.ini c/Org|c partitioned D:\\P3\\logdir (relative) Archive archive logging v0"}},
    // A logging status the runtime does not document.
    {[](FakeRuntime& rt) {
       platform::RegSetString(k50, "DataPath", "D:\\Data");
       platform::RegSetString(k50, "Path", "D:\\Prog");
       rt.Add("D:\\Prog\\notes.ini", "CN=x/O=y").styleStatus = 0x0777;
     },
     true, false, 1,
     {"1 DataPath D:\\Prog\\notes.ini x/y|x  Information not available. v0"}},
};

class DiscoveryTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(DiscoveryTest, EachLayoutGivesItsServerRecords) {
  const Layout& layout = kLayouts[GetParam()];
  TempHostRoot root;
  FakeRuntime runtime;
  layout.install(runtime);
  DiscoveryResult result;
  EXPECT_EQ(DiscoverDominoServers(result) == 0, layout.found);
  EXPECT_EQ(result.partitioned, layout.partitioned);
  ASSERT_EQ(result.serverCount, layout.count);
  std::vector<std::string> described;
  for (int i = 0; i < result.serverCount; ++i) described.push_back(Describe(result.servers[i]));
  EXPECT_TRUE(layout.servers.empty() || described == layout.servers) << ::testing::PrintToString(described);
  EXPECT_EQ(result.byServerName.size() + result.byDataDirectory.size() == 0, layout.count == 0);
  EXPECT_TRUE(result.disks.empty());  // no snapshot component installed
}
INSTANTIATE_TEST_SUITE_P(Rows, DiscoveryTest, ::testing::Range<std::size_t>(0, std::size(kLayouts)));

}  // namespace

}  // namespace ark
