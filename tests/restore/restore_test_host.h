// A temporary host root for one restore test: data volume D:, log volume E:
// (active logs in E:\Logs), ArkLedger volume L: with CHANGE_INFO_DIR, and a
// server record and snapshot entry that point at them.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "common/records.h"
#include "domino/settings.h"
#include "platform/host.h"
#include "platform/registry.h"

inline constexpr const char* kSnapshotName = "dominosnap__ARKHOST__srv1__recent";

class RestoreTestHost {
 public:
  RestoreTestHost() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "ark-restore-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root = pattern;
    for (const char* dir : {"Windows", "volumes/D/Domino/Data", "volumes/E/Logs",
                            "volumes/L/ArkLedger", "snapshots"}) {
      std::filesystem::create_directories(root + "/" + dir);
    }
    platform::SetHostRoot(root);
    const std::string dosDevices =
        "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\DOS Devices";
    platform::RegSetString(dosDevices, "D:", root + "/volumes/D");
    platform::RegSetString(dosDevices, "E:", root + "/volumes/E");
    platform::RegSetString(dosDevices, "L:", root + "/volumes/L");
    WriteNotesSetting("CHANGE_INFO_DIR", "L:\\ArkLedger", GetArkIniPath());
  }
  ~RestoreTestHost() {
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  }
  RestoreTestHost(const RestoreTestHost&) = delete;
  RestoreTestHost& operator=(const RestoreTestHost&) = delete;

  std::string Host(const std::string& relative) const { return root + "/" + relative; }
  // Host path of the snapshot's ArkLedger directory (plus a relative path).
  std::string Ledger(const std::string& relative = "",
                     const std::string& snapshot = kSnapshotName) const {
    return Host("volumes/L/ArkLedger/srv1/" + snapshot + (relative.empty() ? "" : "/" + relative));
  }

  void WriteFile(const std::string& hostPath, const std::string& content) const {
    std::filesystem::path p(hostPath);
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
  }
  static std::string ReadFile(const std::string& hostPath) {
    std::ifstream in(hostPath, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }
  static bool Exists(const std::string& hostPath) { return std::filesystem::exists(hostPath); }

  // The log_hint file of a snapshot: first-log number and log series.
  void WriteLogHint(unsigned firstLog, const std::string& series,
                    const std::string& snapshot = kSnapshotName) const {
    WriteFile(Ledger("log_hint", snapshot), std::to_string(firstLog) + "\r\n" + series);
  }
  // A saved log copy in a snapshot's logs\ folder.
  void WriteSavedLog(unsigned number, const std::string& content,
                     const std::string& snapshot = kSnapshotName) const {
    char name[32];
    std::snprintf(name, sizeof name, "S%07u.TXN", number);
    WriteFile(Ledger(std::string("logs/") + name, snapshot), content);
  }

  // A restorable snapshot of four databases (a.nsf, log.nsf, t.ntf, off.nsf)
  // while the volume holds a damaged a.nsf; beside it in the ArkLedger: the
  // change information of a.nsf ("abc") and its change_info_list entry,
  // off.nsf as disabled, the log hint (first log 40, series) and saved logs
  // 40 and 41.
  void MakeRestorableSnapshot(const std::string& series) const {
    const std::string snap = Host("snapshots/" + std::string(kSnapshotName) + "/Domino/Data/");
    WriteFile(snap + "a.nsf", "database a at the snapshot");
    WriteFile(snap + "log.nsf", "log database");
    WriteFile(snap + "t.ntf", "template");
    WriteFile(snap + "off.nsf", "not logged");
    WriteFile(Host("volumes/D/Domino/Data/a.nsf"), "damaged");
    WriteFile(Ledger("Domino/Data/a.nsf.dat"), std::string("\x03\0\0\0\0\0\0\0abc", 11));
    WriteFile(Ledger("change_info_list"), "11 Domino\\Data\\a.nsf.dat\r\n");
    WriteFile(Ledger("disabled_databases"), "D:\\Domino\\Data\\off.nsf\r\n");
    WriteLogHint(40, series);
    WriteSavedLog(40, "forty");
    WriteSavedLog(41, "forty-one");
  }

  static RestoreRequest MakeRequest(std::uint8_t pointInTime) {
    RestoreRequest request;
    DominoServerInfo& server = request.server;
    server.dataVolume.driveLetter = u'D';
    server.logVolume.driveLetter = u'E';
    server.dataDirectory = "D:\\Domino\\Data";
    server.logDirectory = "E:\\Logs";
    server.notesIniPath = "D:\\Domino\\Data\\notes.ini";
    server.serverName = "srv1/Org";
    server.commonName = "srv1";
    server.archiveLogging = 1;
    request.snapshot.name = kSnapshotName;
    request.snapshot.nameText.Set(kSnapshotName);
    request.snapshot.displayText.Set("3/2/2003 9:05:00");
    request.pointInTime = pointInTime;
    return request;
  }

  std::string root;
};
