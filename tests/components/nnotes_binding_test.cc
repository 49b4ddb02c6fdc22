// The binding of nnotes.dll (Windows): a library that is missing, is not a
// library of this machine, or lacks an ordinal fails the runtime start with
// a message naming the file or the ordinal, and the next start tries again;
// the stand-in library binds and answers through every ordinal it is called by.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "domino/nnotes_binding.h"
#include "tests/support/temp_host.h"

namespace {

std::string TextOf(ark::NnotesApi& api, STATUS status) {
  char buffer[256];
  api.GetErrorText(0, status, buffer, sizeof buffer);
  return buffer;
}

// The library bound: under the host root, or a path of its own.
struct Failure { const char* what; const char* library; bool underHost; const char* expected; };
void PrintTo(const Failure& f, std::ostream* os) { *os << f.what; }
const Failure kFailures[] = {
    {"Missing", "missing\\nnotes.dll", true, "missing"},
    {"NotALibrary", "text.dll", true, "not a 64-bit library"},
    {"LacksAnOrdinal", RESOURCE_ONLY_DLL, false, "ordinal 15 (InitRuntime) is missing"},
};
struct NnotesBinding : ::testing::TestWithParam<Failure> {
  TempHostRoot host;
};

TEST_P(NnotesBinding, FailuresNameTheFileOrTheOrdinal) {
  const Failure& f = GetParam();
  WriteHostFile(host.path() / "text.dll", "not a library");
  const std::string library = f.underHost ? (host.path() / f.library).string() : f.library;
  ark::NnotesApi api;
  api.SetLibraryPathForTest(library);
  EXPECT_EQ(api.InitRuntime(0, nullptr), ERR_NO_RUNTIME);
  EXPECT_NE(api.failure().find(library), std::string::npos) << api.failure();
  EXPECT_NE(api.failure().find(f.expected), std::string::npos) << api.failure();
  // The failure is the text of the status, and every call fails alike.
  EXPECT_EQ(TextOf(api, ERR_NO_RUNTIME), api.failure());
  DBHANDLE handle = 0;
  EXPECT_EQ(api.OpenDatabase("D:\\x.nsf", &handle), ERR_NO_RUNTIME);
}
INSTANTIATE_TEST_SUITE_P(Rows, NnotesBinding, ::testing::ValuesIn(kFailures));

// The stand-in: a runtime start for a notes.ini that does not exist is the
// library's own failure, with the library's own text.
TEST_F(NnotesBinding, TheStandInBindsAndAnswersWithItsOwnTexts) {
  ark::NnotesApi api;
  api.SetLibraryPathForTest(STAND_IN_NNOTES);
  const std::string ini = "=" + (host.path() / "nowhere" / "notes.ini").string();
  char* argv[] = {nullptr, const_cast<char*>(ini.c_str())};
  const STATUS status = api.InitRuntime(2, argv);
  EXPECT_NE(status, NOERROR);
  EXPECT_NE(status, ERR_NO_RUNTIME);
  EXPECT_EQ(api.failure(), "");
  EXPECT_FALSE(TextOf(api, status).empty());
  EXPECT_EQ(TextOf(api, ERR_LOGS_MISSING), "Recovery needs transaction log files that could not be found");
}

}  // namespace
