// The API's runtime start, names, paths, times, texts and database facts.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "platform/profile.h"
#include "platform/registry.h"
#include "sim_host.h"

using namespace dominosim;

namespace {

TEST(Api, RuntimeStartsFromArgumentsOrRegistry) {
  simtest::SimHost host;
  SimApi api;
  auto init = [&](std::string ini) {
    char* argv[] = {nullptr, ini.data()};
    return api.InitRuntime(2, argv);
  };
  char name[256];
  EXPECT_EQ(api.GetServerName(name), ERR_NOT_INITIALIZED);
  DBHANDLE h = 0;
  EXPECT_EQ(api.OpenDatabase(host.server().databases[0].c_str(), &h), ERR_NOT_INITIALIZED);
  EXPECT_EQ(api.InitRuntime(1, nullptr), ERR_INIT_ARGS);
  EXPECT_EQ(init("C:\\no-equals\\notes.ini"), ERR_INIT_ARGS);
  EXPECT_EQ(init("=C:\\nowhere\\notes.ini"), ERR_INI_NOT_FOUND);
  // No arguments: the installation the registry names ("Path" + notes.ini).
  ASSERT_EQ(api.InitRuntime(0, nullptr), NOERROR);
  ASSERT_EQ(api.GetServerName(name), NOERROR);
  EXPECT_STREQ(name, "CN=srv1/O=Org");
  EXPECT_EQ(api.OpenDatabase("D:\\Domino\\Data\\..\\x.nsf", &h), ERR_BAD_PATH);
  api.TermRuntime();
  ASSERT_EQ(platform::RegDeleteValue("SOFTWARE\\Lotus\\Domino\\5.0", "Path"), ERROR_SUCCESS);
  EXPECT_EQ(api.InitRuntime(0, nullptr), ERR_INI_NOT_FOUND);

  // A log directory on a drive that is not mapped: the runtime starts, the
  // log cannot be used, and nserver refuses to run.
  ASSERT_TRUE(platform::WritePrivateProfileString("Notes", "TRANSLOG_Path", "Q:\\Logs", host.server().notesIni));
  ASSERT_EQ(init("=" + host.server().notesIni), NOERROR);
  EXPECT_EQ(api.OpenDatabase(host.server().databases[0].c_str(), &h), ERR_LOG_NOT_FOUND);
  BYTE id[16];
  DWORD number = 0;
  char path[1024];
  EXPECT_EQ(api.GetFirstArchiveLog(id, &number, path), ERR_LOG_NOT_FOUND);
  api.TermRuntime();
  ChildProcess nserver(ProgramBesideTest("nserver"),
                       {"--root", host.root(), "--ini", host.server().notesIni, "--duration", "5"});
  EXPECT_NE(nserver.Wait(), 0);
}

// A name abbreviated into room bytes (out: what it leaves there), or a bad
// time refused with the cursor left alone.
struct Text { const char* what; bool time; const char* in; STATUS status; const char* out = ""; WORD room = 256; };
void PrintTo(const Text& t, std::ostream* os) { *os << t.what; }
const Text kTexts[] = {
    {"FullName", false, "CN=a b/OU=Unit/O=Org", NOERROR, "a b/Unit/Org"},
    {"PlainName", false, "plain", NOERROR, "plain"},
    {"NameTooLong", false, "CN=long/O=Org", ERR_BUFFER_SMALL, "long", 5},
    {"NoTime", true, "", ERR_BAD_TIME},
    {"BadDate", true, "13/40/2003 10:00:00", ERR_BAD_TIME},
    {"Words", true, "yesterday", ERR_BAD_TIME},
    {"BadDayAndHour", true, "2/30/2003 25:00:00", ERR_BAD_TIME},
};
struct ApiText : ::testing::TestWithParam<Text> {};

TEST_P(ApiText, NamesAndTimesAreConvertedOrRefused) {
  const Text& t = GetParam();
  SimApi api;
  char out[256];
  WORD length = 0;
  const char* cursor = t.in;
  TIMEDATE td;
  EXPECT_EQ(t.time ? api.TextToTimeDate(nullptr, nullptr, &cursor, WORD(std::strlen(t.in)), &td)
                   : api.AbbreviateName(0, 0, t.in, out, t.room, &length),
            t.status);
  EXPECT_STREQ(t.time ? cursor : out, t.time ? t.in : t.out);
}
INSTANTIATE_TEST_SUITE_P(Rows, ApiText, ::testing::ValuesIn(kTexts));

TEST(Api, PathsTimesAndErrorTexts) {
  SimApi api;
  char out[256];
  EXPECT_EQ(api.TranslatePath(1, "D:\\abc", 4, out, sizeof out), NOERROR);
  EXPECT_STREQ(out, "D:\\a");
  EXPECT_EQ(api.TranslatePath(1, "D:\\abc", 0xFFFF, out, 3), ERR_BUFFER_SMALL);

  TempHostRoot utc(HostOptions{"D", "", "", "", "UTC"});
  const char* text = "3/2/2003 09:05:03 rest";
  const char* cursor = text;
  TIMEDATE td;
  ASSERT_EQ(api.TextToTimeDate(nullptr, nullptr, &cursor, WORD(std::strlen(text)), &td), NOERROR);
  std::uint64_t ft = (std::uint64_t(td.Innards[1]) << 32) | td.Innards[0];
  EXPECT_EQ(ft, (std::uint64_t(1046595903) + 11644473600ull) * 10000000ull);  // 2003-03-02 09:05:03 UTC
  EXPECT_STREQ(cursor, " rest");

  // Every status the runtime returns has a text of its own.
  std::vector<STATUS> statuses = {ERR_NO_MORE_LOGS, ERR_LOGS_MISSING, ERR_DB_NOT_LOGGED, ERR_LOGGING_DISABLED};
  for (STATUS s = ERR_NOT_INITIALIZED; s <= ERR_LATE_BACKUP; ++s) statuses.push_back(s);
  std::set<std::string> texts;
  for (STATUS s : statuses) {
    const WORD n = api.GetErrorText(0, STATUS(s & ERR_MASK), out, sizeof out);
    EXPECT_EQ(n, std::strlen(out));
    EXPECT_EQ(std::string(out).find("Unknown"), std::string::npos) << std::hex << s;
    texts.insert(out);
  }
  EXPECT_EQ(texts.size(), statuses.size());
  EXPECT_EQ(api.GetErrorText(0, ERR_NOT_DATABASE & ERR_MASK, out, sizeof out), 22);
  EXPECT_STREQ(out, "File is not a database");
  EXPECT_EQ(api.GetErrorText(0, ERR_DB_CORRUPT, out, 8), 7);
  EXPECT_STREQ(out, "Databas");
  api.GetErrorText(0, 0x0123, out, sizeof out);
  EXPECT_STREQ(out, "Unknown error 0x0123");
}

// Logged and scratch databases of a server with and without logging.
struct Api : ::testing::TestWithParam<const char*> {};

TEST_P(Api, DatabaseFactsAndRecord) {
  InstallOptions options;
  options.logging = GetParam();
  simtest::SimHost host(options);
  simtest::Runtime rt(host.server().notesIni);
  ASSERT_EQ(rt.status, NOERROR);
  const bool logs = options.logging == "archive";
  DWORD style = 7, logged = 9, extent = 9, current = 0;
  BYTE logId[16], second[16], archiveId[16];
  char path[1024];
  EXPECT_EQ(rt.api.GetLoggingStyle(&style), logs ? NOERROR : ERR_LOGGING_DISABLED);
  EXPECT_EQ(rt.api.ArchiveBegin(), logs ? NOERROR : ERR_LOGGING_DISABLED);
  EXPECT_EQ(rt.api.GetFirstArchiveLog(archiveId, &current, path), logs ? ERR_NO_MORE_LOGS : ERR_LOGGING_DISABLED);
  DBHANDLE h = 0, u = 0;
  ASSERT_EQ(rt.api.OpenDatabase("D:\\Domino\\Data\\names.nsf", &h), NOERROR);
  ASSERT_EQ(rt.api.GetDatabaseLogInfo(h, 0, &logged, logId, second, &extent), NOERROR);
  EXPECT_EQ(logged, logs ? 1u : 0u);
  BYTE record[128];
  ASSERT_EQ(rt.api.ReadDatabaseRecord(h, record), NOERROR);
  EXPECT_STREQ(reinterpret_cast<char*>(record), "Directory");
  std::memset(record + 64, 0xAB, 64);
  ASSERT_EQ(rt.api.WriteDatabaseRecord(h, record), NOERROR);
  BYTE back[128];
  ASSERT_EQ(rt.api.ReadDatabaseRecord(h, back), NOERROR);
  EXPECT_EQ(std::memcmp(record, back, 128), 0);
  EXPECT_EQ(rt.api.ReadDatabaseRecord(999, record), ERR_BAD_HANDLE);
  if (!logs) return;
  EXPECT_EQ(style, 1u);
  EXPECT_EQ(extent, 1u);
  EXPECT_EQ(std::memcmp(logId, archiveId, 16), 0);  // the server's log id
  ASSERT_EQ(rt.api.OpenDatabase(host.server().databases.back().c_str(), &u), NOERROR);  // a scratch database
  ASSERT_EQ(rt.api.GetDatabaseLogInfo(u, 0, &logged, logId, second, &extent), NOERROR);
  EXPECT_EQ(logged, 0u);
  rt.api.TermRuntime();
  EXPECT_EQ(rt.api.ReadDatabaseRecord(h, record), ERR_BAD_HANDLE);  // handles end with the runtime
}
INSTANTIATE_TEST_SUITE_P(Rows, Api, ::testing::Values("archive", "none"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

}  // namespace
