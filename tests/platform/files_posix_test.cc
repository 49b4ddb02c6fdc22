// What the POSIX layer adds to files by Windows path: links, exact times,
// a copy cut short, errno translation and the message table.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.h"
#include "platform/kit/errno_map.h"
#include "platform/kit/file_io.h"
#include "tests/support/temp_host.h"

namespace fs = std::filesystem;

namespace platform {
namespace {

TEST(FilesPosix, LinksStayInsideACopyKeepsTheExactTimeAndACutCopyLeavesNothing) {
  TempHostRoot root;
  const fs::path d = root.D();
  fs::create_directories(d / "Data" / "Mail");
  ASSERT_EQ(::symlink((d / "Data" / "Mail").c_str(), (d / "Data" / "link").c_str()), 0);
  ASSERT_EQ(::symlink("/nonexistent", (d / "Data" / "dangling").c_str()), 0);
  std::vector<DirectoryName> names;
  ASSERT_EQ(ListDirectoryNames("D:\\Data", names), ERROR_SUCCESS);
  std::vector<std::pair<std::string, bool>> got;
  for (const DirectoryName& n : names) got.emplace_back(n.name, n.directory);
  EXPECT_EQ(got, (std::vector<std::pair<std::string, bool>>{{"dangling", false}, {"link", true}, {"Mail", true}}));

  // A symbolic link inside the tree goes, what it points to stays.
  WriteHostFile(root.path() / "outside" / "precious", "P");
  fs::create_directories(d / "tree" / "sub");
  ASSERT_EQ(::symlink((root.path() / "outside").c_str(), (d / "tree" / "sub" / "link").c_str()), 0);
  EXPECT_EQ(DeleteTree("D:\\tree"), ERROR_SUCCESS);
  EXPECT_EQ(ReadHostFile(root.path() / "outside" / "precious"), "P");

  // A file reached through a link has one canonical name, open or not (the
  // simulated runtime keys a database's state by it).
  WriteHostFile(d / "Data" / "Mail" / "a.nsf", "A");
  const kit::UniqueFd open = kit::OpenFile((d / "Data" / "link" / "a.nsf").string(), O_RDONLY);
  std::string byPath, byOpen;
  ASSERT_EQ(kit::CanonicalPath((d / "Data" / "link" / "a.nsf").string(), byPath), 0);
  ASSERT_EQ(kit::CanonicalPathOfOpen(open.get(), (d / "Data" / "link" / "a.nsf").string(), byOpen), 0);
  EXPECT_EQ(byOpen, byPath);
  EXPECT_EQ(byPath, fs::canonical(d / "Data" / "Mail" / "a.nsf").string());

  // A copy keeps the exact time of its source.
  WriteHostFile(d / "src" / "big.nsf", std::string(3 << 20, 'b'));
  fs::create_directories(d / "dst");
  const struct timespec times[2] = {{1'000'000'000, 0}, {1'100'000'000, 123'456'700}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (d / "src" / "big.nsf").c_str(), times, 0), 0);
  ASSERT_EQ(CopyFile("D:\\src\\big.nsf", "D:\\dst\\big.nsf", true), ERROR_SUCCESS);
  FILETIME copied;
  ASSERT_EQ(GetLastWriteTime("D:\\dst\\big.nsf", copied), ERROR_SUCCESS);
  EXPECT_EQ(FileTimeToU64(copied), (1'100'000'000ull + 11'644'473'600ull) * 10'000'000 + 1'234'567);

  // A copy that fails half-way (the file size limit stands in for a full
  // disk) leaves neither a target nor a temporary file behind.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const struct rlimit limit = {1 << 20, 1 << 20};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ::_exit(static_cast<int>(CopyFile("D:\\src\\big.nsf", "D:\\dst\\cut.nsf", false)));
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(static_cast<DWORD>(WEXITSTATUS(status)), kit::ERROR_FILE_TOO_LARGE);
  EXPECT_EQ(std::distance(fs::directory_iterator(d / "dst"), fs::directory_iterator()), 1);
}

// What the calls of the portable tests do not reach: a read-only volume, a
// failure without errno; and the texts Windows gives.
// The runtime keys a database's state by its canonical path: every way of
// naming one file gives the same path, a missing one an error.
TEST(FilesPosix, CanonicalPathAndReadAhead) {
  TempHostRoot root;
  const fs::path d = root.D();
  WriteHostFile(d / "Data" / "Mail" / "a.nsf", "12345");
  ASSERT_EQ(::symlink((d / "Data" / "Mail").c_str(), (d / "Data" / "link").c_str()), 0);
  ASSERT_EQ(::symlink((d / "Data" / "gone").c_str(), (d / "Data" / "dangling").c_str()), 0);
  std::string real;
  ASSERT_EQ(kit::CanonicalPath((d / "Data" / "Mail" / "a.nsf").string(), real), 0);
  EXPECT_EQ(real, fs::canonical(d / "Data" / "Mail" / "a.nsf").string());
  for (const fs::path& way : {d / "Data" / "link" / "a.nsf", d / "Data" / "Mail" / ".." / "Mail" / "." / "a.nsf"}) {
    std::string got;
    EXPECT_EQ(kit::CanonicalPath(way.string(), got), 0) << way;
    EXPECT_EQ(got, real) << way;
  }
  std::string none = "unchanged";
  EXPECT_EQ(kit::CanonicalPath((d / "Data" / "dangling").string(), none), ENOENT);
  EXPECT_EQ(kit::CanonicalPath((d / "Data" / "Mail" / "a.nsf" / "x").string(), none), ENOTDIR);
  EXPECT_EQ(none, "unchanged");

  // A read-ahead hint counts the bytes it asked for, at most the file's.
  EXPECT_EQ(ReadAheadFile("D:\\Data\\Mail\\a.nsf", 3), 3u);
  EXPECT_EQ(ReadAheadFile("D:\\Data\\Mail\\a.nsf", 1000), 5u);
  EXPECT_EQ(ReadAheadFile("D:\\Data\\Mail\\missing.nsf", 1000), 0u);
  EXPECT_EQ(ReadAheadFile("D:\\Data\\Mail", 1000), 0u);
}

TEST(FilesPosix, ErrnoAndMessages) {
  EXPECT_EQ(kit::Win32FromErrno(EROFS), kit::ERROR_WRITE_PROTECT);
  EXPECT_EQ(kit::HresultFromErrno(0), HRESULT_FROM_WIN32(kit::ERROR_GEN_FAILURE));
  EXPECT_EQ(FormatMessage(ERROR_FILE_NOT_FOUND), "The system cannot find the file specified.");
  EXPECT_EQ(FormatMessage(ERROR_ALREADY_EXISTS), "Cannot create a file when that file already exists.");
  EXPECT_EQ(FormatMessage(kit::ERROR_WRITE_PROTECT), "The media is write protected.");
  EXPECT_EQ(FormatMessageHr(REGDB_E_CLASSNOTREG), "Class not registered");
  EXPECT_EQ(FormatMessageHr(E_NOINTERFACE), "No such interface supported");
}

}  // namespace
}  // namespace platform
