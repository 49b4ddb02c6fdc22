#include "tests/system/system_host.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <filesystem>
#include <regex>
#include <sstream>

#include "dominosim/sim_api.h"
#include "dominosim/txn_log.h"
#include "net/command.h"
#include "net/wire.h"
#include "net/wire_records.h"
#include "platform/host.h"
#include "platform/registry.h"

namespace systest {

namespace fs = std::filesystem;

class Mount {
 public:
  // Mounts live in a mount namespace of this test process, so none outlives it.
  Mount(const std::string& dir, const std::string& device, const char* type, const std::string& options)
      : dir_(dir), device_(device) {
    static const bool own = ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    fs::create_directories(dir);
    mounted_ = own && ::mount(device.empty() ? type : device.c_str(), dir.c_str(), type, 0, options.c_str()) == 0;
  }
  ~Mount() {
    if (filler_ >= 0) ::close(filler_);
    if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
    if (!device_.empty()) RunProgram({"losetup", "-d", device_});
  }
  bool mounted() const { return mounted_; }
  bool Resize(std::uint64_t bytes) {
    return ::mount(nullptr, dir_.c_str(), nullptr, MS_REMOUNT, ("size=" + std::to_string(bytes)).c_str()) == 0;
  }
  void LeaveFree(std::uint64_t leave) {
    if (filler_ < 0) filler_ = ::open((dir_ + "/.filler").c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(filler_, 0);
    ASSERT_EQ(::ftruncate(filler_, 0), 0);
    ASSERT_EQ(::lseek(filler_, 0, SEEK_SET), 0);
    std::vector<char> chunk(1 << 16, 'f');
    off_t size = 0;
    for (std::size_t piece = chunk.size(); piece >= 512; piece /= 2) {
      for (ssize_t n; (n = ::write(filler_, chunk.data(), piece)) > 0;) size += n;
    }
    ASSERT_EQ(::ftruncate(filler_, std::uint64_t(size) > leave ? size - off_t(leave) : 0), 0);
  }

 private:
  std::string dir_, device_;
  bool mounted_ = false;
  int filler_ = -1;
};

std::unique_ptr<ChildProcess> Spawn(const std::vector<std::string>& argv, const std::string& out,
                                    const std::string& err, const std::vector<std::string>& env) {
  std::vector<std::string> args = {"-c", "o=$1 e=$2; shift 2; exec \"$@\" >\"$o\" 2>\"$e\"", "sh", out, err};
  args.insert(args.end(), argv.begin(), argv.end());
  return std::make_unique<ChildProcess>("/bin/sh", args, env);
}

Result RunProgram(const std::vector<std::string>& argv) {
  static std::atomic<int> counter{0};
  const std::string base = (fs::temp_directory_path() / ("ark-system-" + std::to_string(::getpid()) + "-" +
                                                          std::to_string(counter++))).string();
  Result run;
  run.exitCode = Spawn(argv, base + ".out", base + ".err")->Wait();
  run.out = ReadText(base + ".out");
  run.err = ReadText(base + ".err");
  fs::remove(base + ".out");
  fs::remove(base + ".err");
  return run;
}

std::string ReadText(const std::string& path) { return ReadHostFile(path); }

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::string After(const std::string& text, const std::string& label) {
  std::size_t at = text.find(label);
  if (at == std::string::npos) return "";
  at += label.size();
  std::string value = text.substr(at, text.find('\n', at) - at);
  return value.substr(0, value.find(" ("));
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

std::vector<std::string> JsonValues(const std::string& json, const std::string& key) {
  std::vector<std::string> out;
  const std::regex value("\"" + key + "\": \"([^\"]*)\"");
  for (std::sregex_iterator it(json.begin(), json.end(), value), end; it != end; ++it) out.push_back((*it)[1]);
  return out;
}

dominosim::LogControl ReadLog(const std::string& dir) {
  dominosim::LogOptions options;
  options.dir = dir;
  options.create = false;
  std::unique_ptr<dominosim::TxnLog> log;
  dominosim::LogControl control;
  control.nextLsn = 0;
  control.currentExtent = 0;
  if (dominosim::TxnLog::Open(options, log) == 0) log->ReadControl(control);
  return control;
}

}  // namespace

SystemHost::SystemHost() : root_((scratch_.path() / "host").string()) {}

SystemHost::~SystemHost() {
  StopWorkload();
  if (service_) StopService();
  small_.clear();
  mounts_.clear();
}

bool SystemHost::UseBtrfs(std::string* why) {
  const std::string image = (scratch_.path() / "volumes.img").string();
  if (RunProgram({"truncate", "-s", "8192M", image}).exitCode != 0 ||
      RunProgram({"mkfs.btrfs", "-q", "-f", image}).exitCode != 0) {
    *why = "cannot make a btrfs image (root and mkfs.btrfs needed)";
    return false;
  }
  std::string device = RunProgram({"losetup", "--find", "--show", image}).out;
  device = device.substr(0, device.find('\n'));
  if (device.rfind("/dev/loop", 0) != 0) {
    *why = "no free loop device";
    return false;
  }
  mounts_['V'] = std::make_unique<Mount>(root_ + "/volumes", device, "btrfs", "");
  if (!mounts_['V']->mounted()) *why = "cannot mount the btrfs image";
  return mounts_['V']->mounted();
}

bool SystemHost::SmallDrive(char drive, std::uint64_t bytes, std::string* why) {
  const std::string dir = root_ + "/volumes/" + std::string(1, drive);
  small_[drive] = std::make_unique<Mount>(dir, "", "tmpfs", "size=" + std::to_string(bytes));
  if (!small_[drive]->mounted()) {
    *why = "cannot mount a tmpfs on " + dir + " (root needed)";
    small_.erase(drive);
    return false;
  }
  if (drive == 'L') fs::create_directories(dir + "/ArkLedger");
  return true;
}

void SystemHost::LeaveFree(char drive, std::uint64_t leave) { small_.at(drive)->LeaveFree(leave); }

bool SystemHost::Resize(char drive, std::uint64_t bytes) { return small_.at(drive)->Resize(bytes); }

::testing::AssertionResult SystemHost::Install(const Shape& shape, std::string* skip) {
  Result install = RunProgram({ProgramBesideTest("dominosim"), "install", "--root", root_, "--backend", shape.backend,
                            "--logging", shape.logging, "--partitions", std::to_string(shape.partitions),
                            "--databases", std::to_string(shape.databases), "--unlogged",
                            std::to_string(shape.unlogged), "--size-mib", shape.sizeMib, "--log-extent-kib",
                            std::to_string(shape.logExtentKib), "--translog-path", shape.translogPath,
                            "--report-folder", "C:\\Reports", "--seed", "7"});
  if (install.exitCode != 0) return ::testing::AssertionFailure() << "dominosim install: " << install.out << install.err;
  static const std::regex drive(R"(^  ([A-Z]): -> (.*)$)");
  for (const std::string& line : Lines(install.out)) {
    std::smatch m;
    if (std::regex_match(line, m, drive)) drives_[m[1].str()[0]] = m[2].str();
  }
  notesIni_ = After(install.out, "  notes.ini: ");
  dataDirectory_ = After(install.out, "  data directory: ");
  logDirectory_ = After(install.out, "  transaction log: ");
  if (notesIni_.empty() || dataDirectory_.empty() || drives_.count('D') == 0) {
    return ::testing::AssertionFailure() << "unexpected install output:\n" << install.out;
  }
  platform::SetHostRoot(root_);
  if (shape.ledgerBytes != 0 && !SmallDrive('L', shape.ledgerBytes, skip)) return ::testing::AssertionSuccess();
  return StartService(shape.launcher);
}

::testing::AssertionResult SystemHost::StartService(const std::vector<std::string>& launcher) {
  std::vector<std::string> argv = launcher;
  argv.insert(argv.end(), {ProgramBesideTest("arkserver"), "--root", root_, "--port", "0", "--io-timeout", "45"});
  const std::string out = (scratch_.path() / "arkserver.out").string();
  fs::remove(out);  // a new port, never the last one
  service_ = Spawn(argv, out, (scratch_.path() / "arkserver.err").string(), {"ARK_ROOT=" + root_});
  static const std::regex listening(R"(listening on port (\d+)\n)");
  std::smatch m;
  std::string text;
  if (!WaitFor([&] { return std::regex_search(text = ReadText(out), m, listening); })) {
    return ::testing::AssertionFailure() << "arkserver did not start: " << ServiceOutput();
  }
  port_ = static_cast<std::uint16_t>(std::stoi(m[1]));
  return ::testing::AssertionSuccess();
}

void SystemHost::StopService() {
  ::kill(service_->id(), SIGTERM);
  EXPECT_EQ(service_->Wait(), 0) << "arkserver did not stop cleanly:\n" << ServiceOutput();
  service_.reset();
}

void SystemHost::KillService() {
  service_->Kill();
  service_->Wait();
  service_.reset();
}

std::string SystemHost::ServiceOutput() const {
  return ReadText((scratch_.path() / "arkserver.out").string()) + ReadText((scratch_.path() / "arkserver.err").string());
}

std::string SystemHost::HostPath(const std::string& windowsPath) const {
  if (windowsPath.size() < 2 || windowsPath[1] != ':') return "";
  auto it = drives_.find(static_cast<char>(std::toupper(static_cast<unsigned char>(windowsPath[0]))));
  if (it == drives_.end()) return "";
  std::string rest = windowsPath.substr(2);
  std::replace(rest.begin(), rest.end(), '\\', '/');
  return it->second + rest;
}

std::string SystemHost::SnapshotLedger(const std::string& snapshot) const {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(ServerLedger(), ec)) {
    if (Lower(entry.path().filename().string()) == Lower(snapshot)) return entry.path().string();
  }
  return "";
}

std::set<std::string> SystemHost::Unlogged(const std::string& snapshot) const {
  std::set<std::string> paths;
  std::istringstream in(ReadText(SnapshotLedger(snapshot) + "/disabled_databases"));
  for (std::string path; in >> path;) paths.insert(path);
  return paths;
}

Result SystemHost::Ctl(std::vector<std::string> args) const {
  args.insert(args.begin(), {ProgramBesideTest("arkctl"), "--port", std::to_string(port_)});
  return RunProgram(args);
}

Result SystemHost::Backup(unsigned keep) {
  SpaceBackups();
  Result run = keep == 0 ? Ctl({"backup", server}) : Ctl({"backup", server, "--keep", std::to_string(keep)});
  BackupEnded();
  return run;
}

void SystemHost::SpaceBackups() const {
  while (std::time(nullptr) <= lastBackup_) ::usleep(20000);
}

void SystemHost::BackupEnded() { lastBackup_ = std::time(nullptr); }

Result SystemHost::Restore(const std::string& snapshot, bool pointInTime) const {
  if (pointInTime) return Ctl({"restore", server, snapshot, "--point-in-time", "--yes"});
  return Ctl({"restore", server, snapshot, "--yes"});
}

Result SystemHost::Sim(const std::string& command) const {
  return RunProgram({ProgramBesideTest("dominosim"), command, "--root", root_, "--ini", notesIni_});
}

Digests SystemHost::Digest(int* exitCode, std::string* text) const {
  Result run = Sim("digest");
  if (text != nullptr) *text = run.out + run.err;
  if (exitCode != nullptr) {
    *exitCode = run.exitCode;
  } else {
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  }
  Digests digests;
  for (const std::string& line : Lines(run.out)) {
    const std::size_t blank = line.find(' ');
    if (blank != std::string::npos) digests[line.substr(0, blank)] = line.substr(blank + 1);
  }
  return digests;
}

std::vector<Snapshot> SystemHost::Snapshots() const {
  Result listed = Ctl({"--json", "snapshots", server});
  EXPECT_EQ(listed.exitCode, 0) << listed.out << listed.err;
  const std::vector<std::string> names = JsonValues(listed.out, "name"), stamps = JsonValues(listed.out, "stamp");
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

std::string SystemHost::Report(const std::string& type, const std::string& name) const {
  return Ctl({"reports", "show", type, name}).out;
}

std::string SystemHost::LastReport(const std::string& type) const {
  const std::vector<std::string> reports = Reports(type);
  return reports.empty() ? "(no report)" : Report(type, reports.back());
}

void SystemHost::SetFailOn(const std::string& operations) const {
  platform::SetHostRoot(root_);
  const char* key = "SOFTWARE\\ark\\Snapshot Component";
  if (operations.empty()) {
    platform::RegDeleteValue(key, "FailOn");
  } else {
    ASSERT_EQ(platform::RegSetString(key, "FailOn", operations), 0);
  }
}

std::vector<std::string> SystemHost::HeldInBackup() const {
  platform::SetHostRoot(root_);
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

bool SystemHost::StartWorkload(double rate, unsigned seed) {
  StopWorkload();
  workload_ = Spawn({ProgramBesideTest("nserver"), "--root", root_, "--ini", notesIni_, "--seed", std::to_string(seed),
                     "--rate", std::to_string(rate)},
                    (scratch_.path() / "nserver.out").string(), (scratch_.path() / "nserver.err").string());
  return WaitFor([&] { return Has(Sim("status").out, "nserver: running"); });
}

void SystemHost::StopWorkload() {
  if (!workload_) return;
  ::kill(workload_->id(), SIGTERM);
  EXPECT_EQ(workload_->Wait(), 0) << "nserver did not stop cleanly";
  workload_.reset();
}

bool SystemHost::AdvanceLog(std::uint32_t extents) const {
  const std::uint32_t from = ReadLog(LogDir()).currentExtent;
  return WaitFor([&] { return ReadLog(LogDir()).currentExtent >= from + extents; });
}

std::uint64_t SystemHost::NextRecord() const { return ReadLog(LogDir()).nextLsn; }

bool SystemHost::WaitForRecordAfter(std::uint64_t next) const {
  return WaitFor([&] { return ReadLog(LogDir()).nextLsn > next; });
}

Digests RolledForwardOnly(const Digests& digests, const std::set<std::string>& unlogged) {
  Digests kept;
  for (const auto& [path, hash] : digests) {
    const std::string name = Lower(path.substr(path.find_last_of('\\') + 1));
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

std::vector<std::string> Tree(const std::string& dir) {
  std::vector<std::string> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec); it != fs::recursive_directory_iterator(); ++it) {
    const std::string rel = fs::relative(it->path(), dir).string();
    out.push_back(it->is_directory() ? rel + "/" : rel + "=" + ReadText(it->path().string()));
  }
  std::sort(out.begin(), out.end());
  return out;
}

StreamingClient::StreamingClient(std::uint16_t port) {
  std::string error;
  socket_ = platform::ConnectTcp("127.0.0.1", port, &error);
  EXPECT_TRUE(socket_.valid()) << error;
  SetIoTimeoutSeconds(120);
}

DominoServerInfo StreamingClient::Discover(const std::string& commonName) {
  SendByte(socket_.get(), int(CommandCode::DiscoverServers));
  EXPECT_EQ(RecvByte(socket_.get()), 1);
  DiscoveryReply reply;
  RecvDiscoveryReplyTail(socket_.get(), reply);
  for (const DominoServerInfo& server : reply.servers) {
    if (server.commonName == commonName) return server;
  }
  ADD_FAILURE() << "discovery does not know " << commonName;
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

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

std::string U32(std::uint32_t v) { return Bytes({int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF), int(v >> 24)}); }

void WriteRaw(platform::SOCKET s, const std::string& bytes) {
  for (std::size_t at = 0; at < bytes.size();) {
    ASSERT_EQ(platform::WaitReady(s, true, 30000), 1);
    const long n = platform::Send(s, bytes.data() + at, bytes.size() - at);
    ASSERT_GE(n, 0);
    at += std::size_t(n);
  }
}

std::string ReadRaw(platform::SOCKET s, std::size_t n, long timeoutMs) {
  std::string out;
  char buffer[65536];
  while (out.size() < n && platform::WaitReady(s, false, timeoutMs) == 1) {
    const long got = platform::Recv(s, buffer, std::min(n - out.size(), sizeof buffer));
    if (got <= 0) break;
    out.append(buffer, std::size_t(got));
  }
  return out;
}

}  // namespace systest
