// The command reader's table names the session's own handlers; the fuzz
// target reads commands without answering them, so these stand in for the
// real ones (which need the report store and the host) and are never called.
#include <cstdlib>

#include "net/query_commands.h"
#include "net/report_commands.h"

namespace {
[[noreturn]] void NeverCalled() { std::abort(); }
}  // namespace

bool HandleListReports(platform::SOCKET, Command&) { NeverCalled(); }
bool HandleGetReportTime(platform::SOCKET, Command&) { NeverCalled(); }
bool HandleReadReport(platform::SOCKET, Command&) { NeverCalled(); }
bool HandleDeleteReport(platform::SOCKET, Command&) { NeverCalled(); }
bool HandleDeleteReportsOfType(platform::SOCKET, Command&) { NeverCalled(); }
bool HandleQueryBackupWizardRun(platform::SOCKET, Command&) { NeverCalled(); }
bool HandleQueryConfigWizardRun(platform::SOCKET, Command&) { NeverCalled(); }
bool HandleQueryDominoRunning(platform::SOCKET, Command&) { NeverCalled(); }
bool HandleNoop(platform::SOCKET, Command&) { NeverCalled(); }
bool HandleQueryZero(platform::SOCKET, Command&) { NeverCalled(); }
bool HandleTestFlag(platform::SOCKET, Command&) { NeverCalled(); }
bool HandleEndSession(platform::SOCKET, Command&) { NeverCalled(); }
bool HandleUnknown(platform::SOCKET, Command&) { NeverCalled(); }
