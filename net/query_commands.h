// The commands that the session answers at once, without the report store:
// the wizard and Domino queries, the no-operation, the test answers, the end
// of the session and the answer to an unknown code.
#pragma once

#include "net/command.h"

namespace ark {

// Each reads the rest of its request and writes its whole reply; a failed or
// timed-out socket call raises a WireError (nothing else is raised). Each
// returns true (the session goes on), HandleEndSession false. They hold
// nothing afterwards.

// Status byte 1, then 1 when ark.ini says a backup has completed
// (BACKUPWIZ), else 0.
bool HandleQueryBackupWizardRun(platform::SOCKET client, Command& command);
// Status byte 1, then 1 when ark.ini says the configuration wizard has run
// (CONFIGWIZ), else 0; also prints "has_config_wiz_run = true|false\n" on
// standard output.
bool HandleQueryConfigWizardRun(platform::SOCKET client, Command& command);
// Status byte 1, then 1 while a Domino server process runs on the host, else 0.
bool HandleQueryDominoRunning(platform::SOCKET client, Command& command);
// Status byte 1.
bool HandleNoop(platform::SOCKET client, Command& command);
// Status byte 1 and a u32 0.
bool HandleQueryZero(platform::SOCKET client, Command& command);
// Reads a u32 flag; answers 7 when it is non-zero, else 1.
bool HandleTestFlag(platform::SOCKET client, Command& command);
// Status byte 1; returns false, which ends the session.
bool HandleEndSession(platform::SOCKET client, Command& command);
// Byte 255: the answer to a code that has no handler.
bool HandleUnknown(platform::SOCKET client, Command& command);

}  // namespace ark
