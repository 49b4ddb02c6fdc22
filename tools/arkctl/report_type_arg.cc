#include "tools/arkctl/report_type_arg.h"

#include <array>

#include "platform/text.h"

namespace ark {

namespace {
constexpr std::array<const char*, 4> kArgumentNames = {"configure", "backup", "restore", "delete-snapshot"};
constexpr std::array<const char*, 4> kFolderNames = {"Configure", "Backup", "Restore", "Delete Snapshot"};
}  // namespace

int ParseReportType(const std::string& text) {
  if (text.size() == 1 && text[0] >= '0' && text[0] <= '3') return text[0] - '0';
  for (std::size_t i = 0; i < kArgumentNames.size(); ++i)
    if (platform::EqualsNoCase(text, kArgumentNames[i])) return static_cast<int>(i);
  return -1;
}

std::string ReportTypeFolder(int type) {
  return type >= 0 && type < 4 ? kFolderNames[static_cast<std::size_t>(type)] : "";
}

}  // namespace ark
