// The log_hint, disabled_databases and change_info_list files and the live
// log position.
#include <gtest/gtest.h>

#include "backup/hint_files.h"
#include "fake_domino.h"
#include "platform/files.h"
#include "test_host.h"

namespace {

std::array<BYTE, 16> Id(DWORD a, DWORD b, DWORD c, DWORD d) {
  std::array<BYTE, 16> id{};
  const DWORD w[4] = {a, b, c, d};
  for (int i = 0; i < 16; ++i) id[i] = BYTE((w[i / 4] >> (8 * (i % 4))) & 0xFF);
  return id;
}

TEST(HintFiles, LogHintHoldsExtentLineAndSeriesAndReadsBack) {
  TestHost host;
  EXPECT_EQ(LogSeries(Id(1, 2, 4, 8)), "0000000f");
  EXPECT_EQ(LogSeries(Id(0xdeadbeef, 0xdeadbeef, 7, 7)), "00000000");
  EXPECT_EQ(LogSeries(Id(0x80000000, 0, 0, 0x0a)), "8000000a");

  std::filesystem::create_directories(host.Host("volumes/L/s"));
  std::string path;
  host.WriteFile("volumes/L/s/log_hint", std::string(100, 'x'));  // truncated, not extended
  ASSERT_EQ(WriteLogHint("L:\\s\\", 4294967295u, Id(1, 2, 4, 8), path), 0);
  EXPECT_EQ(path, "L:\\s\\log_hint");
  EXPECT_EQ(host.ReadFile("volumes/L/s/log_hint"), "4294967295\r\n0000000f");

  DWORD extent = 0;
  std::string series, readPath;
  ASSERT_EQ(ReadLogHint("L:\\s", extent, series, readPath), 0);
  EXPECT_EQ(extent, 4294967295u);
  EXPECT_EQ(series, "0000000f");
  EXPECT_EQ(readPath, "L:\\s\\log_hint");

  // Bad content leaves the outputs as they were; a missing file says -1.
  for (const char* content : {"garbage\r\n0000000f", "", "\r\n\r\n"}) {
    host.WriteFile("volumes/L/t/log_hint", content);
    extent = 99;
    series = "keep";
    EXPECT_EQ(ReadLogHint("L:\\t", extent, series, readPath), 0);
    EXPECT_EQ(extent, 99u);
    EXPECT_EQ(series, "keep");
  }
  readPath = "untouched";
  EXPECT_EQ(ReadLogHint("L:\\missing", extent, series, readPath), -1);
  EXPECT_EQ(readPath, "untouched");
  EXPECT_EQ(WriteLogHint("L:\\missing\\deeper", 1, Id(1, 2, 4, 8), path), -1);
  EXPECT_EQ(path, "L:\\missing\\deeper\\log_hint");
}

TEST(HintFiles, DisabledDatabasesOnePathPerLine) {
  TestHost host;
  std::filesystem::create_directories(host.Host("volumes/L/s"));
  std::string path, readPath;
  const std::vector<std::string> disabled{"D:\\Data\\my mail.nsf", "D:\\Data\\b.ntf"};
  ASSERT_EQ(WriteDisabledDatabases("L:\\s", disabled, path), 0);
  EXPECT_EQ(path, "L:\\s\\disabled_databases");
  EXPECT_EQ(host.ReadFile("volumes/L/s/disabled_databases"), "D:\\Data\\my mail.nsf\r\nD:\\Data\\b.ntf\r\n");
  std::vector<std::string> read{"kept"};
  ASSERT_EQ(ReadDisabledDatabases("L:\\s\\", read, readPath), 0);
  EXPECT_EQ(read, (std::vector<std::string>{"kept", disabled[0], disabled[1]}));

  // Blank lines and either line end; no empty entries.
  host.WriteFile("volumes/L/t/disabled_databases", "\r\nD:\\a b\\c.nsf\n\n   \r\nD:\\d.nsf\r\n\r\nD:\\e.nsf");
  read.clear();
  ASSERT_EQ(ReadDisabledDatabases("L:\\t", read, readPath), 0);
  EXPECT_EQ(read, (std::vector<std::string>{"D:\\a b\\c.nsf", "D:\\d.nsf", "D:\\e.nsf"}));

  ASSERT_EQ(WriteDisabledDatabases("L:\\s", {}, path), 0);
  EXPECT_EQ(host.ReadFile("volumes/L/s/disabled_databases"), "");

  read = {"x"};
  readPath = "untouched";
  EXPECT_EQ(ReadDisabledDatabases("L:\\missing", read, readPath), -1);
  EXPECT_EQ(read, std::vector<std::string>{"x"});
  EXPECT_EQ(readPath, "untouched");
  EXPECT_EQ(WriteDisabledDatabases("Q:\\unmapped", disabled, path), -1);
  EXPECT_EQ(path, "Q:\\unmapped\\disabled_databases");
}

TEST(HintFiles, ChangeInfoListSizeAndPathPerLine) {
  TestHost host;
  std::string path;
  std::vector<ChangeInfoListEntry> read;
  // A path may hold blanks; a line that is not a size and a path is refused, with its number.
  host.WriteFile("volumes/L/s/change_info_list", "8 Data\\my mail.nsf.dat\r\n\r\n4294967304 b.ntf.dat");
  ASSERT_EQ(ReadChangeInfoList("L:\\s\\", read, path), 0);
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[0].relativePath, "Data\\my mail.nsf.dat");
  EXPECT_EQ(read[1].size, 4294967304u);
  for (const char* bad : {"12\r\n", "x Data\\a.nsf.dat\r\n", "12  \r\n", "99999999999999999999 a.nsf.dat\r\n"}) {
    SCOPED_TRACE(bad);
    host.WriteFile("volumes/L/t/change_info_list", std::string("\r\n8 ok.nsf.dat\n") + bad);
    read.clear();
    std::size_t badLine = 0;
    EXPECT_EQ(ReadChangeInfoList("L:\\t", read, path, &badLine), -2);
    EXPECT_EQ(badLine, 3u);
    EXPECT_TRUE(read.empty());
  }
  EXPECT_EQ(ReadChangeInfoList("L:\\missing", read, path), -1);
  EXPECT_EQ(WriteChangeInfoList("Q:\\unmapped", {{8, "a.nsf.dat"}}, path), -1);
}

