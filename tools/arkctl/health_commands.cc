// health [SERVER...] [--max-age DURATION] [--prometheus FILE]: for
// monitoring. Per server the last backup's time, result and age, the number
// of snapshots, whether the newest restores up to the minute and the
// ArkLedger drive's free space; exit 0 when every server is healthy, 1 when
// one is not (2 and 3 as every command).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include "tools/arkctl/command_group.h"
#include "tools/arkctl/duration.h"
#include "tools/arkctl/health.h"

namespace ark {

namespace {

constexpr const char* kDefaultMaxAge = "26h";

struct HealthArgs {
  std::vector<std::string> servers;
  std::string maxAge = kDefaultMaxAge;
  std::string prometheus;
};

// The textfile collector reads whatever lies there: the file is replaced
// whole, never seen half written.
void WritePrometheus(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".ark-writing";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) throw CtlError(kExitServiceRefused, "health: cannot write " + temporary);
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  if (error) {
    std::filesystem::remove(temporary, error);
    throw CtlError(kExitServiceRefused, "health: cannot write " + path);
  }
}

void Health(const CtlContext& context, const HealthArgs& args) {
  const std::int64_t maxAge = *ParseDuration(args.maxAge);
  const std::vector<ServerHealth> servers = ProbeHealth(context, args.servers, maxAge);
  if (!args.prometheus.empty()) WritePrometheus(args.prometheus, PrometheusText(servers));
  const Json json = HealthJson(servers, maxAge);
  if (context.json) std::printf("%s\n", JsonLine(json).c_str());
  else PrintHealth(servers, maxAge);
  if (!json["healthy"].get<bool>())
    throw CtlError(kExitServiceRefused, "health: " + std::string(servers.empty() ? "the host has no Domino server"
                                                                              : "a server is not healthy"));
}

void SetUp(CLI::App& app, CtlContext& context) {
  auto args = std::make_shared<HealthArgs>();
  CLI::App* health = app.add_subcommand("health", "whether backups run and restore (for monitoring)");
  health->add_option("servers", args->servers, "servers to check (default: every server)");
  health->add_option("--max-age", args->maxAge, "the oldest a last backup may be: N s, m, h or d")
      ->capture_default_str()
      ->check(CLI::Validator(
          [](std::string& value) {
            return ParseDuration(value) ? std::string() : "--max-age takes a duration such as 30m, 26h or 2d";
          },
          "DURATION"));
  health->add_option("--prometheus", args->prometheus, "also write the metrics to this file (textfile collector)");
  health->callback([&context, args] { Health(context, *args); });
}

}  // namespace

ARKCTL_COMMAND_GROUP(health, SetUp);

}  // namespace ark
