// Restoring one database while the server runs: a saved copy recovered at
// another path to a moment or to the end, with the ids asked for; the
// original taken offline, replaced and recovered in place, left alone by
// the running server until it is online.
#include <gtest/gtest.h>

#include <filesystem>

#include "sim_host.h"

using namespace dominosim;
namespace fs = std::filesystem;

namespace {

DbHeader HeaderOf(const std::string& hostPath) {
  const std::string bytes = ReadHostFile(hostPath);
  DbHeader header;
  EXPECT_EQ(DecodeHeader(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), header), NOERROR);
  return header;
}

// One recovery of the copy: its options, whether the moment is passed, what
// the copy is, and what comes of it (content: that of the original at the
// moment, else at the end).
enum class Copy { Saved, Live };
struct Case { const char* what; DWORD options; bool timeGiven; Copy copy; STATUS status; WORD position = 0; };
void PrintTo(const Case& c, std::ostream* os) { *os << c.what; }
const Case kCases[] = {
    {"ToTheMoment", DBRECOVER_POINT_IN_TIME | DBRECOVER_ZAP_ID, true, Copy::Saved, NOERROR},
    {"ToTheEndNewInstance", DBRECOVER_ZAP_ID, true, Copy::Saved, NOERROR},
    {"NewReplicaId", DBRECOVER_ZAP_ID | DBRECOVER_ZAP_REPLICAID, false, Copy::Saved, NOERROR},
    {"KeepsItsIds", DBRECOVER_WAIT, true, Copy::Saved, NOERROR},
    {"LaterThanTheMoment", DBRECOVER_POINT_IN_TIME, true, Copy::Live, ERR_LATE_BACKUP, 1},
    {"MomentMissing", DBRECOVER_POINT_IN_TIME, false, Copy::Saved, ERR_BAD_ARGUMENT},
    {"RefreshWithNewId", DBRECOVER_REFRESH_BACKUP | DBRECOVER_ZAP_ID, true, Copy::Saved, ERR_BAD_ARGUMENT},
    {"AlternatePath", DBRECOVER_ALT_RETRIEVE_PATH, true, Copy::Saved, ERR_BAD_ARGUMENT},
};

// A logged database saved aside (its backup), then two runs of the server
// with a moment between them; the content of the original at the moment
// and at the end.
struct SingleRestore : ::testing::TestWithParam<Case> {
  simtest::SimHost host;
  ServerConfig config = host.Config();
  simtest::Runtime runtime{host.server().notesIni};
  SimApi& api = runtime.api;
  std::string win = host.server().databases.front(), saved = ReadHostFile(host.Host(win));
  std::string copyWin = JoinWin(host.server().dataDirectory, "restored\\copy.nsf");
  std::uint64_t moment = 0;
  std::string atMoment, atEnd, printed;
  WORD position = 9;

  void SetUp() override {
    ASSERT_EQ(runtime.status, NOERROR);
    auto any = [](const LogControl&) { return true; };
    simtest::RunServer(host, "4", any, 400);
    atMoment = Content(host.Host(win));
    // Every transaction so far committed before the moment, every later one at or after it.
    moment = platform::kit::NowFileTime() + 1;
    while (platform::kit::NowFileTime() < moment) {
    }
    simtest::RunServer(host, "5", any, 400);
    atEnd = Content(host.Host(win));
    ASSERT_NE(atMoment, atEnd) << "the second run left the database alone";
  }
  std::string Content(const std::string& hostPath) {
    std::string hex;
    EXPECT_EQ(DigestDatabaseContent(hostPath, config.stateDirHost, &hex), NOERROR);
    return hex;
  }
  STATUS Recover(const std::string& path, DWORD options, TIMEDATE* time) {
    const std::string packed = path + '\0' + '\0';
    ::testing::internal::CaptureStdout();
    const STATUS s = api.RecoverDatabaseList(packed.data(), nullptr, options, &position, time);
    printed = ::testing::internal::GetCapturedStdout();
    return s;
  }
};

