// Discovery of the host's Domino servers from the registry and notes.ini,
// with a runtime double that answers per notes.ini.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "domino/discovery.h"
#include "platform/host.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "tests/support/mock_domino_api.h"
#include "tests/support/temp_host.h"

using ::testing::_;
using ::testing::Invoke;
using ::testing::NiceMock;

namespace {

constexpr const char* k50 = "SOFTWARE\\Lotus\\Domino\\5.0";
constexpr const char* kDomino = "SOFTWARE\\Lotus\\Domino";

struct FakeServer {
  std::string canonicalName;
  STATUS styleStatus = 0;
  DWORD style = 1;
  STATUS initStatus = 0;
};

class DiscoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ON_CALL(api_, InitRuntime(_, _)).WillByDefault(Invoke([this](int argc, char** argv) {
      current_ = argc == 2 ? std::string(argv[1]).substr(1) : std::string("<default>");
      return servers_[current_].initStatus;
    }));
    ON_CALL(api_, GetServerName(_)).WillByDefault(Invoke([this](char* buffer) {
      std::snprintf(buffer, 256, "%s", servers_[current_].canonicalName.c_str());
      return STATUS(0);
    }));
    ON_CALL(api_, AbbreviateName(_, _, _, _, _, _))
        .WillByDefault(Invoke([](DWORD, DWORD, const char* name, char* out, WORD size, WORD* len) {
          // "CN=a/O=b" -> "a/b"
          std::string in(name), result;
          std::size_t pos = 0;
          while (pos <= in.size()) {
            std::size_t end = in.find('/', pos);
            if (end == std::string::npos) end = in.size();
            std::string part = in.substr(pos, end - pos);
            std::size_t eq = part.find('=');
            if (eq != std::string::npos) part = part.substr(eq + 1);
            if (!result.empty()) result += "/";
            result += part;
            pos = end + 1;
          }
          std::snprintf(out, size, "%s", result.c_str());
          if (len != nullptr) *len = WORD(result.size());
          return STATUS(0);
        }));
    ON_CALL(api_, GetLoggingStyle(_)).WillByDefault(Invoke([this](DWORD* style) {
      *style = servers_[current_].style;
      return servers_[current_].styleStatus;
    }));
  }
  // A server whose notes.ini lies in dataDir (Windows path on D:).
  void AddNotesIni(const std::string& iniWinPath, const std::string& canonicalName,
                   const std::string& translogPath = "") {
    servers_[iniWinPath].canonicalName = canonicalName;
    std::string hostPath;
    ASSERT_EQ(platform::ToHostPath(iniWinPath, hostPath), 0u);
    std::filesystem::create_directories(std::filesystem::path(hostPath).parent_path());
    platform::WritePrivateProfileString("Notes", "ServerName", canonicalName, iniWinPath);
    if (!translogPath.empty()) {
      ASSERT_TRUE(
          platform::WritePrivateProfileString("Notes", "TRANSLOG_Path", translogPath, iniWinPath));
    }
  }

  TempHostRoot root_;
  NiceMock<MockDominoApi> api_;
  std::map<std::string, FakeServer> servers_;
  std::string current_;
};

