// The files of the ArkLedger: the log_hint, disabled_databases and
// change_info_list files, the live log position and the saved log files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

#include "ledger/hint_files.h"
#include "ledger/log_files.h"
#include "ledger/restore_journal.h"
#include "platform/files.h"
#include "tests/support/domino_doubles.h"
#include "tests/support/temp_host.h"

namespace ark {

namespace {

using Names = std::vector<std::string>;

// Drives D: and L: (the ArkLedger's); files below a drive's root.
struct LedgerHost : TempHostRoot {
  LedgerHost() : TempHostRoot(HostOptions{"DL", "", "L:\\ArkLedger", "", ""}) {}
  void Write(char drive, const std::string& relative, const std::string& text) const {
    WriteHostFile(Drive(drive, relative), text);
  }
  std::string Read(char drive, const std::string& relative) const { return ReadHostFile(Drive(drive, relative)); }
};

std::array<BYTE, 16> Id(DWORD a, DWORD b, DWORD c, DWORD d) {
  std::array<BYTE, 16> id{};
  const DWORD w[4] = {a, b, c, d};
  for (int i = 0; i < 16; ++i) id[i] = BYTE((w[i / 4] >> (8 * (i % 4))) & 0xFF);
  return id;
}

class HintFiles : public ::testing::Test {
 protected:
  HintFiles() { std::filesystem::create_directories(host_.Drive('L', "s")); }
  LedgerHost host_;
  std::string path_, readPath_ = "untouched";
};

TEST_F(HintFiles, LogHintHoldsExtentLineAndSeriesAndReadsBack) {
  EXPECT_EQ(LogSeries(Id(1, 2, 4, 8)), "0000000f");
  EXPECT_EQ(LogSeries(Id(0xdeadbeef, 0xdeadbeef, 7, 7)), "00000000");
  EXPECT_EQ(LogSeries(Id(0x80000000, 0, 0, 0x0a)), "8000000a");

  host_.Write('L', "s/log_hint", std::string(100, 'x'));  // truncated, not extended
  ASSERT_EQ(WriteLogHint("L:\\s\\", 4294967295u, Id(1, 2, 4, 8), path_), 0);
  EXPECT_EQ(path_, "L:\\s\\log_hint");
  EXPECT_EQ(host_.Read('L', "s/log_hint"), "4294967295\r\n0000000f");
  DWORD extent = 0;
  std::string series;
  ASSERT_EQ(ReadLogHint("L:\\s", extent, series, readPath_), 0);
  EXPECT_EQ(std::to_string(extent) + " " + series + " " + readPath_, "4294967295 0000000f L:\\s\\log_hint");

  // Bad content leaves the outputs as they were; a missing file says -1.
  for (const char* content : {"garbage\r\n0000000f", "", "\r\n\r\n"}) {
    host_.Write('L', "t/log_hint", content);
    extent = 99;
    series = "keep";
    EXPECT_EQ(ReadLogHint("L:\\t", extent, series, readPath_), 0);
    EXPECT_EQ(std::to_string(extent) + " " + series, "99 keep") << content;
  }
  readPath_ = "untouched";
  EXPECT_EQ(ReadLogHint("L:\\missing", extent, series, readPath_), -1);
  EXPECT_EQ(readPath_, "untouched");
  EXPECT_EQ(WriteLogHint("L:\\missing\\deeper", 1, Id(1, 2, 4, 8), path_), -1);
  EXPECT_EQ(path_, "L:\\missing\\deeper\\log_hint");
}

TEST_F(HintFiles, DisabledDatabasesOnePathPerLine) {
  // Read after what the list held; blank lines and either line end; no empty entries.
  host_.Write('L', "t/disabled_databases", "\r\nD:\\a b\\c.nsf\n\n   \r\nD:\\d.nsf\r\n\r\nD:\\e.nsf");
  Names read{"kept"};
  ASSERT_EQ(ReadDisabledDatabases("L:\\t\\", read, readPath_), 0);
  EXPECT_EQ(read, (Names{"kept", "D:\\a b\\c.nsf", "D:\\d.nsf", "D:\\e.nsf"}));

  read = {"x"};
  readPath_ = "untouched";
  EXPECT_EQ(ReadDisabledDatabases("L:\\missing", read, readPath_), -1);
  EXPECT_EQ(read, Names{"x"});
  EXPECT_EQ(readPath_, "untouched");
  EXPECT_EQ(WriteDisabledDatabases("Q:\\unmapped", {"D:\\a.nsf"}, path_), -1);
  EXPECT_EQ(path_, "Q:\\unmapped\\disabled_databases");
}

TEST_F(HintFiles, ChangeInfoListSizeAndPathPerLine) {
  std::vector<ChangeInfoListEntry> read;
  // A path may hold blanks; a line that is not a size and a path is refused, with its number.
  host_.Write('L', "s/change_info_list", "8 Data\\my mail.nsf.dat\r\n\r\n4294967304 b.ntf.dat");
  ASSERT_EQ(ReadChangeInfoList("L:\\s\\", read, path_), 0);
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[0].relativePath, "Data\\my mail.nsf.dat");
  EXPECT_EQ(read[1].size, 4294967304u);
  for (const char* bad : {"12\r\n", "x Data\\a.nsf.dat\r\n", "12  \r\n", "99999999999999999999 a.nsf.dat\r\n"}) {
    host_.Write('L', "t/change_info_list", std::string("\r\n8 ok.nsf.dat\n") + bad);
    read.clear();
    std::size_t badLine = 0;
    EXPECT_EQ(ReadChangeInfoList("L:\\t", read, path_, &badLine), -2) << bad;
    EXPECT_EQ(badLine, 3u) << bad;
    EXPECT_TRUE(read.empty()) << bad;
  }
  EXPECT_EQ(ReadChangeInfoList("L:\\missing", read, path_), -1);
  // A list that is there but cannot be read is not taken for a missing one.
  std::filesystem::create_directories(host_.Drive('L', "u/change_info_list"));
  DWORD readError = ERROR_SUCCESS;
  EXPECT_EQ(ReadChangeInfoList("L:\\u", read, path_, nullptr, &readError), -3);
  EXPECT_NE(readError, DWORD(ERROR_SUCCESS));
  EXPECT_EQ(WriteChangeInfoList("Q:\\unmapped", {{8, "a.nsf.dat"}}, path_), -1);
}

// A hint file that cannot be flushed to the disk, or whose folders cannot,
// or whose content cannot be written whole, counts as not written and is
// not left behind: a restore must not rely on it (a disabled_databases cut
// short marks an unfinished backup finished).
TEST_F(HintFiles, AFileThatCannotBeWrittenOrFlushedIsNotLeft) {
  for (const std::string failing : {"L:\\s\\log_hint", "L:\\"}) {
    platform::FlushOverride flushes(
        [&](const std::string& flushed) { return flushed == failing ? ERROR_WRITE_FAULT : ERROR_SUCCESS; });
    EXPECT_EQ(WriteLogHint("L:\\s", 7, Id(1, 2, 4, 8), path_), -1) << failing;
    EXPECT_FALSE(std::filesystem::exists(host_.Drive('L', "s/log_hint"))) << failing;
    EXPECT_EQ(WriteDisabledDatabases("L:\\s", {}, path_), failing == "L:\\" ? -1 : 0) << failing;
    EXPECT_EQ(std::filesystem::exists(host_.Drive('L', "s/disabled_databases")), failing != "L:\\") << failing;
  }
  if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full to write to";
  using Writer = std::function<int(platform::FlushBatch*)>;
  const std::vector<std::pair<std::string, Writer>> writers{
      {"log_hint", [&](auto* batch) { return WriteLogHint("L:\\s", 7, Id(1, 2, 4, 8), path_, batch); }},
      {"disabled_databases", [&](auto* batch) { return WriteDisabledDatabases("L:\\s", {"D:\\a.nsf"}, path_, batch); }},
      {"change_info_list", [&](auto* batch) { return WriteChangeInfoList("L:\\s", {{8, "a.nsf.dat"}}, path_, batch); }},
  };
  for (const auto& [name, write] : writers) {
    for (const bool batched : {false, true}) {
      const auto file = host_.Drive('L', "s/" + name);
      std::filesystem::create_symlink("/dev/full", file);  // every write fails: the disk is full
      platform::FlushBatch batch;
      EXPECT_EQ(write(batched ? &batch : nullptr), -1) << name;
      EXPECT_FALSE(std::filesystem::is_symlink(std::filesystem::symlink_status(file))) << name;
      EXPECT_TRUE(batch.empty()) << name;
      std::filesystem::remove(file);
    }
  }
}

TEST_F(HintFiles, CurrentLogPositionWalksTheArchivableLogs) {
  FakeDomino dom;
  std::memcpy(dom.currentLogId, Id(1, 2, 4, 8).data(), 16);
  DWORD number = 5;
  std::string series;
  EXPECT_EQ(GetCurrentLogPosition(number, series), 0);  // no archivable log, number 0: 1
  EXPECT_EQ(std::to_string(number) + " " + series, "1 0000000f");

  dom.logs = {{40, "E:\\Logs\\S0000040.TXN"}, {41, "E:\\Logs\\S0000041.TXN"}};
  dom.currentLog = 43;
  EXPECT_EQ(GetCurrentLogPosition(number, series), 0);
  EXPECT_EQ(number, 43u);
  EXPECT_EQ(dom.Count("GetNextArchiveLog"), 2);
  EXPECT_TRUE(dom.Count("ArchiveBegin") == 0 && dom.marked.empty());  // a walk, not an archiving

  dom.failures["GetFirstArchiveLog"] = 0x0222;  // another status: the position is unknown
  EXPECT_EQ(GetCurrentLogPosition(number, series), 0x0222);
  EXPECT_EQ(number, 0u);
}

// Every file ending in ".txn" below the directory, not those in dot folders.
TEST(LedgerLogs, FindsEveryLogFileBelowTheDirectoryOutsideDotFolders) {
  LedgerHost host;
  for (const char* file : {"A.TXN", "b.Txn", "txn", "c.txn.old", ".hidden/d.txn", "sub/e.TXN"})
    host.Write('L', std::string("logs/") + file, "x");
  std::vector<std::string> logs{"kept"};
  FindTransactionLogs("L:\\logs", logs);
  std::sort(logs.begin(), logs.end());
  EXPECT_EQ(logs, (std::vector<std::string>{"L:\\logs\\A.TXN", "L:\\logs\\b.Txn", "L:\\logs\\sub\\e.TXN", "kept"}));
  FindTransactionLogs("L:\\nowhere", logs);
  EXPECT_EQ(logs.size(), 4u);
}

// The restore journal: what a run writes reads back whole, through its
// place in the ledger; a file that is not a journal is said to be one that
// cannot be read (a later run refuses rather than guess), and none is none.
TEST(RestoreJournalFile, ReadsBackWhatWasWrittenAndRefusesAFileThatIsNoJournal) {
  LedgerHost host;
  DominoServerInfo server;
  server.serverName = "CN=srv1/O=Org", server.commonName = "srv1";
  std::string path;
  ASSERT_EQ(RestoreJournalPath(server, path), 0);
  EXPECT_EQ(path, "L:\\ArkLedger\\$restore_journal\\srv1");
  EXPECT_EQ(FindInterruptedRestore(server), "");

  RestoreJournal written{"srv1/Org", "dominosnap__H__SRV1__recent", "UP TO THE MINUTE", "12/7/2026 04:43:17:00",
                         "D:\\Data\\logdir", "L:\\ArkLedger\\$kept_logs\\srv1\\20261207-044317\\",
                         RestoreStep::Reverting, {"D:\\Data\\logdir\\S0000040.TXN", "D:\\Data\\logdir\\S0000041.TXN"},
                         {}, {}, {}};
  ASSERT_EQ(WriteRestoreJournal(path, written), ERROR_SUCCESS);
  EXPECT_EQ(host.Read('L', "ArkLedger/$restore_journal/srv1"),
            "ark restore journal 1\r\nserver=srv1/Org\r\nsnapshot=dominosnap__H__SRV1__recent\r\n"
            "kind=UP TO THE MINUTE\r\nstarted=12/7/2026 04:43:17:00\r\nlog_directory=D:\\Data\\logdir\r\n"
            "kept_logs=L:\\ArkLedger\\$kept_logs\\srv1\\20261207-044317\\\r\nstep=reverting\r\n"
            "copied_log=D:\\Data\\logdir\\S0000040.TXN\r\ncopied_log=D:\\Data\\logdir\\S0000041.TXN\r\n");
  RestoreJournal read;
  ASSERT_EQ(ReadRestoreJournal(path, read), ERROR_SUCCESS);
  EXPECT_EQ(FormatRestoreJournal(read), FormatRestoreJournal(written));
  const std::string line = "The UP TO THE MINUTE restore of server srv1/Org from snapshot dominosnap__H__SRV1__recent, "
                           "started 12/7/2026 04:43:17:00, was interrupted (step reached: reverting).\r\n";
  EXPECT_EQ(FindInterruptedRestore(server), line);
  // What a writer that died left beside it (POSIX and Windows names) is no journal.
  host.Write('L', "ArkLedger/$restore_journal/.srv1.4242.0.tmp", "ark restore journal 1\r\n");
  host.Write('L', "ArkLedger/$restore_journal/srv1.ark-4242-1.tmp", "ark restore");
  const std::vector<FoundJournal> found = ListInterruptedRestores();
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].text + found[0].keptLogs, line + written.keptLogs);

  for (const char* text : {"", "server=srv1/Org\r\nstep=reverting\r\n", "ark restore journal 1\r\nserver=srv1/Org\r\n",
                           "ark restore journal 1\r\nstep=half done\r\n"}) {
    host.Write('L', "ArkLedger/$restore_journal/srv1", text);
    EXPECT_EQ(ReadRestoreJournal(path, read), ERROR_INVALID_DATA) << text;
    EXPECT_TRUE(FindInterruptedRestore(server).starts_with("The restore journal " + path + " cannot be read")) << text;
  }
  std::filesystem::remove(host.Drive('L', "ArkLedger/$restore_journal/.srv1.4242.0.tmp"));
  std::filesystem::remove(host.Drive('L', "ArkLedger/$restore_journal/srv1.ark-4242-1.tmp"));
  ASSERT_EQ(RemoveRestoreJournal(path), ERROR_SUCCESS);
  EXPECT_FALSE(std::filesystem::exists(host.Drive('L', "ArkLedger/$restore_journal")));
  EXPECT_EQ(RemoveRestoreJournal(path), ERROR_SUCCESS);  // none is fine
  EXPECT_EQ(FindInterruptedRestore(server), "");
}

}  // namespace

}  // namespace ark
