// A snapshot's root for reading: through ark's own component on a test host
// (D: its folder D/, snapshots kept below the host root, which is C:), and
// the refusals of a storage's component without the interface (the fake).
#include <gtest/gtest.h>

#include <optional>

#include "platform/files.h"
#include "platform/registry.h"
#include "snapshot/snapshot_files.h"
#include "snapshotsvc/configure.h"
#include "snapshotsvc/snapshot_service_impl.h"
#include "tests/support/fake_component.h"
#include "tests/support/temp_host.h"

namespace ark {

namespace {

enum class Component { Ours, OursCRemapped, WithoutInterface, NotInstalled };
struct Case { const char* what; Component component; std::u16string name; const char* said; };
void PrintTo(const Case& c, std::ostream* os) { *os << c.what; }
const Case kCases[] = {
    {"TakenSnapshotNamedInAnyCase", Component::Ours, u"SNAP1", ""},
    {"UnknownSnapshot", Component::Ours, u"snap2", "Snapshot snap2 of volume D does not exist."},
    {"StoreOffTheDriveMap", Component::OursCRemapped, u"snap1",
     "The snapshot store of volume D is not reachable through the drive map; map a drive to its folder."},
    {"ComponentWithoutTheInterface", Component::WithoutInterface, u"snap1",
     "The snapshot component of volume D: cannot show a snapshot's files; restore the whole volume instead."},
    {"NoComponent", Component::NotInstalled, u"snap1",
     "The snapshot component of volume D cannot be reached: Class not registered"},
};
struct SnapshotFiles : testing::TestWithParam<Case> {};

TEST_P(SnapshotFiles, RootReadsTheSnapshotOrSaysWhyNot) {
  const Case& c = GetParam();
  TempHostRoot host;
  snapshotsvc::RegisterClassServers();
  std::string error;
  ASSERT_TRUE(snapshotsvc::InstallComponent(snapshotsvc::Backend::Dir,
                                            {{"vol_data", "disk1", "\\\\filer1\\vol_data\\disk1", {'D'}}}, &error))
      << error;
  WriteHostFile(host.D() / "Domino" / "a.nsf", "at the snapshot");
  snapshot::SnapshotDriveSet drives;
  drives.drives.push_back(snapshot::SNAPSHOT_DRIVE_INFO{u"D", 1});
  ASSERT_EQ(snapshotsvc::SnapshotServiceImpl().CreateSnapShot(drives, u"snap1"), S_OK);
  WriteHostFile(host.D() / "Domino" / "a.nsf", "changed since");

  std::optional<FakeComponent> fake;
  if (c.component == Component::WithoutInterface || c.component == Component::NotInstalled) fake.emplace();
  if (c.component == Component::NotInstalled) fake->Uninstall();
  if (c.component == Component::OursCRemapped) {
    std::filesystem::create_directories(host.path() / "c");
    platform::RegSetString("SYSTEM\\CurrentControlSet\\Control\\Session Manager\\DOS Devices", "C:",
                           (host.path() / "c").string());
  }
  std::string root = "stale", said;
  EXPECT_EQ(SnapshotRootForReading(u"d:", c.name, root, said), *c.said == '\0' ? 0 : -1);
  EXPECT_EQ(said, c.said);
  std::string content = "(unread)";
  const DWORD read = root.empty() ? ERROR_SUCCESS : platform::ReadWholeFile(root + "\\Domino\\a.nsf", content);
  EXPECT_EQ(read, ERROR_SUCCESS) << root;
  EXPECT_EQ(content, *c.said == '\0' ? "at the snapshot" : "(unread)");
  EXPECT_EQ(fake ? fake->state().liveInterfaces + fake->state().liveFactories : 0, 0);
}
INSTANTIATE_TEST_SUITE_P(Rows, SnapshotFiles, testing::ValuesIn(kCases));

}  // namespace

}  // namespace ark
