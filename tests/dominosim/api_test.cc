// The API's runtime start, names, paths, times, texts and database facts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <set>

#include "dominosim/sim_api.h"
#include "dominosim/status.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "sim_host.h"

using namespace dominosim;

namespace {

STATUS Init(SimApi& api, const std::string& ini) {
  std::string arg = "=" + ini;
  char* argv[] = {nullptr, arg.data()};
  return api.InitRuntime(2, argv);
}

TEST(Api, RuntimeStartsFromArgumentsOrRegistry) {
  simtest::TempHost host;
  ASSERT_TRUE(host.ok()) << host.error();
  SimApi api;
  char name[256];
  EXPECT_EQ(api.GetServerName(name), ERR_NOT_INITIALIZED);
  DBHANDLE h = 0;
  EXPECT_EQ(api.OpenDatabase(host.server().databases[0].c_str(), &h), ERR_NOT_INITIALIZED);
  EXPECT_EQ(api.InitRuntime(1, nullptr), ERR_INIT_ARGS);
  char wrong[] = "C:\\no-equals\\notes.ini";
  char* argv[] = {nullptr, wrong};
  EXPECT_EQ(api.InitRuntime(2, argv), ERR_INIT_ARGS);
  EXPECT_EQ(Init(api, "C:\\nowhere\\notes.ini"), ERR_INI_NOT_FOUND);
  // No arguments: the installation the registry names ("Path" + notes.ini).
  ASSERT_EQ(api.InitRuntime(0, nullptr), NOERROR);
  ASSERT_EQ(api.GetServerName(name), NOERROR);
  EXPECT_STREQ(name, "CN=srv1/O=Org");
  WORD length = 0;
  ASSERT_EQ(api.AbbreviateName(0, 0, name, name, 256, &length), NOERROR);  // in place, as the engine does
  EXPECT_STREQ(name, "srv1/Org");
  EXPECT_EQ(length, 8);
  api.TermRuntime();
  ASSERT_EQ(platform::RegDeleteValue("SOFTWARE\\Lotus\\Domino\\5.0", "Path"), ERROR_SUCCESS);
  EXPECT_EQ(api.InitRuntime(0, nullptr), ERR_INI_NOT_FOUND);
  ASSERT_EQ(Init(api, host.server().notesIni), NOERROR);
  api.TermRuntime();
  // A log directory on a drive that is not mapped: the runtime starts, the
  // log cannot be used, and nothing is created anywhere else.
  ASSERT_TRUE(platform::WritePrivateProfileString("Notes", "TRANSLOG_Path", "Q:\\Logs", host.server().notesIni));
  ASSERT_EQ(Init(api, host.server().notesIni), NOERROR);
  DWORD style = 0;
  EXPECT_EQ(api.GetLoggingStyle(&style), NOERROR);
  EXPECT_EQ(style, 1u);
  EXPECT_EQ(api.OpenDatabase(host.server().databases[0].c_str(), &h), ERR_LOG_NOT_FOUND);
  BYTE id[16];
  DWORD number = 0;
  char path[1024];
  EXPECT_EQ(api.GetFirstArchiveLog(id, &number, path), ERR_LOG_NOT_FOUND);
  api.TermRuntime();
  std::string server = std::string(NSERVER_PATH) + " --root " + host.root() + " --ini '" + host.server().notesIni +
                       "' --duration 5 2>/dev/null";
  EXPECT_NE(std::system(server.c_str()), 0);
}

TEST(Api, NamesPathsTimesAndTexts) {
  SimApi api;
  char out[256];
  WORD length = 0;
  EXPECT_EQ(api.AbbreviateName(0, 0, "CN=a b/OU=Unit/O=Org", out, sizeof out, &length), NOERROR);
  EXPECT_STREQ(out, "a b/Unit/Org");
  EXPECT_EQ(api.AbbreviateName(0, 0, "plain", out, sizeof out, &length), NOERROR);
  EXPECT_STREQ(out, "plain");
  EXPECT_EQ(api.AbbreviateName(0, 0, "CN=long/O=Org", out, 5, &length), ERR_BUFFER_SMALL);
  EXPECT_STREQ(out, "long");
  EXPECT_EQ(api.TranslatePath(1, "D:\\Domino\\Data\\mail", 0xFFFF, out, sizeof out), NOERROR);
  EXPECT_STREQ(out, "D:\\Domino\\Data\\mail");
  EXPECT_EQ(api.TranslatePath(1, "D:\\abc", 4, out, sizeof out), NOERROR);
  EXPECT_STREQ(out, "D:\\a");
  EXPECT_EQ(api.TranslatePath(1, "D:\\abc", 0xFFFF, out, 3), ERR_BUFFER_SMALL);

  ::setenv("TZ", "UTC", 1);
  ::tzset();
  const char* text = "3/2/2003 09:05:03 rest";
  const char* cursor = text;
  TIMEDATE td;
  ASSERT_EQ(api.TextToTimeDate(nullptr, nullptr, &cursor, WORD(std::strlen(text)), &td), NOERROR);
  std::uint64_t ft = (std::uint64_t(td.Innards[1]) << 32) | td.Innards[0];
  // 2003-03-02 09:05:03 UTC as 100 ns since 1601.
  EXPECT_EQ(ft, (std::uint64_t(1046595903) + 11644473600ull) * 10000000ull);
  EXPECT_STREQ(cursor, " rest");
  for (const char* bad : {"", "13/40/2003 10:00:00", "yesterday", "2/30/2003 25:00:00"}) {
    cursor = bad;
    EXPECT_EQ(api.TextToTimeDate(nullptr, nullptr, &cursor, WORD(std::strlen(bad)), &td), ERR_BAD_TIME) << bad;
    EXPECT_EQ(cursor, bad);
  }

  // Every status the runtime returns has a text of its own.
  const STATUS all[] = {ERR_NO_MORE_LOGS, ERR_LOGS_MISSING, ERR_DB_NOT_LOGGED, ERR_LOGGING_DISABLED};
  std::vector<STATUS> statuses(std::begin(all), std::end(all));
  for (STATUS s = ERR_NOT_INITIALIZED; s <= ERR_DB_EXISTS; ++s) statuses.push_back(s);
  std::set<std::string> texts;
  for (STATUS s : statuses) {
    char buffer[200];
    WORD n = api.GetErrorText(0, STATUS(s & ERR_MASK), buffer, sizeof buffer);
    EXPECT_EQ(n, std::strlen(buffer));
    EXPECT_EQ(std::string(buffer).find("Unknown"), std::string::npos) << std::hex << s;
    texts.insert(buffer);
  }
  EXPECT_EQ(texts.size(), statuses.size());
  char small[8];
  EXPECT_EQ(api.GetErrorText(0, ERR_DB_CORRUPT, small, sizeof small), 7);
  EXPECT_STREQ(small, "Databas");
  char unknown[64];
  api.GetErrorText(0, 0x0123, unknown, sizeof unknown);
  EXPECT_STREQ(unknown, "Unknown error 0x0123");
}

TEST(Api, DatabaseFactsAndRecord) {
  simtest::TempHost host;
  ASSERT_TRUE(host.ok()) << host.error();
  SimApi api;
  ASSERT_EQ(Init(api, host.server().notesIni), NOERROR);
  DBHANDLE h = 0;
  ASSERT_EQ(api.OpenDatabase("D:\\Domino\\Data\\names.nsf", &h), NOERROR);
  DWORD logged = 0, extent = 0;
  BYTE logId[16], second[16];
  ASSERT_EQ(api.GetDatabaseLogInfo(h, 0, &logged, logId, second, &extent), NOERROR);
  EXPECT_EQ(logged, 1u);
  EXPECT_EQ(extent, 1u);
  BYTE archiveId[16];
  DWORD current = 0;
  char path[1024];
  EXPECT_EQ(api.GetFirstArchiveLog(archiveId, &current, path), ERR_NO_MORE_LOGS);
  EXPECT_EQ(std::memcmp(logId, archiveId, 16), 0);  // the server's log id
  BYTE record[128];
  ASSERT_EQ(api.ReadDatabaseRecord(h, record), NOERROR);
  EXPECT_STREQ(reinterpret_cast<char*>(record), "Directory");
  std::memset(record + 64, 0xAB, 64);
  ASSERT_EQ(api.WriteDatabaseRecord(h, record), NOERROR);
  BYTE back[128];
  ASSERT_EQ(api.ReadDatabaseRecord(h, back), NOERROR);
  EXPECT_EQ(std::memcmp(record, back, 128), 0);
  // The record change is logged: the next database record goes to the log.
  LogControl control;
  LogOptions lo;
  lo.dir = host.Config().logDirHost;
  std::unique_ptr<TxnLog> log;
  ASSERT_EQ(TxnLog::Open(lo, log), NOERROR);
  ASSERT_EQ(log->ReadControl(control), NOERROR);
  EXPECT_EQ(control.nextLsn, 2u);
  DBHANDLE u = 0;
  ASSERT_EQ(api.OpenDatabase(host.server().databases.back().c_str(), &u), NOERROR);  // a scratch database
  ASSERT_EQ(api.GetDatabaseLogInfo(u, 0, &logged, logId, second, &extent), NOERROR);
  EXPECT_EQ(logged, 0u);
  EXPECT_EQ(api.ReadDatabaseRecord(999, back), ERR_BAD_HANDLE);
  api.TermRuntime();
  EXPECT_EQ(api.ReadDatabaseRecord(h, back), ERR_BAD_HANDLE);  // handles end with the runtime
}

}  // namespace
