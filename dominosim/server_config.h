// A server installation as its notes.ini describes it, with the Windows
// paths of the engine and the host paths they map to.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win_types.h"

namespace dominosim {

// Settings of our own in notes.ini.
constexpr const char* kExtentKiBKey = "SIM_LogExtentKiB";
constexpr const char* kCircularExtentsKey = "SIM_CircularExtents";
constexpr const char* kStateDirKey = "SIM_StateDir";

struct ServerConfig {
  std::string iniPath;        // Windows path of notes.ini
  std::string serverName;     // canonical ("CN=srv1/O=Org")
  std::string dataDirWin;
  std::string dataDirHost;
  bool logging = false;       // TRANSLOG_Style is set
  DWORD style = 0;            // its value: 0 circular, 1 archive
  std::string logDirWin;
  std::string logDirHost;    // empty when the log directory cannot be mapped
  std::string stateDirWin;
  std::string stateDirHost;
  std::uint32_t extentBytes = 0;
  std::uint32_t circularExtents = 0;
};

// Reads notes.ini (Windows path) through the profile functions and maps its
// paths: ERR_INI_NOT_FOUND, ERR_NO_DATA_DIRECTORY, ERR_BAD_PATH.
STATUS LoadServerConfig(const std::string& iniPath, ServerConfig& out);
// notes.ini of the default installation: the program directory ("Path")
// under HKLM "SOFTWARE\Lotus\Domino\5.0", else "SOFTWARE\Lotus\Domino".
STATUS DefaultIniPath(std::string& out);

// The file whose appearance asks the server's nserver to stop (Windows).
inline std::string StopFilePath(const ServerConfig& config) { return config.stateDirHost + "/nserver.stop"; }

// Windows path to host path (ERR_BAD_PATH when it cannot be mapped).
STATUS MapPath(const std::string& winPath, std::string& hostPath);
// The drive letter of a Windows path ("D:\x" -> 'D'), 0 when it has none.
char DriveOf(const std::string& winPath);
// "CN=srv1/O=Org" -> "srv1/Org"
std::string AbbreviateCanonical(const std::string& name);
// Joins with exactly one backslash.
std::string JoinWin(const std::string& first, const std::string& second);

}  // namespace dominosim
