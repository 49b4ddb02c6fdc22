// The store of report files: one folder per report type under the report
// folder named in the registry.
#pragma once

#include <string>
#include <vector>

#include "common/ark_error.h"
#include "platform/win_types.h"

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

class ReportStore {
 public:
  static bool IsValidReportType(int type);
  static std::string ReportTypeName(int type);  // raises InvalidReportType for an invalid type
  std::string GetReportFolder() const;  // raises RegistryKeyReadFailure
  std::string ReportPath(int type, const std::string& name) const;  // raises InvalidReportName
  std::vector<std::string> ListReports(int type) const;
  FILETIME GetReportTime(int type, const std::string& name) const;
  std::string ReadReport(int type, const std::string& name) const;
  void DeleteReport(int type, const std::string& name) const;
  void DeleteReportsOfType(int type) const;
  // Saves the text under a name made from the local time; creates the type's
  // folder when missing. Never raises: any failure (including a missing
  // ReportFolder value or an unknown type name) goes to the event log
  // (source "arksvc", category 3, event 0x40000070) and the debug trace.
  void SaveReport(const std::string& typeName, const std::string& text) const;
  static std::string MakeReportName(const SYSTEMTIME& localTime);
};

ReportStore& TheReportStore();