// A hint file that cannot be flushed to the disk, or whose folders cannot,
// counts as not written: a restore must not rely on it.
TEST(HintFiles, AFileThatCannotBeFlushedIsNotWritten) {
  TestHost host;
  std::filesystem::create_directories(host.Host("volumes/L/s"));
  std::string path;
  for (const std::string failing : {"L:\\s\\log_hint", "L:\\"}) {
    platform::FlushOverride flushes(
        [&](const std::string& flushed) { return flushed == failing ? ERROR_WRITE_FAULT : ERROR_SUCCESS; });
    EXPECT_EQ(WriteLogHint("L:\\s", 7, Id(1, 2, 4, 8), path), -1) << failing;
    EXPECT_EQ(WriteDisabledDatabases("L:\\s", {}, path), failing == "L:\\" ? -1 : 0) << failing;
  }
}

TEST(HintFiles, CurrentLogPositionWalksTheArchivableLogs) {
  TestHost host;
  FakeDomino dom;
  std::memcpy(dom.currentLogId, Id(1, 2, 4, 8).data(), 16);
  DWORD number = 5;
  std::string series;
  EXPECT_EQ(GetCurrentLogPosition(number, series), 0);  // no archivable log, number 0: 1
  EXPECT_EQ(number, 1u);
  EXPECT_EQ(series, "0000000f");

  dom.logs = {{40, "E:\\Logs\\S0000040.TXN"}, {41, "E:\\Logs\\S0000041.TXN"}};
  dom.currentLog = 43;
  EXPECT_EQ(GetCurrentLogPosition(number, series), 0);
  EXPECT_EQ(number, 43u);
  EXPECT_EQ(dom.Count("GetNextArchiveLog"), 2);
  EXPECT_EQ(dom.Count("ArchiveBegin"), 0);
  EXPECT_TRUE(dom.marked.empty());

  dom.failures["GetFirstArchiveLog"] = 0x0222;  // another status: the number stays
  number = 17;
  EXPECT_EQ(GetCurrentLogPosition(number, series), 0);
  EXPECT_EQ(number, 17u);
}

}  // namespace
