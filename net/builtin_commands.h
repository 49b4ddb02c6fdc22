// The handlers of the commands that the session answers by itself: the
// report commands and the queries.
#pragma once

#include "net/command.h"

bool HandleListReports(platform::SOCKET client, Command& command);
bool HandleGetReportTime(platform::SOCKET client, Command& command);
bool HandleReadReport(platform::SOCKET client, Command& command);
bool HandleDeleteReport(platform::SOCKET client, Command& command);
bool HandleDeleteReportsOfType(platform::SOCKET client, Command& command);

bool HandleQueryBackupWizardRun(platform::SOCKET client, Command& command);
bool HandleQueryConfigWizardRun(platform::SOCKET client, Command& command);
bool HandleQueryDominoRunning(platform::SOCKET client, Command& command);
bool HandleNoop(platform::SOCKET client, Command& command);
bool HandleQueryZero(platform::SOCKET client, Command& command);
bool HandleTestFlag(platform::SOCKET client, Command& command);
bool HandleEndSession(platform::SOCKET client, Command& command);
bool HandleUnknown(platform::SOCKET client, Command& command);
