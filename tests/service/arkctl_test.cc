// arkctl against a scripted service in this process: per command line, the
// exit code and the texts it must print. Discovery, backup, verify and drill are
// scripted: each streams back what arkctl sent it, then the row's last text;
// restore-db restores each path it is sent. A whole-volume restore run is the
// whole-host tests'; here a restore sent is refused (exit 1).
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <thread>

#include "common/records.h"
#include "net/command.h"
#include "net/io_timeout.h"
#include "net/report_commands.h"
#include "net/session.h"
#include "net/streaming.h"
#include "net/wire.h"
#include "net/wire_records.h"
#include "output/output.h"
#include "tests/support/child_process.h"
#include "tests/support/loopback.h"
#include "tests/support/server_record.h"
#include "tests/support/temp_host.h"

namespace ark {

namespace fs = std::filesystem;

namespace {

// Serves the clients of a free loopback port on a thread until destroyed.
struct ServiceLoop {
  platform::Socket listener = nettest::Listening();
  std::atomic<bool> stop{false};
  std::thread thread{[this] {
    while (!stop) ServeOneConnection(listener.get(), 50);
  }};
  ~ServiceLoop() { stop = true, thread.join(); }
};

constexpr char kRecent[] = "dominosnap__ARKHOST__srv1__recent";
constexpr char kOlder[] = "dominosnap__ARKHOST__srv1__3-1-2003_8.00.00";
constexpr char kFine[] = ": restorable up to the minute\r\n";

// How the scripted service ends a verify run ("" leaves its command unknown
// to the service); backups complete.
struct Script {
  std::string verifyEnd = std::string(kOlder) + kFine;
  std::string drillEnd = "DRILL PASSED: 2 of 2 databases restored and sound in 0.1 s\r\n";
  bool up = true;  // false: no service listens
  int busyBackups = 0;  // backups answered "in progress" before one runs
  bool servers = true;  // false: discovery finds no Domino server
  std::string srv2 = "srv2";  // the common name of the second server
  bool listGarbage = false;  // the report list claims 2^32-1 names, then ends the session
};

struct Row {
  std::vector<std::string> argv;
  Script script;
  int exitCode;
  std::vector<std::string> required;  // texts the output holds
  std::string ran = "";               // the scripted commands that ran, in order
  std::string gone = "";              // a file of the host that must be gone after
  std::string logged = "";            // a text of the host's event log (Logs/Application.log)
  std::pair<std::string, std::string> wrote = {};  // a file of the host and a text it holds
};

// restore-db of srv1 with n paths (more than the wire carries, when n > 4096).
std::vector<std::string> RestoreDbOf(std::size_t n) {
  std::vector<std::string> argv = {"restore-db", "srv1"};
  for (std::size_t i = 0; i < n; ++i) argv.push_back("mail\\u" + std::to_string(i) + ".nsf");
  return argv;
}

// $HOST in a command line: the host root.
std::string WithHost(std::string arg, const fs::path& host) {
  if (const std::size_t at = arg.find("$HOST"); at != std::string::npos) arg.replace(at, 5, host.string());
  return arg;
}

// A scripted run: streams its lines as a report of type, noted in ran.
void Stream(platform::SOCKET client, const char* type, const std::vector<std::string>& lines, std::string& ran) {
  ran += std::string(ran.empty() ? "" : ",") + type;
  RunStreamingOperation(client, type, [&] {
    OutputSink sink;
    for (const std::string& line : lines) Output(sink, line);
  });
}

void RegisterScript(const Script& script, std::string& ran, int& busy) {
  RegisterCommand(CommandCode::DiscoverServers, [&script](platform::SOCKET client, Command&) {
    SendByte(client, 1);
    if (!script.servers) return SendDiscoveryReplyTail(client, 0, true, "ARKHOST", {}), true;
    DominoServerInfo srv1 = ServerRecord("srv1", "D:\\Domino\\Data");
    srv1.snapshots.resize(2);
    srv1.snapshots[0].name = kRecent;
    srv1.snapshots[0].displayText.Set("3/2/2003 9:05:00");
    srv1.snapshots[1].name = kOlder;
    srv1.snapshots[1].displayText.Set("3/1/2003 8:00:00");
    SendDiscoveryReplyTail(client, 2, true, "ARKHOST", {srv1, ServerRecord(script.srv2, "D:\\Domino\\Data2")});
    return true;
  });
  if (script.listGarbage) {
    RegisterCommand(CommandCode::ListReports, [](platform::SOCKET client, Command&) {
      SendByte(client, 1);
      SendU32(client, 0xFFFFFFFFu);
      return false;
    });
  } else {
    RegisterCommand(CommandCode::ListReports, HandleListReports);
  }
  RegisterCommand(CommandCode::RunBackup, [&ran, &busy](platform::SOCKET client, Command&) {
    SendByte(client, 1);
    BackupRequest request;
    RecvBackupRequest(client, request);
    DominoServerInfo server;
    RecvDominoServerInfo(client, server);
    const std::string keep = request.deleteExcessSnapshots ? std::to_string(request.keepCount) : "-";
    if (busy > 0) {
      --busy;
      Stream(client, "Backup", {"ERROR: ARK backup or restore in progress (probably a scheduled event).\r\n"}, ran);
      return true;
    }
    Stream(client, "Backup",
           {"Backup of " + server.serverName + " keeping " + keep + "\r\n", "Backup Completed for Server: srv1/Org\r\n"},
           ran);
    return true;
  });
  RegisterCommand(CommandCode::DrillSnapshot, [&script, &ran](platform::SOCKET client, Command&) {
    SendByte(client, 1);
    DominoServerInfo server;
    RecvDominoServerInfo(client, server);
    const std::string snapshot = RecvString(client), scratch = RecvString(client);
    const bool keep = RecvBool(client);
    Stream(client, "Backup",
           {"Drill of " + server.serverName + " [" + snapshot + "] [" + scratch + "] keep " + std::to_string(keep) + "\r\n",
            "names.nsf: page 2 is damaged\r\n", script.drillEnd},
           ran);
    return true;
  });
  // Each path restored to restore\<path>, as the service words it.
  RegisterCommand(CommandCode::RestoreDatabases, [&ran](platform::SOCKET client, Command&) {
    SendByte(client, 1);
    DatabaseRestoreRequest request;
    RecvDatabaseRestoreRequest(client, request);
    const std::string snapshot = request.snapshotName.empty() ? kOlder : request.snapshotName;
    std::string plan = "Restoring from snapshot " + snapshot + " to 2003-03-01 08:00:00:\r\n", done;
    for (const std::string& path : request.paths) {
      plan += "  " + path + " -> D:\\Domino\\Data\\restore\\" + path + "\r\n";
      done += "Restored " + path + " to D:\\Domino\\Data\\restore\\" + path + " as of 2003-03-01 08:00:00\r\n";
    }
    Stream(client, "Restore", {plan, done, "DATABASE RESTORE COMPLETE: 1 databases restored.\r\n"}, ran);
    return true;
  });
  RegisterCommand(CommandCode::InterruptedRestores, [](platform::SOCKET client, Command&) {
    SendByte(client, 1);
    SendU32(client, 1);
    SendString(client, "The POINT IN TIME restore of server srv1/Org was interrupted.\r\n");
    return true;
  });
  if (script.verifyEnd.empty()) return UnregisterCommand(int(CommandCode::VerifySnapshot));
  RegisterCommand(CommandCode::VerifySnapshot, [&script, &ran](platform::SOCKET client, Command&) {
    SendByte(client, 1);
    DominoServerInfo server;
    RecvDominoServerInfo(client, server);
    const std::string snapshot = RecvString(client);
    Stream(client, "Backup", {"Verifying " + server.serverName + " [" + snapshot + "]\r\n", script.verifyEnd}, ran);
    return true;
  });
}

const Row kRows[] = {
    {{"ping"}, {}, 0, {"answers"}},
    {{"status", "--json"},
     {},
     0,
     {"\"backupWizardRun\": true, \"configWizardRun\": false, \"interruptedRestores\": [\"The POINT IN TIME restore of "
      "server srv1/Org was interrupted.\"]}"}},
    {{"reports", "list", "1", "--json"}, {}, 0, {"[\"abc\"]\n"}},
    // Quotes, backslashes and control characters escaped; a byte that is
    // not UTF-8 becomes U+FFFD, so the answer is always valid JSON.
    {{"--json", "reports", "show", "restore", "q"},
     {},
     0,
     {"{\"type\": \"Restore\", \"name\": \"q\", \"text\": \"say \\\"hi\\\"\\tC:\\\\dir\\r\\n\xEF\xBF\xBD\"}\n"}},
    {{"reports", "delete", "backup", "abc"}, {}, 0, {}, "", "D/Reports/Backup/abc"},
    {{"reports", "clear", "delete-snapshot"}, {}, 0, {}, "", "D/Reports/Delete Snapshot/d1"},
    {{"reports", "delete", "backup", "..\\..\\registry.reg"}, {}, 1, {"answered status 3"}},
    {{"reports", "list", "weekly"}, {}, 2, {"TYPE must be"}},
    {{"ping"}, {.up = false}, 3, {"cannot reach the service"}},
    {{"backup", "SRV1", "--keep", "5"}, {}, 0, {"Backup of srv1/Org keeping 5\r\n", "Backup Completed"}, "Backup"},
    {{"backup", "srv1/Org"}, {}, 0, {"Backup of srv1/Org keeping -\r\n"}, "Backup"},
    // Another run holds the operation lock: tried again until it is free,
    // or not at all; a scheduled run that fails writes an error event.
    {{"backup", "srv1", "--wait-lock", "5m"}, {.busyBackups = 1}, 0, {"trying again in 1 s", "Backup Completed"},
     "Backup,Backup"},
    {{"backup", "srv1", "--scheduled", "--wait-lock", "0s"},
     {.busyBackups = 1},
     1,
     {"in progress (probably a scheduled event)", "did not run: another backup or restore held the operation lock"},
     "Backup",
     "",
     "Error category 1 event 0x4000006C arksvc: The backup of the Domino server srv1 failed: the scheduled run failed"},
    // A wait too long for the clock is as good as forever, not over at once.
    {{"backup", "srv1", "--wait-lock", "200000d"}, {.busyBackups = 1}, 0, {"trying again in 1 s", "Backup Completed"},
     "Backup,Backup"},
    {{"backup", "srv1", "--scheduled", "--wait-lock", "soon"}, {}, 2, {"--wait-lock takes a duration"}, "", "", "Error"},
    {{"backup", "srv1", "--verify"}, {}, 0, {"Verifying srv1/Org [" + std::string(kRecent) + "]"}, "Backup,Backup"},
    {{"backup", "srv9"}, {}, 2, {"no Domino server named srv9 on ARKHOST (servers: srv1/Org, srv2/Org)"}},
    // No terminal and no --yes: told of the other server, nothing sent.
    {{"restore", "srv1/Org", "3/1/2003 8:00:00", "--point-in-time"},
     {},
     2,
     {"The volume D: also holds the data of other Domino servers, which the revert takes\n"
      "back to the snapshot too (their databases are not recovered):\n  D:\\Domino\\Data2 (srv2/Org)\n",
      "confirmation needed"}},
    {{"restore", "srv1", "1/1/1999", "--yes"}, {}, 2, {"no snapshot of srv1/Org is 1/1/1999", kRecent, kOlder}},
    {{"verify", "srv1/Org", kOlder},
     Script{.verifyEnd = std::string(kOlder) + ": restorable to point in time only (no log_hint)\r\n"},
     0,
     {"Verifying srv1/Org [" + std::string(kOlder) + "]\r\n"},
     "Backup"},
    {{"verify", "srv1"},
     Script{.verifyEnd = std::string(kOlder) + kFine + kRecent + ": NOT restorable (damaged change information file)\r\n"},
     1,
     {"arkctl: verify: a snapshot of srv1/Org is NOT restorable"},
     "Backup"},
    {{"verify", "srv1"},
     Script{.verifyEnd = "ERROR: No snapshot of server srv1 was found on drive D:.\r\n"},
     1,
     {"could not be verified"},
     "Backup"},
    {{"verify", "srv1"}, Script{.verifyEnd = ""}, 1, {"does not know this command"}},
    // A drill is a command of its own after the backup, and its verdict counts.
    {{"backup", "srv1", "--drill"}, {}, 0, {"Backup Completed", "Drill of srv1/Org [] [] keep 0\r\n"}, "Backup,Backup"},
    // health: a host without servers is not healthy; a garbled answer ends
    // the conversation (exit 3) or goes unreported, never aborts arkctl.
    {{"--json", "health"}, {.servers = false}, 1, {"{\"healthy\": false, \"maxAgeSeconds\": 93600, \"servers\": []}",
                                                   "the host has no Domino server"}},
    {{"health", "srv1"}, {.listGarbage = true}, 3, {"conversation with the service"}},
    // Prometheus' labels are UTF-8 (a byte of the ANSI code page is not).
    {{"health", "m\xE4il", "--prometheus", "$HOST/ark.prom"},
     {.srv2 = "M\xE4il"},
     1,
     {"M\xE4il/Org: UNHEALTHY"},
     "",
     "",
     "",
     {"ark.prom", "ark_server_healthy{server=\"M\xEF\xBF\xBDil/Org\"} 0\n"}},
    {{"health", "srv1"},
     {.verifyEnd = std::string(kRecent) + kFine + "ArkLedger drive L: has 99999999999999999999999 MiB free.\r\n"},
     1,
     {"srv1/Org: UNHEALTHY", "newest " + std::string(kRecent) + ": up to the minute", "free space not reported",
      "no backup report names this server"},
     "Backup"},
    {{"--json", "drill", "srv1", kOlder, "--scratch", "E:\\x", "--keep"},
     Script{.drillEnd = "DRILL FAILED: 1 of 2 databases restored and sound; the others are listed above\r\n"},
     1,
     {"Drill of srv1/Org [" + std::string(kOlder) + "] [E:\\x] keep 1\r\n",
      "{\"path\": \"names.nsf\", \"result\": \"page 2 is damaged\"}], \"sound\": 1, \"total\": 2, \"passed\": false"},
     "Backup"},
    // A database whose name holds " to " is matched to its own line.
    {{"--json", "restore-db", "srv1", "mail\\Things to do.nsf"},
     {},
     0,
     {"{\"path\": \"mail\\\\Things to do.nsf\", \"target\": \"D:\\\\Domino\\\\Data\\\\restore\\\\mail\\\\Things to "
      "do.nsf\", \"snapshot\": \"" + std::string(kOlder) + "\", \"moment\": \"2003-03-01 08:00:00\", \"result\": \"restored\"}\n"},
     "Restore"},
    // The snapshot of a server whose name holds a blank is named whole.
    {{"--json", "restore-db", "srv1", "a.nsf", "--snapshot", "dominosnap__ARKHOST__Mail Hub__recent"},
     {},
     0,
     {"\"snapshot\": \"dominosnap__ARKHOST__Mail Hub__recent\", \"moment\": \"2003-03-01 08:00:00\", \"result\": \"restored\"}"},
     "Restore"},
    {{"--json", "drill", "srv1"},
     Script{.drillEnd = "Drilling snapshot dominosnap__ARKHOST__Mail Hub__recent (complete at 2003-03-02 09:05:00)\r\n"
                        "DRILL FAILED: 1 of 2 databases restored and sound; the others are listed above\r\n"},
     1,
     {"{\"server\": \"srv1/Org\", \"snapshot\": \"dominosnap__ARKHOST__Mail Hub__recent\", \"databases\""},
     "Backup"},
    // More paths than one request carries: a usage error, nothing sent.
    {RestoreDbOf(4097), {}, 2, {"restore-db: at most 4096 paths in one run, not 4097"}},
    // A count beyond any number is no count: arkctl neither aborts nor calls
    // the drill passed, and its exit code says what its JSON says.
    {{"--json", "drill", "srv1"},
     Script{.drillEnd = "DRILL PASSED: 99999999999999999999999 of 99999999999999999999999 databases restored\r\n"},
     1,
     {"\"sound\": 0, \"total\": 0, \"passed\": false", "drill of srv1/Org did not pass"},
     "Backup"},
};

class Arkctl : public ::testing::TestWithParam<std::size_t> {};

TEST_P(Arkctl, ExitCodeAndTextPerCommandLine) {
  const Row& row = kRows[GetParam()];
  TempHostRoot host(HostOptions{"D", "", "", "D:\\Reports", ""});
  WriteHostFile(host.Drive('D', "Reports/Backup/abc"), "b");
  WriteHostFile(host.Drive('D', "Reports/Restore/q"), "say \"hi\"\tC:\\dir\r\n\xff");
  WriteHostFile(host.Drive('D', "Reports/Delete Snapshot/d1"), "d");
  WriteHostFile(host.WindowsDirectory() / "ark.ini", "[NOTES]\r\nBACKUPWIZ=yes\r\n");
  std::string ran;
  int busy = row.script.busyBackups;
  RegisterScript(row.script, ran, busy);
  // A broken conversation ends within half a minute on either side; a loaded
  // machine is slow, never silent that long.
  SetIoTimeoutSeconds(30);
  auto service = std::make_unique<ServiceLoop>();
  std::vector<std::string> args = {"--io-timeout", "30", "--port",
                                   std::to_string(platform::LocalPort(service->listener.get()))};
  if (!row.script.up) service.reset();  // the port closed
  for (const std::string& arg : row.argv) args.push_back(WithHost(arg, host.path()));
  ChildProcess arkctl(ProgramBesideTest("arkctl"), args);
  const std::string output = arkctl.ReadAll();
  EXPECT_EQ(arkctl.Wait(), row.exitCode) << output;
  for (const std::string& text : row.required) EXPECT_NE(output.find(text), std::string::npos) << text << output;
  service.reset();
  EXPECT_EQ(ran, row.ran);
  EXPECT_TRUE(row.gone.empty() || !fs::exists(host.path() / row.gone)) << row.gone;
  const fs::path events = host.path() / "Logs/Application.log";
  if (row.logged.empty()) {
    EXPECT_FALSE(fs::exists(events));
  } else {
    EXPECT_NE(ReadHostFile(events).find(row.logged), std::string::npos) << row.logged;
  }
  EXPECT_TRUE(fs::exists(host.path() / "registry.reg"));
  if (!row.wrote.first.empty()) {
    EXPECT_NE(ReadHostFile(host.path() / row.wrote.first).find(row.wrote.second), std::string::npos)
        << row.wrote.second;
  }
}
INSTANTIATE_TEST_SUITE_P(Rows, Arkctl, ::testing::Range<std::size_t>(0, std::size(kRows)));

}  // namespace

}  // namespace ark
