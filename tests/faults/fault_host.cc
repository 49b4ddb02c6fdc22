#include "tests/faults/fault_host.h"

#include <stdlib.h>

#include <sstream>

#include "dominosim/sim_api.h"
#include "platform/host.h"
#include "platform/registry.h"

namespace faults {
namespace fs = std::filesystem;
using servicetest::RunTool;
using servicetest::Spawn;
using servicetest::WaitExit;

namespace {

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  return text;
}

// The values of every "key": "value" pair of a flat JSON list, in order.
std::vector<std::string> JsonValues(const std::string& json, const std::string& key) {
  std::vector<std::string> out;
  const std::string marker = "\"" + key + "\": \"";
  for (std::size_t at = json.find(marker); at != std::string::npos; at = json.find(marker, at)) {
    at += marker.size();
    std::size_t end = json.find('"', at);
    if (end == std::string::npos) break;
    out.push_back(json.substr(at, end - at));
  }
  return out;
}

}  // namespace

bool RolledForward(const std::string& windowsPath) {
  std::string name = Lower(windowsPath.substr(windowsPath.find_last_of('\\') + 1));
  return name != "log.nsf" && !name.ends_with(".ntf");
}

std::map<std::string, std::string> RolledForwardOnly(const std::map<std::string, std::string>& digests) {
  std::map<std::string, std::string> out;
  for (const auto& [path, digest] : digests) {
    if (RolledForward(path)) out[path] = digest;
  }
  return out;
}

FaultHost::FaultHost(const HostShape& shape) {
  std::string pattern = (fs::temp_directory_path() / "ark-faults-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "mkdtemp failed";
    return;
  }
  base_ = pattern;
  root_ = base_ + "/host";
  scratch_ = base_ + "/out";
  fs::create_directories(scratch_);
  std::vector<std::string> args = {DOMINOSIM_PATH, "install", "--root", root_, "--databases",
                                   std::to_string(shape.databases), "--unlogged", "0", "--size-mib",
                                   std::to_string(shape.sizeMib), "--backend", "dir", "--seed", "7"};
  if (shape.logExtentKib > 0) {
    args.insert(args.end(), {"--log-extent-kib", std::to_string(shape.logExtentKib)});
  }
  if (!shape.reportFolder.empty()) args.insert(args.end(), {"--report-folder", shape.reportFolder});
  ToolResult installed = RunTool(args, scratch_);
  installed_ = installed.exitCode == 0;
  if (!installed_) ADD_FAILURE() << "dominosim install failed:\n" << installed.out << installed.err;
}

FaultHost::~FaultHost() {
  StopWorkload();
  KillServer();
  if (!base_.empty()) {
    std::error_code ignored;
    fs::remove_all(base_, ignored);
  }
}

bool FaultHost::StartServer(int ioTimeoutSeconds) {
  const std::string out = scratch_ + "/arkserver.out";
  server_ = Spawn({ARKSERVER_PATH, "--root", root_, "--port", "0", "--io-timeout", std::to_string(ioTimeoutSeconds)},
                  out, scratch_ + "/arkserver.err");
  if (server_ < 0) return false;
  bool up = WaitFor(
      [&] {
        std::string text = ReadFile(out);
        std::size_t at = text.find("listening on port ");
        if (at == std::string::npos || text.find('\n', at) == std::string::npos) return false;
        port_ = static_cast<std::uint16_t>(std::stoi(text.substr(at + 18)));
        return true;
      },
      30000);
  if (!up) {
    ADD_FAILURE() << "arkserver did not come up:\n"
                  << ReadFile(out) << ReadFile(scratch_ + "/arkserver.err");
    KillServer();
  }
  return up;
}

void FaultHost::KillServer() {
  if (server_ <= 0) return;
  ::kill(server_, SIGKILL);
  ::waitpid(server_, nullptr, 0);
  server_ = -1;
}

ToolResult FaultHost::Ctl(std::vector<std::string> args) const {
  args.insert(args.begin(), {ARKCTL_PATH, "--port", std::to_string(port_)});
  return RunTool(args, scratch_);
}

pid_t FaultHost::StartCtl(std::vector<std::string> args) const {
  args.insert(args.begin(), {ARKCTL_PATH, "--port", std::to_string(port_)});
  return Spawn(args, CtlOutputPath(), scratch_ + "/ctl-bg.err");
}

ToolResult FaultHost::Sim(const std::string& command) const {
  return RunTool({DOMINOSIM_PATH, command, "--root", root_, "--ini", kIni}, scratch_);
}

