// The snapshot hint file: loading against the volume's snapshots, saving
// upper-cased names once each.
#include "platform/text.h"
#include "snapshot/snapshot_hints.h"
#include "snapshot/snapshot_names.h"
#include "tests/snapshot/snapshot_fixture.h"

using SnapshotHints = SnapshotHostTest;
using platform::ToLowerAnsi;
using platform::ToUpperAnsi;

namespace {

std::vector<std::string> NamesOf(const DominoServerInfo& server) {
  std::vector<std::string> names;
  for (const SnapshotEntry& e : server.snapshots) names.push_back(e.name);
  return names;
}

const char* const kHint = "E:\\ledger\\srv1\\hint";

}  // namespace

TEST_F(SnapshotHints, LoadMatchesVolumeAndSaveRewritesUpperCasedOnce) {
  const std::string october = Dated("srv1", "10-5-2003_8.0.0");
  const std::string february = Dated("srv1", "2-3-2003_9.5.7");
  fake().Add(u'E', Recent("SRV1"), Utc(2003, 11, 1, 12, 0, 0));
  fake().Add(u'E', october, Utc(2003, 10, 5, 13, 0, 0));
  fake().Add(u'E', february, Utc(2003, 2, 3, 14, 5, 7));
  fake().Add(u'E', Dated("srv1", "1-1-2003_1.1.1"), Utc(2003, 1, 1, 6, 1, 1));  // not in the file
  // Repeats, another letter case, a blank line in the middle, a "\r\n"
  // line end, and a name that is no longer on the volume.
  WriteHostFile(Ledger("hint"), ToLowerAnsi(february) + "\n" + Recent("SRV1") + "\n\n" + october + "\r\n" + october + "\n" +
                                    Dated("srv1", "5-5-2002_1.2.3") + "\n" + Recent("SRV1") + "\n");

  ASSERT_EQ(LoadSnapshotHints(kHint, server_), 0);
  // Byte order of the names as the file holds them: upper case before lower
  // case, October ("10-") before February ("2-").
  ASSERT_EQ(NamesOf(server_), (std::vector<std::string>{Recent("SRV1"), october, ToLowerAnsi(february)}));
  // The entries carry the volume's facts for the names.
  EXPECT_EQ(server_.snapshots[1].stampText.Get(), "10-5-2003_8.0.0");
  EXPECT_EQ(server_.snapshots[2].displayText.Get(), "2/3/2003 9:5:00");
  EXPECT_EQ(server_.snapshots[2].nameText.Get(), ToLowerAnsi(february));

  server_.snapshots.push_back(SnapshotEntry{});
  server_.snapshots.push_back(server_.snapshots[0]);
  ASSERT_EQ(SaveSnapshotHints(kHint, server_), 0);
  EXPECT_EQ(ReadHostFile(Ledger("hint")), ToUpperAnsi(Recent("SRV1") + "\n" + october + "\n" + february + "\n"));
  // Read back: the dated names sort before the recent one now that all are
  // upper case, and October still before February.
  ASSERT_EQ(LoadSnapshotHints(kHint, server_), 0);
  EXPECT_EQ(NamesOf(server_), (std::vector<std::string>{ToUpperAnsi(october), ToUpperAnsi(february), ToUpperAnsi(Recent("SRV1"))}));
}

TEST_F(SnapshotHints, MissingFileIsCreatedAndBadInputsFailClearly) {
  fake().Add(u'E', Recent("SRV1"), Utc(2003, 11, 1, 12, 0, 0));
  server_.snapshots.push_back(SnapshotEntry{});
  // A missing file and its directories are created empty.
  ASSERT_EQ(LoadSnapshotHints("E:\\ledger\\new\\deeper\\hint", server_), 0);
  EXPECT_TRUE(server_.snapshots.empty());
  EXPECT_TRUE(fs::is_regular_file(host_.Drive('E', "ledger/new/deeper/hint")));
  EXPECT_EQ(ReadHostFile(host_.Drive('E', "ledger/new/deeper/hint")), "");
  // No path, or a path on a drive that does not exist: -1.
  for (const char* path : {"", "Q:\\ledger\\hint"}) {
    EXPECT_EQ(LoadSnapshotHints(path, server_), -1) << path;
    EXPECT_EQ(SaveSnapshotHints(path, server_), -1) << path;
  }
  // The component cannot list the volume, or is not there: the load fails
  // and the file keeps its names for the next time.
  WriteHostFile(Ledger("hint"), Recent("SRV1") + "\n");
  fake().enumerateResult = E_FAIL;
  EXPECT_EQ(LoadSnapshotHints(kHint, server_), -1);
  component_.Uninstall();
  EXPECT_EQ(LoadSnapshotHints(kHint, server_), -1);
  EXPECT_EQ(ReadHostFile(Ledger("hint")), Recent("SRV1") + "\n");
}
