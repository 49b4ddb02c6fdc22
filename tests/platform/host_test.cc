// Windows paths: what is refused everywhere; processes by executable name;
// the operation lock and the volume freeze, within this process and against
// other processes (the test helper holds them there); FILETIME and SYSTEMTIME.
#include "platform/host.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/oplock.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform/volume_freeze.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_host.h"

namespace fs = std::filesystem;

namespace platform {
namespace {

// A Windows path and the answer of ToHostPath; a refused path leaves the
// host path untouched.
const std::pair<std::string, DWORD> kPaths[] = {
    {"D:\\Domino\\Data\\x.nsf", ERROR_SUCCESS}, {"Q:\\x", ERROR_PATH_NOT_FOUND}, {"\\Domino\\x", ERROR_PATH_NOT_FOUND},
    {"\\\\server\\share\\x", ERROR_PATH_NOT_FOUND}, {"", ERROR_PATH_NOT_FOUND}, {"1:\\x", ERROR_PATH_NOT_FOUND},
    {"D:\\Data\\..\\..\\etc\\passwd", ERROR_INVALID_NAME}, {"D:\\..", ERROR_INVALID_NAME}, {"D:/./x", ERROR_INVALID_NAME},
    {"D:\\a*b", ERROR_INVALID_NAME}, {"D:\\a:b", ERROR_INVALID_NAME}, {std::string("D:\\a\0b", 6), ERROR_INVALID_NAME}};

class Host : public ::testing::TestWithParam<std::size_t> {};

TEST_P(Host, UnsafeOrDrivelessPathsAreRefusedUntouched) {
  const auto& [path, error] = kPaths[GetParam()];
  TempHostRoot root;
  std::string host = "unchanged";
  EXPECT_EQ(ToHostPath(path, host), error);
  EXPECT_EQ(host == "unchanged", error != ERROR_SUCCESS) << host;
}
INSTANTIATE_TEST_SUITE_P(Rows, Host, ::testing::Range<std::size_t>(0, std::size(kPaths)));

// A copy of the test helper under a name of this test only stands in for a
// server (the upper-case server name is the host utilities' test).
TEST(Processes, FoundByNameIgnoringCaseAndExtension) {
  TempHostRoot root;
  const std::string helper = ProgramBesideTest("test_helper");
  const std::string unique = "Probe" + std::to_string(CurrentProcessId());
  const fs::path copy = root.path() / (unique + fs::path(helper).extension().string());
  fs::copy_file(helper, copy);
  EXPECT_FALSE(IsProcessRunning({unique}));
  {
    ChildProcess probe(copy.string(), {"sleep", "30"});
    ASSERT_EQ(probe.ReadLine(), "sleeping");
    EXPECT_TRUE(IsProcessRunning({"nlnotes", ToUpperAnsi(unique) + ".exe"}));
  }
  EXPECT_FALSE(IsProcessRunning({unique}));
  EXPECT_FALSE(IsProcessRunning({}));
}

constexpr char kLock[] = "\\\\.\\PIPE\\ark";

TEST(OperationLock, OneHolderInAndAcrossProcesses) {
  TempHostRoot root;
  OperationLockHandle first;
  ASSERT_TRUE(first.Acquire(kLock));
  // Not re-entrant: a second acquire in the same process fails.
  OperationLockHandle second;
  EXPECT_FALSE(second.Acquire(kLock));
  EXPECT_FALSE(second.Acquire("\\\\.\\pipe\\ARK"));  // names compare without case
  EXPECT_TRUE(OperationLockHandle().Acquire("\\\\.\\PIPE\\other"));
  {
    ChildProcess elsewhere(ProgramBesideTest("test_helper"), {"oplock", kLock});
    EXPECT_EQ(elsewhere.ReadLine(), "refused");
  }

  // Moving keeps the lock; assigning over its holder releases it.
  OperationLockHandle moved = std::move(first);
  EXPECT_FALSE(first.valid());
  EXPECT_FALSE(second.Acquire(kLock));
  moved = OperationLockHandle();
  {
    // A holder that dies without closing releases it.
    ChildProcess holder(ProgramBesideTest("test_helper"), {"oplock", kLock});
    ASSERT_EQ(holder.ReadLine(), "held");
    EXPECT_FALSE(second.Acquire(kLock));
    holder.Kill();
    holder.Wait();
  }
  EXPECT_TRUE(second.Acquire(kLock));
}

TEST(VolumeLock, FreezeWaitsForWritersAndWritersShare) {
  TempHostRoot root;
  VolumeLock writer;
  ASSERT_TRUE(writer.Lock('d', VolumeLock::Kind::SharedWrite));
  {
    ChildProcess otherWriter(ProgramBesideTest("test_helper"), {"freeze", "D", "shared"});
    EXPECT_EQ(otherWriter.ReadLine(), "locked");
  }
  EXPECT_FALSE(VolumeLock().Lock('1', VolumeLock::Kind::SharedWrite));

  // The freeze waits until the writer is done.
  ChildProcess freeze(ProgramBesideTest("test_helper"), {"freeze", "D", "exclusive"});
  EXPECT_EQ(freeze.ReadLine(300), "") << "the freeze was granted while a writer held the volume";
  writer.Unlock();
  EXPECT_FALSE(writer.held());
  EXPECT_EQ(freeze.ReadLine(), "locked");
  freeze.CloseInput();
  EXPECT_EQ(freeze.Wait(), 0);

  // Other drives are independent.
  VolumeLock e;
  EXPECT_TRUE(e.Lock('E', VolumeLock::Kind::ExclusiveFreeze));
  ChildProcess f(ProgramBesideTest("test_helper"), {"freeze", "F", "exclusive"});
  EXPECT_EQ(f.ReadLine(), "locked");
}

SYSTEMTIME Time(WORD y, WORD mo, WORD d, WORD h = 0, WORD mi = 0, WORD s = 0, WORD ms = 0, WORD weekday = 0) {
  return SYSTEMTIME{y, mo, weekday, d, h, mi, s, ms};
}

// A time and its FILETIME, both ways (the way back fills in the day of the
// week); an impossible date or time is refused, the output untouched.
constexpr std::uint64_t kImpossible = 0x8000000000000000ull;
const std::pair<SYSTEMTIME, std::uint64_t> kMoments[] = {
    {Time(1601, 1, 1, 0, 0, 0, 0, 1), 0}, {Time(1970, 1, 1, 0, 0, 0, 0, 4), 116444736000000000ull},
    {Time(2003, 3, 2, 9, 5, 3, 7, 0), 126910695030070000ull},
    {Time(2000, 2, 29, 23, 59, 59, 999, 2), 125963423999990000ull},
    {Time(2001, 2, 29), kImpossible}, {Time(2000, 13, 1), kImpossible}, {Time(2000, 0, 1), kImpossible},
    {Time(2000, 4, 31), kImpossible}, {Time(2000, 1, 1, 24), kImpossible}, {Time(2000, 1, 1, 0, 60), kImpossible},
    {Time(2000, 1, 1, 0, 0, 60), kImpossible}, {Time(2000, 1, 1, 0, 0, 0, 1000), kImpossible},
    {Time(1600, 12, 31), kImpossible}, {Time(1900, 2, 29), kImpossible}};

class Clock : public ::testing::TestWithParam<std::size_t> {};

TEST_P(Clock, FileTimeAndSystemTimeAgree) {
  const auto& [time, fileTime] = kMoments[GetParam()];
  const bool possible = fileTime != kImpossible;
  FILETIME ft = U64ToFileTime(42);
  EXPECT_EQ(SystemTimeToFileTime(time, ft), possible);
  EXPECT_EQ(FileTimeToU64(ft), possible ? fileTime : 42u);
  SYSTEMTIME back{};
  EXPECT_EQ(FileTimeToSystemTime(U64ToFileTime(fileTime), back), possible);
  EXPECT_TRUE(!possible || std::memcmp(&back, &time, sizeof back) == 0);
}
INSTANTIATE_TEST_SUITE_P(Rows, Clock, ::testing::Range<std::size_t>(0, std::size(kMoments)));

}  // namespace
}  // namespace platform
