// Deleting a server's snapshots beyond a kept number, saving the logs that
// newer snapshots still need and removing the deleted snapshots' ArkLedger
// directories; the deletions are reported as a "Delete Snapshot" report.
#include "snapshot/retention.h"

#include "common/ark_error.h"
#include "common/events.h"
#include "domino/host_utils.h"
#include "domino/settings.h"
#include "output/output.h"
#include "platform/eventlog.h"
#include "platform/text.h"
#include "reports/report_store.h"
#include "snapshot/component_access.h"
#include "snapshot/log_saving.h"
#include "snapshot/snapshot_names.h"

namespace ark {

namespace {

constexpr const char* kNameSeparator = "__";
constexpr const char* kReportTypeName = "Delete Snapshot";

// The snapshots of the volume that belong to the server, in the component's
// order. A name belongs to the server only when the server's prefix is
// followed by "__", so a server whose name merely begins with this server's
// name keeps its snapshots.
std::vector<std::u16string> ServerSnapshots(const snapshot::SnapshotList& list,
                                            const DominoServerInfo& server) {
  std::string prefix;
  MakeSnapshotNamePrefix(ServerShortName(server), prefix);
  prefix += kNameSeparator;
  std::vector<std::u16string> names;
  for (const snapshot::SnapshotInfo& info : list.entries) {
    if (SnapshotNameHasPrefix(prefix, platform::WideToAnsi(info.name))) names.push_back(info.name);
  }
  return names;
}

bool IsListed(const snapshot::SnapshotList& list, const std::u16string& name) {
  const std::string wanted = platform::WideToAnsi(name);
  for (const snapshot::SnapshotInfo& info : list.entries) {
    if (platform::EqualsNoCase(platform::WideToAnsi(info.name), wanted)) return true;
  }
  return false;
}

}  // namespace

int DeleteExcessSnapshots(DominoServerInfo& server, const std::u16string& driveLetter,
                          std::uint32_t keep, std::int32_t& deleted) {
  // The log references of the server's own snapshots: a log of this server
  // must never be moved into another server's ArkLedger directory.
  std::string serverDirectory;
  std::vector<snapshot::LogReference> references;
  if (GetChangeInfoDir(server, "", serverDirectory) == 0) {
    references = snapshot::ReadLogReferences(serverDirectory);
  }
  Output(server.output, "Preparing to delete snapshots in excess of " + std::to_string(keep) + "\r\n");
  deleted = 0;
  if (keep == 0) {
    // The snapshot this backup has just taken is never deleted.
    Output(server.output, "Keeping at least the most recent snapshot: keep count 0 treated as 1.\r\n");
    keep = 1;
  }

  std::unique_ptr<snapshot::ISnapshotService> service;
  const HRESULT opened = snapshot::OpenSnapshotService(snapshot::kComponentContext, service, nullptr);
  if (FAILED(opened)) {
    Output(server.output, "ERROR could not initialize snapshot COM object. Delete aborted.\r\n" +
                              snapshot::SystemText(opened) + "\r\n");
    return -1;
  }

  const std::u16string drive = snapshot::DriveOf(driveLetter);
  snapshot::SnapshotList list;
  const HRESULT enumerated = service->EnumerateSnapShots(drive, list, 1);
  if (FAILED(enumerated)) {
    Output(server.output,
           "ERROR: Couldn't enumerate snapshots in order to delete excess snapshots." +
               snapshot::SystemText(enumerated) + "\r\n");
    return -1;
  }
  if (list.entries.size() == 1) {
    Output(server.output, "Only one snapshot found, which is most recent. Deletion aborted.\r\n");
    return 0;
  }

  std::string report = LocalTimeText() + "  Deletion Report\r\n\r\n";
  const std::vector<std::u16string> names = ServerSnapshots(list, server);
  for (std::size_t i = keep; i < names.size(); ++i) {
    std::uint8_t flag = 0;
    const HRESULT result = service->DeleteSnapShot(drive, names[i], &flag);
    const std::string name = platform::WideToAnsi(names[i]);
    // The snapshot counts as deleted, and its ArkLedger directory goes, only
    // when the component no longer lists it: removing the directory of a
    // snapshot that stays would leave that snapshot unrestorable.
    snapshot::SnapshotList after;
    const HRESULT listed = service->EnumerateSnapShots(drive, after, 1);
    if (FAILED(listed) || IsListed(after, names[i])) {
      std::string warning = "WARNING: Snapshot " + name + " on VOL " + server.dataVolume.volumeName +
                            " was not deleted; its ArkLedger directory is kept.\r\n";
      if (FAILED(result) || FAILED(listed)) {
        warning += snapshot::SystemText(FAILED(result) ? result : listed) + "\r\n";
      }
      Output(server.output, warning);
      report += warning;
      platform::ReportEvent(kEventSourceName, EVENTLOG_WARNING_TYPE, kCategoryBackup, kEventSnapshotKept,
                            {name, server.serverName, server.dataVolume.volumeName});
      continue;
    }
    ++deleted;
    report += "Deleted snapshot " + name + " on VOL " + server.dataVolume.volumeName + "\r\n";

    std::string directory;
    if (GetChangeInfoDir(server, name, directory) != 0 || DirectoryExists(directory) != 0) continue;
    snapshot::SaveNeededLogs(server.output, directory, references);
    const int removed = DeleteDirectoryTree(directory);
    if (removed != 0) {
      Output(server.output, "ERROR: Could not remove snapshot sub directory: " + directory + "\r\n" +
                                snapshot::SystemTextOfError(DWORD(removed)) + "\r\n");
      return -1;
    }
    Output(server.output, "Removed snapshot sub directory: " + directory + "\r\n");
  }
  service.reset();

  report += "\r\n\r\nDeleted " + std::to_string(deleted) + " snapshots.";
  try {
    TheReportStore().SaveReport(kReportTypeName, report);
  } catch (const ARKError& error) {
    // The snapshots are deleted; only the report could not be kept.
    Output(server.output, error.Text() + "\r\n");
  }
  return 0;
}

}  // namespace ark
