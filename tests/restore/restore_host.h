// The host of the restore tests: data drive D:, log drive E: (active logs in
// E:\Logs), ArkLedger drive L: (CHANGE_INFO_DIR L:\ArkLedger), and the
// folder <root>/snapshots that the fake component restores from; the request
// to restore server srv1/Org from kSnapshotName.
#pragma once

#include <cstdio>

#include "tests/backup/backup_host.h"
#include "tests/support/mock_domino_api.h"

namespace ark {

inline constexpr const char* kSnapshotName = "dominosnap__ARKHOST__srv1__recent";
// The snapshot's ArkLedger directory as the engine names it.
inline const std::string kLedger = "L:\\ArkLedger\\srv1\\" + std::string(kSnapshotName);

struct RestoreHost : TempHostRoot {
  RestoreHost() : TempHostRoot(HostOptions{"DEL", "", "L:\\ArkLedger", "", ""}) {
    for (const char* dir : {"D/Domino/Data", "E/Logs", "L/ArkLedger", "snapshots"}) {
      std::filesystem::create_directories(path() / dir);
    }
  }
  // The snapshot's ArkLedger directory (plus a relative path).
  std::filesystem::path Ledger(const std::string& relative = "", const std::string& snapshot = kSnapshotName) const {
    return Drive('L', "ArkLedger/srv1/" + snapshot + (relative.empty() ? "" : "/" + relative));
  }
  // The log_hint file of a snapshot: first-log number and log series.
  void WriteLogHint(unsigned firstLog, const std::string& series, const std::string& snapshot = kSnapshotName) const {
    WriteHostFile(Ledger("log_hint", snapshot), std::to_string(firstLog) + "\r\n" + series);
  }
  // A saved log copy in a snapshot's logs\ folder.
  void WriteSavedLog(unsigned number, const std::string& content, const std::string& snapshot = kSnapshotName) const {
    char name[32];
    std::snprintf(name, sizeof name, "logs/S%07u.TXN", number);
    WriteHostFile(Ledger(name, snapshot), content);
  }
  // The log hint (first log 40 of the current series) and saved logs 40 and 41.
  void SavedLogs() const {
    WriteLogHint(40, kLogSeries);
    WriteSavedLog(40, "forty");
    WriteSavedLog(41, "forty-one");
  }
  // A restorable snapshot of a.nsf, log.nsf, t.ntf and off.nsf while the
  // volume holds a damaged a.nsf; in the ArkLedger: a.nsf's change
  // information ("abc") and its change_info_list entry, off.nsf as
  // disabled, and the saved logs.
  void MakeRestorableSnapshot() const {
    const std::filesystem::path snap = path() / "snapshots" / kSnapshotName / "Domino/Data";
    for (const auto& [name, text] : {std::pair{"a.nsf", "database a at the snapshot"}, {"log.nsf", "log database"},
                                     {"t.ntf", "template"}, {"off.nsf", "not logged"}}) {
      WriteHostFile(snap / name, text);
    }
    WriteHostFile(Drive('D', "Domino/Data/a.nsf"), "damaged");
    WriteHostFile(Ledger("Domino/Data/a.nsf.dat"), std::string("\x03\0\0\0\0\0\0\0abc", 11));
    WriteHostFile(Ledger("change_info_list"), "11 Domino\\Data\\a.nsf.dat\r\n");
    WriteHostFile(Ledger("disabled_databases"), "D:\\Domino\\Data\\off.nsf\r\n");
    SavedLogs();
  }
};

inline RestoreRequest MakeRequest(std::uint8_t pointInTime) {
  RestoreRequest request;
  request.server = TestServer();
  request.server.logVolume.driveLetter = u'E';
  request.server.logDirectory = "E:\\Logs";
  request.snapshot.name = kSnapshotName;
  request.snapshot.nameText.Set(kSnapshotName);
  request.snapshot.displayText.Set("3/2/2003 9:05:00");
  request.pointInTime = pointInTime;
  return request;
}

// Reads a packed recovery list (paths each ended by a NUL, one more NUL at
// the end) back into its paths; bytes: the length of the packed list.
inline std::vector<std::string> UnpackList(const char* packed, std::size_t* bytes = nullptr) {
  std::vector<std::string> paths;
  const char* p = packed;
  for (; *p != '\0'; p += paths.back().size() + 1) paths.emplace_back(p);
  // An empty list is two NULs: the runtime may look past the first.
  if (bytes != nullptr) *bytes = paths.empty() ? (packed[1] == '\0' ? 2 : 1) : std::size_t(p - packed) + 1;
  return paths;
}

}  // namespace ark
