// The store of report files: one folder per report type under the report
// folder named in the registry.
#pragma once

#include <string>
#include <vector>

#include "common/ark_error.h"
#include "platform/win_types.h"

namespace ark {

enum ReportType { Configure = 0, Backup = 1, Restore = 2, DeleteSnapshot = 3 };

class ReportFileError : public ARKError {
 public:
  explicit ReportFileError(std::string path) : path_(std::move(path)) {}
  const std::string& path() const { return path_; }

 protected:
  std::string path_;
};
class FileOpenFailure : public ReportFileError {
 public:
  using ReportFileError::ReportFileError;
  std::string Text() const override { return "Failed to open file " + path_ + "."; }
};
class FileReadFailure : public ReportFileError {
 public:
  using ReportFileError::ReportFileError;
  std::string Text() const override { return "Failed to read file " + path_ + "."; }
};
class FileTimeRetrievalFailure : public ReportFileError {
 public:
  using ReportFileError::ReportFileError;
  std::string Text() const override { return "Failed to get filetime for file " + path_ + "."; }
};
class FileDeleteFailure : public ReportFileError {
 public:
  using ReportFileError::ReportFileError;
  std::string Text() const override { return "Failed to delete file " + path_ + "."; }
};
// A report name that could leave the type's folder (empty, ".", "..", or
// holding "\", "/" or ":").
class InvalidReportName : public ReportFileError {
 public:
  using ReportFileError::ReportFileError;
  std::string Text() const override { return "Invalid report name " + path_ + "."; }
};
class RegistryKeyReadFailure : public ARKError {
 public:
  RegistryKeyReadFailure(std::string subKey, std::string valueName)
      : subKey_(std::move(subKey)), valueName_(std::move(valueName)) {}
  std::string Text() const override {
    return "Failed to read registry value name " + valueName_ +
           " under subkey HKEY_LOCAL_MACHINE\\" + subKey_ + ".";
  }

 private:
  std::string subKey_;
  std::string valueName_;
};
class InvalidReportType {};

constexpr const char* kReportFolderKey = "SOFTWARE\\Corvane\\Arkhold for Domino 1.0\\Client";
constexpr const char* kReportFolderValue = "ReportFolder";

// Every call reads the ReportFolder value afresh. Those taking a type raise
// InvalidReportType for one outside 0..3 and RegistryKeyReadFailure when the
// value is missing or 260 bytes or longer; nothing is written through Output
// and no file stays open.
class ReportStore {
 public:
  static bool IsValidReportType(int type);  // 0..3
  // "Configure", "Backup", "Restore" or "Delete Snapshot".
  static std::string ReportTypeName(int type);  // raises InvalidReportType for an invalid type
  // The ReportFolder value up to its first zero byte; raises RegistryKeyReadFailure.
  std::string GetReportFolder() const;
  // Folder\TypeName\name; raises InvalidReportName before it reads anything.
  std::string ReportPath(int type, const std::string& name) const;
  // The names of the plain files in the type's folder, in listing order; empty
  // (no error) when the folder is missing or cannot be listed.
  std::vector<std::string> ListReports(int type) const;
  // The report's last-write time; raises InvalidReportName, FileOpenFailure
  // (missing, a folder, or unreadable) or FileTimeRetrievalFailure.
  FILETIME GetReportTime(int type, const std::string& name) const;
  // The whole file; raises InvalidReportName, FileOpenFailure or
  // FileReadFailure (also when the file is shorter than its size said).
  std::string ReadReport(int type, const std::string& name) const;
  // Deletes the file; a report that is already gone counts as deleted.
  // Raises InvalidReportName, or FileDeleteFailure when the file stays (in
  // use, a folder, no right to delete it), so that the client is not told it
  // went.
  void DeleteReport(int type, const std::string& name) const;
  // DeleteReport of every name ListReports gives; goes on past a file that
  // stays and then raises FileDeleteFailure for the first such file.
  void DeleteReportsOfType(int type) const;
  // Saves the text under a name made from the local time; creates the type's
  // folder when missing. A report saved earlier in the same second keeps its
  // file: this one waits (up to a little more than two seconds, in 20 ms
  // steps) for the next second's name. Never raises: any failure (including
  // a missing ReportFolder value or an unknown type name) goes to the event
  // log (source "arksvc", category 3, event 0x40000070) and the debug trace.
  // A write that fails midway leaves the partly written file in place.
  void SaveReport(const std::string& typeName, const std::string& text) const;
  // "MM-DD-YYYY_hh.mm.ss.txt".
  static std::string MakeReportName(const SYSTEMTIME& localTime);
};

// The process's one store (it holds no state of its own).
ReportStore& TheReportStore();

}  // namespace ark
