// Starting the Domino API runtime for a server's notes.ini, and the readers
// that need the runtime.
#include <array>
#include <string>

#include "domino/runtime.h"

namespace ark {

namespace {

constexpr std::size_t kNameBufferSize = 256;

}  // namespace

STATUS StartDominoRuntime(const std::string& notesIniPath) {
  DominoApi& api = Domino();
  if (notesIniPath.empty()) {
    STATUS status = api.InitRuntime(0, nullptr);
    if (status == NOERROR) {
      api.TermRuntime();
      status = api.InitRuntime(0, nullptr);
    }
    return status;
  }
  // The second argument names the notes.ini as "=" + path. The whole path is
  // passed: cutting it would start the runtime of another installation.
  std::string iniArgument = "=" + notesIniPath;
  std::array<char*, 2> argv = {nullptr, iniArgument.data()};
  STATUS status = api.InitRuntime(2, argv.data());
  if (status == NOERROR) {
    api.TermRuntime();
    argv = {nullptr, iniArgument.data()};
    status = api.InitRuntime(2, argv.data());
  }
  return status;
}

RuntimeGuard::~RuntimeGuard() {
  try {
    Domino().TermRuntime();
  } catch (...) {
    // A destructor must not raise; the runtime is left to the process's end.
  }
}

void ReadServerName(std::string& out) {
  std::array<char, kNameBufferSize> canonical{};
  std::array<char, kNameBufferSize> abbreviated{};
  Domino().GetServerName(canonical.data());
  canonical.back() = '\0';
  WORD length = 0;
  // Statuses are not looked at: a failed abbreviation keeps the name as read.
  if (Domino().AbbreviateName(0, 0, canonical.data(), abbreviated.data(), WORD(kNameBufferSize),
                              &length) == NOERROR) {
    abbreviated.back() = '\0';
    canonical = abbreviated;
  }
  out = canonical.data();
}

STATUS ReadLoggingStyle() {
  DWORD style = 0;
  const STATUS status = Domino().GetLoggingStyle(&style);
  return status != NOERROR ? status : STATUS(style);
}

}  // namespace ark
