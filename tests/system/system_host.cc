#include "tests/system/system_host.h"

#include <sched.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <sstream>

#include "dominosim/sim_api.h"
#include "net/command.h"
#include "net/wire.h"
#include "net/wire_records.h"
#include "platform/host.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "tests/support/sim_log.h"

namespace ark::systest {

namespace fs = std::filesystem;

namespace {

// Mounts of this test process (and of the programs it starts afterwards)
// live in a mount namespace of its own, so that none outlives the process.
bool PrivateMounts(std::string* why) {
  static const bool own =
      ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
  if (!own) *why = "no mount namespace of its own (root needed)";
  return own;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

// Every first group of the pattern in text.
std::vector<std::string> Matches(const std::string& text, const std::string& pattern) {
  std::vector<std::string> out;
  const std::regex re(pattern);
  for (std::sregex_iterator it(text.begin(), text.end(), re), end; it != end; ++it) out.push_back((*it)[1]);
  return out;
}

// A program left running, its output in files.
std::unique_ptr<ChildProcess> Spawn(const std::vector<std::string>& argv, const std::string& out,
                                    const std::string& err, const std::vector<std::string>& env = {}) {
  std::vector<std::string> args = {"-c", "o=$1 e=$2; shift 2; exec \"$@\" >\"$o\" 2>\"$e\"", "sh", out, err};
  args.insert(args.end(), argv.begin(), argv.end());
  return std::make_unique<ChildProcess>("/bin/sh", args, env);
}

}  // namespace

Result RunProgram(const std::vector<std::string>& argv) {
  ChildProcess program(argv[0], std::vector<std::string>(argv.begin() + 1, argv.end()));
  Result run;
  run.out = program.ReadAll();
  run.exitCode = program.Wait();
  return run;
}

SystemHost::~SystemHost() {
  StopWorkload();
  if (service_) StopService();
}

bool SystemHost::UseBtrfs(std::string* why) {
  if (!PrivateMounts(why)) return false;
  mounts_['V'] = snaptest::Mount::Btrfs((scratch_.path() / "volumes.img").string(), root_ + "/volumes", 8192, why);
  return mounts_['V'] != nullptr;
}

bool SystemHost::SmallDrive(char drive, std::uint64_t bytes, std::string* why) {
  const std::string dir = root_ + "/volumes/" + drive;
  if (!PrivateMounts(why) || !(mounts_[drive] = snaptest::Mount::Tmpfs(dir, int(bytes >> 10), why))) return false;
  if (drive == 'L') fs::create_directories(dir + "/ArkLedger");
  return true;
}

::testing::AssertionResult SystemHost::Install(const Shape& shape, std::string* skip) {
  Result install = RunProgram({ProgramBesideTest("dominosim"), "install", "--root", root_, "--backend", shape.backend,
                               "--logging", "archive", "--partitions", std::to_string(shape.partitions),
                               "--databases", std::to_string(shape.databases), "--unlogged",
                               std::to_string(shape.unlogged), "--size-mib", shape.sizeMib, "--log-extent-kib",
                               std::to_string(shape.logExtentKib), "--translog-path", shape.translogPath,
                               "--report-folder", "C:\\Reports", "--seed", "7"});
  for (const std::string& line : Lines(install.out)) {
    if (line.size() > 7 && line.compare(0, 2, "  ") == 0 && line.compare(3, 5, ": -> ") == 0) drives_[line[2]] = line.substr(8);
  }
  // The first server's block names its notes.ini and directories.
  const std::vector<std::string> ini = Matches(install.out, "  notes.ini: (.*)\n"),
                                 data = Matches(install.out, "  data directory: (.*) \\("),
                                 log = Matches(install.out, "  transaction log: (.*) \\(");
  if (install.exitCode != 0 || ini.empty() || data.empty() || log.empty() || drives_.count('D') == 0) {
    return ::testing::AssertionFailure() << "dominosim install: " << install.out;
  }
  notesIni_ = ini[0], dataDirectory_ = data[0], logDirectory_ = log[0];
  platform::SetHostRoot(root_);
  if (shape.ledgerBytes != 0 && !SmallDrive('L', shape.ledgerBytes, skip)) return ::testing::AssertionSuccess();
  if (shape.dataBytes != 0) {  // the installed D: moved onto a file system of its own
    const std::string d = root_ + "/volumes/D", plain = d + ".plain";
    fs::rename(d, plain);
    if (!SmallDrive('D', shape.dataBytes, skip)) return ::testing::AssertionSuccess();
    fs::copy(plain, d, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    fs::remove_all(plain);
  }
  if (skip != nullptr) skip->clear();
  return shape.startService ? StartService(shape.launcher) : ::testing::AssertionSuccess();
}

::testing::AssertionResult SystemHost::StartService(const std::vector<std::string>& launcher) {
  std::vector<std::string> argv = launcher;
  argv.push_back(ProgramBesideTest("arkserver"));
  return Start(argv, {"ARK_ROOT=" + root_});
}

::testing::AssertionResult SystemHost::StartCrashingService(const std::string& step) {
  return Start({ProgramBesideTest("arkserver_crash")}, {"ARK_ROOT=" + root_, "ARK_CRASH_AT=" + step});
}

int SystemHost::ServiceEnded() {
  const int code = service_->Wait();
  service_.reset();
  return code;
}

::testing::AssertionResult SystemHost::Start(std::vector<std::string> argv, const std::vector<std::string>& env) {
  argv.insert(argv.end(), {"--root", root_, "--port", "0", "--io-timeout", "45"});
  const std::string out = (scratch_.path() / "arkserver.out").string();
  fs::remove(out);  // the port of this start, never the last one's
  service_ = Spawn(argv, out, (scratch_.path() / "arkserver.err").string(), env);
  std::vector<std::string> port;
  if (!WaitFor([&] { return !(port = Matches(ReadHostFile(out), "listening on port (\\d+)\n")).empty(); })) {
    return ::testing::AssertionFailure() << "arkserver did not start: " << ServiceOutput();
  }
  port_ = static_cast<std::uint16_t>(std::stoi(port[0]));
  return ::testing::AssertionSuccess();
}

void SystemHost::StopService() {
  ::kill(service_->id(), SIGTERM);
  EXPECT_EQ(service_->Wait(), 0) << "arkserver did not stop cleanly:\n" << ServiceOutput();
  service_.reset();
}

std::string SystemHost::ServiceOutput() const {
  return ReadHostFile(scratch_.path() / "arkserver.out") + ReadHostFile(scratch_.path() / "arkserver.err");
}

std::string SystemHost::HostPath(const std::string& windowsPath) const {
  if (windowsPath.size() < 2 || windowsPath[1] != ':') return "";
  auto it = drives_.find(static_cast<char>(std::toupper(static_cast<unsigned char>(windowsPath[0]))));
  std::string rest = windowsPath.substr(2);
  std::replace(rest.begin(), rest.end(), '\\', '/');
  return it == drives_.end() ? "" : it->second + rest;
}

std::set<std::string> SystemHost::Unlogged(const std::string& snapshot) const {
  std::set<std::string> paths;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(ServerLedger(), ec)) {
    if (!platform::EqualsNoCase(entry.path().filename().string(), snapshot)) continue;
    std::istringstream in(ReadHostFile(entry.path() / "disabled_databases"));
    for (std::string path; in >> path;) paths.insert(path);
  }
  return paths;
}

Result SystemHost::Ctl(std::vector<std::string> args) const {
  args.insert(args.begin(), {ProgramBesideTest("arkctl"), "--port", std::to_string(port_)});
  return RunProgram(args);
}

Result SystemHost::Backup() {
  SpaceBackups();
  Result run = Ctl({"backup", server});
  BackupEnded();
  return run;
}

void SystemHost::SpaceBackups() const {
  while (std::time(nullptr) <= lastBackup_) ::usleep(20000);
}

Result SystemHost::Restore(const std::string& snapshot, bool pointInTime) const {
  if (pointInTime) return Ctl({"restore", server, snapshot, "--point-in-time", "--yes"});
  return Ctl({"restore", server, snapshot, "--yes"});
}

Result SystemHost::Sim(const std::string& command) const {
  return RunProgram({ProgramBesideTest("dominosim"), command, "--root", root_, "--ini", notesIni_});
}

Digests SystemHost::Digest(bool content) const {
  Result run = content ? RunProgram({ProgramBesideTest("dominosim"), "digest", "--content", "--root", root_, "--ini", notesIni_})
                       : Sim("digest");
  EXPECT_EQ(run.exitCode, 0) << run.out;
  Digests digests;
  for (const std::string& line : Lines(run.out)) {
    const std::size_t blank = line.find(' ');
    if (blank != std::string::npos) digests[line.substr(0, blank)] = line.substr(blank + 1);
  }
  return digests;
}

std::vector<Snapshot> SystemHost::Snapshots() const {
  Result listed = Ctl({"--json", "snapshots", server});
  EXPECT_EQ(listed.exitCode, 0) << listed.out;
  const std::vector<std::string> names = Matches(listed.out, "\"name\": \"([^\"]*)\""),
                                 stamps = Matches(listed.out, "\"stamp\": \"([^\"]*)\"");
  EXPECT_EQ(names.size(), stamps.size()) << listed.out;
  std::vector<Snapshot> out;
  for (std::size_t i = 0; i < names.size() && i < stamps.size(); ++i) out.push_back({names[i], stamps[i]});
  return out;
}

std::string SystemHost::NameOf(const Snapshot& snapshot) const {
  for (const Snapshot& s : Snapshots()) {
    if (s.stamp == snapshot.stamp) return s.name;
  }
  return "";
}

std::vector<std::string> SystemHost::Reports(const std::string& type) const {
  return Lines(Ctl({"reports", "list", type}).out);
}

std::string SystemHost::LastReport(const std::string& type) const {
  const std::vector<std::string> reports = Reports(type);
  return reports.empty() ? "(no report)" : Ctl({"reports", "show", type, reports.back()}).out;
}

void SystemHost::SetFailOn(const std::string& operations) const {
  ASSERT_EQ(platform::RegSetString("SOFTWARE\\ark\\Snapshot Component", "FailOn", operations), 0);
}

std::vector<std::string> SystemHost::HeldInBackup() const {
  dominosim::SimApi& api = dominosim::Api();
  std::string program = "system_tests", ini = "=" + notesIni_;
  char* argv[] = {program.data(), ini.data()};
  if (STATUS s = api.InitRuntime(2, argv)) return {"(the runtime did not start: " + std::to_string(s) + ")"};
  std::vector<std::string> held;
  for (const auto& [path, digest] : Digest()) {
    DBHANDLE handle = 0;
    DWORD context = 0, unused1 = 0, unused2 = 0;
    STATUS s = api.OpenDatabase(path.c_str(), &handle);
    if (s == 0) s = api.BackupStart(handle, 0, &context, &unused1, &unused2);
    if (s == 0) s = api.BackupEnd(handle, context, 1);
    if (s != 0) held.push_back(path + " (status " + std::to_string(s) + ")");
    if (handle != 0) api.CloseDatabase(handle);
  }
  api.TermRuntime();
  return held;
}

bool SystemHost::StartWorkload(double rate, unsigned seed, std::uint32_t extents) {
  StopWorkload();
  workload_ = Spawn({ProgramBesideTest("nserver"), "--root", root_, "--ini", notesIni_, "--seed", std::to_string(seed),
                     "--rate", std::to_string(rate)},
                    (scratch_.path() / "nserver.out").string(), (scratch_.path() / "nserver.err").string());
  const bool running = WaitFor([&] { return Has(Sim("status").out, "nserver: running"); });
  return running && (extents == 0 || AdvanceLog(extents));
}

void SystemHost::StopWorkload() {
  if (!workload_) return;
  ::kill(workload_->id(), SIGTERM);
  EXPECT_EQ(workload_->Wait(), 0) << "nserver did not stop cleanly";
  workload_.reset();
}

bool SystemHost::AdvanceLog(std::uint32_t extents) const {
  const std::uint32_t from = simtest::ReadLog(LogDir()).currentExtent;
  return WaitFor([&] { return simtest::ReadLog(LogDir()).currentExtent >= from + extents; });
}

::testing::AssertionResult Says(const std::string& output, const std::vector<std::string>& says,
                                const std::vector<std::string>& never) {
  for (const std::string& text : says) {
    if (!Has(output, text)) return ::testing::AssertionFailure() << "no \"" << text << "\" in:\n" << output;
  }
  for (const std::string& text : never) {
    if (Has(output, text)) return ::testing::AssertionFailure() << "\"" << text << "\" in:\n" << output;
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult Ok(const Result& run, const std::vector<std::string>& says,
                              const std::vector<std::string>& never) {
  if (run.exitCode == 0) return Says(run.out, says, never);
  return ::testing::AssertionFailure() << "exit code " << run.exitCode << ":\n" << run.out;
}

Digests RolledForwardOnly(const Digests& digests, const std::set<std::string>& unlogged) {
  Digests kept;
  for (const auto& [path, hash] : digests) {
    const std::string name = platform::ToLowerAnsi(path.substr(path.find_last_of('\\') + 1));
    if (name != "log.nsf" && !name.ends_with(".ntf") && unlogged.count(path) == 0) kept[path] = hash;
  }
  return kept;
}

std::vector<std::string> FileNames(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

StreamingClient::StreamingClient(std::uint16_t port) : socket_(nettest::Connect(port)) { SetIoTimeoutSeconds(120); }

DominoServerInfo StreamingClient::Discover(const std::string& name) {
  SendByte(socket_.get(), int(CommandCode::DiscoverServers));
  EXPECT_EQ(RecvByte(socket_.get()), 1);
  DiscoveryReply reply;
  RecvDiscoveryReplyTail(socket_.get(), reply);
  for (const DominoServerInfo& server : reply.servers) {
    if (server.commonName == name || server.serverName == name) return server;
  }
  ADD_FAILURE() << "discovery does not know " << name;
  return {};
}

void StreamingClient::StartBackup(const DominoServerInfo& server, const BackupRequest& request) {
  SendByte(socket_.get(), int(CommandCode::RunBackup));
  EXPECT_EQ(RecvByte(socket_.get()), 1);
  SendBackupRequest(socket_.get(), request);
  DominoServerInfo record = server;
  record.snapshots.clear();
  SendDominoServerInfo(socket_.get(), record);
}

void StreamingClient::StartRestore(const DominoServerInfo& server, const SnapshotEntry& snapshot, bool pointInTime) {
  SendByte(socket_.get(), int(CommandCode::RunRestore));
  EXPECT_EQ(RecvByte(socket_.get()), 1);
  RestoreRequest request;
  request.server = server;
  request.server.snapshots.clear();
  request.snapshot = snapshot;
  request.pointInTime = pointInTime ? 1 : 0;
  SendRestoreRequest(socket_.get(), request);
}

bool StreamingClient::ReadUntil(const std::string& needle, std::string& seen) {
  try {
    for (;;) {
      const std::string piece = RecvString(socket_.get());
      if (piece == "done") return false;
      seen += piece;
      if (Has(piece, needle)) return true;
    }
  } catch (const WireError& error) {
    seen += "[" + error.text() + "]";
    return false;
  }
}

}  // namespace ark::systest
