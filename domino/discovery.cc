// Finds the Domino servers of the host from the registry and each server's
// notes.ini, and asks the runtime for each server's name and logging style.
#include "domino/discovery.h"

#include <cstdio>

#include "domino/domino_api.h"
#include "domino/runtime.h"
#include "domino/settings.h"
#include "platform/host.h"

namespace ark {

namespace {

constexpr int kMaxPartitions = 8;
constexpr const char* kDominoKey = "SOFTWARE\\Lotus\\Domino";
constexpr const char* kDomino50Key = "SOFTWARE\\Lotus\\Domino\\5.0";
constexpr const char* kBadInstallationName = "Bad Notes Installation";

struct LoggingStyleRow {
  const char* text;
  bool enabled;
  std::int32_t archive;
};

LoggingStyleRow StyleRow(std::uint32_t style) {
  switch (style) {
    case 0: return {"Circular", true, 0};
    case 1: return {"Archive", true, 1};
    case ERR_LOGGING_DISABLED: return {"No Logging", false, 0};
    default: return {"Information not available.", false, 0};
  }
}

// Reads the value first under the 5.0 key, then under the Domino key.
int ReadFromEitherKey(const char* valueName, std::string& out, bool* fromDominoKey) {
  int rc = ReadMachineRegistryValue(kDomino50Key, valueName, out);
  if (rc == 0) return 0;
  rc = ReadMachineRegistryValue(kDominoKey, valueName, out);
  if (rc == 0 && fromDominoKey != nullptr) *fromDominoKey = true;
  return rc;
}

// The data directory of partition n: "PARTITION<n>" under the 5.0 key, else
// "DataPath" under the Domino key's subkey n. 0 when found.
int ReadPartitionDataDirectory(int n, std::string& dataDirectory) {
  char valueName[32];
  std::snprintf(valueName, sizeof valueName, "PARTITION%d", n);
  if (ReadMachineRegistryValue(kDomino50Key, valueName, dataDirectory) == 0) return 0;
  char key[64];
  std::snprintf(key, sizeof key, "%s\\%d", kDominoKey, n);
  return ReadMachineRegistryValue(key, "DataPath", dataDirectory);
}

void SetLogDirectory(DominoServerInfo& server) {
  std::string translogPath;
  ReadNotesSetting("TRANSLOG_Path", translogPath, server.notesIniPath);
  if (translogPath.empty()) return;
  SplitPathResult split;
  SplitPath(translogPath, split);
  if (split.drive.empty()) {
    server.logDirectory =
        server.dataDirectory.empty() ? translogPath : JoinPath(server.dataDirectory, translogPath);
    server.logDirectoryRelative = 1;
  } else {
    server.logDirectory = translogPath;
    server.logDirectoryRelative = 0;
  }
}

void SetLoggingStyle(DominoServerInfo& server) {
  server.loggingStyle = ReadLoggingStyle();
  LoggingStyleRow row = StyleRow(server.loggingStyle);
  server.loggingStyleText = row.text;
  server.loggingEnabled = row.enabled;
  server.archiveLogging = row.archive;
}

void AddServer(DiscoveryResult& result, const DominoServerInfo& server) {
  result.servers.push_back(server);
  result.byServerName[server.serverName] = server;
  result.byDataDirectory[server.dataDirectory] = server;
}

}  // namespace

std::int32_t DiscoverDominoServers(DiscoveryResult& result) {
  result.servers.clear();
  result.computerName = platform::GetComputerName();
  result.partitioned = true;

  bool newerLayout = false;
  std::string text;
  if (ReadMachineRegistryValue(kDominoKey, "Version", text) == 0) {
    newerLayout = true;
    std::string partitions;
    ReadMachineRegistryValue(kDominoKey, "Partitions", partitions);
    int commas = 0;
    for (char c : partitions) commas += c == ',' ? 1 : 0;
    if (commas == 1) result.partitioned = false;
  }

  for (int n = 1; n <= kMaxPartitions; ++n) {
    DominoServerInfo server;
    std::string dataDirectory;
    char valueName[32];
    bool lastRecord = false;
    int rc = ReadPartitionDataDirectory(n, dataDirectory);
    if (rc != 0) {
      if (n > 1) break;
      result.partitioned = false;
      bool fromDominoKey = false;
      rc = ReadFromEitherKey("DataPath", dataDirectory, &fromDominoKey);
      if (rc != 0) return rc;
      if (fromDominoKey) server.dominoVersion = 6;
      lastRecord = true;
    }

    server.partition = n;
    if (newerLayout) server.dominoVersion = 6;
    if (result.partitioned) {
      std::snprintf(valueName, sizeof valueName, "PARTITION%d", n);
      server.registryValueName = valueName;
      server.partitioned = true;
      server.notesIniPath = JoinPath(dataDirectory, "notes.ini");
    } else {
      server.registryValueName = "DataPath";
      server.partitioned = false;
      std::string programDirectory;
      rc = ReadFromEitherKey("Path", programDirectory, nullptr);
      if (rc != 0) return rc;
      server.notesIniPath = JoinPath(programDirectory, "notes.ini");
    }
    server.dataDirectory = dataDirectory;

    STATUS status = StartDominoRuntime(server.notesIniPath);
    if (status != 0) {
      // Reported under a name that says what is wrong, with logging flags 0
      // so that no backup runs on it; the servers after it are still found.
      server.serverName = kBadInstallationName;
      server.loggingStyle = status;
      server.loggingStyleText = "Information not available.";
      AddServer(result, server);
      if (lastRecord) break;
      continue;
    }
    ReadServerName(server.serverName);
    server.serverNameResolved = true;
    std::size_t slash = server.serverName.find('/');
    if (slash != std::string::npos) server.commonName = server.serverName.substr(0, slash);
    SetLogDirectory(server);
    SetLoggingStyle(server);
    Domino().TermRuntime();
    AddServer(result, server);
    if (lastRecord) break;
  }

  result.serverCount = static_cast<std::int32_t>(result.servers.size());
  return 0;
}

std::vector<std::string> RegisteredDataDirectories() {
  std::vector<std::string> directories;
  for (int n = 1; n <= kMaxPartitions; ++n) {
    std::string dataDirectory;
    if (ReadPartitionDataDirectory(n, dataDirectory) != 0) {
      if (n == 1 && ReadFromEitherKey("DataPath", dataDirectory, nullptr) == 0) {
        directories.push_back(dataDirectory);
      }
      break;
    }
    directories.push_back(dataDirectory);
  }
  return directories;
}

}  // namespace ark
