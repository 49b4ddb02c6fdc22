// A temporary host root for one test: drives D: (data) and L: (ArkLedger),
// ark.ini with CHANGE_INFO_DIR, the report folder and the computer name.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "common/records.h"
#include "domino/settings.h"
#include "platform/host.h"
#include "platform/registry.h"
#include "reports/report_store.h"

class TestHost {
 public:
  TestHost() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ark-backup-XXXXXX").string();
    char* made = ::mkdtemp(pattern.data());
    if (made == nullptr) throw std::runtime_error("mkdtemp failed");
    root = made;
    std::filesystem::create_directories(root + "/Windows");
    std::filesystem::create_directories(root + "/volumes/D/Domino/Data");
    std::filesystem::create_directories(root + "/volumes/L/ArkLedger");
    std::filesystem::create_directories(root + "/volumes/L/Reports");
    platform::SetHostRoot(root);
    const std::string dosDevices = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\DOS Devices";
    platform::RegSetString(dosDevices, "D:", root + "/volumes/D");
    platform::RegSetString(dosDevices, "L:", root + "/volumes/L");
    platform::RegSetString("SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName",
                           "ComputerName", "ARKHOST");
    platform::RegSetString(kReportFolderKey, kReportFolderValue, "L:\\Reports");
    WriteNotesSetting("CHANGE_INFO_DIR", "L:\\ArkLedger", GetArkIniPath());
  }
  ~TestHost() {
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  }
  TestHost(const TestHost&) = delete;
  TestHost& operator=(const TestHost&) = delete;

  // Host path of a path below the host root, e.g. Host("volumes/D/Domino").
  std::string Host(const std::string& relative) const { return root + "/" + relative; }

  void WriteFile(const std::string& relative, const std::string& content) const {
    std::filesystem::path p(Host(relative));
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
  }
  std::string ReadFile(const std::string& relative) const {
    std::ifstream in(Host(relative), std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }
  bool Exists(const std::string& relative) const {
    return std::filesystem::exists(Host(relative));
  }

  std::string root;
};

// The record of the one server of the test host: srv1/Org, data on D:.
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
