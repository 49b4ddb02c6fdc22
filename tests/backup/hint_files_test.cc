// The log_hint and disabled_databases files and the live log position.
#include <gtest/gtest.h>

#include "backup/hint_files.h"
#include "fake_domino.h"
#include "test_host.h"

namespace {

std::array<BYTE, 16> Id(DWORD a, DWORD b, DWORD c, DWORD d) {
  std::array<BYTE, 16> id{};
  DWORD w[4] = {a, b, c, d};
  for (int i = 0; i < 16; ++i) id[i] = BYTE((w[i / 4] >> (8 * (i % 4))) & 0xFF);
  return id;
}

TEST(HintFiles, LogHintHoldsExtentLineAndSeriesAndReadsBack) {
  TestHost host;
  EXPECT_EQ(LogSeries(Id(1, 2, 4, 8)), "0000000f");
  EXPECT_EQ(LogSeries(Id(0xdeadbeef, 0xdeadbeef, 7, 7)), "00000000");
  EXPECT_EQ(LogSeries(Id(0x80000000, 0, 0, 0x0a)), "8000000a");

  std::filesystem::create_directories(host.Host("volumes/L/ArkLedger/s"));
  std::string path;
  ASSERT_EQ(WriteLogHint("L:\\ArkLedger\\s", 4294967295u, Id(1, 2, 4, 8), path), 0);
  EXPECT_EQ(path, "L:\\ArkLedger\\s\\log_hint");
  EXPECT_EQ(host.ReadFile("volumes/L/ArkLedger/s/log_hint"), "4294967295\r\n0000000f");
  // Rewritten whole, and the same file with a trailing backslash.
  ASSERT_EQ(WriteLogHint("L:\\ArkLedger\\s\\", 12, Id(1, 0, 0, 0), path), 0);
  EXPECT_EQ(path, "L:\\ArkLedger\\s\\log_hint");
  EXPECT_EQ(host.ReadFile("volumes/L/ArkLedger/s/log_hint"), "12\r\n00000001");

  DWORD extent = 0;
  std::string series, readPath;
  ASSERT_EQ(ReadLogHint("L:\\ArkLedger\\s\\", extent, series, readPath), 0);
  EXPECT_EQ(extent, 12u);
  EXPECT_EQ(series, "00000001");
  EXPECT_EQ(readPath, "L:\\ArkLedger\\s\\log_hint");

  // A file without a number leaves the outputs as they were.
  host.WriteFile("volumes/L/ArkLedger/t/log_hint", "garbage\r\n0000000f");
  extent = 99;
  series = "keep";
  EXPECT_EQ(ReadLogHint("L:\\ArkLedger\\t", extent, series, readPath), 0);
  EXPECT_EQ(extent, 99u);
  EXPECT_EQ(series, "keep");
  // An empty file, too.
  host.WriteFile("volumes/L/ArkLedger/u/log_hint", "");
  EXPECT_EQ(ReadLogHint("L:\\ArkLedger\\u", extent, series, readPath), 0);
  EXPECT_EQ(extent, 99u);

  // A missing file: -1 and nothing touched.
  readPath = "untouched";
  EXPECT_EQ(ReadLogHint("L:\\ArkLedger\\missing", extent, series, readPath), -1);
  EXPECT_EQ(readPath, "untouched");
  EXPECT_EQ(series, "keep");

  // A directory that cannot hold the file: -1, and the path is given back.
  EXPECT_EQ(WriteLogHint("L:\\ArkLedger\\nowhere\\deeper", 1, Id(1, 2, 4, 8), path), -1);
  EXPECT_EQ(path, "L:\\ArkLedger\\nowhere\\deeper\\log_hint");
}

TEST(HintFiles, DisabledDatabasesOnePathPerLine) {
  TestHost host;
  std::filesystem::create_directories(host.Host("volumes/L/ArkLedger/s"));
  std::string path;
  const std::vector<std::string> disabled{"D:\\Domino\\Data\\my mail.nsf", "D:\\Domino\\Data\\b.ntf"};
  ASSERT_EQ(WriteDisabledDatabases("L:\\ArkLedger\\s", disabled, path), 0);
  EXPECT_EQ(path, "L:\\ArkLedger\\s\\disabled_databases");
  EXPECT_EQ(host.ReadFile("volumes/L/ArkLedger/s/disabled_databases"),
            "D:\\Domino\\Data\\my mail.nsf\r\nD:\\Domino\\Data\\b.ntf\r\n");

  std::vector<std::string> read{"kept"};
  std::string readPath;
  ASSERT_EQ(ReadDisabledDatabases("L:\\ArkLedger\\s\\", read, readPath), 0);
  EXPECT_EQ(read, (std::vector<std::string>{"kept", disabled[0], disabled[1]}));
  EXPECT_EQ(readPath, "L:\\ArkLedger\\s\\disabled_databases");

  // Blank lines and either line end; no empty entries.
  host.WriteFile("volumes/L/ArkLedger/t/disabled_databases",
                 "\r\nD:\\a b\\c.nsf\n\n   \r\nD:\\d.nsf\r\n\r\nD:\\e.nsf");
  read.clear();
  ASSERT_EQ(ReadDisabledDatabases("L:\\ArkLedger\\t", read, readPath), 0);
  EXPECT_EQ(read, (std::vector<std::string>{"D:\\a b\\c.nsf", "D:\\d.nsf", "D:\\e.nsf"}));

  // An empty list gives an empty file (truncating an old one).
  ASSERT_EQ(WriteDisabledDatabases("L:\\ArkLedger\\s", {}, path), 0);
  EXPECT_EQ(host.ReadFile("volumes/L/ArkLedger/s/disabled_databases"), "");
  read.clear();
  ASSERT_EQ(ReadDisabledDatabases("L:\\ArkLedger\\s", read, readPath), 0);
  EXPECT_TRUE(read.empty());

  // Missing file: -1, list and path untouched.
  readPath = "untouched";
  read = {"x"};
  EXPECT_EQ(ReadDisabledDatabases("L:\\ArkLedger\\missing", read, readPath), -1);
  EXPECT_EQ(read, std::vector<std::string>{"x"});
  EXPECT_EQ(readPath, "untouched");
  EXPECT_EQ(WriteDisabledDatabases("Q:\\unmapped", disabled, path), -1);
  EXPECT_EQ(path, "Q:\\unmapped\\disabled_databases");
}

TEST(HintFiles, CurrentLogPositionWalksTheArchivableLogs) {
  TestHost host;
  {
    // No archivable log at all: the first answer is already "no more".
    FakeDomino dom;
    dom.currentLog = 0;
    std::memcpy(dom.currentLogId, Id(1, 2, 4, 8).data(), 16);
    DWORD number = 5;
    std::string series;
    EXPECT_EQ(GetCurrentLogPosition(number, series), 0);
    EXPECT_EQ(number, 1u);
    EXPECT_EQ(series, "0000000f");
    dom.currentLog = 42;
    EXPECT_EQ(GetCurrentLogPosition(number, series), 0);
    EXPECT_EQ(number, 42u);
    EXPECT_EQ(dom.Count("ArchiveBegin"), 0);
    EXPECT_TRUE(dom.marked.empty());
  }
  {
    FakeDomino dom;
    dom.logs = {{40, "E:\\Logs\\S0000040.TXN", {}}, {41, "E:\\Logs\\S0000041.TXN", {}}};
    dom.currentLog = 43;
    std::memcpy(dom.currentLogId, Id(3, 0, 0, 0).data(), 16);
    DWORD number = 0;
    std::string series;
    EXPECT_EQ(GetCurrentLogPosition(number, series), 0);
    EXPECT_EQ(number, 43u);
    EXPECT_EQ(series, "00000003");
    EXPECT_EQ(dom.Count("GetNextArchiveLog"), 2);
    EXPECT_TRUE(dom.marked.empty());
  }
  {
    // Another status: the number stays, the series is that of the answer.
    FakeDomino dom;
    dom.failures["GetFirstArchiveLog"] = 0x0222;
    DWORD number = 17;
    std::string series = "x";
    EXPECT_EQ(GetCurrentLogPosition(number, series), 0);
    EXPECT_EQ(number, 17u);
    EXPECT_EQ(series, "00000000");
  }
}

}  // namespace
