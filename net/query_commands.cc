// The commands that answer at once: the wizard and Domino queries, the
// no-operation, the test answers, the end of the session and the answer to
// an unknown code.
#include "net/query_commands.h"

#include <cstdio>

#include "domino/host_utils.h"
#include "domino/settings.h"
#include "net/wire.h"

namespace ark {

bool HandleQueryBackupWizardRun(platform::SOCKET client, Command&) {
  SendByte(client, 1);
  SendByte(client, HasBackupWizardRun() ? 1 : 0);
  return true;
}

bool HandleQueryConfigWizardRun(platform::SOCKET client, Command&) {
  SendByte(client, 1);
  bool hasRun = HasConfigWizardRun();
  std::fputs(hasRun ? "has_config_wiz_run = true\n" : "has_config_wiz_run = false\n", stdout);
  std::fflush(stdout);
  SendByte(client, hasRun ? 1 : 0);
  return true;
}

bool HandleQueryDominoRunning(platform::SOCKET client, Command&) {
  SendByte(client, 1);
  SendByte(client, IsDominoRunning() ? 1 : 0);
  return true;
}

bool HandleNoop(platform::SOCKET client, Command&) {
  SendByte(client, 1);
  return true;
}

bool HandleQueryZero(platform::SOCKET client, Command&) {
  SendByte(client, 1);
  SendU32(client, 0);
  return true;
}

bool HandleTestFlag(platform::SOCKET client, Command&) {
  std::uint32_t flag = RecvU32(client);
  SendByte(client, flag != 0 ? 7 : 1);
  return true;
}

bool HandleEndSession(platform::SOCKET client, Command&) {
  SendByte(client, 1);
  return false;
}

bool HandleUnknown(platform::SOCKET client, Command&) {
  SendByte(client, 255);
  return true;
}

}  // namespace ark
