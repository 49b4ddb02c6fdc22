// arkctl health: what monitoring asks of each Domino server, read from the
// service over the wire (discovery, the "Backup" reports, verification of the
// newest snapshot), and its three forms (text, JSON, Prometheus' exposition
// format).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/arkctl/connection.h"
#include "tools/arkctl/json_output.h"

namespace ark {

struct LastBackup {
  std::string report;             // the report's name
  std::int64_t epochSeconds = 0;  // the report's last write, seconds since 1970 UTC
  std::string localTime;          // "2026-03-02 14:30:00", the local time of this machine
  bool completed = false;
  std::string error;  // the run's first ERROR line when it failed
};

struct ServerHealth {
  std::string server;
  std::optional<LastBackup> lastBackup;
  std::int64_t ageSeconds = 0;
  std::size_t snapshots = 0;
  std::string newestSnapshot;
  std::string verdict;  // "up to the minute", "point in time only", "NOT restorable", "not verified"
  std::string ledgerDrive;  // "L:", empty when the service did not say
  std::optional<std::uint64_t> ledgerFreeMiB;
  std::vector<std::string> problems;  // empty: healthy
};

std::string DurationText(std::int64_t seconds);  // "1d 2h", "5h 3m", "4m 10s", "12s"

// Asks the service about the servers named (every server when none) and
// judges each against maxAgeSeconds. Raises CtlError(kExitUsage) for a server
// the host lacks.
std::vector<ServerHealth> ProbeHealth(const CtlContext& context, const std::vector<std::string>& names,
                                      std::int64_t maxAgeSeconds);

void PrintHealth(const std::vector<ServerHealth>& servers, std::int64_t maxAgeSeconds);
Json HealthJson(const std::vector<ServerHealth>& servers, std::int64_t maxAgeSeconds);
std::string PrometheusText(const std::vector<ServerHealth>& servers);

}  // namespace ark
