// The three forms of arkctl health's findings, and its durations.
#include <algorithm>
#include <cstdio>

#include "tools/arkctl/health.h"

namespace ark {

namespace {

std::string Label(const std::string& text) {
  // The exposition format is UTF-8, and one bad byte loses the whole file:
  // text that is not (the ANSI code page) gets U+FFFD, as in --json.
  const std::string utf8 =
      Json::parse(Json(text).dump(-1, ' ', false, Json::error_handler_t::replace)).get<std::string>();
  std::string out;
  for (char c : utf8) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out;
}

// A host without a Domino server has nothing backed up: not healthy.
bool HostHealthy(const std::vector<ServerHealth>& servers) {
  return !servers.empty() && std::all_of(servers.begin(), servers.end(),
                                         [](const ServerHealth& h) { return h.problems.empty(); });
}

struct Metric {
  const char* name;
  const char* help;
};

}  // namespace

std::string DurationText(std::int64_t seconds) {
  char text[48];
  if (seconds >= 86400)
    std::snprintf(text, sizeof text, "%lldd %lldh", (long long)(seconds / 86400), (long long)(seconds % 86400 / 3600));
  else if (seconds >= 3600)
    std::snprintf(text, sizeof text, "%lldh %lldm", (long long)(seconds / 3600), (long long)(seconds % 3600 / 60));
  else if (seconds >= 60)
    std::snprintf(text, sizeof text, "%lldm %llds", (long long)(seconds / 60), (long long)(seconds % 60));
  else
    std::snprintf(text, sizeof text, "%llds", (long long)seconds);
  return text;
}

void PrintHealth(const std::vector<ServerHealth>& servers, std::int64_t maxAgeSeconds) {
  for (const ServerHealth& h : servers) {
    std::printf("%s: %s\n", h.server.c_str(), h.problems.empty() ? "healthy" : "UNHEALTHY");
    if (h.lastBackup)
      std::printf("  last backup   %s, %s, %s ago (at most %s)\n", h.lastBackup->localTime.c_str(),
                  h.lastBackup->completed ? "completed" : "FAILED", DurationText(h.ageSeconds).c_str(),
                  DurationText(maxAgeSeconds).c_str());
    else
      std::printf("  last backup   none reported\n");
    std::printf("  snapshots     %zu%s%s%s%s\n", h.snapshots, h.newestSnapshot.empty() ? "" : ", newest ",
                h.newestSnapshot.c_str(), h.newestSnapshot.empty() ? "" : ": ",
                h.newestSnapshot.empty() ? "" : h.verdict.c_str());
    if (h.ledgerFreeMiB)
      std::printf("  ArkLedger     drive %s, %llu MiB free (as the service's verification reports it)\n",
                  h.ledgerDrive.c_str(), (unsigned long long)*h.ledgerFreeMiB);
    else
      std::printf("  ArkLedger     free space not reported (no snapshot was verified)\n");
    for (const std::string& problem : h.problems) std::printf("  problem       %s\n", problem.c_str());
  }
}

Json HealthJson(const std::vector<ServerHealth>& servers, std::int64_t maxAgeSeconds) {
  const bool healthy = HostHealthy(servers);
  Json list = Json::array();
  for (const ServerHealth& h : servers) {
    Json last = nullptr;
    if (h.lastBackup)
      last = {{"report", h.lastBackup->report},
              {"time", h.lastBackup->localTime},
              {"epochSeconds", h.lastBackup->epochSeconds},
              {"ageSeconds", h.ageSeconds},
              {"result", h.lastBackup->completed ? "completed" : "failed"}};
    list.push_back({{"server", h.server},
                    {"healthy", h.problems.empty()},
                    {"lastBackup", last},
                    {"snapshots", h.snapshots},
                    {"newestSnapshot", h.newestSnapshot.empty() ? Json(nullptr) : Json(h.newestSnapshot)},
                    {"newestRestorable", h.verdict},
                    {"ledgerDrive", h.ledgerDrive.empty() ? Json(nullptr) : Json(h.ledgerDrive)},
                    {"ledgerFreeMiB", h.ledgerFreeMiB ? Json(*h.ledgerFreeMiB) : Json(nullptr)},
                    {"problems", h.problems}});
  }
  return {{"healthy", healthy}, {"maxAgeSeconds", maxAgeSeconds}, {"servers", list}};
}

std::string PrometheusText(const std::vector<ServerHealth>& servers) {
  static const Metric kMetrics[] = {
      {"ark_server_healthy", "1 when the server had a completed backup within the maximum age and its newest snapshot restores up to the minute."},
      {"ark_backup_last_success", "1 when the server's last backup completed."},
      {"ark_backup_last_timestamp_seconds", "When the server's last backup ended (its report's last write), seconds since 1970."},
      {"ark_backup_age_seconds", "Seconds since the server's last backup ended."},
      {"ark_snapshots", "Number of the server's snapshots."},
      {"ark_snapshot_newest_restorable", "1 when the server's newest snapshot restores up to the minute."},
      {"ark_ledger_free_bytes", "Free space of the ArkLedger drive."},
  };
  const bool healthy = HostHealthy(servers);
  std::string out = "# HELP ark_health_ok 1 when every server checked is healthy.\n# TYPE ark_health_ok gauge\n";
  out += std::string("ark_health_ok ") + (healthy ? "1" : "0") + "\n";
  for (const Metric& metric : kMetrics) {
    out += std::string("# HELP ") + metric.name + " " + metric.help + "\n# TYPE " + metric.name + " gauge\n";
    for (const ServerHealth& h : servers) {
      const std::string name = metric.name;
      std::string labels = "{server=\"" + Label(h.server) + "\"}";
      std::string value;
      if (name == "ark_server_healthy") value = h.problems.empty() ? "1" : "0";
      else if (name == "ark_backup_last_success") value = h.lastBackup && h.lastBackup->completed ? "1" : "0";
      else if (name == "ark_backup_last_timestamp_seconds" && h.lastBackup) value = std::to_string(h.lastBackup->epochSeconds);
      else if (name == "ark_backup_age_seconds" && h.lastBackup) value = std::to_string(h.ageSeconds);
      else if (name == "ark_snapshots") value = std::to_string(h.snapshots);
      else if (name == "ark_snapshot_newest_restorable") value = h.verdict == "up to the minute" ? "1" : "0";
      else if (name == "ark_ledger_free_bytes" && h.ledgerFreeMiB) {
        labels = "{server=\"" + Label(h.server) + "\",drive=\"" + Label(h.ledgerDrive) + "\"}";
        value = std::to_string(*h.ledgerFreeMiB * 1048576ULL);
      }
      if (!value.empty()) out += name + labels + " " + value + "\n";
    }
  }
  return out;
}

}  // namespace ark
