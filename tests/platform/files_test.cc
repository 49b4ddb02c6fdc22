// Files by Windows path, on drive D: of a fresh host.
#include "platform/files.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/temp_host.h"

namespace fs = std::filesystem;

namespace platform {
namespace {

using Names = std::vector<std::string>;

// A whole-file write whose flush fails: of the file (the old content stays),
// or of the folder's names (the new content may not last).
const std::pair<const char*, const char*> kFlushes[] = {{"D:\\dir\\w.dat", "old"}, {"D:\\dir", "new"}};

class FilesTest : public ::testing::Test, public ::testing::WithParamInterface<std::size_t> {
 protected:
  Names Found(const std::string& pattern, DWORD expected = ERROR_SUCCESS) {
    std::vector<FindData> found;
    EXPECT_EQ(FindFiles(pattern, found), expected) << pattern;
    Names names;
    for (const FindData& f : found) names.push_back(f.name);
    return names;
  }
  Names HostNames(const fs::path& dir) {
    Names names;
    for (const fs::directory_entry& e : fs::directory_iterator(dir)) {
      if (!e.path().filename().string().starts_with("ark-test-")) names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  void Write(const std::string& relative, const std::string& data) { WriteHostFile(d_ / relative, data); }
  std::string Read(const std::string& relative) { return ReadHostFile(d_ / relative); }

  TempHostRoot root_;
  fs::path d_ = root_.D();
};

TEST_F(FilesTest, FindFilesMatchesAsWindowsDoes) {
  fs::create_directories(d_ / "Data" / "mail");
  for (const char* name : {"a.nsf", "B.NSF", "readme", "x.ntf", "ab.nsf"}) Write(std::string("Data/") + name, "12345");
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
  EXPECT_EQ(Found("D:\\..\\*.*", ERROR_INVALID_NAME), Names{});

  std::vector<DirectoryName> names;
  ASSERT_EQ(ListDirectoryNames("D:\\Data\\", names), ERROR_SUCCESS);
  std::vector<std::pair<std::string, bool>> got;
  for (const DirectoryName& n : names) got.emplace_back(n.name, n.directory);
  EXPECT_EQ(got, (std::vector<std::pair<std::string, bool>>{
                     {"a.nsf", false}, {"ab.nsf", false}, {"B.NSF", false}, {"mail", true},
                     {"readme", false}, {"x.ntf", false}}));
  EXPECT_EQ(ListDirectoryNames("D:\\Data\\none", names), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(ListDirectoryNames("D:\\Data\\a.nsf", names), ERROR_PATH_NOT_FOUND);
}

TEST_F(FilesTest, CopyGivesTheWholeFileOrAnErrorCode) {
  fs::create_directories(d_ / "src");
  fs::create_directories(d_ / "dst");
  std::string big(3 << 20, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 4096);
  Write("src/big.nsf", big);

  ASSERT_EQ(CopyFile("D:\\src\\big.nsf", "D:\\dst\\big.nsf", true), ERROR_SUCCESS);
  EXPECT_EQ(Read("dst/big.nsf"), big);
  EXPECT_EQ(CopyFile("D:\\src\\missing", "D:\\dst\\m", false), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(CopyFile("D:\\nodir\\missing", "D:\\dst\\m", false), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(CopyFile("D:\\src\\big.nsf", "D:\\nodir\\x", false), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(CopyFile("D:\\src", "D:\\dst\\x", false), ERROR_ACCESS_DENIED);
  EXPECT_EQ(CopyFile("D:\\src\\big.nsf", "D:\\dst", false), ERROR_ACCESS_DENIED);
  EXPECT_EQ(HostNames(d_ / "dst"), (Names{"big.nsf"})) << "no temporary file is left";
}

TEST_F(FilesTest, MoveNeverReplacesAndTreesGoWhole) {
  Write("a", "A");
  Write("b", "B");
  EXPECT_EQ(MoveFile("D:\\a", "D:\\b"), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(Read("a"), "A");
  EXPECT_EQ(Read("b"), "B");
  EXPECT_EQ(MoveFile("D:\\a", "D:\\c"), ERROR_SUCCESS);
  EXPECT_EQ(Read("c"), "A");
  EXPECT_EQ(MoveFile("D:\\a", "D:\\d"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(MoveFile("D:\\c", "D:\\nodir\\c"), ERROR_PATH_NOT_FOUND);

  Write("tree/sub/f", "F");
  Write("tree/g", "G");
  Write("treeNot/kept", "K");  // shares a prefix of the name only
  EXPECT_EQ(DeleteTree("D:\\tree"), ERROR_SUCCESS);
  EXPECT_EQ(GetFileAttributes("D:\\tree"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(Read("treeNot/kept"), "K");
  EXPECT_EQ(DeleteTree("D:\\tree"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(DeleteTree("D:\\no\\tree"), ERROR_PATH_NOT_FOUND);
}

TEST_F(FilesTest, DirectoriesFilesAndTheirErrorCodes) {
  EXPECT_EQ(CreateDirectory("D:\\dir"), ERROR_SUCCESS);
  EXPECT_EQ(CreateDirectory("D:\\dir"), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(CreateDirectory("D:\\no\\dir"), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(GetFileAttributes("D:\\dir"), FILE_ATTRIBUTE_DIRECTORY);
  Write("dir/f", "x");
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
  EXPECT_EQ(file.Write("x", 1), ERROR_INVALID_HANDLE);
  EXPECT_EQ(moved.Close(), ERROR_SUCCESS);
  EXPECT_EQ(file.Open("D:\\new.dat", File::Mode::CreateNew), ERROR_FILE_EXISTS);
  EXPECT_EQ(file.Open("D:\\", File::Mode::Read), ERROR_ACCESS_DENIED);
  std::uint64_t size = 0;
  EXPECT_EQ(GetFileSize("D:\\new.dat", size), ERROR_SUCCESS);
  EXPECT_EQ(size, 5u);

  // A whole-file write replaces the file at once or not at all.
  EXPECT_EQ(WriteWholeFile("D:\\new.dat", "replaced"), ERROR_SUCCESS);
  std::string text;
  EXPECT_EQ(ReadWholeFile("D:\\new.dat", text), ERROR_SUCCESS);
  EXPECT_EQ(text, "replaced");
  fs::permissions(d_ / "new.dat", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  EXPECT_EQ(GetFileAttributes("D:\\new.dat"), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(WriteWholeFile("D:\\new.dat", "lost"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Read("new.dat"), "replaced");
  fs::permissions(d_ / "new.dat", fs::perms::owner_write, fs::perm_options::add);
  EXPECT_EQ(WriteWholeFile("D:\\nodir\\f", "x"), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(ReadWholeFile("D:\\nodir\\f", text), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(text, "replaced");
  EXPECT_EQ(HostNames(d_), (Names{"new.dat"})) << "no temporary file is left";

  // Flushes of files, folders and a drive's root; nothing there to flush.
  EXPECT_EQ(FlushToDisk("D:\\nodir\\f"), ERROR_PATH_NOT_FOUND);
  ASSERT_EQ(CreateDirectory("D:\\dir2"), ERROR_SUCCESS);
  std::string failedPath;
  FlushBatch batch;
  for (const char* path : {"D:\\new.dat", "D:\\dir2", "D:\\gone.dat", "D:\\"}) batch.Add(path);
  EXPECT_EQ(batch.Flush(failedPath), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(failedPath, "D:\\gone.dat");
  EXPECT_TRUE(batch.empty());
  // The folders above a file, each once, up to the drive's root.
  std::vector<std::string> flushed;
  FlushOverride answered([&](const std::string& path) { return flushed.push_back(path), ERROR_SUCCESS; });
  batch.AddDirectoriesAbove("D:\\dir2\\sub\\f.dat");
  batch.AddDirectoriesAbove("D:\\dir2\\g.dat");
  batch.Add("D:\\dir2");
  EXPECT_EQ(batch.Flush(failedPath), ERROR_SUCCESS);
  EXPECT_EQ(flushed, (std::vector<std::string>{"D:\\dir2\\sub", "D:\\dir2", "D:\\"}));
}

TEST_P(FilesTest, AWholeFileWriteFailsWithItsFlush) {
  ASSERT_EQ(CreateDirectory("D:\\dir"), ERROR_SUCCESS);
  ASSERT_EQ(WriteWholeFile("D:\\dir\\w.dat", "old"), ERROR_SUCCESS);
  const auto& [failing, content] = kFlushes[GetParam()];
  FlushOverride flushes([&](const std::string& path) { return path == failing ? ERROR_WRITE_FAULT : ERROR_SUCCESS; });
  EXPECT_EQ(WriteWholeFile("D:\\dir\\w.dat", "new"), ERROR_WRITE_FAULT);
  EXPECT_EQ(Read("dir/w.dat"), content);
  EXPECT_EQ(HostNames(d_ / "dir"), (Names{"w.dat"})) << "no temporary file stays";
}
INSTANTIATE_TEST_SUITE_P(Rows, FilesTest, ::testing::Range<std::size_t>(0, std::size(kFlushes)));

// Texts for the codes the engine reports (the same through their HRESULT),
// the code in numbers for others.
class FormatMessage : public ::testing::TestWithParam<DWORD> {};

TEST_P(FormatMessage, SystemTextsElseNumbers) {
  const std::string text = platform::FormatMessage(GetParam());
  EXPECT_FALSE(text.empty() || text.starts_with("Error ") || text.ends_with("\n")) << text;
  EXPECT_EQ(FormatMessageHr(HRESULT_FROM_WIN32(GetParam())), text);
  EXPECT_EQ(platform::FormatMessage(static_cast<DWORD>(E_FAIL)), FormatMessageHr(E_FAIL));
  EXPECT_EQ(platform::FormatMessage(0xDEAD), "Error 57005");
  EXPECT_EQ(FormatMessageHr(HRESULT(0x80041234u)), "Error 0x80041234");
}
INSTANTIATE_TEST_SUITE_P(Rows, FormatMessage,
                         ::testing::Values(ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED,
                                           ERROR_FILE_EXISTS, ERROR_DISK_FULL, ERROR_ALREADY_EXISTS));

}  // namespace
}  // namespace platform
