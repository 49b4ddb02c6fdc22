// setup [--root DIR] [--ledger PATH] [--reports PATH] [--store PATH]
//       [--backend dir|btrfs] [--yes] [--check]: the configuration wizard. Run
// on the host itself: it finds the Domino servers, proposes each setting
// (the value in force, else a sensible default), asks for it on standard
// input unless --yes, refuses values a backup or restore would refuse, and
// writes the settings. --check changes nothing and judges every setting a
// backup or restore needs, server by server.
#include <cstdio>
#include <functional>
#include <iostream>
#include <memory>
#include <string>

#include "domino/settings.h"
#include "platform/com.h"
#include "platform/host.h"
#include "service/components.h"
#include "tools/arkctl/command_group.h"
#include "tools/arkctl/host_setup.h"
#include "tools/arkctl/json_output.h"

namespace ark {

namespace {

struct SetupArgs {
  std::string root;
  SetupValues given;  // empty: not given
  bool yes = false;
  bool check = false;
};

// The components this process reaches on its own, as the service does.
HostLayout DiscoverHere(const SetupArgs& args) {
  if (!args.root.empty()) platform::SetHostRoot(args.root);
  platform::CoInitialize();
  InstallComponents();
  return ReadHostLayout();
}

std::string DriveOf(const std::string& path) {
  const char drive = DriveLetterOf(path);
  return drive == 0 ? std::string("-") : std::string(1, drive) + ":";
}

void PrintServers(const HostLayout& layout, const std::string& ledger) {
  std::printf("computer %s: %zu Domino server(s)\n", layout.computerName.c_str(), layout.servers.size());
  for (const DominoServerInfo& s : layout.servers) {
    std::printf("  %-20s data %s (%s)  logs %s (%s)  ArkLedger %s\n", s.serverName.c_str(),
                DriveOf(s.dataDirectory).c_str(), s.dataDirectory.c_str(), DriveOf(s.logDirectory).c_str(),
                s.logDirectory.empty() ? "-" : s.logDirectory.c_str(), DriveOf(ledger).c_str());
  }
}

// A value: the one given, else the proposal, asked for when interactive; a
// refused value is asked again (interactive) or ends the command.
std::string Settle(const SetupArgs& args, const char* question, const std::string& given,
                   const std::string& proposed, const std::function<std::string(const std::string&)>& refusal) {
  std::string value = given.empty() ? proposed : given == "-" ? std::string() : given;
  for (;;) {
    if (!args.yes && given.empty()) {
      std::printf("%s [%s]: ", question, value.c_str());
      std::fflush(stdout);
      std::string line;
      if (!std::getline(std::cin, line)) throw CtlError(kExitServiceRefused, "setup: no answer; nothing written");
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty()) value = line == "-" ? std::string() : line;
    }
    const std::string why = refusal(value);
    if (why.empty()) return value;
    if (args.yes || !given.empty()) throw CtlError(kExitUsage, "setup: refused: " + why);
    std::printf("refused: %s\n", why.c_str());
    value = proposed;
  }
}

void Setup(const SetupArgs& args) {
  const HostLayout layout = DiscoverHere(args);
  if (layout.servers.empty())
    throw CtlError(kExitServiceRefused, "setup: no Domino server is installed on this host (registry status " +
                                            std::to_string(layout.discoveryStatus) + ")");
  const SetupValues proposed = ProposedValues(layout);
  PrintServers(layout, args.given.ledger.empty() ? proposed.ledger : args.given.ledger);

  SetupValues values;
  values.ledger = Settle(args, "ArkLedger folder (CHANGE_INFO_DIR)", args.given.ledger, proposed.ledger,
                         [&](const std::string& v) { return LedgerRefusal(layout, v); });
  std::printf("ArkLedger %s: drive %s, %s\n", values.ledger.c_str(), DriveOf(values.ledger).c_str(),
              FreeSpaceText(values.ledger).c_str());
  values.reports = Settle(args, "report folder (ReportFolder)", args.given.reports, proposed.reports, ReportsRefusal);
  values.store = Settle(args, "snapshot store (\"-\": beside each drive)", args.given.store, proposed.store,
                        [&](const std::string& v) { return StoreRefusal(layout, v); });
  values.backend = Settle(args, "snapshot backend (dir or btrfs)", args.given.backend, proposed.backend, BackendRefusal);

  if (!args.yes) {
    std::printf("Write these settings? [y/N]: ");
    std::fflush(stdout);
    std::string line;
    if (!std::getline(std::cin, line) || (line.rfind('y', 0) != 0 && line.rfind('Y', 0) != 0))
      throw CtlError(kExitServiceRefused, "setup: not confirmed; nothing written");
  }
  std::vector<std::string> done;
  std::string error;
  const bool written = WriteSetup(layout, values, &done, &error);
  for (const std::string& line : done) std::printf("  %s\n", line.c_str());
  if (!written) throw CtlError(kExitServiceRefused, "setup: " + error);
  std::printf("setup complete\n");
}

void CheckSettings(const CtlContext& context, const SetupArgs& args) {
  const HostLayout layout = DiscoverHere(args);
  bool sound = !layout.servers.empty();
  Json servers = Json::array();
  for (const DominoServerInfo& server : layout.servers) {
    Json checks = Json::array();
    if (!context.json) std::printf("%s\n", server.serverName.c_str());
    for (const SettingCheck& c : CheckServer(layout, server)) {
      sound = sound && c.sound;
      checks.push_back({{"setting", c.setting}, {"value", c.value}, {"sound", c.sound}, {"finding", c.finding}});
      if (!context.json)
        std::printf("  %-4s %-20s %s%s%s\n", c.sound ? "ok" : "BAD", c.setting.c_str(),
                    c.value.empty() ? "(not set)" : c.value.c_str(), c.finding.empty() ? "" : " - ",
                    c.finding.c_str());
    }
    servers.push_back({{"server", server.serverName}, {"checks", checks}});
  }
  const bool wizard = HasConfigWizardRun();
  if (context.json) {
    std::printf("%s\n", JsonLine({{"sound", sound}, {"configWizardRun", wizard}, {"servers", servers}}).c_str());
  } else {
    if (layout.servers.empty()) std::printf("no Domino server is installed on this host\n");
    std::printf("CONFIGWIZ %s\n", wizard ? "set (setup has run)" : "not set (setup has not run)");
  }
  if (!sound) throw CtlError(kExitServiceRefused, "setup --check: a setting a backup or restore needs is not sound");
}

void SetUp(CLI::App& app, CtlContext& context) {
  auto args = std::make_shared<SetupArgs>();
  CLI::App* setup = app.add_subcommand("setup", "configure the service on this host (local settings)");
  setup->add_option("--root", args->root, "host root directory (default: ARK_ROOT; none on Windows)");
  setup->add_option("--ledger", args->given.ledger, "ArkLedger folder, CHANGE_INFO_DIR (L:\\ArkLedger)");
  setup->add_option("--reports", args->given.reports, "report folder (L:\\ArkReports)");
  setup->add_option("--store", args->given.store, "where ark's snapshot component keeps snapshots (S:\\Snapshots)");
  setup->add_option("--backend", args->given.backend, "ark's snapshot component's backend")
      ->check(CLI::IsMember({"dir", "btrfs"}));
  setup->add_flag("--yes,-y", args->yes, "take the proposed values without asking");
  setup->add_flag("--check", args->check, "change nothing; judge every setting a backup or restore needs");
  setup->callback([&context, args] {
    if (args->check) CheckSettings(context, *args);
    else Setup(*args);
  });
}

}  // namespace

ARKCTL_COMMAND_GROUP(setup, SetUp);

}  // namespace ark
