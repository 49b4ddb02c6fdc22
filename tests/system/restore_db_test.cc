// Single databases restored from a snapshot while the server runs, through
// arkserver, arkctl and nserver, judged by content digests: to the
// snapshot's time, to a moment between two workloads, up to the minute, a
// folder, in place; every refusal and a failed database change nothing live.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "net/command.h"
#include "net/wire.h"
#include "net/wire_records.h"
#include "platform/text.h"
#include "tests/system/system_host.h"

namespace ark::systest {
namespace {

namespace fs = std::filesystem;

const std::string kData = "D:\\Domino\\Data\\";

Result RestoreDb(const SystemHost& host, std::vector<std::string> args) {
  args.insert(args.begin(), {"restore-db", host.server});
  return host.Ctl(args);
}

// A Windows path as JSON writes it.
std::string JsonPath(std::string path) {
  for (std::size_t at = 0; (at = path.find('\\', at)) != std::string::npos; at += 2) path.insert(at, 1, '\\');
  return path;
}

// Every file below the data directory.
std::set<std::string> Files(const SystemHost& host) {
  std::set<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(host.DataDir())) {
    if (entry.is_regular_file()) files.insert(fs::relative(entry.path(), host.DataDir()).string());
  }
  return files;
}

// The next whole second once it has come, as --at takes it: every
// transaction committed so far lies before it.
std::string NextSecond() {
  const std::time_t next = std::time(nullptr) + 1;
  while (std::time(nullptr) < next) ::usleep(20000);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", std::localtime(&next));
  return text;
}

// A backup of the host while the server rests: its snapshot holds the
// databases as the test read them.
struct Restored : ::testing::Test {
  void SetUp() override {
    ASSERT_TRUE(host.Install());
    ASSERT_TRUE(host.StartWorkload(300, 3, 1));
    host.StopWorkload();
    atBackup = host.Digest(true);
    ASSERT_TRUE(Ok(host.Backup()));
    host.SpaceBackups();
  }
  SystemHost host;
  Digests atBackup;
};

TEST_F(Restored, ToEachMomentToAFolderAndInPlace) {
  ASSERT_TRUE(host.StartWorkload(300, 5));  // writes while the first restore runs
  EXPECT_TRUE(Ok(RestoreDb(host, {"mail/user1.nsf"}),
                 {"mail\\user1.nsf -> " + kData + "restore\\mail\\user1.nsf",
                  "DATABASE RESTORE COMPLETE: 1 databases restored."}));
  // Judged at once: a server started later serves (and writes) the copy too.
  const Digests first = host.Digest(true);
  ASSERT_TRUE(host.AdvanceLog(1));
  host.StopWorkload();
  const Digests afterSecond = host.Digest(true);
  const std::string between = NextSecond();
  ASSERT_TRUE(host.StartWorkload(300, 7, 1));
  // What a restore that died left under the temporary name goes first.
  fs::create_directories(host.DataDir() + "/at/mail");
  std::ofstream(host.DataDir() + "/at/mail/user1.ark-restoring.nsf") << "half";
  EXPECT_TRUE(Ok(RestoreDb(host, {"mail\\user1.nsf", "--at", between, "--to", "at"}),
                 {"Removed the unfinished copy " + kData + "at\\mail\\user1.ark-restoring.nsf"}));
  host.StopWorkload();
  const Digests live = host.Digest(true), liveWithIds = host.Digest();
  EXPECT_TRUE(Ok(RestoreDb(host, {"mail/", "--up-to-the-minute", "--to", "minute", "--new-replica-id", "--json"}),
                 {"DATABASE RESTORE COMPLETE: 3 databases restored.",
                  "{\"path\": \"mail\\\\user3.nsf\", \"target\": \"" + JsonPath(kData) + "minute\\\\mail\\\\user3.nsf\", "
                  "\"snapshot\": \"" + host.Snapshots().at(0).name + "\", \"moment\": \"",
                  "\"result\": \"restored\"}"}));
  EXPECT_TRUE(Ok(RestoreDb(host, {"mail/user2.nsf", "--in-place", "--yes"}),
                 {"as " + kData + "restore\\mail\\user2-before-restore.nsf"}));

  const Digests restored = host.Digest(true), restoredWithIds = host.Digest();
  const std::string user1 = kData + "mail\\user1.nsf", user2 = kData + "mail\\user2.nsf";
  EXPECT_EQ(first.at(kData + "restore\\mail\\user1.nsf"), atBackup.at(user1));
  EXPECT_EQ(restored.at(kData + "at\\mail\\user1.nsf"), afterSecond.at(user1));
  EXPECT_EQ(restored.at(kData + "minute\\mail\\user1.nsf"), live.at(user1));
  EXPECT_EQ(restored.at(kData + "minute\\mail\\user2.nsf"), live.at(user2));
  EXPECT_EQ(restored.at(user2), atBackup.at(user2));
  EXPECT_EQ(restored.at(kData + "restore\\mail\\user2-before-restore.nsf"), live.at(user2));
  EXPECT_NE(restoredWithIds.at(kData + "minute\\mail\\user1.nsf"), liveWithIds.at(user1));  // its own ids
  // No other live database changed, the replaced one is online, no copy is left half made.
  for (const auto& [path, digest] : liveWithIds) {
    EXPECT_TRUE(path == user2 || restoredWithIds.at(path) == digest) << path;
  }
  EXPECT_EQ(host.HeldInBackup(), std::vector<std::string>{});
  for (const std::string& file : Files(host)) EXPECT_EQ(file.find("ark-restoring"), std::string::npos) << file;
}

TEST_F(Restored, AFailedDatabaseAndEveryRefusalChangeNothingLive) {
  ASSERT_TRUE(host.StartWorkload(300, 9, 2));
  host.StopWorkload();
  const Digests live = host.Digest();
  std::string ledger;  // the snapshot's ArkLedger directory, in its own letter case
  for (const auto& entry : fs::directory_iterator(host.ServerLedger())) {
    if (platform::EqualsNoCase(entry.path().filename().string(), host.Snapshots().at(0).name)) ledger = entry.path();
  }
  // Damaged change information fails its database alone, before its live
  // database is touched; the other one is restored in place.
  {
    std::fstream dat(ledger + "/Domino/Data/mail/user2.nsf.dat", std::ios::in | std::ios::out | std::ios::binary);
    dat.seekg(2048);  // in the page image
    const char byte = char(dat.get());
    dat.seekp(2048);
    dat.put(char(~byte));
  }
  EXPECT_TRUE(Says(RestoreDb(host, {"apps/app1.nsf", "mail/user2.nsf", "--in-place", "--yes"}).out,
                   {"Not restored: mail\\user2.nsf: its change information could not be applied",
                    "DATABASE RESTORE FAILED: not restored: mail\\user2.nsf."}));
  const Digests after = host.Digest();
  EXPECT_EQ(after.at(kData + "mail\\user2.nsf"), live.at(kData + "mail\\user2.nsf"));
  EXPECT_EQ(after.at(kData + "restore\\apps\\app1-before-restore.nsf"), live.at(kData + "apps\\app1.nsf"));
  EXPECT_EQ(after.count(kData + "restore\\mail\\user2-before-restore.nsf"), 0u);
  EXPECT_EQ(host.HeldInBackup(), std::vector<std::string>{});

  // The first log the snapshot's recovery needs, gone: the logs no longer reach past the snapshot.
  char firstLog[16];
  std::snprintf(firstLog, sizeof firstLog, "S%07lu.TXN", std::stoul(ReadHostFile(ledger + "/log_hint")));
  ASSERT_TRUE(fs::remove(host.LogDir() + "/" + firstLog));
  fs::copy_file(host.DataDir() + "/names.nsf", host.DataDir() + "/restore/names.nsf");  // the user's copy
  const std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
      {{"mail/nobody.nsf", "--json"}, " holds no database mail\\\\nobody.nsf\"}"},
      {{"names.nsf"}, kData + "restore\\names.nsf exists already; a restore never overwrites a file."},
      {{"names.nsf", "--to", "old/../.."}, "The folder \"old/../..\" is refused: \"..\" leads out of the data directory."},
      {{"D:\\Domino\\Data\\names.nsf"}, "is refused: a drive or a stream"},
      {{"names.nsf", "--snapshot", "dominosnap__NONE"}, "has no snapshot dominosnap__NONE"},
      {{"names.nsf", "--at", "2001-01-01 00:00:00"}, "lies before the oldest snapshot of server srv1/Org"},
      {{"names.nsf", "--at", "2099-01-01 00:00:00"}, "The moment 2099-01-01 00:00:00 is in the future."},
      {{"names.nsf", "--at", "yesterday"}, "is not a local time written YYYY-MM-DD HH:MM:SS"},
      {{"names.nsf", "--up-to-the-minute"}, std::string("log ") + firstLog + " is missing"},
  };
  const std::set<std::string> files = Files(host);
  const Digests before = host.Digest();
  for (const auto& [args, says] : rows) {
    SCOPED_TRACE(args.front() + " " + says);
    const Result run = RestoreDb(host, args);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Says(run.out, {"ERROR: ", says, "DATABASE RESTORE FAILED: nothing was restored."}));
    EXPECT_EQ(Files(host), files);
  }
  EXPECT_EQ(host.Digest(), before);

  // A target the command does not know, on the wire.
  StreamingClient client(host.port());
  DatabaseRestoreRequest request;
  request.server = client.Discover(host.server);
  request.target = 3;
  request.paths = {"names.nsf"};
  SendByte(client.get(), int(CommandCode::RestoreDatabases));
  ASSERT_EQ(RecvByte(client.get()), 1);
  SendDatabaseRestoreRequest(client.get(), request);
  EXPECT_EQ(RecvString(client.get()), "ERROR: Unknown restore target 3 or placement 0; nothing was restored.\r\n");
  EXPECT_EQ(RecvString(client.get()), "done");
}

}  // namespace
}  // namespace ark::systest
