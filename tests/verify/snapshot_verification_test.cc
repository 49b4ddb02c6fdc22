// Verification of snapshots on a temporary host: sound and damaged ArkLedger
// directories, missing or foreign logs, missing hints, snapshots missing on
// the storage, whole-server faults, and that nothing on the host changes.
#include <gtest/gtest.h>

#include "platform/text.h"
#include "tests/verify/verify_test_host.h"
#include "verify/log_chain_check.h"

namespace verifytest {
namespace {

using VerifySnapshotsTest = VerifyHostTest;

TEST_F(VerifySnapshotsTest, SoundChainIsRestorableUpToTheMinuteAndNothingChanges) {
  const auto before = Listing(root_);

  auto verdicts = Verify(kSnapA);
  ASSERT_EQ(verdicts.size(), 1u);
  EXPECT_EQ(verdicts[0].Line(), kSnapA + ": restorable up to the minute\r\n") << text_;
  EXPECT_TRUE(Says("Checked 4 change information files: 0 damaged, 70015 bytes of change information"))
      << text_;
  EXPECT_TRUE(Says("Log position of the backup: S0000040.TXN, log series 0x0000000f\r\n")) << text_;
  EXPECT_TRUE(Says("Saved logs needed for an UP TO THE MINUTE restore: S0000040.TXN to S0000045.TXN\r\n"))
      << text_;
  EXPECT_TRUE(Says("All 6 saved logs from S0000040.TXN to S0000045.TXN are present")) << text_;
  // The verdict closes the text.
  EXPECT_EQ(text_.substr(text_.size() - verdicts[0].Line().size()), verdicts[0].Line());

  // The newest snapshot needs no saved log: later ones are still with Domino.
  verdicts = Verify(kSnapC);
  ASSERT_EQ(verdicts.size(), 1u);
  EXPECT_EQ(verdicts[0].level(), Restorability::UpToTheMinute) << text_;
  EXPECT_TRUE(Says("No log after the backup's log position S0000046.TXN has been saved yet")) << text_;

  // Discovery lists names upper-cased; the storage's spelling is found.
  verdicts = Verify(platform::ToUpperAnsi(kSnapB));
  ASSERT_EQ(verdicts.size(), 1u);
  EXPECT_EQ(verdicts[0].Line(), kSnapB + ": restorable up to the minute\r\n") << text_;

  EXPECT_EQ(Listing(root_), before);
  EXPECT_TRUE(component_->state().CallsStartingWith("Create").empty());
  EXPECT_TRUE(component_->state().CallsStartingWith("Rename").empty());
  EXPECT_TRUE(component_->state().CallsStartingWith("Delete").empty());
  EXPECT_TRUE(component_->state().CallsStartingWith("Restore").empty());
  EXPECT_EQ(component_->state().liveInterfaces, 0);
  EXPECT_EQ(component_->state().liveFactories, 0);
}

TEST_F(VerifySnapshotsTest, DamagedChangeInformationMakesTheSnapshotUnrestorable) {
  // A: one byte short, and a data folder named "logs" deeper down is checked
  // like any other (only the ledger's own logs folder is skipped).
  WriteHostFile(Ledger(kSnapA) / "Domino/Data/mail/jo.nsf.dat", ChangeInfo(70000, 69999));
  WriteHostFile(Ledger(kSnapA) / "Domino/Data/logs/x.NSF.DAT", ChangeInfo(12, 13));
  // B: five bytes, shorter than the header.
  WriteHostFile(Ledger(kSnapB) / "Domino/Data/names.nsf.dat", ChangeInfo(3, 3).substr(0, 5));
  // C: a stray file in the ledger's logs folder is no change information;
  // a file the backup listed is gone.
  WriteHostFile(Ledger(kSnapC) / "logs/stray.nsf.dat", "12345");
  WriteHostFile(Ledger(kSnapC) / "change_info_list", "11 Domino\\Data\\names.nsf.dat\r\n20 Domino\\Data\\gone.nsf.dat\r\n");
  const auto before = Listing(root_);

  const auto verdicts = Verify("");
  EXPECT_EQ(VerdictLines(verdicts),
            (std::vector<std::string>{kSnapC + ": NOT restorable (change information file missing or damaged)\r\n",
                                      kSnapB + ": NOT restorable (damaged change information file)\r\n",
                                      kSnapA + ": NOT restorable (damaged change information file)\r\n"}))
      << text_;
  const std::string ledgerA = "E:\\ledger\\srv1\\" + kSnapA + "\\";
  EXPECT_TRUE(Says("ERROR: Damaged change information file: " + ledgerA +
                   "Domino\\Data\\mail\\jo.nsf.dat\r\n"
                   "Its header announces 70000 bytes of change information; it holds 69999.\r\n"))
      << text_;
  EXPECT_TRUE(Says("ERROR: Damaged change information file: " + ledgerA +
                   "Domino\\Data\\logs\\x.NSF.DAT\r\n"
                   "Its header announces 12 bytes of change information; it holds 13.\r\n"))
      << text_;
  EXPECT_TRUE(Says("names.nsf.dat\r\nIt holds 5 bytes, less than its 8-byte header.\r\n")) << text_;
  EXPECT_TRUE(Says("Checked 5 change information files: 2 damaged")) << text_;
  EXPECT_FALSE(Says("stray.nsf.dat")) << text_;
  EXPECT_TRUE(Says("ERROR: Missing change information file: E:\\ledger\\srv1\\" + kSnapC +
                   "\\Domino\\Data\\gone.nsf.dat\r\nThe backup wrote 20 bytes to it.\r\n"
                   "Checked the 2 change information files the backup listed: 1 missing or damaged.\r\n"))
      << text_;
  EXPECT_EQ(Listing(root_), before);
}

TEST_F(VerifySnapshotsTest, MissingLogsLimitTheRestoreToPointInTime) {
  fs::remove(Ledger(kSnapB) / "logs" / LogName(41));
  fs::remove(Ledger(kSnapB) / "logs" / LogName(42));
  fs::remove(Ledger(kSnapC) / "logs" / LogName(44));

  const auto verdicts = Verify("");
  EXPECT_EQ(VerdictLines(verdicts),
            (std::vector<std::string>{
                kSnapC + ": restorable up to the minute\r\n",
                kSnapB + ": restorable to point in time only (log S0000044.TXN missing)\r\n",
                kSnapA + ": restorable to point in time only (log S0000041.TXN missing)\r\n"}))
      << text_;
  EXPECT_TRUE(
      Says("ERROR: Logs S0000041.TXN to S0000042.TXN are missing from the server's ArkLedger "
           "directory E:\\ledger\\srv1\\\r\n"))
      << text_;
  EXPECT_TRUE(
      Says("ERROR: Log S0000044.TXN is missing from the server's ArkLedger directory "
           "E:\\ledger\\srv1\\\r\n"))
      << text_;

  // The newest saved log bounds the chain: without the last one, nothing is
  // missing at the end.
  fs::remove(Ledger(kSnapC) / "logs" / LogName(45));
  fs::remove(Ledger(kSnapC) / "logs" / LogName(43));
  WriteHostFile(Ledger(kSnapB) / "logs" / LogName(41), "log 41");
  WriteHostFile(Ledger(kSnapB) / "logs" / LogName(42), "log 42");
  EXPECT_EQ(Verify(kSnapA)[0].level(), Restorability::UpToTheMinute) << text_;
  EXPECT_TRUE(Says("All 3 saved logs from S0000040.TXN to S0000042.TXN")) << text_;
}

TEST_F(VerifySnapshotsTest, ALogOfAnotherSeriesLimitsTheRestoreToPointInTime) {
  // The ledger of a snapshot deleted from the storage, from before a log
  // reset, still holds a log 41; a restore meets it before B's copy.
  const std::string leftover = "dominosnap__HOST1__srv1__1-1-2020_1.0.0";
  WriteLedger(leftover, 30, {41}, "deadbeef");

  auto verdicts = Verify(kSnapA);
  ASSERT_EQ(verdicts.size(), 1u);
  EXPECT_EQ(verdicts[0].Line(),
            kSnapA + ": restorable to point in time only (log S0000041.TXN of another log series)\r\n")
      << text_;
  EXPECT_TRUE(Says("ERROR: The saved log E:\\ledger\\srv1\\" + leftover +
                   "\\logs\\S0000041.TXN is of log series 0xdeadbeef, not of the snapshot's log series "
                   "0x0000000f.\r\n"))
      << text_;

  // Without a log_hint beside it, the copy's series is unknown: no better.
  fs::remove(Ledger(leftover) / "log_hint");
  verdicts = Verify(kSnapA);
  EXPECT_EQ(verdicts[0].reason(), "log S0000041.TXN of another log series") << text_;
  EXPECT_TRUE(Says("has no readable log_hint beside it")) << text_;
  // A snapshot whose chain starts after it is not affected.
  EXPECT_EQ(Verify(kSnapB)[0].level(), Restorability::UpToTheMinute) << text_;
}

TEST_F(VerifySnapshotsTest, ALogResetAfterABackupEndsItsChain) {
  // B was taken after Domino started a new log series.
  WriteHostFile(Ledger(kSnapB) / "log_hint", "43\r\nabcdef01");
  const auto verdicts = Verify(kSnapA);
  EXPECT_EQ(verdicts[0].Line(),
            kSnapA + ": restorable to point in time only (log series changed after the backup)\r\n")
      << text_;
  EXPECT_TRUE(Says("is of log series 0xabcdef01, this snapshot's is 0x0000000f:\r\n")) << text_;
}

TEST_F(VerifySnapshotsTest, MissingOrUnreadableHintFiles) {
  fs::remove(Ledger(kSnapA) / "log_hint");
  WriteHostFile(Ledger(kSnapA) / "disabled_databases", "E:\\Domino\\Data\\old.nsf\r\n\r\nE:\\x.ntf\r\n");
  WriteHostFile(Ledger(kSnapB) / "log_hint", "garbage");
  fs::remove(Ledger(kSnapC) / "disabled_databases");

  const auto verdicts = Verify("");
  EXPECT_EQ(
      VerdictLines(verdicts),
      (std::vector<std::string>{kSnapC + ": NOT restorable (no disabled_databases)\r\n",
                                kSnapB + ": restorable to point in time only (log_hint unreadable)\r\n",
                                kSnapA + ": restorable to point in time only (no log_hint)\r\n"}))
      << text_;
  EXPECT_TRUE(Says("WARNING: No log_hint file: E:\\ledger\\srv1\\" + kSnapA +
                   "\\log_hint\r\nRestoration of this snapshot may only be POINT IN TIME\r\n"))
      << text_;
  EXPECT_TRUE(
      Says("Databases without transaction logging (recoverable to the snapshot's time only):\r\n"
           "  E:\\Domino\\Data\\old.nsf\r\n  E:\\x.ntf\r\n"))
      << text_;

  // A log_hint with a number but no series is as good as none.
  WriteHostFile(Ledger(kSnapB) / "log_hint", "43\r\n");
  EXPECT_EQ(Verify(kSnapB)[0].reason(), "log_hint unreadable") << text_;
}

TEST_F(VerifySnapshotsTest, SnapshotsMissingOnTheStorageOrNamedBadly) {
  const auto before = Listing(root_);
  const std::string gone = "dominosnap__HOST1__srv1__5-5-2023_1.2.3";
  auto verdicts = Verify(gone);
  EXPECT_EQ(VerdictLines(verdicts),
            std::vector<std::string>{gone + ": NOT restorable (snapshot missing on the storage)\r\n"})
      << text_;
  EXPECT_TRUE(Says("ERROR: The snapshot does not exist on drive E:\r\n")) << text_;
  EXPECT_TRUE(Says("ERROR: The ArkLedger directory E:\\ledger\\srv1\\" + gone + " does not exist")) << text_;

  // The storage holds it, the ledger does not.
  component_->state().Add(u'E', gone, Hours(-24));
  verdicts = Verify(gone);
  EXPECT_EQ(verdicts[0].Line(), gone + ": NOT restorable (ArkLedger directory missing)\r\n") << text_;

  // Names that would leave the server's ArkLedger directory are refused.
  for (const std::string& bad : {std::string("..\\..\\Windows"), std::string("..")}) {
    verdicts = Verify(bad);
    ASSERT_EQ(verdicts.size(), 1u) << bad;
    EXPECT_EQ(verdicts[0].level(), Restorability::NotRestorable) << text_;
    EXPECT_TRUE(Says("ERROR: The name " + bad + " cannot name an ArkLedger directory.\r\n")) << text_;
  }
  // A snapshot of another server on the same volume.
  component_->state().Add(u'E', "dominosnap__HOST1__srv2__recent", Hours(1));
  verdicts = Verify("dominosnap__HOST1__srv2__recent");
  EXPECT_EQ(verdicts[0].reason(), "ArkLedger directory missing") << text_;
  EXPECT_TRUE(Says("WARNING: dominosnap__HOST1__srv2__recent is not named as a snapshot of server srv1.\r\n"))
      << text_;
  EXPECT_EQ(Listing(root_), before);
}

TEST_F(VerifySnapshotsTest, EverySnapshotOfTheServerAndNoneOfAnother) {
  // Servers whose names begin with this one's, another computer's snapshot,
  // and a snapshot that is not of our naming at all.
  AddSnapshot("dominosnap__HOST1__SRV10__recent", Hours(50), 46, {});
  AddSnapshot("dominosnap__HOST1__srv10__1-2-2024_10.0.0", Hours(30), 46, {});
  AddSnapshot("dominosnap__HOST1__srv1__x__recent", Hours(51), 46, {});
  AddSnapshot("dominosnap__HOST2__srv1__recent", Hours(52), 46, {});
  AddSnapshot("manual-copy", Hours(53), 46, {});
  const auto before = Listing(root_);

  const auto verdicts = Verify("");
  ASSERT_EQ(verdicts.size(), 3u) << text_;
  EXPECT_EQ(verdicts[0].name(), kSnapC);
  EXPECT_EQ(verdicts[1].name(), kSnapB);
  EXPECT_EQ(verdicts[2].name(), kSnapA);
  for (const auto& v : verdicts) EXPECT_EQ(v.level(), Restorability::UpToTheMinute) << text_;
  EXPECT_FALSE(Says("srv10")) << text_;
  EXPECT_FALSE(Says("HOST2")) << text_;
  EXPECT_EQ(Listing(root_), before);

  // A server without snapshots: said plainly, no verdict.
  server_.commonName = "srv3";
  EXPECT_TRUE(Verify("").empty());
  EXPECT_TRUE(Says("ERROR: No snapshot of server srv3 was found on drive E:.\r\n")) << text_;
}

TEST_F(VerifySnapshotsTest, ServerOrComponentFaultsMakeEverySnapshotUnrestorable) {
  // The test itself edits the registry and ark.ini; the volume stays as it is.
  const auto before = Listing(root_ / "E");
  server_.archiveLogging = 0;
  auto verdicts = Verify("");
  ASSERT_EQ(verdicts.size(), 3u);
  for (const auto& v : verdicts)
    EXPECT_EQ(v.Line(), v.name() + ": NOT restorable (server not set to archive logging)\r\n");
  EXPECT_TRUE(Says("ERROR: Server: srv1 is not set to archive mode.\r\n")) << text_;
  server_.archiveLogging = 1;

  component_->state().enumerateResult = E_FAIL;
  verdicts = Verify(kSnapA);
  EXPECT_EQ(verdicts[0].reason(), "snapshots could not be listed") << text_;
  EXPECT_TRUE(Says("ERROR: Could not enumerate the snapshots of drive E:.\r\n")) << text_;
  component_->state().enumerateResult = S_OK;

  component_->Uninstall();
  verdicts = Verify(kSnapA);
  EXPECT_EQ(VerdictLines(verdicts),
            std::vector<std::string>{kSnapA + ": NOT restorable (snapshot component not installed)\r\n"});
  EXPECT_TRUE(
      Says("ERROR: The snapshot component is not installed: the snapshots of drive E: cannot be "
           "listed.\r\n"))
      << text_;
  // Every snapshot: those the client's record names, else none.
  EXPECT_TRUE(Verify("").empty());
  EXPECT_TRUE(Says("ERROR: No snapshot of server srv1 was found on drive E:.\r\n")) << text_;
  server_.snapshots.resize(1);
  server_.snapshots[0].name = platform::ToUpperAnsi(kSnapC);
  verdicts = Verify("");
  ASSERT_EQ(verdicts.size(), 1u);
  EXPECT_EQ(verdicts[0].level(), Restorability::NotRestorable);
  component_->Install();

  platform::WritePrivateProfileString("NOTES", "CHANGE_INFO_DIR", "", "C:\\Windows\\ark.ini");
  verdicts = Verify(kSnapA);
  EXPECT_EQ(verdicts[0].reason(), "ArkLedger directory unknown") << text_;
  EXPECT_TRUE(Says("ERROR: The ArkLedger directory of server srv1 cannot be formed:\r\n")) << text_;
  platform::WritePrivateProfileString("NOTES", "CHANGE_INFO_DIR", "E:\\ledger", "C:\\Windows\\ark.ini");

  // A record whose name would lead out of the ArkLedger root.
  server_.commonName = "..\\srv1";
  verdicts = Verify(kSnapA);
  EXPECT_EQ(verdicts[0].reason(), "ArkLedger directory unknown") << text_;
  server_.commonName = "srv1";

  server_.dataVolume.driveLetter = 0;
  verdicts = Verify(kSnapA);
  EXPECT_EQ(verdicts[0].reason(), "no data volume drive") << text_;
  EXPECT_TRUE(Says("ERROR: The server record names no drive for the data volume.\r\n")) << text_;

  EXPECT_EQ(component_->state().liveInterfaces, 0);
  EXPECT_EQ(component_->state().liveFactories, 0);
  EXPECT_EQ(Listing(root_ / "E"), before);
}

TEST(VerifyNames, LogFileNamesAndTimeStampsAreReadStrictly) {
  DWORD n = 0;
  EXPECT_TRUE(ParseLogFileName("S0000041.TXN", n));
  EXPECT_EQ(n, 41u);
  EXPECT_TRUE(ParseLogFileName("s0000042.txn", n));
  EXPECT_EQ(n, 42u);
  EXPECT_TRUE(ParseLogFileName("S12345678.TXN", n));
  EXPECT_EQ(n, 12345678u);
  n = 7;
  for (const char* bad : {"S00000041.TXN", "S41.TXN", "S0000041.TXN.bak", "S-000041.TXN", "X0000041.TXN",
                          "S99999999999.TXN", "S4294967296.TXN", ".TXN", "S.TXN", ""}) {
    EXPECT_FALSE(ParseLogFileName(bad, n)) << bad;
  }
  EXPECT_EQ(n, 7u);  // untouched by a refused name

  EXPECT_TRUE(IsSnapshotTimeStamp("1-2-2024_10.0.0"));
  EXPECT_TRUE(IsSnapshotTimeStamp("12-31-1999_23.59.59"));
  for (const char* bad : {"recent", "", "1-2-2024_10.0", "1-2-2024_10.0.0x", "1-2-2024-10.0.0",
                          "-1-2-2024_10.0.0", "1-2-2024_10.0.0_1", "x__recent"}) {
    EXPECT_FALSE(IsSnapshotTimeStamp(bad)) << bad;
  }
}

}  // namespace
}  // namespace verifytest
