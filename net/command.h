// Commands of a client session: the code byte, the one payload byte of
// ListReports, and the table of handlers that answer them. Issues that add
// commands register their handlers at start-up (RegisterCommand) without
// touching the session.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/socket.h"

namespace ark {

enum class CommandCode : std::int32_t {
  ListReports = 1,
  GetReportTime = 2,
  ReadReport = 3,
  DeleteReport = 4,
  DeleteReportsOfType = 5,
  DiscoverServers = 6,
  RunBackup = 7,
  RunRestore = 8,
  QueryBackupWizardRun = 9,
  QueryConfigWizardRun = 10,
  QueryDominoRunning = 11,
  Noop = 12,
  QueryZero = 13,
  TestFlag = 14,
  EndSession = 15,
  VerifySnapshot = 16,
  RestoreDatabases = 17,
  DrillSnapshot = 18,
  InterruptedRestores = 19,
  Unknown = 255,
};

struct Command {
  std::int32_t code = 0;               // sign-extended from the code byte, then mapped
  std::vector<std::uint8_t> payload;   // ListReports: the report type byte
};

// Reads the rest of its request from the client and writes its reply.
// Returns false when the session ends after this command.
using CommandHandler = std::function<bool(platform::SOCKET client, Command& command)>;

// Makes code (0..127, or 255 for the answer to unknown codes) answered by
// handler, replacing an earlier handler. Raises std::invalid_argument for a
// code the reader can never produce.
void RegisterCommand(int code, CommandHandler handler);
void RegisterCommand(CommandCode code, CommandHandler handler);
// Removes the handler of code, so that the reader maps it to 255; raises
// std::invalid_argument as RegisterCommand does.
void UnregisterCommand(int code);
// False for a code without a handler or outside 0..255.
bool IsRegisteredCommand(int code);

// Reads one command: the code byte (signed), the payload of ListReports;
// every code without a handler becomes 255 (Unknown). A failed or timed-out
// read raises a WireError; payload is then left cleared or partly read.
void ReadCommand(platform::SOCKET client, Command& command);

// Runs the handler of command.code; returns the handler's keep-running
// answer. Raises the text "Unspecified command code!\n" for a code without
// a handler (the reader never produces one); a handler's own errors pass
// through.
bool DispatchCommand(platform::SOCKET client, Command& command);

}  // namespace ark
