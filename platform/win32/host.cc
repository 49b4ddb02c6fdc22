// On Windows the machine is its own host: there is no host root, drive
// letters are the system's, and a Windows path is checked and passed on.
#include "platform/shared/win_path.h"
#include "platform/win32/windows_api.h"

namespace platform {
namespace {

bool DriveExists(char letter) {
  const char root[] = {letter, ':', '\\', '\0'};
  return ::GetDriveTypeA(root) > DRIVE_NO_ROOT_DIR;
}

std::string g_noRoot;

}  // namespace

// The host root stands for the Windows machine on POSIX; here the machine
// is the real one, so there is nothing to set.
void SetHostRoot(const std::string&) {}
const std::string& HostRoot() { return g_noRoot; }

std::string DriveHostDirectory(char driveLetter) {
  const char letter = ToUpperAnsi(std::string(1, driveLetter))[0];
  if (letter < 'A' || letter > 'Z' || !DriveExists(letter)) return {};
  return std::string(1, letter) + ":\\";
}

// The same checks as on POSIX ("." and ".." refused, no wildcards, a drive
// letter that exists), giving the path with backslashes and without doubled
// or trailing separators.
DWORD ToHostPath(std::string_view winPath, std::string& hostPath) {
  if (winPath.size() < 2 || winPath[1] != ':') return ERROR_PATH_NOT_FOUND;
  const std::string drive = DriveHostDirectory(winPath[0]);
  if (drive.empty()) return ERROR_PATH_NOT_FOUND;
  std::vector<std::string_view> parts;
  if (const DWORD err = shared::SplitWindowsPath(winPath, parts); err != ERROR_SUCCESS) return err;
  std::string out = drive.substr(0, 2);
  for (std::string_view part : parts) {
    out += '\\';
    out += part;
  }
  if (out.size() == 2) out += '\\';  // the drive's root
  hostPath = std::move(out);
  return ERROR_SUCCESS;
}

// A path of this machine is already a Windows path.
DWORD ToWindowsPath(std::string_view hostPath, std::string& winPath) { return ToHostPath(hostPath, winPath); }

std::string GetWindowsDirectory() {
  char buffer[MAX_PATH + 1] = {};
  const UINT n = ::GetWindowsDirectoryA(buffer, sizeof buffer);
  return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string("C:\\Windows");
}

std::string GetModuleFileName() {
  char buffer[MAX_PATH + 1] = {};
  const WinDWORD n = ::GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::string(buffer, n) : std::string();
}

std::string GetComputerName() {
  char buffer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  WinDWORD size = sizeof buffer;
  return ::GetComputerNameA(buffer, &size) ? std::string(buffer, size) : std::string("localhost");
}

}  // namespace platform
