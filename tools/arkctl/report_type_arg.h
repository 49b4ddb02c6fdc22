// The TYPE argument of the report commands.
#pragma once

#include <string>

namespace ark {

// "configure", "backup", "restore", "delete-snapshot" (any letter case) or
// "0".."3"; -1 for anything else.
int ParseReportType(const std::string& text);
// The folder name of a valid type ("Delete Snapshot"); empty for any other.
std::string ReportTypeFolder(int type);
inline constexpr const char* kReportTypeHelp = "configure, backup, restore, delete-snapshot, or 0-3";

}  // namespace ark
