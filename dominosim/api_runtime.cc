// Runtime start and end, names, paths, times and status texts.
#include <cstdio>
#include <cstring>
#include <string>

#include "dominosim/sim_api.h"
#include "dominosim/status.h"
#include "platform/clock.h"

namespace dominosim {
namespace {

// Copies text into out (size bytes, terminator included); false when cut.
bool CopyOut(const std::string& text, char* out, std::size_t size) {
  if (out == nullptr || size == 0) return false;
  std::size_t n = text.size() < size - 1 ? text.size() : size - 1;
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
  return n == text.size();
}

}  // namespace

SimApi& Api() {
  static SimApi api;
  return api;
}

STATUS SimApi::InitRuntime(int argc, char** argv) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  std::string ini;
  if (argc == 0) {
    if (STATUS s = DefaultIniPath(ini)) return s;
  } else if (argc == 2 && argv != nullptr && argv[1] != nullptr && argv[1][0] == '=') {
    ini = argv[1] + 1;
  } else {
    return ERR_INIT_ARGS;
  }
  ServerConfig config;
  if (STATUS s = LoadServerConfig(ini, config)) return s;
  CloseAll();
  config_ = config;
  initialized_ = true;
  return NOERROR;
}

void SimApi::TermRuntime() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  CloseAll();
  initialized_ = false;
}

void SimApi::CloseAll() {
  notes_.clear();
  readAhead_ = ReadAhead{};
  idTables_.clear();
  databases_.clear();  // gives up backups still held
  appliers_.clear();   // removes staging files
  log_.reset();
  archiveCursor_ = 0;
}

WORD SimApi::GetErrorText(WORD, STATUS status, char* buffer, WORD size) {
  std::string text = StatusText(status);
  if (status == ERR_PAGE_DAMAGED && lastDamagedPage_ != 0) text = "page " + std::to_string(lastDamagedPage_) + " is damaged";
  if (buffer == nullptr || size == 0) return 0;
  CopyOut(text, buffer, size);
  return WORD(std::strlen(buffer));
}

STATUS SimApi::GetServerName(char* buffer256) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (buffer256 == nullptr) return ERR_BAD_ARGUMENT;
  buffer256[0] = '\0';
  if (!initialized_) return ERR_NOT_INITIALIZED;
  if (config_.serverName.empty()) return ERR_NO_SERVER_NAME;
  return CopyOut(config_.serverName, buffer256, 256) ? NOERROR : ERR_BUFFER_SMALL;
}

STATUS SimApi::AbbreviateName(DWORD, DWORD, const char* name, char* out, WORD size, WORD* length) {
  if (name == nullptr || out == nullptr || size == 0) return ERR_BAD_ARGUMENT;
  std::string abbreviated = AbbreviateCanonical(name);  // name may be out itself
  bool whole = CopyOut(abbreviated, out, size);
  if (length != nullptr) *length = WORD(std::strlen(out));
  return whole ? NOERROR : ERR_BUFFER_SMALL;
}

STATUS SimApi::TranslatePath(WORD, const char* path, WORD length, char* out, WORD size) {
  if (path == nullptr || out == nullptr || size == 0) return ERR_BAD_ARGUMENT;
  // The platform's character set is the runtime's own (UTF-8): a copy.
  std::size_t n = length == 0xFFFF ? std::strlen(path) : strnlen(path, length);
  return CopyOut(std::string(path, n), out, size) ? NOERROR : ERR_BUFFER_SMALL;
}

STATUS SimApi::TextToTimeDate(void*, void*, const char** text, WORD length, TIMEDATE* out) {
  if (text == nullptr || *text == nullptr || out == nullptr) return ERR_BAD_ARGUMENT;
  std::string input(*text, strnlen(*text, length));
  unsigned month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0;
  int used = 0;
  int fields = std::sscanf(input.c_str(), "%u/%u/%u %u:%u:%u%n", &month, &day, &year, &hour,
                           &minute, &second, &used);
  if (fields < 6) {
    // A date alone stands for its midnight.
    used = 0;
    hour = minute = second = 0;
    if (std::sscanf(input.c_str(), "%u/%u/%u%n", &month, &day, &year, &used) < 3) return ERR_BAD_TIME;
  }
  if (year < 100) year += year < 70 ? 2000 : 1900;
  SYSTEMTIME local;
  local.wYear = WORD(year);
  local.wMonth = WORD(month);
  local.wDay = WORD(day);
  local.wHour = WORD(hour);
  local.wMinute = WORD(minute);
  local.wSecond = WORD(second);
  FILETIME localTime, utc;
  if (month > 12 || day > 31 || hour > 23 || minute > 59 || second > 59 ||
      !platform::SystemTimeToFileTime(local, localTime) ||
      !platform::LocalFileTimeToFileTime(localTime, utc))
    return ERR_BAD_TIME;
  // Our TIMEDATE holds the UTC FILETIME: low word first.
  out->Innards[0] = utc.dwLowDateTime;
  out->Innards[1] = utc.dwHighDateTime;
  *text += used;
  return NOERROR;
}

}  // namespace dominosim
