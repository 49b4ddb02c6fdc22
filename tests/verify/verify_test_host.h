// A host for the verification tests: drive E:, computer name HOST1,
// CHANGE_INFO_DIR E:\ledger, a report folder, the in-memory snapshot
// component and a Domino API that fails the test on any call. Three
// snapshots of server srv1 form a sound chain:
//
//   A  dominosnap__HOST1__srv1__1-1-2024_10.0.0  log_hint 40, logs\ 38 39
//   B  dominosnap__HOST1__srv1__1-2-2024_10.0.0  log_hint 43, logs\ 40 41 42
//   C  dominosnap__HOST1__SRV1__recent           log_hint 46, logs\ 43 44 45
//
// so each is restorable up to the minute until a test damages something.
#pragma once

#include <gmock/gmock.h>

#include <cstdio>
#include <map>

#include "output/output.h"
#include "platform/clock.h"
#include "tests/support/fake_component.h"
#include "tests/support/mock_domino_api.h"
#include "tests/support/temp_host.h"
#include "verify/snapshot_verification.h"

namespace verifytest {

namespace fs = std::filesystem;

inline const std::string kSnapA = "dominosnap__HOST1__srv1__1-1-2024_10.0.0";
inline const std::string kSnapB = "dominosnap__HOST1__srv1__1-2-2024_10.0.0";
inline const std::string kSnapC = "dominosnap__HOST1__SRV1__recent";

inline FILETIME Hours(int hours) {  // 2024-01-01 00:00 UTC plus hours
  return U64ToFileTime(133485408000000000ull + 36000000000ull * std::uint64_t(hours));
}

// The 8-byte header (low word, high word) and then body bytes.
inline std::string ChangeInfo(std::uint64_t announced, std::size_t bodyBytes) {
  std::string bytes;
  for (int i = 0; i < 8; ++i) bytes.push_back(char((announced >> (8 * i)) & 0xFF));
  return bytes.append(bodyBytes, 'c');
}

inline std::string LogName(unsigned number) {
  char name[32];
  std::snprintf(name, sizeof name, "S%07u.TXN", number);
  return name;
}

inline HostOptions VerifyHostOptions() {
  HostOptions options;
  options.drives = "E";
  options.computerName = "HOST1";
  options.changeInfoDir = "E:\\ledger";
  options.reportFolder = "C:\\reports";
  return options;
}

struct VerifyHost {
  VerifyHost() : root(VerifyHostOptions()) {
    server.commonName = "srv1";
    server.serverName = "srv1/Org";
    server.dataDirectory = "E:\\Domino\\Data";
    server.logDirectory = "E:\\Domino\\Logs";
    server.dataVolume.driveLetter = u'E';
    server.archiveLogging = 1;
    server.loggingStyle = 1;
    // Newest first, as the storage lists them.
    AddSnapshot(kSnapC, Hours(48), 46, {43, 44, 45});
    AddSnapshot(kSnapB, Hours(24), 43, {40, 41, 42});
    AddSnapshot(kSnapA, Hours(0), 40, {38, 39});
  }

  // A snapshot on the storage and a sound ArkLedger directory beside it.
  void AddSnapshot(const std::string& name, FILETIME created, unsigned hint, std::vector<unsigned> logs) {
    component.state().Add(u'E', name, created);
    WriteLedger(name, hint, logs);
  }
  void WriteLedger(const std::string& name, unsigned hint, std::vector<unsigned> logs,
                   const std::string& series = "0000000f") {
    WriteHostFile(Ledger(name) / "Domino/Data/names.nsf.dat", ChangeInfo(3, 3));
    WriteHostFile(Ledger(name) / "Domino/Data/mail/jo.nsf.dat", ChangeInfo(70000, 70000));
    WriteHostFile(Ledger(name) / "Domino/Data/pubnames.ntf.dat", ChangeInfo(0, 0));
    WriteHostFile(Ledger(name) / "Domino/Data/mail/in.box.dat", ChangeInfo(12, 12));
    WriteHostFile(Ledger(name) / "log_hint", std::to_string(hint) + "\r\n" + series);
    WriteHostFile(Ledger(name) / "disabled_databases", "");
    for (unsigned n : logs) WriteHostFile(Ledger(name) / "logs" / LogName(n), "log " + std::to_string(n));
  }
  fs::path Ledger(const std::string& name) const { return root.Drive('E', "ledger/srv1/" + name); }

  // Every file and directory of drive E: with its size and time, to show
  // that a run changed nothing.
  std::map<std::string, std::string> Listing() const {
    std::map<std::string, std::string> listing;
    for (const auto& entry : fs::recursive_directory_iterator(root.Drive('E'))) {
      listing[entry.path().string()] = (entry.is_directory() ? "dir" : std::to_string(entry.file_size())) + " @" +
                                       std::to_string(entry.last_write_time().time_since_epoch().count());
    }
    return listing;
  }

  // Runs the verification: its verdict lines, its text in text.
  std::vector<std::string> Verify(const std::string& name) {
    OutputSink sink;
    std::vector<std::string> lines;
    for (const SnapshotVerdict& v : VerifySnapshots(sink, server, name)) lines.push_back(v.Line());
    text = sink.accumulated;
    return lines;
  }

  TempHostRoot root;
  FakeComponent component;
  ::testing::StrictMock<MockDominoApi> domino;  // any call fails the test
  DominoServerInfo server;
  std::string text;
};

}  // namespace verifytest
