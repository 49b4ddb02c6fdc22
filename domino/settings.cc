// The service's settings file, the ArkLedger path scheme and the small
// readers of machine-wide facts.
#include "domino/settings.h"

#include "platform/host.h"
#include "platform/profile.h"
#include "platform/registry.h"

namespace ark {

namespace {

constexpr const char* kNotesSection = "NOTES";
constexpr const char* kArkIniName = "ark.ini";
constexpr const char* kChangeInfoDirKey = "CHANGE_INFO_DIR";
constexpr const char* kConfigWizardKey = "CONFIGWIZ";
constexpr const char* kBackupWizardKey = "BACKUPWIZ";
constexpr std::size_t kSettingCapacity = 256;    // 255 characters and the terminator
constexpr std::size_t kWizardFlagCapacity = 20;  // 19 characters and the terminator
constexpr std::size_t kRegistryValueCapacity = 255;

// A name used as one directory level of an ArkLedger path: it must not be
// empty, "." or "..", nor hold a separator, so that no ArkLedger path can
// name a directory outside the server's own.
bool IsSingleLevel(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find_first_of("\\/:") == std::string::npos;
}

bool WizardFlagSet(const char* key) {
  std::string value;
  return platform::GetPrivateProfileString(kNotesSection, key, "", value, kWizardFlagCapacity,
                                           GetArkIniPath()) > 0;
}

}  // namespace

std::string GetArkIniPath() { return WithBackslash(platform::GetWindowsDirectory()) + kArkIniName; }

int ReadNotesSetting(const std::string& key, std::string& value, const std::string& file) {
  return int(platform::GetPrivateProfileString(kNotesSection, key, "", value, kSettingCapacity, file));
}

void WriteNotesSetting(const std::string& key, const std::string& value, const std::string& file) {
  platform::WritePrivateProfileString(kNotesSection, key, value, file);
}

std::string ServerShortName(const DominoServerInfo& server) {
  if (!server.commonName.empty()) return server.commonName;
  if (server.serverName.find('/') != std::string::npos) return std::string();
  return server.serverName;
}

int GetChangeInfoRoot(std::string& out) {
  std::string value;
  if (ReadNotesSetting(kChangeInfoDirKey, value, GetArkIniPath()) == 0) {
    // Not configured: an empty root, never "\" (which would name a drive's root).
    out.clear();
    return -1;
  }
  out = WithBackslash(value);
  return 0;
}

int GetChangeInfoDir(const DominoServerInfo& server, const std::string& name, std::string& out) {
  std::string value;
  if (ReadNotesSetting(kChangeInfoDirKey, value, GetArkIniPath()) == 0) return -1;
  const std::string shortName = ServerShortName(server);
  if (!IsSingleLevel(shortName) || (!name.empty() && !IsSingleLevel(name))) return -1;
  std::string dir = WithBackslash(value) + shortName + "\\";
  dir += name;
  out = dir;
  return 0;
}

int GetSnapshotHintPath(const DominoServerInfo& server, std::string& out) {
  std::string dir;
  if (GetChangeInfoDir(server, "", dir) != 0) return -1;
  out = dir + "\\hint";
  return 0;
}

char DriveLetterOf(const std::string& path) {
  if (path.size() < 2 || path[1] != ':') return 0;
  const char letter = path[0];
  if (letter >= 'a' && letter <= 'z') return char(letter - 'a' + 'A');
  return letter >= 'A' && letter <= 'Z' ? letter : 0;
}

char DataVolumeDrive(const DominoServerInfo& server) {
  const char16_t letter = server.dataVolume.driveLetter;
  if (letter > 0 && letter < 0x80) {
    const char drive = DriveLetterOf(std::string(1, char(letter)) + ":");
    if (drive != 0) return drive;
  }
  return DriveLetterOf(server.dataDirectory);
}

std::string ArkLedgerOnDataVolumeText(const DominoServerInfo& server) {
  std::string root;
  if (ReadNotesSetting(kChangeInfoDirKey, root, GetArkIniPath()) == 0) return std::string();
  return ArkLedgerOnDataVolumeText(server, root);
}

std::string ArkLedgerOnDataVolumeText(const DominoServerInfo& server, const std::string& root) {
  const char drive = DataVolumeDrive(server);
  if (drive == 0 || DriveLetterOf(root) != drive) return std::string();
  const std::string driveText = std::string(1, drive) + ":";
  return "ERROR: The ArkLedger directory " + root + " (CHANGE_INFO_DIR) lies on drive " + driveText +
         ", the data volume of server " + server.serverName + ".\r\n" +
         "A restore reverts that volume and would take the ArkLedger back to a time before the "
         "change information was written.\r\n" +
         "Move the ArkLedger directory to a drive other than " + driveText +
         " and set CHANGE_INFO_DIR in " + GetArkIniPath() + " to its new place.\r\n";
}

bool HasConfigWizardRun() { return WizardFlagSet(kConfigWizardKey); }
bool HasBackupWizardRun() { return WizardFlagSet(kBackupWizardKey); }

int ReadMachineRegistryValue(const std::string& keyPath, const std::string& valueName,
                             std::string& value) {
  std::string text;
  if (platform::RegGetString(keyPath, valueName, text) != ERROR_SUCCESS) return 1;
  // A value that does not fit the 255-byte buffer with its terminator cannot be read.
  if (text.size() >= kRegistryValueCapacity) return 1;
  value = text;
  return 0;
}

int SplitPath(const std::string& path, SplitPathResult& out) {
  if (path.empty()) return -1;
  SplitPathResult result;
  std::size_t pos = 0;
  if (path.size() >= 2 && path[1] == ':') {
    result.drive = path.substr(0, 2);
    pos = 2;
  }
  const std::size_t lastSeparator = path.find_last_of("\\/");
  std::size_t nameStart = pos;
  if (lastSeparator != std::string::npos && lastSeparator >= pos) {
    result.directory = path.substr(pos, lastSeparator + 1 - pos);
    nameStart = lastSeparator + 1;
  }
  const std::string name = path.substr(nameStart);
  const std::size_t dot = name.find_last_of('.');
  if (dot == std::string::npos) {
    result.fileName = name;
  } else {
    result.fileName = name.substr(0, dot);
    result.extension = name.substr(dot);
  }
  result.driveAndDirectory = result.drive + result.directory;
  out = std::move(result);
  return 0;
}

std::string WithBackslash(std::string directory) {
  if (directory.empty() || directory.back() != '\\') directory += '\\';
  return directory;
}

std::string JoinPath(const std::string& first, const std::string& second) {
  if (first.empty()) return second;
  std::size_t end = first.size();
  while (end > 0 && first[end - 1] == '\\') --end;
  std::size_t begin = 0;
  while (begin < second.size() && second[begin] == '\\') ++begin;
  return first.substr(0, end) + "\\" + second.substr(begin);
}

}  // namespace ark
