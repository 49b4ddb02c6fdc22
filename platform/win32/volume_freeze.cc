// The volume freeze: a lock file per drive in the machine-wide folder
// %ProgramData%\ark (the service runs as LocalSystem, the Domino server and
// the tools as other accounts: each has a temporary folder of its own, but
// all must meet on the same lock), locked shared by writers and exclusively
// for the capture (LockFileEx), released when the holder closes it or ends.
#include "platform/win32/windows_api.h"

namespace platform {
namespace {

HANDLE OpenLockFile(char letter) {
  char common[MAX_PATH + 1] = {};
  if (::SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common) != S_OK) {
    return INVALID_HANDLE_VALUE;
  }
  const std::string folder = std::string(common) + "\\ark";
  if (!::CreateDirectoryA(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
    return INVALID_HANDLE_VALUE;
  }
  const std::string path = folder + "\\ark-volume-" + letter + ".lock";
  // Read access is enough for LockFileEx, and every account may read a file
  // that another created in that folder (it may not write it).
  return ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

bool VolumeLock::Lock(char driveLetter, Kind kind) {
  Unlock();
  char letter = driveLetter;
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  if (letter < 'A' || letter > 'Z') return false;
  NativeFile file(OpenLockFile(letter));
  if (!file.valid()) return false;
  OVERLAPPED at = {};
  const WinDWORD flags = kind == Kind::ExclusiveFreeze ? LOCKFILE_EXCLUSIVE_LOCK : 0;
  if (!::LockFileEx(file.get(), flags, 0, 1, 0, &at)) return false;
  handle_ = std::move(file);
  return true;
}

}  // namespace platform
