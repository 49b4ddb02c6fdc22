// Snapshot names, the texts of a snapshot's creation time, and reading a
// time stamp back out of a dated name.
#include "snapshot/snapshot_names.h"

#include <cctype>
#include <cstdio>

#include "platform/clock.h"
#include "platform/host.h"
#include "platform/text.h"
#include "snapshot/component_access.h"
#include "snapshot/snapshot_time.h"

namespace ark {

namespace {

constexpr const char* kNameStart = "dominosnap__";
constexpr const char* kSeparator = "__";
constexpr const char* kRecentEnd = "__recent";
constexpr std::size_t kComputerNameLimit = 1023;  // 1024-byte buffer
constexpr std::size_t kEntryNameLimit = 255;      // 256-byte text with its terminator

std::string ComputerName() {
  std::string name = platform::GetComputerName();
  if (name.size() > kComputerNameLimit) name.resize(kComputerNameLimit);
  return name;
}

// Cuts 8-bit text to at most limit bytes without splitting a character of
// the ANSI code page (UTF-8 in this port).
std::string CutText(std::string text, std::size_t limit) {
  if (text.size() <= limit) return text;
  std::size_t n = limit;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  text.resize(n);
  return text;
}

// Decimal text to integer as atoi reads it (leading blanks, a sign, digits;
// anything unreadable gives 0), saturating instead of overflowing.
long ReadDecimal(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    if (value < 1000000000L) value = value * 10 + (text[i] - '0');
  }
  return negative ? -value : value;
}

// The pieces of text between separators; a missing piece reads as empty.
std::string Piece(const std::string& text, char separator, std::size_t index) {
  std::size_t begin = 0;
  for (std::size_t i = 0; i < index; ++i) {
    std::size_t next = text.find(separator, begin);
    if (next == std::string::npos) return std::string();
    begin = next + 1;
  }
  std::size_t end = text.find(separator, begin);
  return text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

// Day of the week (0 = Sunday) of a Gregorian date; 0 for a month that is
// not 1 to 12.
int DayOfWeek(long year, long month, long day) {
  static const int t[12] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  if (month < 1 || month > 12) return 0;
  long y = month < 3 ? year - 1 : year;
  long result = (y + y / 4 - y / 100 + y / 400 + t[month - 1] + day) % 7;
  return int(result < 0 ? result + 7 : result);
}

}  // namespace

SYSTEMTIME LocalCreationTime(const FILETIME& creationUtc) {
  // A failed conversion leaves the fields as far as they got; the texts are
  // still made from them.
  FILETIME local;
  SYSTEMTIME time;
  if (platform::FileTimeToLocalFileTime(creationUtc, local)) platform::FileTimeToSystemTime(local, time);
  return time;
}

std::string TimeStampText(const SYSTEMTIME& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%d-%d-%d_%d.%d.%d", int(t.wMonth), int(t.wDay), int(t.wYear),
                int(t.wHour), int(t.wMinute), int(t.wSecond));
  return text;
}

std::u16string MakeRecentSnapshotName(const std::string& serverName) {
  return platform::AnsiToWide(std::string(kNameStart) + ComputerName() + kSeparator +
                              platform::ToUpperAnsi(serverName) + kRecentEnd);
}

std::u16string MakeDatedSnapshotName(const std::string& serverName, const FILETIME& creationUtc) {
  const SYSTEMTIME t = LocalCreationTime(creationUtc);
  return platform::AnsiToWide(std::string(kNameStart) + ComputerName() + kSeparator + serverName +
                              kSeparator + TimeStampText(t));
}

void MakeSnapshotNamePrefix(const std::string& serverName, std::string& out) {
  out += std::string(kNameStart) + ComputerName() + kSeparator + serverName;
}

bool SnapshotNameHasPrefix(const std::string& prefix, const std::string& name) {
  return platform::StartsWithNoCase(name, prefix);
}

SnapshotEntry MakeSnapshotEntry(const std::u16string& name, const FILETIME& creationUtc) {
  SnapshotEntry entry;
  entry.name = CutText(platform::WideToAnsi(name), kEntryNameLimit);
  entry.nameText.Set(entry.name);
  entry.wideName.Set(name);
  const SYSTEMTIME t = LocalCreationTime(creationUtc);
  char text[64];
  std::snprintf(text, sizeof text, "%d-%d-%d", int(t.wMonth), int(t.wDay), int(t.wYear));
  entry.dateText.Set(text);
  std::snprintf(text, sizeof text, "%d:%d:%d", int(t.wHour), int(t.wMinute), int(t.wSecond));
  entry.timeText.Set(text);
  entry.stampText.Set(TimeStampText(t));
  std::snprintf(text, sizeof text, "%d/%d/%d %d:%d:00", int(t.wMonth), int(t.wDay), int(t.wYear),
                int(t.wHour), int(t.wMinute));
  entry.displayText.Set(text);
  // The wire's fields 6 to 8: the name and the two halves of the UTC creation time.
  entry.componentName.Set(name);
  entry.componentValue1 = creationUtc.dwLowDateTime;
  entry.componentValue2 = creationUtc.dwHighDateTime;
  return entry;
}

int GetSnapshotEntries(const std::u16string& driveLetter, std::vector<SnapshotEntry>& out) {
  std::unique_ptr<snapshot::ISnapshotService> service;
  if (FAILED(snapshot::OpenSnapshotService(snapshot::kComponentContext, service, nullptr))) return -1;
  snapshot::SnapshotList list;
  const HRESULT hr = service->EnumerateSnapShots(snapshot::DriveOf(driveLetter), list, 1);
  if (FAILED(hr)) return -1;
  if (hr != S_OK) return 0;  // only exactly S_OK carries a list
  for (const snapshot::SnapshotInfo& info : list.entries) {
    out.push_back(MakeSnapshotEntry(info.name, info.creationTime));
  }
  return 0;
}

FILETIME ReadTimeStamp(const std::string& stamp, SYSTEMTIME* asSystemTime) {
  const std::string date = Piece(stamp, '_', 0);
  const std::string time = Piece(stamp, '_', 1);
  const long month = ReadDecimal(Piece(date, '-', 0));
  const long day = ReadDecimal(Piece(date, '-', 1));
  const long year = ReadDecimal(Piece(date, '-', 2));
  SYSTEMTIME t;
  t.wMonth = WORD(month);
  t.wDay = WORD(day);
  t.wYear = WORD(year);
  t.wHour = WORD(ReadDecimal(Piece(time, '.', 0)));
  t.wMinute = WORD(ReadDecimal(Piece(time, '.', 1)));
  t.wSecond = WORD(ReadDecimal(Piece(time, '.', 2)));
  t.wMilliseconds = 0;
  t.wDayOfWeek = WORD(DayOfWeek(year, month, day));
  if (asSystemTime != nullptr) *asSystemTime = t;
  // Local fields taken as they are: a local-time FILETIME; zero when the
  // fields are no valid time.
  FILETIME result;
  if (!platform::SystemTimeToFileTime(t, result)) result = FILETIME{};
  return result;
}

}  // namespace ark
