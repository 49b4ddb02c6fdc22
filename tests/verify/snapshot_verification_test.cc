// Verification on a temporary host, in-memory snapshot component, any Domino
// API call a failure. Snapshots A, B, C of srv1 (log_hint 40, 43, 46; logs
// 38-39, 40-42, 43-45) form a sound chain until a case damages it; per damage
// the verdicts and their texts, and nothing on the volume or component changes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>

#include "ledger/log_files.h"
#include "output/output.h"
#include "platform/clock.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "tests/support/fake_component.h"
#include "tests/support/mock_domino_api.h"
#include "tests/support/temp_host.h"
#include "verify/snapshot_verification.h"

namespace ark {

namespace {

namespace fs = std::filesystem;

const std::string kSnapA = "dominosnap__HOST1__srv1__1-1-2024_10.0.0";
const std::string kSnapB = "dominosnap__HOST1__srv1__1-2-2024_10.0.0";
const std::string kSnapC = "dominosnap__HOST1__SRV1__recent";

FILETIME Hours(int hours) {  // 2024-01-01 00:00 UTC plus hours
  return U64ToFileTime(133485408000000000ull + 36000000000ull * std::uint64_t(hours));
}

// The 8-byte header (low word, high word) and then body bytes.
std::string ChangeInfo(std::uint64_t announced, std::size_t bodyBytes) {
  std::string bytes;
  for (int i = 0; i < 8; ++i) bytes.push_back(char((announced >> (8 * i)) & 0xFF));
  return bytes.append(bodyBytes, 'c');
}

std::string LogName(unsigned number) {
  char name[32];
  std::snprintf(name, sizeof name, "S%07u.TXN", number);
  return name;
}

struct VerifyHost {
  VerifyHost() : root(HostOptions{"E", "HOST1", "E:\\ledger", "C:\\reports", ""}) {
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

  // Every entry of drive E: with its size and time.
  std::map<std::string, std::string> Listing() const {
    std::map<std::string, std::string> listing;
    for (const auto& entry : fs::recursive_directory_iterator(root.Drive('E'))) {
      listing[entry.path().string()] = (entry.is_directory() ? "dir" : std::to_string(entry.file_size())) + " @" +
                                       std::to_string(entry.last_write_time().time_since_epoch().count());
    }
    return listing;
  }

  TempHostRoot root;
  FakeComponent component;
  ::testing::StrictMock<MockDominoApi> domino;  // any call fails the test
  DominoServerInfo server;
};

const std::string kFine = ": restorable up to the minute\r\n";
std::string PointInTime(const std::string& why) { return ": restorable to point in time only (" + why + ")\r\n"; }
std::string Not(const std::string& why) { return ": NOT restorable (" + why + ")\r\n"; }

struct Case {
  std::function<void(VerifyHost&)> damage;
  std::string name;                   // the snapshot asked for ("" every one)
  std::vector<std::string> verdicts;  // the verdict lines, in order
  std::vector<std::string> says = {};  // texts of the findings
  std::vector<std::string> never = {};
};

const std::string ledger = "E:\\ledger\\srv1\\";
const std::string gone = "dominosnap__HOST1__srv1__5-5-2023_1.2.3";
const std::string leftover = "dominosnap__HOST1__srv1__1-1-2020_1.0.0";
const std::string srv2 = "dominosnap__HOST1__srv2__recent";
const Case kCases[] = {
    {[](VerifyHost&) {},
     kSnapA,
     {kSnapA + kFine},
     {"Checked 4 change information files: 0 damaged, 70015 bytes of change information",
      "Log position of the backup: S0000040.TXN, log series 0x0000000f\r\n",
      "Saved logs needed for an UP TO THE MINUTE restore: S0000040.TXN to S0000045.TXN\r\n",
      "All 6 saved logs from S0000040.TXN to S0000045.TXN are present", kSnapA + kFine}},
    // The newest snapshot needs no saved log: later ones are still with Domino.
    {[](VerifyHost&) {}, kSnapC, {kSnapC + kFine}, {"No log after the backup's log position S0000046.TXN has been saved yet"}},
    // Discovery lists names upper-cased; the storage's spelling is found.
    {[](VerifyHost&) {}, platform::ToUpperAnsi(kSnapB), {kSnapB + kFine}},
    // A: one byte short, also in a data folder named "logs"; B: shorter than
    // the header; C: a stray file in logs\ is none, a listed file is gone.
    {[](VerifyHost& h) {
       WriteHostFile(h.Ledger(kSnapA) / "Domino/Data/mail/jo.nsf.dat", ChangeInfo(70000, 69999));
       WriteHostFile(h.Ledger(kSnapA) / "Domino/Data/logs/x.NSF.DAT", ChangeInfo(12, 13));
       WriteHostFile(h.Ledger(kSnapB) / "Domino/Data/names.nsf.dat", ChangeInfo(3, 3).substr(0, 5));
       WriteHostFile(h.Ledger(kSnapC) / "logs/stray.nsf.dat", "12345");
       WriteHostFile(h.Ledger(kSnapC) / "change_info_list",
                     "11 Domino\\Data\\names.nsf.dat\r\n20 Domino\\Data\\gone.nsf.dat\r\n");
     },
     "",
     {kSnapC + Not("change information file missing or damaged"), kSnapB + Not("damaged change information file"),
      kSnapA + Not("damaged change information file")},
     {"ERROR: Damaged change information file: " + ledger + kSnapA +
          "\\Domino\\Data\\mail\\jo.nsf.dat\r\nIts header announces 70000 bytes of change information; it holds "
          "69999.\r\n",
      "ERROR: Damaged change information file: " + ledger + kSnapA +
          "\\Domino\\Data\\logs\\x.NSF.DAT\r\nIts header announces 12 bytes of change information; it holds 13.\r\n",
      "names.nsf.dat\r\nIt holds 5 bytes, less than its 8-byte header.\r\n",
      "Checked 5 change information files: 2 damaged",
      "ERROR: Missing change information file: " + ledger + kSnapC +
          "\\Domino\\Data\\gone.nsf.dat\r\nThe backup wrote 20 bytes to it.\r\nChecked the 2 change information "
          "files the backup listed: 1 missing or damaged.\r\n"},
     {"stray.nsf.dat"}},
    {[](VerifyHost& h) {
       for (unsigned n : {41, 42}) fs::remove(h.Ledger(kSnapB) / "logs" / LogName(n));
       fs::remove(h.Ledger(kSnapC) / "logs" / LogName(44));
     },
     "",
     {kSnapC + kFine, kSnapB + PointInTime("log S0000044.TXN missing"),
      kSnapA + PointInTime("log S0000041.TXN missing")},
     {"ERROR: Logs S0000041.TXN to S0000042.TXN are missing from the server's ArkLedger directory " + ledger +
          "\r\n",
      "ERROR: Log S0000044.TXN is missing from the server's ArkLedger directory " + ledger + "\r\n"}},
    // The newest saved log bounds the chain: none missing at its end.
    {[](VerifyHost& h) {
       for (unsigned n : {43, 44, 45}) fs::remove(h.Ledger(kSnapC) / "logs" / LogName(n));
     },
     kSnapA,
     {kSnapA + kFine},
     {"All 3 saved logs from S0000040.TXN to S0000042.TXN"}},
    // A deleted snapshot's ledger from before a log reset holds a log 41 met before B's.
    {[](VerifyHost& h) { h.WriteLedger(leftover, 30, {41}, "deadbeef"); },
     kSnapA,
     {kSnapA + PointInTime("log S0000041.TXN of another log series")},
     {"ERROR: The saved log " + ledger + leftover +
      "\\logs\\S0000041.TXN is of log series 0xdeadbeef, not of the snapshot's log series 0x0000000f.\r\n"}},
    // B was taken after Domino started a new log series.
    {[](VerifyHost& h) { WriteHostFile(h.Ledger(kSnapB) / "log_hint", "43\r\nabcdef01"); },
     kSnapA,
     {kSnapA + PointInTime("log series changed after the backup")},
     {"is of log series 0xabcdef01, this snapshot's is 0x0000000f:\r\n"}},
    {[](VerifyHost& h) {
       fs::remove(h.Ledger(kSnapA) / "log_hint");
       WriteHostFile(h.Ledger(kSnapA) / "disabled_databases", "E:\\Domino\\Data\\old.nsf\r\n\r\nE:\\x.ntf\r\n");
       WriteHostFile(h.Ledger(kSnapB) / "log_hint", "garbage");
       fs::remove(h.Ledger(kSnapC) / "disabled_databases");
     },
     "",
     {kSnapC + Not("no disabled_databases"), kSnapB + PointInTime("log_hint unreadable"),
      kSnapA + PointInTime("no log_hint")},
     {"WARNING: No log_hint file: " + ledger + kSnapA +
          "\\log_hint\r\nRestoration of this snapshot may only be POINT IN TIME\r\n",
      "Databases without transaction logging (recoverable to the snapshot's time only):\r\n"
      "  E:\\Domino\\Data\\old.nsf\r\n  E:\\x.ntf\r\n"}},
    {[](VerifyHost&) {},
     gone,
     {gone + Not("snapshot missing on the storage")},
     {"ERROR: The snapshot does not exist on drive E:\r\n",
      "ERROR: The ArkLedger directory " + ledger + gone + " does not exist"}},
    // Names that would leave the server's ArkLedger directory.
    {[](VerifyHost&) {},
     "..\\..\\Windows",
     {"..\\..\\Windows" + Not("snapshot missing on the storage")},
     {"ERROR: The name ..\\..\\Windows cannot name an ArkLedger directory.\r\n"}},
    {[](VerifyHost& h) { h.component.state().Add(u'E', srv2, Hours(1)); },
     srv2,
     {srv2 + Not("ArkLedger directory missing")},
     {"WARNING: " + srv2 + " is not named as a snapshot of server srv1.\r\n"}},
    // Names beginning with this server's, another computer's, not ours: none is srv1's.
    {[](VerifyHost& h) {
       h.AddSnapshot("dominosnap__HOST1__SRV10__recent", Hours(50), 46, {});
       h.AddSnapshot("dominosnap__HOST1__srv10__1-2-2024_10.0.0", Hours(30), 46, {});
       h.AddSnapshot("dominosnap__HOST1__srv1__x__recent", Hours(51), 46, {});
       h.AddSnapshot("dominosnap__HOST2__srv1__recent", Hours(52), 46, {});
       h.AddSnapshot("manual-copy", Hours(53), 46, {});
     },
     "",
     {kSnapC + kFine, kSnapB + kFine, kSnapA + kFine},
     {},
     {"srv10", "HOST2", "x__recent", "manual"}},
    {[](VerifyHost& h) { h.server.archiveLogging = 0; },
     "",
     {kSnapC + Not("server not set to archive logging"), kSnapB + Not("server not set to archive logging"),
      kSnapA + Not("server not set to archive logging")},
     {"ERROR: Server: srv1 is not set to archive mode.\r\n"}},
    {[](VerifyHost& h) { h.component.state().enumerateResult = E_FAIL; },
     kSnapA,
     {kSnapA + Not("snapshots could not be listed")},
     {"ERROR: Could not enumerate the snapshots of drive E:.\r\n"}},
    // Every snapshot: those the client's record names, else none.
    {[](VerifyHost& h) { h.component.Uninstall(); },
     "",
     {},
     {"ERROR: No snapshot of server srv1 was found on drive E:.\r\n"}},
    {[](VerifyHost& h) {
       h.component.Uninstall();
       h.server.snapshots.resize(1);
       h.server.snapshots[0].name = platform::ToUpperAnsi(kSnapC);
     },
     "",
     {platform::ToUpperAnsi(kSnapC) + Not("snapshot component not installed")},
     {"ERROR: The snapshot component is not installed: the snapshots of drive E: cannot be listed.\r\n"}},
    {[](VerifyHost&) {
       platform::WritePrivateProfileString("NOTES", "CHANGE_INFO_DIR", "", "C:\\Windows\\ark.ini");
     },
     kSnapA,
     {kSnapA + Not("ArkLedger directory unknown")},
     {"ERROR: The ArkLedger directory of server srv1 cannot be formed:\r\n"}},
    {[](VerifyHost& h) { h.server.dataVolume.driveLetter = 0; },
     kSnapA,
     {kSnapA + Not("no data volume drive")},
     {"ERROR: The server record names no drive for the data volume.\r\n"}},
};

class VerifySnapshots : public ::testing::TestWithParam<std::size_t> {};

TEST_P(VerifySnapshots, DamageGivesItsVerdictAndChangesNothing) {
  const Case& c = kCases[GetParam()];
  VerifyHost host;
  c.damage(host);
  const auto before = host.Listing();
  OutputSink sink;
  std::vector<std::string> verdicts;
  for (const SnapshotVerdict& v : ark::VerifySnapshots(sink, host.server, c.name)) verdicts.push_back(v.Line());
  const std::string& all = sink.accumulated;
  EXPECT_EQ(verdicts, c.verdicts) << all;
  for (const std::string& text : c.says) EXPECT_NE(all.find(text), std::string::npos) << text << all;
  for (const std::string& text : c.never) EXPECT_EQ(all.find(text), std::string::npos) << text << all;
  EXPECT_TRUE(c.verdicts.empty() || all.ends_with(c.verdicts.back())) << "the verdicts close the text: " << all;
  EXPECT_EQ(host.Listing(), before);
  for (const char* call : {"Create", "Rename", "Delete", "Restore"}) {
    EXPECT_TRUE(host.component.state().CallsStartingWith(call).empty()) << call;
  }
  EXPECT_EQ(host.component.state().liveInterfaces, 0);
  EXPECT_EQ(host.component.state().liveFactories, 0);
}
INSTANTIATE_TEST_SUITE_P(Rows, VerifySnapshots, ::testing::Range<std::size_t>(0, std::size(kCases)));

// A text, the log number it names (0: no log file name), and whether it is
// a snapshot's time stamp.
const std::tuple<const char*, DWORD, bool> kNames[] = {
    {"S0000041.TXN", 41, false}, {"s0000042.txn", 42, false}, {"S12345678.TXN", 12345678, false},
    {"S00000041.TXN", 0, false}, {"S41.TXN", 0, false}, {"S0000041.TXN.bak", 0, false}, {"S-000041.TXN", 0, false},
    {"X0000041.TXN", 0, false}, {"S99999999999.TXN", 0, false}, {"S4294967296.TXN", 0, false}, {".TXN", 0, false},
    {"S.TXN", 0, false}, {"", 0, false}, {"1-2-2024_10.0.0", 0, true}, {"12-31-1999_23.59.59", 0, true},
    {"recent", 0, false}, {"1-2-2024_10.0", 0, false}, {"1-2-2024_10.0.0x", 0, false}, {"1-2-2024-10.0.0", 0, false},
    {"-1-2-2024_10.0.0", 0, false}, {"1-2-2024_10.0.0_1", 0, false}, {"x__recent", 0, false}};

class VerifyNames : public ::testing::TestWithParam<std::size_t> {};

TEST_P(VerifyNames, LogFileNamesAndTimeStampsAreReadStrictly) {
  const auto& [text, log, stamp] = kNames[GetParam()];
  DWORD n = 7;  // untouched by a refused name
  EXPECT_EQ(ParseLogFileName(text, n), log != 0);
  EXPECT_EQ(n, log != 0 ? log : 7u);
  EXPECT_EQ(IsSnapshotTimeStamp(text), stamp);
}
INSTANTIATE_TEST_SUITE_P(Rows, VerifyNames, ::testing::Range<std::size_t>(0, std::size(kNames)));

}  // namespace

}  // namespace ark
