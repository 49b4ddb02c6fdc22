#include "snapshotsvc/volume_target.h"

#include <stdio.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/host.h"
#include "platform/posix/kit/file_io.h"
#include "platform/text.h"
#include "snapshotsvc/tree_ops.h"

namespace snapshotsvc {
namespace {

constexpr std::size_t kMaxFileNameBytes = 255;

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

HRESULT ResolveVolume(const ComponentConfig& config, const std::u16string& drive,
                      VolumeTarget& out) {
  if (drive.empty()) return E_INVALIDARG;
  char16_t c = drive[0];
  if (c >= u'a' && c <= u'z') c = char16_t(c - u'a' + u'A');
  if (c < u'A' || c > u'Z') return E_INVALIDARG;
  const char letter = char(c);
  if (!config.CarriesDrive(letter)) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  std::string hostDir = platform::DriveHostDirectory(letter);
  while (hostDir.size() > 1 && hostDir.back() == '/') hostDir.pop_back();
  if (hostDir.empty() || hostDir == "/") return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);

  VolumeTarget target;
  target.letter = letter;
  target.hostDir = hostDir;
  platform::posix::SplitPath(hostDir, target.parentDir, target.baseName);
  // A restore that was cut short between setting the old tree aside and
  // moving the new one in: give the drive its old tree back.
  if (!Exists(hostDir) && IsDirectory(target.SetAsidePath())) {
    ::rename(target.SetAsidePath().c_str(), hostDir.c_str());
  }
  if (!IsDirectory(hostDir)) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  const std::string storeBase =
      config.snapshotStore.empty() ? target.parentDir + "/.snapshots" : config.snapshotStore;
  target.storeRoot = storeBase + "/" + std::string(1, letter);
  out = std::move(target);
  return S_OK;
}

HRESULT ValidateSnapshotName(const std::u16string& name, std::string& ansi) {
  if (name.empty() || name == u"." || name == u"..") return E_INVALIDARG;
  for (char16_t c : name) {
    if (c < 0x20 || c == 0x7F || c == u'/' || c == u'\\') return E_INVALIDARG;
  }
  std::string text = platform::WideToAnsi(name);
  if (text.size() > kMaxFileNameBytes) return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
  ansi = std::move(text);
  return S_OK;
}

}  // namespace snapshotsvc