TEST_F(DiscoveryTest, PartitionsUnderThe50KeyGiveOneRecordEachWithTheirOwnNotesIni) {
  platform::RegSetString(k50, "PARTITION1", "D:\\Data1");
  platform::RegSetString(k50, "PARTITION2", "D:\\Data2\\");
  AddNotesIni("D:\\Data1\\notes.ini", "CN=srv1/O=Org", "logdir");
  AddNotesIni("D:\\Data2\\notes.ini", "CN=srv2/O=Org", "E:\\logs");
  servers_["D:\\Data2\\notes.ini"].style = 0;

  DiscoveryResult result;
  EXPECT_EQ(DiscoverDominoServers(result), 0);
  ASSERT_EQ(result.serverCount, 2);
  EXPECT_TRUE(result.partitioned);
  EXPECT_EQ(result.computerName, platform::GetComputerName());
  const DominoServerInfo& a = result.servers[0];
  const DominoServerInfo& b = result.servers[1];
  EXPECT_EQ(a.partition, 1);
  EXPECT_EQ(a.registryValueName, "PARTITION1");
  EXPECT_EQ(a.notesIniPath, "D:\\Data1\\notes.ini");
  EXPECT_EQ(a.serverName, "srv1/Org");
  EXPECT_EQ(a.commonName, "srv1");
  EXPECT_TRUE(a.partitioned);
  EXPECT_EQ(a.logDirectory, "D:\\Data1\\logdir");
  EXPECT_EQ(a.logDirectoryRelative, 1);
  EXPECT_EQ(a.loggingStyleText, "Archive");
  EXPECT_EQ(a.archiveLogging, 1);
  EXPECT_TRUE(a.serverNameResolved);
  EXPECT_EQ(b.partition, 2);
  EXPECT_EQ(b.registryValueName, "PARTITION2");
  EXPECT_EQ(b.notesIniPath, "D:\\Data2\\notes.ini");
  EXPECT_EQ(b.logDirectory, "E:\\logs");
  EXPECT_EQ(b.logDirectoryRelative, 0);
  EXPECT_EQ(b.loggingStyleText, "Circular");
  EXPECT_EQ(b.archiveLogging, 0);
  EXPECT_TRUE(b.loggingEnabled);
  EXPECT_EQ(result.byServerName.count("srv2/Org"), 1u);
  EXPECT_EQ(result.byDataDirectory.count("D:\\Data1"), 1u);
}

TEST_F(DiscoveryTest, ASingleServerTakesDataPathAndTheProgramDirectoryNotesIni) {
  platform::RegSetString(k50, "DataPath", "D:\\Domino\\Data");
  platform::RegSetString(kDomino, "Path", "D:\\Domino");
  AddNotesIni("D:\\Domino\\notes.ini", "CN=solo", "D:\\Domino\\Data\\");
  servers_["D:\\Domino\\notes.ini"].styleStatus = ERR_LOGGING_DISABLED;

  DiscoveryResult result;
  EXPECT_EQ(DiscoverDominoServers(result), 0);
  ASSERT_EQ(result.serverCount, 1);
  EXPECT_FALSE(result.partitioned);
  const DominoServerInfo& s = result.servers[0];
  EXPECT_EQ(s.partition, 1);
  EXPECT_EQ(s.registryValueName, "DataPath");
  EXPECT_FALSE(s.partitioned);
  EXPECT_EQ(s.notesIniPath, "D:\\Domino\\notes.ini");
  EXPECT_EQ(s.serverName, "solo");
  EXPECT_EQ(s.commonName, "");  // no "/" in the name
  EXPECT_EQ(s.loggingStyle, ERR_LOGGING_DISABLED);
  EXPECT_EQ(s.loggingStyleText, "No Logging");
  EXPECT_FALSE(s.loggingEnabled);
  EXPECT_EQ(s.dominoVersion, 0);
}

TEST_F(DiscoveryTest, OneCommaInPartitionsMakesTheInstallationUnpartitioned) {
  platform::RegSetString(kDomino, "Version", "6.5");
  platform::RegSetString(kDomino, "Partitions", "a,b");
  platform::RegSetString(kDomino, "Path", "D:\\Prog");
  platform::RegSetString(k50, "PARTITION1", "D:\\Data1");
  platform::RegSetString(k50, "PARTITION2", "D:\\Data2");
  AddNotesIni("D:\\Prog\\notes.ini", "CN=one/O=Org");

  DiscoveryResult result;
  EXPECT_EQ(DiscoverDominoServers(result), 0);
  ASSERT_EQ(result.serverCount, 2);
  EXPECT_FALSE(result.partitioned);
  for (const DominoServerInfo& s : result.servers) {
    EXPECT_EQ(s.registryValueName, "DataPath");
    EXPECT_EQ(s.notesIniPath, "D:\\Prog\\notes.ini");
    EXPECT_EQ(s.dominoVersion, 6);
  }
}

