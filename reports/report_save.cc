// Saving a run's report text as a report file. A failure is never raised:
// the run is over and its client told; the failure goes to the event log and
// the debug trace, because the service has nobody at its screen.
#include <chrono>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/eventlog.h"
#include "platform/files.h"
#include "reports/report_store.h"

namespace {

constexpr const char* kEventSource = "arksvc";
constexpr WORD kServiceCategory = 3;
constexpr DWORD kReportNotSavedEvent = 0x40000070;  // report could not be saved
// Waiting for a free report name: up to a little more than two seconds.
constexpr int kNameAttempts = 110;
constexpr std::chrono::milliseconds kNameRetryPause{20};

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
  const std::string typeFolder =
      (!folder.empty() && folder.back() == '\\' ? folder : folder + "\\") + typeName;

  // The type's folder is made on first use; when it cannot be, the open
  // below fails and says so.
  platform::CreateDirectory(typeFolder);
  // Report names carry the second of saving. A report saved earlier in the
  // same second keeps its file: this one waits for the next second's name.
  platform::File file;
  std::string path;
  DWORD opened = ERROR_FILE_EXISTS;
  for (int attempt = 0; attempt < kNameAttempts && opened == ERROR_FILE_EXISTS; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(kNameRetryPause);
    SYSTEMTIME now;
    platform::GetLocalTime(now);
    path = typeFolder + "\\" + MakeReportName(now);
    opened = file.Open(path, platform::File::Mode::CreateNew);
  }
  if (opened != ERROR_SUCCESS) {
    ReportSaveFailure(typeName, "Unable to open " + path);
    return;
  }
  if (file.Write(text.data(), text.size()) != ERROR_SUCCESS || file.Close() != ERROR_SUCCESS) {
    ReportSaveFailure(typeName, "Unable to write to " + path);
  }
}
