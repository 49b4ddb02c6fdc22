// ping: is the service there; status: is Domino running, have the wizards run.
#include <cstdio>
#include <string>
#include <vector>

#include "net/wire.h"
#include "tools/arkctl/command_group.h"
#include "tools/arkctl/connection.h"
#include "tools/arkctl/json_output.h"

namespace ark {

namespace {

void Ping(const CtlContext& context) {
  ServiceConnection connection(context);
  connection.SendCommand(CommandCode::Noop);
  int status = RecvByte(connection.socket());
  if (status != 1) connection.Refused("ping", CommandCode::Noop, status);
  connection.Finish();
  std::printf("the service at %s:%u answers\n", context.host.c_str(), unsigned(context.port));
}

// One journal a server: more is not an answer of the service.
constexpr std::uint32_t kMaxInterruptedRestores = 4096;

// Sends a query that answers byte 1, then a yes/no byte.
bool AskYesNo(ServiceConnection& connection, const char* name, CommandCode code) {
  connection.SendCommand(code);
  int status = RecvByte(connection.socket());
  if (status != 1) connection.Refused(name, code, status);
  return RecvByte(connection.socket()) != 0;
}

void Status(const CtlContext& context) {
  ServiceConnection connection(context);
  bool domino = AskYesNo(connection, "status", CommandCode::QueryDominoRunning);
  bool backupWizard = AskYesNo(connection, "status", CommandCode::QueryBackupWizardRun);
  bool configWizard = AskYesNo(connection, "status", CommandCode::QueryConfigWizardRun);
  connection.SendCommand(CommandCode::InterruptedRestores);
  if (int status = RecvByte(connection.socket()); status != 1) {
    connection.Refused("status", CommandCode::InterruptedRestores, status);
  }
  const std::uint32_t count = RecvU32(connection.socket());
  if (count > kMaxInterruptedRestores) throw WireError("too many interrupted restores: " + std::to_string(count));
  std::vector<std::string> interrupted(count);
  for (std::string& text : interrupted) {
    RecvString(connection.socket(), text);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  }
  connection.Finish();
  auto yes = [](bool b) { return b ? "yes" : "no"; };
  if (context.json) {
    const Json out = {{"dominoRunning", domino},
                      {"backupWizardRun", backupWizard},
                      {"configWizardRun", configWizard},
                      {"interruptedRestores", interrupted}};
    std::printf("%s\n", JsonLine(out).c_str());
  } else {
    std::printf("Domino running:        %s\n", yes(domino));
    std::printf("backup wizard has run: %s\n", yes(backupWizard));
    std::printf("config wizard has run: %s\n", yes(configWizard));
    std::printf("interrupted restores:  %s\n", interrupted.empty() ? "none" : "");
    for (const std::string& text : interrupted) std::printf("  %s\n", text.c_str());
  }
}

void SetUp(CLI::App& app, CtlContext& context) {
  app.add_subcommand("ping", "check that the service answers")->callback([&context] { Ping(context); });
  app.add_subcommand("status", "whether Domino runs and whether the wizards have run")
      ->callback([&context] { Status(context); });
}

}  // namespace

ARKCTL_COMMAND_GROUP(basic, SetUp);

}  // namespace ark
