// Registration of the event source "arksvc": the values under the
// Application log's key that name the message file and its categories.
// Written at every start; existing values are overwritten.
#pragma once

#include <string>

#include "common/ark_error.h"

namespace ark {

inline constexpr const char* kEventLogApplicationKey =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
inline constexpr const char* kMessageFileName = "eventmsg.dll";
inline constexpr unsigned kEventCategoryCount = 3;
inline constexpr unsigned kEventTypesSupported = 7;  // error, warning, information

class RegKeyCreationFailure : public ARKError {
 public:
  explicit RegKeyCreationFailure(std::string key) : key_(std::move(key)) {}
  std::string Text() const override { return "Unable to create registry key " + key_; }

 private:
  std::string key_;
};

// The four value failures carry the message file path.
class MessageFileError : public ARKError {
 public:
  explicit MessageFileError(std::string path) : path_(std::move(path)) {}

 protected:
  std::string path_;
};
class SetEventFileFailure : public MessageFileError {
 public:
  using MessageFileError::MessageFileError;
  std::string Text() const override { return "Could not set the event message file: " + path_; }
};
class SetCategoryCountFailure : public MessageFileError {
 public:
  using MessageFileError::MessageFileError;
  std::string Text() const override {
    return "Could not set the category count for the message file: " + path_;
  }
};
class SetCategoryFileFailure : public MessageFileError {
 public:
  using MessageFileError::MessageFileError;
  std::string Text() const override { return "Could not set the category message file: " + path_; }
};
class SetEventTypesFailure : public MessageFileError {
 public:
  using MessageFileError::MessageFileError;
  std::string Text() const override { return "Could not set types for the message file: " + path_; }
};

// The directory of the running executable (with its trailing backslash)
// followed by "eventmsg.dll"; only the name when the path has no backslash.
std::string MessageFilePath();

// Creates the source's key and writes EventMessageFile, CategoryCount,
// CategoryMessageFile and TypesSupported, in that order; raises the classes
// above at the first failure, leaving the values written before it.
void RegisterEventSource();

}  // namespace ark
