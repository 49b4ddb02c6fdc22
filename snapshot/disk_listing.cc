// The storage disks of the host tied to the discovered Domino servers, and
// the servers' snapshots from their hint files.
#include "snapshot/disk_listing.h"

#include <memory>

#include "domino/settings.h"
#include "platform/com.h"
#include "platform/text.h"
#include "snapshot/snapshot_hints.h"
#include "snapshot/snapshot_names.h"
#include "snapshot/snapshot_service.h"

namespace ark {

namespace {

// The pieces of text between separators, empty pieces included.
std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> pieces;
  std::size_t begin = 0;
  while (true) {
    const std::size_t end = text.find(separator, begin);
    pieces.push_back(text.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
    if (end == std::string::npos) return pieces;
    begin = end + 1;
  }
}

std::string PieceOr(const std::vector<std::string>& pieces, std::size_t index) {
  return index < pieces.size() ? pieces[index] : std::string();
}

char16_t UpperLetter(char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - u'a' + u'A') : c; }

// The volume record that a disk gives the directories it carries.
VolumeRecord VolumeOfDisk(const snapshot::DiskInfo& disk, char16_t letter, const std::string& volumeName) {
  VolumeRecord volume;
  volume.driveLetter = letter;
  volume.diskPath = platform::WideToAnsi(disk.diskPath.size() > 1 ? disk.diskPath.substr(1) : u"");
  volume.devicePath = platform::WideToAnsi(disk.devicePath.size() > 2 ? disk.devicePath.substr(2) : u"");
  volume.present = 1;
  volume.volumeName = volumeName;
  const std::vector<std::string> pieces = Split(volume.devicePath, '\\');
  volume.devicePathPart1 = PieceOr(pieces, 0);
  volume.devicePathPart2 = PieceOr(pieces, 1);
  return volume;
}

// The storage volume name: the disk path has the form "/" + volume + "/" +
// further pieces (the disk's own name), so the volume is the first
// "/"-piece after the leading separator.
std::string VolumeNameOf(const snapshot::DiskInfo& disk) {
  const std::string path = platform::WideToAnsi(disk.diskPath.size() > 1 ? disk.diskPath.substr(1) : u"");
  return Split(path, '/')[0];
}

bool OnDrive(const std::string& directory, char16_t letter) {
  return !directory.empty() &&
         UpperLetter(char16_t(static_cast<unsigned char>(directory[0]))) == UpperLetter(letter);
}

}  // namespace

bool IsSnapshotComponentInstalled() {
  std::unique_ptr<platform::IClassFactory> factory;
  return SUCCEEDED(platform::CoGetClassObject(
      snapshot::CLSID_DiskService, platform::CLSCTX_INPROC_SERVER | platform::CLSCTX_LOCAL_SERVER,
      factory));
}

int ListSnapshotsAndDisks(DiscoveryResult& result) {
  std::vector<snapshot::DiskInfo> disks;
  {
    std::unique_ptr<platform::IClassFactory> factory;
    if (FAILED(platform::CoGetClassObject(snapshot::CLSID_DiskService,
                                          platform::CLSCTX_INPROC_SERVER | platform::CLSCTX_LOCAL_SERVER,
                                          factory)) ||
        factory == nullptr) {
      return -1;
    }
    std::unique_ptr<snapshot::IDiskService> service;
    if (FAILED(platform::CreateInstance(*factory, snapshot::IID_IDiskService, service))) return -1;
    const HRESULT hr = service->ListDisks(disks);
    if (FAILED(hr)) return -1;
    if (hr != S_OK) return 0;
  }

  for (const snapshot::DiskInfo& disk : disks) {
    const std::string volumeName = VolumeNameOf(disk);
    DiskTableEntry entry;
    entry.volumeName = volumeName;
    for (const std::u16string& letters : disk.driveLetters) {
      if (letters.empty()) continue;
      const char16_t letter = letters[0];
      entry.driveLetters.push_back(platform::WideToAnsi(letters.substr(0, 1)));
      for (DominoServerInfo& server : result.servers) {
        if (OnDrive(server.dataDirectory, letter)) server.dataVolume = VolumeOfDisk(disk, letter, volumeName);
        if (OnDrive(server.logDirectory, letter)) server.logVolume = VolumeOfDisk(disk, letter, volumeName);
      }
    }
    // Every server, matched or not, as it stands after this disk.
    entry.servers = result.servers;
    result.disks[volumeName] = std::move(entry);
  }
  return 0;
}

void LoadAllSnapshotHints(std::vector<DominoServerInfo>& servers) {
  for (DominoServerInfo& server : servers) {
    std::string hintPath;
    if (GetSnapshotHintPath(server, hintPath) == 0) LoadSnapshotHints(hintPath, server);
  }
}

std::int32_t DiscoverServersAndStorage(DiscoveryResult& result) {
  const bool componentInstalled = IsSnapshotComponentInstalled();
  const std::int32_t rc = DiscoverDominoServers(result);
  if (rc == 0 && componentInstalled) {
    ListSnapshotsAndDisks(result);
    LoadAllSnapshotHints(result.servers);
  }
  return rc;
}

}  // namespace ark
