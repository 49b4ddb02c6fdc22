// Snapshot names, time stamps and snapshot entries.
#pragma once

#include <string>
#include <vector>

#include "common/records.h"

namespace ark {

// "dominosnap__" + computer + "__" + NAME (upper-cased) + "__recent".
std::u16string MakeRecentSnapshotName(const std::string& serverName);
// "dominosnap__%s__%s__%d-%d-%d_%d.%d.%d" from the local creation time.
std::u16string MakeDatedSnapshotName(const std::string& serverName, const FILETIME& creationUtc);
// Appends "dominosnap__" + computer + "__" + server name to out.
void MakeSnapshotNamePrefix(const std::string& serverName, std::string& out);
// True when the first prefix.size() characters of name equal prefix ignoring case.
bool SnapshotNameHasPrefix(const std::string& prefix, const std::string& name);

// Builds the entry texts from a snapshot's name and UTC creation time.
SnapshotEntry MakeSnapshotEntry(const std::u16string& name, const FILETIME& creationUtc);
// Appends one entry per snapshot of the drive, in the component's order;
// 0, or -1 when the component cannot be reached or the enumeration fails.
int GetSnapshotEntries(const std::u16string& driveLetter, std::vector<SnapshotEntry>& out);

// Converts "month-day-year_hour.minute.second" to a local-time FILETIME
// (compare only with values obtained the same way); day of week in *dayOfWeek.
FILETIME ReadTimeStamp(const std::string& stamp, SYSTEMTIME* asSystemTime = nullptr);

}  // namespace ark
