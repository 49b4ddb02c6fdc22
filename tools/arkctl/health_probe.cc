// Collects each server's health over one conversation with the service: the
// servers and their snapshots from discovery, the last backup from the
// "Backup" reports (newest first, each read once), and the newest snapshot's
// verdict and the ArkLedger drive's free space from verification (code 16).
#include <algorithm>
#include <cstdio>
#include <limits>
#include <regex>

#include "domino/settings.h"
#include "net/wire.h"
#include "net/wire_records.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "tools/arkctl/health.h"
#include "tools/arkctl/numbers.h"
#include "tools/arkctl/server_lookup.h"

namespace ark {

namespace {

constexpr int kBackupReports = 1;
constexpr std::int64_t kFileTimeEpochOffset = 116444736000000000LL;  // 1601 to 1970 in 100 ns

struct ReportTime {
  std::string name;
  FILETIME time;
  std::uint64_t ticks = 0;
};

std::uint64_t Ticks(const FILETIME& time) {
  return (std::uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

std::int64_t EpochSeconds(const FILETIME& time) {
  return (std::int64_t(Ticks(time)) - kFileTimeEpochOffset) / 10000000;
}

std::string LocalText(const FILETIME& utc) {
  FILETIME local;
  SYSTEMTIME st;
  if (!platform::FileTimeToLocalFileTime(utc, local) || !platform::FileTimeToSystemTime(local, st)) return "?";
  char text[64];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", unsigned(st.wYear), unsigned(st.wMonth),
                unsigned(st.wDay), unsigned(st.wHour), unsigned(st.wMinute), unsigned(st.wSecond));
  return text;
}

bool Has(const std::string& text, const std::string& piece) { return text.find(piece) != std::string::npos; }

// Whether a backup report is the run of server: the lines a backup of it
// writes first (or its refusals that name it).
bool IsBackupOf(const std::string& text, const DominoServerInfo& server) {
  return Has(text, "Starting Backup of Server " + server.serverName + "\r\n") ||
         Has(text, "cannot initialize notes for Server " + server.serverName + "\r\n") ||
         Has(text, "Server: " + ServerShortName(server) + " is not set to archive mode.");
}

std::string FirstError(const std::string& text) {
  const std::size_t at = text.find("ERROR: ");
  if (at == std::string::npos) return "the run did not complete";
  const std::size_t end = text.find_first_of("\r\n", at);
  return text.substr(at + 7, end == std::string::npos ? std::string::npos : end - at - 7);
}

// The "Backup" reports, newest first; empty (with *problem) when the service
// cannot list them.
std::vector<ReportTime> BackupReports(ServiceConnection& connection, std::string* problem) {
  connection.SendCommand(CommandCode::ListReports);
  SendByte(connection.socket(), kBackupReports);
  const int status = RecvByte(connection.socket());
  if (status != 1) {
    *problem = "the service cannot list its backup reports: " + StatusMeaning(CommandCode::ListReports, status);
    return {};
  }
  // Grown name by name: a count the service got wrong ends the conversation
  // when the names run out, not in one huge allocation.
  const std::uint32_t count = RecvU32(connection.socket());
  std::vector<ReportTime> reports;
  for (std::uint32_t i = 0; i < count; ++i) reports.push_back({RecvString(connection.socket()), {}, 0});
  for (ReportTime& report : reports) {
    connection.SendCommand(CommandCode::GetReportTime);
    SendByte(connection.socket(), kBackupReports);
    SendString(connection.socket(), report.name);
    if (RecvByte(connection.socket()) != 1) continue;  // gone meanwhile: ticks 0, sorted last
    report.time.dwLowDateTime = RecvU32(connection.socket());
    report.time.dwHighDateTime = RecvU32(connection.socket());
    report.ticks = Ticks(report.time);
  }
  std::sort(reports.begin(), reports.end(), [](const ReportTime& a, const ReportTime& b) { return a.ticks > b.ticks; });
  return reports;
}

void FindLastBackups(ServiceConnection& connection, const std::vector<DominoServerInfo>& records,
                     std::vector<ServerHealth>& health) {
  std::string problem;
  const std::vector<ReportTime> reports = BackupReports(connection, &problem);
  if (!problem.empty()) {
    for (ServerHealth& h : health) h.problems.push_back(problem);
    return;
  }
  std::size_t missing = records.size();
  for (const ReportTime& report : reports) {
    if (missing == 0 || report.ticks == 0) break;
    connection.SendCommand(CommandCode::ReadReport);
    SendByte(connection.socket(), kBackupReports);
    SendString(connection.socket(), report.name);
    if (RecvByte(connection.socket()) != 1) continue;
    const std::string text = RecvString(connection.socket());
    for (std::size_t i = 0; i < records.size(); ++i) {
      if (health[i].lastBackup || !IsBackupOf(text, records[i])) continue;
      LastBackup last{report.name, EpochSeconds(report.time), LocalText(report.time),
                      Has(text, "Backup Completed for Server: " + records[i].serverName + "\r\n"), ""};
      if (!last.completed) last.error = FirstError(text);
      health[i].lastBackup = last;
      --missing;
    }
  }
}

// The newest snapshot: the "recent" one, which the next backup renames.
const SnapshotEntry* Newest(const DominoServerInfo& server) {
  for (const SnapshotEntry& entry : server.snapshots) {
    if (entry.name.size() > 8 && entry.name.compare(entry.name.size() - 8, 8, "__recent") == 0) return &entry;
  }
  return server.snapshots.empty() ? nullptr : &server.snapshots.front();
}

void VerifyNewest(const CtlContext& context, ServiceConnection& connection, const DominoServerInfo& server,
                  ServerHealth& health) {
  health.verdict = "not verified";
  const SnapshotEntry* newest = Newest(server);
  if (newest == nullptr) return;
  health.newestSnapshot = newest->name;
  connection.SendCommand(CommandCode::VerifySnapshot);
  const int status = RecvByte(connection.socket());
  if (status != 1) {
    health.problems.push_back("the service does not verify snapshots: " +
                              StatusMeaning(CommandCode::VerifySnapshot, status));
    return;
  }
  SendDominoServerInfo(connection.socket(), server);
  SendString(connection.socket(), newest->name);
  static const std::regex kLedgerLine("ArkLedger drive ([A-Z]:) has ([0-9]+) MiB free\\.");
  const std::string verdictLine = newest->name + ": ";
  connection.StreamRunText(
      context,
      [&](const std::string& text) {
        std::smatch match;
        if (std::regex_search(text, match, kLedgerLine)) {
          // A number beyond any drive (too long, or overflowing in bytes)
          // is not a free space the service measured.
          const std::optional<std::uint64_t> mebibytes = ParseWhole<std::uint64_t>(match[2].str());
          if (mebibytes && *mebibytes <= std::numeric_limits<std::uint64_t>::max() / 1048576) {
            health.ledgerDrive = match[1];
            health.ledgerFreeMiB = *mebibytes;
          }
        }
        // The verdict spells the name as the storage does.
        if (!platform::EqualsNoCase(text.substr(0, verdictLine.size()), verdictLine)) return;
        const std::string rest = text.substr(verdictLine.size());
        if (rest.rfind("restorable up to the minute", 0) == 0) health.verdict = "up to the minute";
        else if (rest.rfind("restorable to point in time only", 0) == 0) health.verdict = "point in time only";
        else if (rest.rfind("NOT restorable", 0) == 0) health.verdict = "NOT restorable";
      },
      nullptr);
}

void Judge(ServerHealth& h, std::int64_t now, std::int64_t maxAgeSeconds) {
  if (!h.lastBackup) {
    h.problems.push_back("no backup report names this server");
  } else {
    h.ageSeconds = std::max<std::int64_t>(0, now - h.lastBackup->epochSeconds);
    if (!h.lastBackup->completed) h.problems.push_back("the last backup failed: " + h.lastBackup->error);
    if (h.ageSeconds > maxAgeSeconds)
      h.problems.push_back("the last backup is " + DurationText(h.ageSeconds) + " old, more than " +
                           DurationText(maxAgeSeconds));
  }
  if (h.snapshots == 0) h.problems.push_back("the server has no snapshot");
  else if (h.verdict != "up to the minute")
    h.problems.push_back("the newest snapshot is " +
                         (h.verdict == "point in time only" ? "restorable to point in time only" : h.verdict));
}

}  // namespace

std::vector<ServerHealth> ProbeHealth(const CtlContext& context, const std::vector<std::string>& names,
                                      std::int64_t maxAgeSeconds) {
  ServiceConnection connection(context);
  DiscoveryReply reply = DiscoverAllServers(connection, "health");
  std::vector<DominoServerInfo> records;
  try {
    for (const std::string& name : names) records.push_back(FindServerRecord(reply, "health", name));
  } catch (const CtlError&) {
    connection.Finish();
    throw;
  }
  if (names.empty()) records = reply.servers;

  std::vector<ServerHealth> health(records.size());
  for (std::size_t i = 0; i < records.size(); ++i) {
    health[i].server = records[i].serverName;
    health[i].snapshots = records[i].snapshots.size();
  }
  FindLastBackups(connection, records, health);
  for (std::size_t i = 0; i < records.size(); ++i) VerifyNewest(context, connection, records[i], health[i]);
  connection.Finish();

  FILETIME now;
  platform::GetSystemTimeAsFileTime(now);
  for (ServerHealth& h : health) Judge(h, EpochSeconds(now), maxAgeSeconds);
  return health;
}

}  // namespace ark
