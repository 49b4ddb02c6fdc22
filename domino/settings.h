// The service's settings (ark.ini in the Windows directory, section NOTES),
// the ArkLedger path scheme, notes.ini and registry readers.
#pragma once

#include <string>

#include "common/records.h"

namespace ark {

struct SplitPathResult {
  std::string drive;         // "C:"
  std::string directory;     // "\dir\sub\" (leading and trailing "\")
  std::string fileName;      // without extension
  std::string extension;     // with its dot
  std::string driveAndDirectory;
};

std::string GetArkIniPath();
// Reads key from section NOTES of file (Windows path) into value (at most
// 255 characters); returns the number of characters read.
int ReadNotesSetting(const std::string& key, std::string& value, const std::string& file);
void WriteNotesSetting(const std::string& key, const std::string& value, const std::string& file);

// The short name from which the server's ArkLedger directory and snapshot
// names are built: commonName, or, for a server whose name holds no "/"
// (its commonName is empty), the whole serverName.
std::string ServerShortName(const DominoServerInfo& server);

// CHANGE_INFO_DIR + "\" unless it ends in one; 0. When CHANGE_INFO_DIR is
// empty: out empty and -1 (not configured).
int GetChangeInfoRoot(std::string& out);
// Server directory (name empty) or ArkLedger directory of snapshot name;
// -1 with out untouched when CHANGE_INFO_DIR is empty, or when the server's
// short name or the name is not one directory level (empty, ".", "..", or
// holding "\", "/" or ":").
int GetChangeInfoDir(const DominoServerInfo& server, const std::string& name, std::string& out);
int GetSnapshotHintPath(const DominoServerInfo& server, std::string& out);
// The drive letter of a Windows path ("D:\\x" gives 'D', upper-cased); 0 when
// the path does not begin with a drive.
char DriveLetterOf(const std::string& path);
// The drive that a snapshot of the server captures and a restore reverts:
// the letter of its data volume, else the drive of its data directory; 0
// when neither names one.
char DataVolumeDrive(const DominoServerInfo& server);
// When CHANGE_INFO_DIR lies on the server's data volume (a revert would take
// the ArkLedger back to a time before the change information was written):
// the lines that say so and where to move it, ending in "\r\n"; else empty.
std::string ArkLedgerOnDataVolumeText(const DominoServerInfo& server);
// The same for an ArkLedger root that is not (yet) the setting: a value
// proposed for CHANGE_INFO_DIR.
std::string ArkLedgerOnDataVolumeText(const DominoServerInfo& server, const std::string& root);
bool HasConfigWizardRun();
bool HasBackupWizardRun();

// 0 on success, 1 when the key or value cannot be read (value of at most 254 characters).
int ReadMachineRegistryValue(const std::string& keyPath, const std::string& valueName,
                             std::string& value);
int SplitPath(const std::string& path, SplitPathResult& out);  // -1 for an empty path

// The directory with a "\" appended unless it already ends in one (an empty
// one gives "\").
std::string WithBackslash(std::string directory);
// Joins with exactly one backslash between the parts.
std::string JoinPath(const std::string& first, const std::string& second);

}  // namespace ark
