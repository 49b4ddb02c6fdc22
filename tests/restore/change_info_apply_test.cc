// Applying change information: the file header, the 32,768-byte blocks,
// the file name of each database, and the damaged or failing cases.
#include <gtest/gtest.h>

#include "restore/change_info_apply.h"
#include "tests/support/mock_domino_api.h"
#include "tests/restore/restore_host.h"

using ::testing::_;

namespace {

const std::string kLedger = "L:\\ArkLedger\\srv1\\" + std::string(kSnapshotName);

std::string Header(std::uint32_t low, std::uint32_t high) {
  std::string bytes(8, '\0');
  for (int i = 0; i < 4; ++i) {
    bytes[i] = char(low >> (8 * i));
    bytes[4 + i] = char(high >> (8 * i));
  }
  return bytes;
}

// The runtime records each file's start (target and size words), blocks
// and end, and fails the step the test names.
class ChangeInfoApplyTest : public ::testing::Test {
 protected:
  ChangeInfoApplyTest() {
    ON_CALL(domino, ApplyChangeInfoStart(_, _, _, _, _))
        .WillByDefault([this](DWORD* context, const char* target, DWORD zero, DWORD low, DWORD high) {
          EXPECT_EQ(zero, 0u);
          *context = DWORD(100 + starts.size());
          starts.push_back(std::string(target) + " " + std::to_string(low) + " " + std::to_string(high));
          return startStatus;
        });
    ON_CALL(domino, ApplyChangeInfo(_, _, _, _)).WillByDefault([this](DWORD context, DWORD, const void* buffer, DWORD length) {
      blocks.push_back(length);
      applied[context].append(static_cast<const char*>(buffer), length);
      return blocks.size() == failBlock ? STATUS(0x0222) : STATUS(0);
    });
    ON_CALL(domino, ApplyChangeInfoEnd(_, _)).WillByDefault([this](DWORD context, DWORD) {
      ends.push_back(context);
      return endStatus;
    });
  }
  int Apply(std::vector<DatabaseEntry>& entries) { return ApplyChangeInformation(request, entries, kLedger, "D:"); }

  RestoreHost host;
  ::testing::NiceMock<IdleDominoApi> domino;
  RestoreRequest request = MakeRequest(1);
  std::vector<std::string> starts;
  std::vector<DWORD> blocks, ends;
  std::map<DWORD, std::string> applied;
  STATUS startStatus = 0, endStatus = 0;
  std::size_t failBlock = 0;  // 1-based; 0: none fails
};

TEST_F(ChangeInfoApplyTest, StreamsEachFileInWholeBlocksAndReportsTheBytes) {
  std::string data(32769, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = char(i * 7 + 3);
  WriteHostFile(host.Ledger("Domino/Data/mail/jo.nsf.dat"), Header(32769, 0) + data);
  WriteHostFile(host.Ledger("Domino/Data/empty.ntf.dat"), Header(0, 0));
  WriteHostFile(host.Ledger("Domino/Data/Big.nsf.dat"), Header(5, 1) + "hello");
  // none.nsf has no change information: nothing done, nothing said.
  auto entries = Entries({"D:\\Domino\\Data\\mail\\jo.nsf", "D:\\Domino\\Data\\none.nsf",
                          "D:\\Domino\\Data\\empty.ntf", "D:\\Domino\\Data\\Big.NSF"});

  ASSERT_EQ(Apply(entries), 0);
  EXPECT_EQ(starts, (std::vector<std::string>{"D:\\Domino\\Data\\mail\\jo.nsf 32769 0", "D:\\Domino\\Data\\empty.ntf 0 0",
                                              "D:\\Domino\\Data\\Big.NSF 5 1"}));
  EXPECT_EQ(blocks, (std::vector<DWORD>{32768, 1, 5}));
  EXPECT_EQ(applied[100], data);
  EXPECT_EQ(applied.count(101), 0u);  // the 8-byte file: no block
  EXPECT_EQ(applied[102], "hello");
  EXPECT_EQ(ends, (std::vector<DWORD>{100, 101, 102}));
  EXPECT_EQ(entries[0].changeInfoSizeLow, 32769u);
  EXPECT_EQ(entries[3].changeInfoSizeHigh, 1u);
  EXPECT_EQ(request.output.accumulated,
            "Applied 32769 bytes to D:\\Domino\\Data\\mail\\jo.nsf\r\n"
            "Applied 5 bytes to D:\\Domino\\Data\\Big.NSF\r\n");
}

TEST_F(ChangeInfoApplyTest, EachFailureNamesTheFileAndStops) {
  const std::string where = " D:\\Domino\\Data\\a.nsf from the change information file:\r\n" + kLedger +
                            "\\Domino\\Data\\a.nsf.dat\r\n";
  struct Case {
    std::function<void()> arrange;
    std::string said;  // the whole output, or its start
    std::size_t starts, blocks, ends;
  };
  const std::vector<Case> cases{
      {[&] { startStatus = 0x0111; },
       "ERROR: Could not activate 'apply change info mode' to restored database: " + where + "Domino status 0x0111", 1, 0, 0},
      {[&] { failBlock = 2; },
       "ERROR: Cannot apply change information to restore database: " + where + "Domino status 0x0222", 1, 2, 0},
      {[&] { endStatus = 0x0333; },
       "Applied 40000 bytes to D:\\Domino\\Data\\a.nsf\r\nERROR: Cannot end the application of change information to "
       "restore database: " + where + "Domino status 0x0333", 1, 2, 1},
      // Shorter than its header: the runtime never sees it, nor the next file.
      {[&] { WriteHostFile(host.Ledger("Domino/Data/a.nsf.dat"), std::string("\x05\0\0\0\0", 5)); },
       "ERROR: Change information file is damaged (shorter than its 8-byte header): " + kLedger +
           "\\Domino\\Data\\a.nsf.dat\r\n", 0, 0, 0},
      // A directory where the file should be: there, but unreadable as a file.
      {[&] { std::filesystem::remove(host.Ledger("Domino/Data/a.nsf.dat")), std::filesystem::create_directories(host.Ledger("Domino/Data/a.nsf.dat")); },
       "ERROR: Read error occured during reading of change information file into buffer: " + where, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.said);
    std::filesystem::remove_all(host.Ledger());
    WriteHostFile(host.Ledger("Domino/Data/a.nsf.dat"), Header(40000, 0) + std::string(40000, 'a'));
    WriteHostFile(host.Ledger("Domino/Data/b.nsf.dat"), Header(3, 0) + "xyz");
    starts.clear(), blocks.clear(), ends.clear();
    startStatus = endStatus = 0;
    failBlock = 0;
    request.output.accumulated.clear();
    c.arrange();
    auto entries = Entries({"D:\\Domino\\Data\\a.nsf", "D:\\Domino\\Data\\b.nsf"});
    EXPECT_EQ(Apply(entries), -1);
    EXPECT_EQ(request.output.accumulated.substr(0, c.said.size()), c.said);
    EXPECT_EQ(starts.size(), c.starts);
    EXPECT_EQ(blocks.size(), c.blocks);
    EXPECT_EQ(ends.size(), c.ends);
  }
}

}  // namespace