TEST_P(SingleRestore, CopyRecoversToItsMomentWithTheIdsAskedOrIsRefusedUntouched) {
  const Case& c = GetParam();
  const std::string copy = host.Host(copyWin);
  fs::create_directories(fs::path(copy).parent_path());
  WriteHostFile(copy, c.copy == Copy::Saved ? saved : ReadHostFile(host.Host(win)));
  const std::string before = ReadHostFile(copy);
  TIMEDATE time;
  time.Innards[0] = DWORD(moment);
  time.Innards[1] = DWORD(moment >> 32);
  EXPECT_EQ(Recover(copyWin, c.options, c.timeGiven ? &time : nullptr), c.status) << printed;
  EXPECT_EQ(position, c.position);
  if (c.status != NOERROR) {
    EXPECT_EQ(ReadHostFile(copy), before);
    return;
  }
  const bool toMoment = (c.options & DBRECOVER_POINT_IN_TIME) != 0;
  EXPECT_EQ(Content(copy), toMoment ? atMoment : atEnd) << printed;
  const DbHeader original = HeaderOf(host.Host(win)), recovered = HeaderOf(copy);
  EXPECT_EQ(recovered.instanceId != original.instanceId, c.options != DBRECOVER_WAIT);
  auto replicaId = [](const DbHeader& h) { return std::string(h.dbRecord.begin() + kRecordReplicaId, h.dbRecord.begin() + kRecordFree); };
  EXPECT_EQ(replicaId(recovered) != replicaId(original), (c.options & DBRECOVER_ZAP_REPLICAID) != 0);
  // The time of the last transaction in the copy comes back.
  const std::uint64_t last = (std::uint64_t(time.Innards[1]) << 32) | time.Innards[0];
  if (c.timeGiven) {
    EXPECT_EQ(last < moment, toMoment) << last << " " << moment;
  }
}
INSTANTIATE_TEST_SUITE_P(Rows, SingleRestore, ::testing::ValuesIn(kCases));

TEST_F(SingleRestore, OfflineDatabaseIsRecoveredInPlaceAndLeftAloneUntilOnline) {
  // Refused, nothing changed: options, a missing file, a database in backup mode.
  DBHANDLE h = 0;
  DWORD context = 0;
  ASSERT_EQ(api.OpenDatabase(win.c_str(), &h), NOERROR);
  ASSERT_EQ(api.BackupStart(h, 0, &context, nullptr, nullptr), NOERROR);
  EXPECT_EQ(api.TakeDatabaseOffline(win.c_str(), 0, 0), ERR_DBINUSE);
  EXPECT_EQ(api.TakeDatabaseOffline(win.c_str(), 0, 1), ERR_BAD_ARGUMENT);
  EXPECT_EQ(api.TakeDatabaseOffline(copyWin.c_str(), 0, 0), ERR_FILE_NOT_FOUND);
  EXPECT_EQ(api.BackupEnd(h, context, 1), NOERROR);
  EXPECT_TRUE(fs::exists(host.Host(win)));

  ChildProcess server(ProgramBesideTest("nserver"),
                      {"--root", host.root(), "--ini", host.server().notesIni, "--rate", "0", "--seed", "6"});
  ASSERT_TRUE(simtest::WaitForRecords(config.logDirHost, 100));
  // Its last state stays reachable through a second name.
  const std::string last = config.dataDirHost + "/last-state.bak";
  fs::create_hard_link(host.Host(win), last);
  ASSERT_EQ(api.TakeDatabaseOffline(win.c_str(), 10000, 0), NOERROR);
  EXPECT_FALSE(fs::exists(host.Host(win)));
  // The saved copy in its place, recovered there while the server appends to the log.
  WriteHostFile(host.Host(win), saved);
  BYTE record[128] = {};
  EXPECT_EQ(api.WriteDatabaseRecord(h, record), ERR_DB_OFFLINE);
  EXPECT_EQ(api.OpenDatabase(win.c_str(), &h), ERR_DB_OFFLINE);
  ASSERT_EQ(Recover(win, DBRECOVER_ZAP_ID, nullptr), NOERROR) << printed;
  EXPECT_EQ(Content(host.Host(win)), Content(last));
  const std::string restored = ReadHostFile(host.Host(win));
  ASSERT_TRUE(simtest::WaitForRecords(config.logDirHost, 600));
  EXPECT_EQ(ReadHostFile(host.Host(win)), restored) << "written while offline";

  ASSERT_EQ(api.BringDatabaseOnline(win.c_str(), 0), NOERROR);
  bool written = false;
  for (int i = 0; i < 2000 && !written; ++i, ::usleep(10000)) written = ReadHostFile(host.Host(win)) != restored;
  EXPECT_TRUE(written) << "the server did not take the database back";
  if (server.id() > 0) ::kill(server.id(), SIGTERM);
  const std::string output = server.ReadAll(20000);
  EXPECT_EQ(server.Wait(), 0);
  EXPECT_NE(output.find("is offline"), std::string::npos) << output;
  EXPECT_EQ(output.find("failed"), std::string::npos) << output;
  ASSERT_EQ(api.OpenDatabase(win.c_str(), &h), NOERROR);

  // The tool's content digest is the one compared above.
  ChildProcess tool(ProgramBesideTest("dominosim"),
                    {"digest", "--content", "--root", host.root(), "--ini", host.server().notesIni});
  EXPECT_NE(tool.ReadAll(20000).find(win + " " + Content(host.Host(win))), std::string::npos);
}

}  // namespace
