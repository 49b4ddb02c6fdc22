// The ArkLedger volume (L:) fills up while a backup saves change information
// and while it copies the transaction logs. L: is a small tmpfs mounted for
// the test (root needed; skipped otherwise) in a mount namespace of the test
// process, so no mount outlives it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "tests/faults/fault_host.h"

namespace faults {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kLedgerBytes = 16u << 20;

// A tmpfs of its own on a directory; the filler file takes what a test wants
// taken.
class SmallVolume {
 public:
  SmallVolume(const std::string& dir, std::size_t bytes) : dir_(dir) {
    if (::geteuid() != 0) {
      why_ = "mounting a small file system needs root";
      return;
    }
    // A mount namespace of this process (and its children), so the mount
    // goes when the process does, whatever happens to the test.
    if (::unshare(CLONE_NEWNS) == 0) ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
    std::string options = "size=" + std::to_string(bytes);
    if (::mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) != 0) {
      why_ = "cannot mount a tmpfs on " + dir + ": " + std::strerror(errno);
      return;
    }
    mounted_ = true;
  }
  ~SmallVolume() {
    if (filler_ >= 0) ::close(filler_);
    if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
  }
  SmallVolume(const SmallVolume&) = delete;
  SmallVolume& operator=(const SmallVolume&) = delete;

  bool mounted() const { return mounted_; }
  const std::string& why() const { return why_; }

  // Fills the volume until about `leave` bytes stay free; the free bytes.
  std::uint64_t LeaveFree(std::uint64_t leave) {
    if (filler_ < 0) filler_ = ::open((dir_ + "/.filler").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    std::vector<char> chunk(1 << 16, 'f');
    off_t size = ::lseek(filler_, 0, SEEK_END);
    for (std::size_t piece = chunk.size(); piece >= 4096; piece /= 2) {
      ssize_t n;
      while ((n = ::write(filler_, chunk.data(), piece)) > 0) size += n;
    }
    if (leave > 0) {
      size = size > off_t(leave) ? size - off_t(leave) : 0;
      EXPECT_EQ(::ftruncate(filler_, size), 0);
    }
    return fs::space(dir_).available;
  }
  void Release() { EXPECT_EQ(::ftruncate(filler_, 0), 0); }

 private:
  std::string dir_;
  std::string why_;
  bool mounted_ = false;
  int filler_ = -1;
};

class LedgerVolumeFull : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(host_.installed());
    ledger_ = std::make_unique<SmallVolume>(host_.VolumeDir('L'), kLedgerBytes);
    if (!ledger_->mounted()) GTEST_SKIP() << "L: cannot be put on a small file system: " << ledger_->why();
    fs::create_directories(host_.VolumeDir('L') + "/ArkLedger");
    ASSERT_TRUE(host_.StartServer());
    before_ = host_.Digests();
    ToolResult first = host_.Backup();
    ASSERT_EQ(first.exitCode, 0) << first.out << first.err;
    ASSERT_EQ(host_.Snapshots().size(), 1u);
    first_ = host_.Snapshots()[0];
  }

  std::string FirstSnapshotName() const { return host_.SnapshotNameWithStamp(first_.stamp); }

  // Reports go to C: so that a full L: cannot take them.
  FaultHost host_{Shape(10, 4, 32, "C:\\Reports")};
  std::unique_ptr<SmallVolume> ledger_;
  std::map<std::string, std::string> before_;
  FaultHost::Snapshot first_;
};