bool FaultHost::StartWorkload(double rate, unsigned seed) {
  workload_ = Spawn({NSERVER_PATH, "--root", root_, "--ini", kIni, "--seed", std::to_string(seed), "--rate",
                     std::to_string(rate)},
                    scratch_ + "/nserver.out", scratch_ + "/nserver.err");
  if (workload_ < 0) return false;
  // Running once the simulated runtime says so.
  return WaitFor([&] { return Has(Sim("status").out, "nserver: running"); }, 10000);
}

void FaultHost::StopWorkload() {
  if (workload_ <= 0) return;
  ::kill(workload_, SIGTERM);
  if (WaitExit(workload_, 20000) < 0) {
    ::kill(workload_, SIGKILL);
    ::waitpid(workload_, nullptr, 0);
  }
  workload_ = -1;
}

std::map<std::string, std::string> FaultHost::Digests() const {
  ToolResult digest = Sim("digest");
  EXPECT_EQ(digest.exitCode, 0) << digest.out << digest.err;
  std::map<std::string, std::string> out;
  std::istringstream lines(digest.out);
  std::string line;
  while (std::getline(lines, line)) {
    std::size_t blank = line.rfind(' ');
    if (blank != std::string::npos) out[line.substr(0, blank)] = line.substr(blank + 1);
  }
  return out;
}

std::vector<FaultHost::Snapshot> FaultHost::Snapshots() const {
  ToolResult listed = Ctl({"--json", "snapshots", kServer});
  EXPECT_EQ(listed.exitCode, 0) << listed.out << listed.err;
  std::vector<std::string> names = JsonValues(listed.out, "name");
  std::vector<std::string> stamps = JsonValues(listed.out, "stamp");
  EXPECT_EQ(names.size(), stamps.size()) << listed.out;
  std::vector<Snapshot> out;
  for (std::size_t i = 0; i < names.size() && i < stamps.size(); ++i) out.push_back({names[i], stamps[i]});
  return out;
}

std::string FaultHost::SnapshotNameWithStamp(const std::string& stamp) const {
  for (const Snapshot& s : Snapshots()) {
    if (s.stamp == stamp) return s.name;
  }
  return "";
}

std::vector<std::string> FaultHost::Reports(const std::string& type) const {
  ToolResult listed = Ctl({"reports", "list", type});
  EXPECT_EQ(listed.exitCode, 0) << listed.out << listed.err;
  std::vector<std::string> out;
  std::istringstream lines(listed.out);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty()) out.push_back(line);
  }
  return out;
}

std::string FaultHost::Report(const std::string& type, const std::string& name) const {
  ToolResult shown = Ctl({"reports", "show", type, name});
  EXPECT_EQ(shown.exitCode, 0) << shown.err;
  return shown.out;
}

void FaultHost::SpaceBackups() {
  while (std::time(nullptr) <= lastBackup_) std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

ToolResult FaultHost::Backup() {
  SpaceBackups();
  ToolResult result = Ctl({"backup", kServer});
  BackupEnded();
  return result;
}

ToolResult FaultHost::Restore(const std::string& snapshot, bool pointInTime) const {
  std::vector<std::string> args = {"restore", kServer, snapshot, "--yes"};
  if (pointInTime) args.push_back("--point-in-time");
  return Ctl(args);
}

void FaultHost::SetFailOn(const std::string& operations) const {
  platform::SetHostRoot(root_);
  if (operations.empty()) {
    platform::RegDeleteValue(kSnapshotKey, "FailOn");
  } else {
    ASSERT_EQ(platform::RegSetString(kSnapshotKey, "FailOn", operations), 0);
  }
}

std::vector<std::string> DatabasesHeldInBackup(const FaultHost& host) {
  std::vector<std::string> held;
  platform::SetHostRoot(host.root());
  dominosim::SimApi& api = dominosim::Api();
  std::string program = "faults_tests", ini = std::string("=") + kIni;
  char* argv[] = {program.data(), ini.data()};
  if (STATUS s = api.InitRuntime(2, argv)) {
    ADD_FAILURE() << "the simulated runtime does not start: " << s;
    return held;
  }
  for (const auto& entry : host.Digests()) {
    DBHANDLE handle = 0;
    DWORD context = 0, unused1 = 0, unused2 = 0;
    STATUS s = api.OpenDatabase(entry.first.c_str(), &handle);
    if (s == 0) s = api.BackupStart(handle, 0, &context, &unused1, &unused2);
    if (s == 0) s = api.BackupEnd(handle, context, 1);
    if (s != 0) held.push_back(entry.first + " (status " + std::to_string(s) + ")");
    if (handle != 0) api.CloseDatabase(handle);
  }
  api.TermRuntime();
  return held;
}

}  // namespace faults
