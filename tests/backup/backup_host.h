// The host of the backup tests: data drive D: (D:\Domino\Data), ArkLedger
// drive L: (CHANGE_INFO_DIR L:\ArkLedger, reports in L:\Reports) and the
// computer name ARKHOST; the record of its one server srv1/Org (the restore
// tests use it too) and a list of database entries.
#pragma once

#include "backup/database_backup.h"
#include "common/records.h"
#include "tests/support/temp_host.h"

namespace ark {

using Names = std::vector<std::string>;

struct BackupHost : TempHostRoot {
  BackupHost() : TempHostRoot(HostOptions{"DL", "ARKHOST", "L:\\ArkLedger", "L:\\Reports", ""}) {
    std::filesystem::create_directories(Drive('D', "Domino/Data"));
    std::filesystem::create_directories(Drive('L', "Reports"));
  }
  // A file below a drive's root, e.g. Write('L', "s/log_hint", ...).
  void Write(char drive, const std::string& relative, const std::string& text) const {
    WriteHostFile(Drive(drive, relative), text);
  }
  std::string Read(char drive, const std::string& relative) const { return ReadHostFile(Drive(drive, relative)); }
  bool Exists(char drive, const std::string& relative) const { return std::filesystem::exists(Drive(drive, relative)); }
};

inline DominoServerInfo TestServer() {
  DominoServerInfo server;
  server.serverName = "srv1/Org";
  server.commonName = "srv1";
  server.dataDirectory = "D:\\Domino\\Data";
  server.notesIniPath = "D:\\Domino\\Data\\notes.ini";
  server.archiveLogging = 1;
  server.dataVolume.driveLetter = u'D';
  server.dataVolume.volumeName = "vol_data";
  return server;
}

inline std::vector<DatabaseEntry> Entries(const std::vector<std::string>& paths) {
  std::vector<DatabaseEntry> entries(paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) entries[i].path = paths[i];
  return entries;
}

}  // namespace ark
