// Errors of the service's own start.
#pragma once

#include <string>

#include "common/ark_error.h"
#include "platform/win_types.h"

namespace ark {

// Winsock 2.2 could not be started.
class WinsockUnavailable : public ARKError {
 public:
  std::string Text() const override { return "Couldn't find a usable Winsock DLL."; }
};

class RegSvcCtrlHandlerError : public SvcError {
 public:
  explicit RegSvcCtrlHandlerError(DWORD code) : code_(code) {}
  std::string Text() const override { return "RegisterServiceCtrlHandler error " + std::to_string(code_); }

 private:
  DWORD code_;
};

// Ends the service with the given exit codes.
class SvcInitError : public SvcError {
 public:
  SvcInitError(DWORD win32ExitCode, DWORD serviceSpecificExitCode)
      : win32ExitCode_(win32ExitCode), serviceSpecificExitCode_(serviceSpecificExitCode) {}
  std::string Text() const override {
    return "service initialisation failed: " + std::to_string(win32ExitCode_) + "/" +
           std::to_string(serviceSpecificExitCode_);
  }
  DWORD win32ExitCode() const { return win32ExitCode_; }
  DWORD serviceSpecificExitCode() const { return serviceSpecificExitCode_; }

 private:
  DWORD win32ExitCode_;
  DWORD serviceSpecificExitCode_;
};

}  // namespace ark