TEST_F(DiscoveryTest, PartitionListStopsAtEightAndAtTheFirstGap) {
  for (int n = 1; n <= 9; ++n) {
    std::string dir = "D:\\P" + std::to_string(n);
    platform::RegSetString(k50, "PARTITION" + std::to_string(n), dir);
    AddNotesIni(dir + "\\notes.ini", "CN=p" + std::to_string(n) + "/O=Org");
  }
  DiscoveryResult all;
  DiscoverDominoServers(all);
  EXPECT_EQ(all.serverCount, 8);

  platform::RegDeleteValue(k50, "PARTITION2");
  DiscoveryResult gap;
  DiscoverDominoServers(gap);
  ASSERT_EQ(gap.serverCount, 1);
  EXPECT_EQ(gap.servers[0].serverName, "p1/Org");

  // The newer per-partition keys are read when the 5.0 value is missing.
  platform::RegSetString(std::string(kDomino) + "\\2", "DataPath", "D:\\P2");
  DiscoveryResult filled;
  DiscoverDominoServers(filled);
  EXPECT_EQ(filled.serverCount, 8);
}

TEST_F(DiscoveryTest, MissingOrOverlongDirectoriesEndDiscoveryWithoutRecords) {
  DiscoveryResult none;
  EXPECT_NE(DiscoverDominoServers(none), 0);
  EXPECT_EQ(none.serverCount, 0);
  EXPECT_FALSE(none.partitioned);

  platform::RegSetString(k50, "DataPath", "D:\\" + std::string(260, 'x'));
  platform::RegSetString(k50, "Path", "D:\\Prog");
  DiscoveryResult overlong;
  EXPECT_NE(DiscoverDominoServers(overlong), 0);
  EXPECT_EQ(overlong.serverCount, 0);

  platform::RegSetString(k50, "DataPath", "D:\\Data");
  platform::RegDeleteValue(k50, "Path");
  DiscoveryResult noProgram;
  EXPECT_NE(DiscoverDominoServers(noProgram), 0);
  EXPECT_EQ(noProgram.serverCount, 0);
}

TEST_F(DiscoveryTest, AServerWhoseRuntimeCannotStartIsReportedAndTheRestStillFound) {
  platform::RegSetString(k50, "PARTITION1", "D:\\Data1");
  platform::RegSetString(k50, "PARTITION2", "D:\\Data2");
  platform::RegSetString(k50, "PARTITION3", "D:\\Data3");
  AddNotesIni("D:\\Data1\\notes.ini", "CN=a/O=Org");
  AddNotesIni("D:\\Data2\\notes.ini", "CN=b/O=Org");
  AddNotesIni("D:\\Data3\\notes.ini", "CN=c/O=Org");
  servers_["D:\\Data2\\notes.ini"].initStatus = 0x0103;

  DiscoveryResult result;
  EXPECT_EQ(DiscoverDominoServers(result), 0);
  ASSERT_EQ(result.serverCount, 3);
  EXPECT_EQ(result.servers[1].serverName, "Bad Notes Installation");
  EXPECT_EQ(result.servers[1].archiveLogging, 0);
  EXPECT_FALSE(result.servers[1].loggingEnabled);
  EXPECT_EQ(result.servers[1].loggingStyleText, "Information not available.");
  EXPECT_EQ(result.servers[2].serverName, "c/Org");
}

TEST_F(DiscoveryTest, UnknownLoggingStatusesAreNotAvailable) {
  platform::RegSetString(k50, "DataPath", "D:\\Data");
  platform::RegSetString(k50, "Path", "D:\\Prog");
  AddNotesIni("D:\\Prog\\notes.ini", "CN=x/O=y");
  servers_["D:\\Prog\\notes.ini"].styleStatus = 0x0777;
  DiscoveryResult result;
  DiscoverDominoServers(result);
  ASSERT_EQ(result.serverCount, 1);
  EXPECT_EQ(result.servers[0].loggingStyle, 0x0777u);
  EXPECT_EQ(result.servers[0].loggingStyleText, "Information not available.");
  EXPECT_EQ(result.servers[0].archiveLogging, 0);
  EXPECT_FALSE(result.servers[0].loggingEnabled);
  EXPECT_TRUE(result.disks.empty());  // no snapshot component installed
}

}  // namespace
