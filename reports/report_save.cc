// Saving a run's report text as a report file. A failure is never raised:
// the run is over and its client told; the failure goes to the event log and
// the debug trace, because the service has nobody at its screen.
#include <string>

#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/eventlog.h"
#include "platform/files.h"
#include "reports/report_store.h"

namespace {

constexpr const char* kEventSource = "arksvc";
constexpr WORD kServiceCategory = 3;
constexpr DWORD kReportNotSavedEvent = 0x40000070;  // report could not be saved

void ReportSaveFailure(const std::string& typeName, const std::string& error) {
  const std::string title = "Unable to save " + typeName + " report.";
  platform::OutputDebugString(title + " " + error + "\n");
  platform::ReportEvent(kEventSource, EVENTLOG_ERROR_TYPE, kServiceCategory, kReportNotSavedEvent,
                        {title, error});
}

bool IsKnownTypeName(const std::string& typeName) {
  for (int type = 0; type < 4; ++type) {
    if (ReportStore::ReportTypeName(type) == typeName) return true;
  }
  return false;
}

}  // namespace

void ReportStore::SaveReport(const std::string& typeName, const std::string& text) const {
  if (!IsKnownTypeName(typeName)) {
    ReportSaveFailure(typeName, "Unknown report type " + typeName);
    return;
  }
  std::string folder;
  try {
    folder = GetReportFolder();
  } catch (const RegistryKeyReadFailure& e) {
    ReportSaveFailure(typeName, e.Text());
    return;
  }
  SYSTEMTIME now;
  platform::GetLocalTime(now);
  const std::string typeFolder =
      (!folder.empty() && folder.back() == '\\' ? folder : folder + "\\") + typeName;
  const std::string path = typeFolder + "\\" + MakeReportName(now);

  // The type's folder is made on first use; when it cannot be, the open
  // below fails and says so.
  platform::CreateDirectory(typeFolder);
  platform::File file;
  if (file.Open(path, platform::File::Mode::CreateAlways) != ERROR_SUCCESS) {
    ReportSaveFailure(typeName, "Unable to open " + path);
    return;
  }
  if (file.Write(text.data(), text.size()) != ERROR_SUCCESS || file.Close() != ERROR_SUCCESS) {
    ReportSaveFailure(typeName, "Unable to write to " + path);
  }
}
