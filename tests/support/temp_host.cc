#include "tests/support/temp_host.h"

#include "platform/host.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "reports/report_store.h"

void TempHostRoot::ApplySettings(const HostOptions& options) {
  if (!options.computerName.empty()) {
    platform::RegSetString("SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName", "ComputerName",
                           options.computerName);
  }
  if (!options.changeInfoDir.empty()) {
    platform::WritePrivateProfileString("NOTES", "CHANGE_INFO_DIR", options.changeInfoDir,
                                        platform::GetWindowsDirectory() + "\\ark.ini");
  }
  if (!options.reportFolder.empty()) {
    platform::RegSetString(ark::kReportFolderKey, ark::kReportFolderValue, options.reportFolder);
  }
}

std::filesystem::path TempHostRoot::Drive(char letter, const std::string& relative) const {
  std::filesystem::path drive = letter == 'D' ? D() : root_ / std::string(1, letter);
  return relative.empty() ? drive : drive / relative;
}
