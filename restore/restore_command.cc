#include "restore/restore_command.h"

#include "common/records.h"
#include "ledger/restore_journal.h"
#include "net/command.h"
#include "net/streaming.h"
#include "net/wire.h"
#include "net/wire_records.h"
#include "restore/restore_run.h"

namespace ark {

namespace {

bool RunRestore(platform::SOCKET client, Command& /*command*/) {
  SendByte(client, 1);
  RestoreRequest request;
  RecvRestoreRequest(client, request);
  RunStreamingOperation(client, "Restore", [&request] { PerformRestore(request); });
  return true;
}

// Reply byte 1, u32 n, n strings: the line of each interrupted restore.
bool ListInterruptedRestoresCommand(platform::SOCKET client, Command& /*command*/) {
  const std::vector<FoundJournal> found = ListInterruptedRestores();
  SendByte(client, 1);
  SendU32(client, std::uint32_t(found.size()));
  for (const FoundJournal& journal : found) SendString(client, journal.text);
  return true;
}

}  // namespace

void RegisterRestoreCommand() { RegisterCommand(CommandCode::RunRestore, RunRestore); }

void RegisterInterruptedRestoresCommand() {
  RegisterCommand(CommandCode::InterruptedRestores, ListInterruptedRestoresCommand);
}

}  // namespace ark
