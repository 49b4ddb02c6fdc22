#include "dominosim/server_config.h"

#include <cctype>
#include <cstdlib>

#include "dominosim/status.h"
#include "dominosim/txn_log.h"
#include "platform/files.h"
#include "platform/host.h"
#include "platform/profile.h"
#include "platform/registry.h"

namespace dominosim {
namespace {

std::string IniValue(const std::string& key, const std::string& ini) {
  std::string value;
  platform::GetPrivateProfileString("Notes", key, "", value, 256, ini);
  return value;
}

std::uint32_t IniNumber(const std::string& key, const std::string& ini, std::uint32_t fallback,
                        std::uint32_t limit) {
  std::string text = IniValue(key, ini);
  if (text.empty()) return fallback;
  char* end = nullptr;
  unsigned long value = std::strtoul(text.c_str(), &end, 10);
  if (end == text.c_str() || value == 0 || value > limit) return fallback;
  return std::uint32_t(value);
}

bool HasDrive(const std::string& path) {
  return path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
}

}  // namespace

std::string JoinWin(const std::string& first, const std::string& second) {
  if (first.empty()) return second;
  std::string out = first;
  if (out.back() != '\\') out += '\\';
  std::size_t skip = 0;
  while (skip < second.size() && second[skip] == '\\') ++skip;
  return out + second.substr(skip);
}

char DriveOf(const std::string& winPath) {
  return HasDrive(winPath) ? char(std::toupper(static_cast<unsigned char>(winPath[0]))) : 0;
}

STATUS MapPath(const std::string& winPath, std::string& hostPath) {
  if (winPath.empty()) return ERR_BAD_PATH;
  DWORD e = platform::ToHostPath(winPath, hostPath);
  return e == ERROR_SUCCESS ? NOERROR : ERR_BAD_PATH;
}

std::string AbbreviateCanonical(const std::string& name) {
  std::string out;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t slash = name.find('/', start);
    std::string part = name.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    std::size_t eq = part.find('=');
    if (eq != std::string::npos) part = part.substr(eq + 1);
    if (!out.empty() || start > 0) out += '/';
    out += part;
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return out;
}

STATUS DefaultIniPath(std::string& out) {
  std::string program;
  if (platform::RegGetString("SOFTWARE\\Lotus\\Domino\\5.0", "Path", program) != ERROR_SUCCESS &&
      platform::RegGetString("SOFTWARE\\Lotus\\Domino", "Path", program) != ERROR_SUCCESS)
    return ERR_INI_NOT_FOUND;
  out = JoinWin(program, "notes.ini");
  return NOERROR;
}

STATUS LoadServerConfig(const std::string& iniPath, ServerConfig& out) {
  ServerConfig c;
  c.iniPath = iniPath;
  DWORD attributes = platform::GetFileAttributes(iniPath);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return ERR_INI_NOT_FOUND;
  c.serverName = IniValue("ServerName", iniPath);
  c.dataDirWin = IniValue("Directory", iniPath);
  if (c.dataDirWin.empty()) return ERR_NO_DATA_DIRECTORY;
  if (STATUS s = MapPath(c.dataDirWin, c.dataDirHost)) return s;

  std::string style = IniValue("TRANSLOG_Style", iniPath);
  c.logging = !style.empty();
  c.style = c.logging ? DWORD(std::strtoul(style.c_str(), nullptr, 10)) : 0;
  std::string logPath = IniValue("TRANSLOG_Path", iniPath);
  if (logPath.empty()) logPath = "logdir";
  c.logDirWin = HasDrive(logPath) ? logPath : JoinWin(c.dataDirWin, logPath);
  while (c.logDirWin.size() > 3 && c.logDirWin.back() == '\\') c.logDirWin.pop_back();
  // A log directory that cannot be mapped leaves logDirHost empty: the
  // runtime still starts, and every log operation fails with ERR_LOG_NOT_FOUND.
  if (c.logging && MapPath(c.logDirWin, c.logDirHost) != NOERROR) c.logDirHost.clear();
  c.extentBytes = IniNumber(kExtentKiBKey, iniPath, kDefaultExtentKiB, 256 * 1024) * 1024;
  c.circularExtents = IniNumber(kCircularExtentsKey, iniPath, kDefaultCircularExtents, 1000);

  c.stateDirWin = IniValue(kStateDirKey, iniPath);
  if (c.stateDirWin.empty()) {
    // Outside the data volume, so a restore of that volume leaves it alone.
    std::string shortName = AbbreviateCanonical(c.serverName);
    shortName = shortName.substr(0, shortName.find('/'));
    c.stateDirWin = JoinWin("C:\\dominosim\\state", shortName.empty() ? "server" : shortName);
  }
  if (STATUS s = MapPath(c.stateDirWin, c.stateDirHost)) return s;
  out = c;
  return NOERROR;
}

}  // namespace dominosim