TEST_F(LedgerVolumeFull, WhileChangeInformationIsSaved) {
  ASSERT_TRUE(host_.StartWorkload(300, 12));

  // Not a byte free: the hint file cannot name the dated snapshot, so the
  // backup stops before it renames anything or touches a database.
  ledger_->LeaveFree(0);
  ToolResult refused = host_.Backup();
  EXPECT_NE(refused.exitCode, 0);
  EXPECT_TRUE(Has(refused.out, "Could not read\\create Snapshot hint file:L:\\ArkLedger\\srv1\\")) << refused.out;
  EXPECT_FALSE(Has(refused.out, "Recording Domino changes")) << refused.out;
  ASSERT_EQ(host_.Snapshots().size(), 1u);
  EXPECT_EQ(host_.Snapshots()[0].name, first_.name);

  // Room for the hint file, not for the change information.
  ledger_->LeaveFree(12 << 10);
  ToolResult failed = host_.Backup();
  EXPECT_NE(failed.exitCode, 0);
  EXPECT_TRUE(Has(failed.out, "change info")) << failed.out;
  EXPECT_TRUE(Has(failed.out, "ERROR: Could not properly stop backup.\r\n")) << failed.out;
  EXPECT_TRUE(Has(failed.out, "ERROR: Snapshot failed on vol_data.\r\n")) << failed.out;
  EXPECT_FALSE(Has(failed.out, "Backup Completed")) << failed.out;
  std::vector<std::string> reports = host_.Reports("backup");
  ASSERT_EQ(reports.size(), 3u);
  EXPECT_TRUE(Has(host_.Report("backup", reports.back()), "ERROR: Could not properly stop backup.\r\n"));
  EXPECT_EQ(DatabasesHeldInBackup(host_), std::vector<std::string>{});
  EXPECT_NE(FirstSnapshotName(), "") << "the first snapshot is no longer listed";

  // With room again the next backup is whole, and the first snapshot is
  // still there and restorable.
  ledger_->Release();
  ToolResult next = host_.Backup();
  EXPECT_EQ(next.exitCode, 0) << next.out << next.err;
  host_.StopWorkload();
  const auto atStop = RolledForwardOnly(host_.Digests());
  ToolResult latest = host_.Restore("recent", false);
  ASSERT_EQ(latest.exitCode, 0) << latest.out << latest.err;
  EXPECT_EQ(RolledForwardOnly(host_.Digests()), atStop);
  ToolResult first = host_.Restore(FirstSnapshotName(), true);
  ASSERT_EQ(first.exitCode, 0) << first.out << first.err;
  EXPECT_EQ(host_.Digests(), before_);
}

TEST_F(LedgerVolumeFull, WhileTransactionLogsAreCopied) {
  // Full log extents wait for the backup: more of them than L: has room for.
  ASSERT_TRUE(host_.StartWorkload(0, 13));
  std::uint64_t logBytes = 0;
  ASSERT_TRUE(WaitFor(
      [&] {
        logBytes = 0;
        for (const auto& entry : fs::directory_iterator(host_.VolumeDir('E') + "/Logs")) {
          if (entry.path().extension() == ".TXN") logBytes += entry.file_size();
        }
        return logBytes >= (4u << 20);
      },
      30000));
  host_.StopWorkload();
  const auto atStop = RolledForwardOnly(host_.Digests());
  // Room for the change information (one page a database), not the logs.
  ledger_->LeaveFree(512 << 10);

  ToolResult starved = host_.Backup();
  EXPECT_TRUE(Has(starved.out, "Copying logs to ArkLedger dir...\r\n")) << starved.out;
  EXPECT_TRUE(Has(starved.out, "Could not copy ")) << starved.out;
  EXPECT_TRUE(Has(starved.out, "There is not enough space on the disk.")) << starved.out;

  // With room again the next backup archives the logs that were left.
  ledger_->Release();
  ToolResult next = host_.Backup();
  EXPECT_EQ(next.exitCode, 0) << next.out << next.err;
  EXPECT_TRUE(Has(next.out, "Archiving ")) << next.out;
  EXPECT_FALSE(Has(next.out, "Could not copy ")) << next.out;

  // No log is lost: the first snapshot rolls forward to the last write.
  ToolResult fromFirst = host_.Restore(FirstSnapshotName(), false);
  ASSERT_EQ(fromFirst.exitCode, 0) << fromFirst.out << fromFirst.err;
  EXPECT_EQ(RolledForwardOnly(host_.Digests()), atStop);
}

}  // namespace
}  // namespace faults
