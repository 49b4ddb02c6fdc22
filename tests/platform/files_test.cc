#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "file_util.h"
#include "platform/posix/kit/errno_map.h"
#include "platform/registry.h"
#include "temp_root.h"

namespace platform {
namespace {

using testing::ReadHost;
using testing::TempRoot;
using testing::WriteHost;

// A root whose drive D: is DIR/D.
class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    d_ = root_.MakeDir("D");
    ASSERT_EQ(RegSetString("SYSTEM\\CurrentControlSet\\Control\\Session Manager\\DOS Devices", "D:", d_),
              ERROR_SUCCESS);
  }
  std::vector<std::string> HostNames(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
      while (const dirent* e = ::readdir(d)) names.emplace_back(e->d_name);
      ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  std::vector<std::string> Found(const std::string& pattern, DWORD expected = ERROR_SUCCESS) {
    std::vector<FindData> found;
    EXPECT_EQ(FindFiles(pattern, found), expected) << pattern;
    std::vector<std::string> names;
    for (const FindData& f : found) names.push_back(f.name);
    return names;
  }

  TempRoot root_;
  std::string d_;
};

using Names = std::vector<std::string>;

TEST_F(FilesTest, FindFilesMatchesAsWindowsDoes) {
  root_.MakeDir("D/Data");
  root_.MakeDir("D/Data/mail");
  for (const char* name : {"a.nsf", "B.NSF", "readme", "x.ntf", "ab.nsf"}) {
    WriteHost(d_ + "/Data/" + name, "12345");
  }
  EXPECT_EQ(Found("D:\\Data\\*.*"), (Names{".", "..", "a.nsf", "ab.nsf", "B.NSF", "mail", "readme", "x.ntf"}));
  EXPECT_EQ(Found("D:\\Data\\*"), Found("D:\\Data\\*.*"));
  EXPECT_EQ(Found("D:/Data/*.NSF"), (Names{"a.nsf", "ab.nsf", "B.NSF"}));
  EXPECT_EQ(Found("D:\\Data\\?.nsf"), (Names{"a.nsf", "B.NSF"}));
  EXPECT_EQ(Found("D:\\Data\\readme.*"), (Names{"readme"}));
  EXPECT_EQ(Found("D:\\Data\\*."), (Names{".", "..", "mail", "readme"}));
  EXPECT_EQ(Found("D:\\Data\\MAIL"), (Names{"mail"}));
  EXPECT_EQ(Found("D:\\Data\\*.box", ERROR_FILE_NOT_FOUND), Names{});
  EXPECT_EQ(Found("D:\\Data\\mail\\*.*"), (Names{".", ".."}));  // an empty folder still lists "."
  EXPECT_EQ(Found("D:\\Missing\\*.*", ERROR_PATH_NOT_FOUND), Names{});
  EXPECT_EQ(Found("D:\\Data\\a.nsf\\*.*", ERROR_PATH_NOT_FOUND), Names{});
  EXPECT_EQ(Found("Q:\\*.*", ERROR_PATH_NOT_FOUND), Names{});
  EXPECT_EQ(Found("D:\\..\\*.*", ERROR_INVALID_NAME), Names{});

  std::vector<FindData> found;
  ASSERT_EQ(FindFiles("D:\\Data\\*", found), ERROR_SUCCESS);
  for (const FindData& f : found) {
    const bool dir = f.name == "." || f.name == ".." || f.name == "mail";
    EXPECT_EQ(f.attributes, dir ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL) << f.name;
    EXPECT_EQ(f.size, dir ? 0u : 5u);
  }
}

TEST_F(FilesTest, DirectoryNamesForTreeWalks) {
  root_.MakeDir("D/Data");
  root_.MakeDir("D/Data/Mail");
  root_.MakeDir("D/Data/empty");
  WriteHost(d_ + "/Data/b.nsf", "x");
  ASSERT_EQ(::symlink((d_ + "/Data/Mail").c_str(), (d_ + "/Data/link").c_str()), 0);
  ASSERT_EQ(::symlink("/nonexistent", (d_ + "/Data/dangling").c_str()), 0);
  std::vector<DirectoryName> names;
  ASSERT_EQ(ListDirectoryNames("D:\\Data\\", names), ERROR_SUCCESS);
  std::vector<std::pair<std::string, bool>> got;
  for (const DirectoryName& n : names) got.emplace_back(n.name, n.directory);
  EXPECT_EQ(got, (std::vector<std::pair<std::string, bool>>{
                     {"b.nsf", false}, {"dangling", false}, {"empty", true}, {"link", true}, {"Mail", true}}));
  EXPECT_EQ(ListDirectoryNames("D:\\Data\\empty", names), ERROR_SUCCESS);
  EXPECT_TRUE(names.empty());
  EXPECT_EQ(ListDirectoryNames("D:\\Data\\none", names), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(ListDirectoryNames("D:\\Data\\b.nsf", names), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(ListDirectoryNames("D:\\..", names), ERROR_INVALID_NAME);
}

TEST_F(FilesTest, CopyNeverLeavesAPartialOrReplacedTarget) {
  root_.MakeDir("D/src");
  root_.MakeDir("D/dst");
  std::string big(3 << 20, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 4096);
  WriteHost(d_ + "/src/big.nsf", big);
  const struct timespec times[2] = {{1'000'000'000, 0}, {1'100'000'000, 123'456'700}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (d_ + "/src/big.nsf").c_str(), times, 0), 0);

  ASSERT_EQ(CopyFile("D:\\src\\big.nsf", "D:\\dst\\big.nsf", true), ERROR_SUCCESS);
  EXPECT_EQ(ReadHost(d_ + "/dst/big.nsf"), big);
  FILETIME copied, source;
  ASSERT_EQ(GetLastWriteTime("D:\\dst\\big.nsf", copied), ERROR_SUCCESS);
  ASSERT_EQ(GetLastWriteTime("D:\\src\\big.nsf", source), ERROR_SUCCESS);
  EXPECT_EQ(FileTimeToU64(copied), FileTimeToU64(source));
  EXPECT_EQ(FileTimeToU64(copied), (1'100'000'000ull + 11'644'473'600ull) * 10'000'000 + 1'234'567);

  WriteHost(d_ + "/dst/small.nsf", "keep");
  EXPECT_EQ(CopyFile("D:\\src\\big.nsf", "D:\\dst\\small.nsf", true), ERROR_FILE_EXISTS);
  EXPECT_EQ(ReadHost(d_ + "/dst/small.nsf"), "keep");
  EXPECT_EQ(CopyFile("D:\\src\\missing", "D:\\dst\\m", false), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(CopyFile("D:\\nodir\\missing", "D:\\dst\\m", false), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(CopyFile("D:\\src\\big.nsf", "D:\\nodir\\x", false), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(CopyFile("D:\\src", "D:\\dst\\x", false), ERROR_ACCESS_DENIED);
  EXPECT_EQ(CopyFile("D:\\src\\big.nsf", "D:\\dst", false), ERROR_ACCESS_DENIED);
  ASSERT_EQ(CopyFile("D:\\src\\big.nsf", "D:\\dst\\small.nsf", false), ERROR_SUCCESS);
  EXPECT_EQ(ReadHost(d_ + "/dst/small.nsf"), big);
  EXPECT_EQ(HostNames(d_ + "/dst"), (Names{".", "..", "big.nsf", "small.nsf"}));

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
  EXPECT_EQ(static_cast<DWORD>(WEXITSTATUS(status)), posix::ERROR_FILE_TOO_LARGE);
  EXPECT_EQ(HostNames(d_ + "/dst"), (Names{".", "..", "big.nsf", "small.nsf"}));
}

TEST_F(FilesTest, MoveNeverReplacesAndDeleteTreeStaysInside) {
  WriteHost(d_ + "/a", "A");
  WriteHost(d_ + "/b", "B");
  EXPECT_EQ(MoveFile("D:\\a", "D:\\b"), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(ReadHost(d_ + "/a"), "A");
  EXPECT_EQ(ReadHost(d_ + "/b"), "B");
  EXPECT_EQ(MoveFile("D:\\a", "D:\\c"), ERROR_SUCCESS);
  EXPECT_EQ(ReadHost(d_ + "/c"), "A");
  EXPECT_EQ(MoveFile("D:\\a", "D:\\d"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(MoveFile("D:\\c", "D:\\nodir\\c"), ERROR_PATH_NOT_FOUND);

  // A symbolic link inside the tree goes, what it points to stays.
  const std::string outside = root_.MakeDir("outside");
  WriteHost(outside + "/precious", "P");
  root_.MakeDir("D/tree");
  root_.MakeDir("D/tree/sub");
  WriteHost(d_ + "/tree/sub/f", "F");
  ASSERT_EQ(::symlink(outside.c_str(), (d_ + "/tree/sub/link").c_str()), 0);
  EXPECT_EQ(DeleteTree("D:\\tree"), ERROR_SUCCESS);
  EXPECT_EQ(GetFileAttributes("D:\\tree"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(ReadHost(outside + "/precious"), "P");
  EXPECT_EQ(DeleteTree("D:\\tree"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(DeleteTree("D:\\no\\tree"), ERROR_PATH_NOT_FOUND);
}

TEST_F(FilesTest, DirectoriesFilesAndTheirErrorCodes) {
  EXPECT_EQ(CreateDirectory("D:\\dir"), ERROR_SUCCESS);
  EXPECT_EQ(CreateDirectory("D:\\dir"), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(CreateDirectory("D:\\no\\dir"), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(GetFileAttributes("D:\\dir"), FILE_ATTRIBUTE_DIRECTORY);
  WriteHost(d_ + "/dir/f", "x");
  EXPECT_EQ(RemoveDirectory("D:\\dir"), ERROR_DIR_NOT_EMPTY);
  EXPECT_EQ(RemoveDirectory("D:\\dir\\f"), ERROR_DIRECTORY);
  EXPECT_EQ(DeleteFile("D:\\dir"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(DeleteFile("D:\\dir\\f"), ERROR_SUCCESS);
  EXPECT_EQ(DeleteFile("D:\\dir\\f"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RemoveDirectory("D:\\dir"), ERROR_SUCCESS);

  File file;
  EXPECT_EQ(file.Open("D:\\new.dat", File::Mode::Read), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(file.Open("D:\\x\\new.dat", File::Mode::CreateAlways), ERROR_PATH_NOT_FOUND);
  ASSERT_EQ(file.Open("D:\\new.dat", File::Mode::CreateNew), ERROR_SUCCESS);
  EXPECT_EQ(file.Write("hello", 5), ERROR_SUCCESS);
  File moved = std::move(file);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(file.Write("x", 1), ERROR_INVALID_HANDLE);
  EXPECT_EQ(moved.Close(), ERROR_SUCCESS);
  EXPECT_EQ(file.Open("D:\\new.dat", File::Mode::CreateNew), ERROR_FILE_EXISTS);
  ASSERT_EQ(file.Open("D:\\new.dat", File::Mode::Append), ERROR_SUCCESS);
  EXPECT_EQ(file.Write(" world", 6), ERROR_SUCCESS);
  ASSERT_EQ(file.Open("D:\\new.dat", File::Mode::Read), ERROR_SUCCESS);
  char buffer[32];
  std::size_t got = 0;
  EXPECT_EQ(file.Read(buffer, sizeof buffer, &got), ERROR_SUCCESS);
  EXPECT_EQ(std::string(buffer, got), "hello world");
  EXPECT_EQ(file.Read(buffer, sizeof buffer, &got), ERROR_SUCCESS);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(file.Open("D:\\", File::Mode::Read), ERROR_ACCESS_DENIED);
  std::uint64_t size = 0;
  EXPECT_EQ(GetFileSize("D:\\new.dat", size), ERROR_SUCCESS);
  EXPECT_EQ(size, 11u);

  // A whole-file write replaces the file at once or not at all.
  EXPECT_EQ(WriteWholeFile("D:\\new.dat", "replaced"), ERROR_SUCCESS);
  std::string text;
  EXPECT_EQ(ReadWholeFile("D:\\new.dat", text), ERROR_SUCCESS);
  EXPECT_EQ(text, "replaced");
  ASSERT_EQ(::chmod((d_ + "/new.dat").c_str(), 0444), 0);
  EXPECT_EQ(GetFileAttributes("D:\\new.dat"), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(WriteWholeFile("D:\\new.dat", "lost"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(ReadHost(d_ + "/new.dat"), "replaced");
  EXPECT_EQ(WriteWholeFile("D:\\nodir\\f", "x"), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(ReadWholeFile("D:\\nodir\\f", text), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(text, "replaced");

  std::uint64_t free = 0;
  struct statvfs vfs {};
  ASSERT_EQ(::statvfs(d_.c_str(), &vfs), 0);
  EXPECT_EQ(GetDiskFreeSpace("D:\\", free), ERROR_SUCCESS);
  EXPECT_NEAR(static_cast<double>(free), static_cast<double>(vfs.f_bfree) * vfs.f_frsize, 64.0 * (1 << 20));
  EXPECT_EQ(GetDiskFreeSpace("Q:\\", free), ERROR_PATH_NOT_FOUND);
}

TEST(ErrorCodes, ErrnoAndMessages) {
  TempRoot root;
  const std::string file = root.path() + "/file";
  WriteHost(file, "x");
  using posix::PathRole;
  using posix::Win32FromErrno;
  EXPECT_EQ(Win32FromErrno(ENOENT, root.path() + "/missing"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Win32FromErrno(ENOENT, root.path() + "/missing/x"), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(Win32FromErrno(ENOTDIR, file), ERROR_DIRECTORY);
  EXPECT_EQ(Win32FromErrno(ENOTDIR, file + "/x"), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(Win32FromErrno(EEXIST, file, PathRole::File), ERROR_FILE_EXISTS);
  EXPECT_EQ(Win32FromErrno(EEXIST, file, PathRole::Directory), ERROR_ALREADY_EXISTS);
  const struct {
    int err;
    DWORD code;
  } kCodes[] = {{EACCES, ERROR_ACCESS_DENIED},     {EPERM, ERROR_ACCESS_DENIED},
                {EROFS, posix::ERROR_WRITE_PROTECT}, {ENOSPC, ERROR_DISK_FULL},
                {EMFILE, ERROR_TOO_MANY_OPEN_FILES}, {ENOTEMPTY, ERROR_DIR_NOT_EMPTY},
                {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE}, {EINVAL, ERROR_INVALID_PARAMETER}};
  for (const auto& c : kCodes) EXPECT_EQ(Win32FromErrno(c.err), c.code) << c.err;
  // A failure that left no errno is still a failure.
  EXPECT_EQ(posix::HresultFromErrno(0), HRESULT_FROM_WIN32(posix::ERROR_GEN_FAILURE));
  EXPECT_EQ(posix::HresultFromErrno(EEXIST, PathRole::Directory), HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS));

  EXPECT_EQ(FormatMessage(ERROR_FILE_NOT_FOUND), "The system cannot find the file specified.");
  EXPECT_EQ(FormatMessage(ERROR_PATH_NOT_FOUND), "The system cannot find the path specified.");
  EXPECT_EQ(FormatMessage(ERROR_ACCESS_DENIED), "Access is denied.");
  EXPECT_EQ(FormatMessage(ERROR_FILE_EXISTS), "The file exists.");
  EXPECT_EQ(FormatMessage(posix::ERROR_WRITE_PROTECT), "The media is write protected.");
  EXPECT_EQ(FormatMessage(ERROR_DISK_FULL), "There is not enough space on the disk.");
  EXPECT_EQ(FormatMessage(ERROR_ALREADY_EXISTS), "Cannot create a file when that file already exists.");
  EXPECT_EQ(FormatMessage(0xDEAD), "");
  EXPECT_EQ(FormatMessageHr(REGDB_E_CLASSNOTREG), "Class not registered");
  EXPECT_EQ(FormatMessageHr(E_HANDLE), "The handle is invalid.");
  EXPECT_EQ(FormatMessageHr(E_FAIL), "Unspecified error");
  EXPECT_EQ(FormatMessageHr(E_INVALIDARG), "The parameter is incorrect.");
  EXPECT_EQ(FormatMessageHr(E_NOINTERFACE), "No such interface supported");
  EXPECT_EQ(FormatMessageHr(HRESULT_FROM_WIN32(ERROR_DISK_FULL)), "There is not enough space on the disk.");
  EXPECT_EQ(FormatMessage(static_cast<DWORD>(E_FAIL)), "Unspecified error");
  EXPECT_EQ(FormatMessageHr(HRESULT(0x80041234u)), "");
}

}  // namespace
}  // namespace platform
