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
#include "platform/host.h"
#include "platform/registry.h"
#include "tests/support/sim_log.h"

namespace systest {

namespace fs = std::filesystem;

// A file system mounted in a mount namespace of this test process (and of
// the programs it starts afterwards), so that none outlives the process.
class Mount {
 public:
  Mount(const std::string& dir, const std::string& device, const char* type, const std::string& options)
      : dir_(dir), device_(device) {
    static const bool own =
        ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    fs::create_directories(dir);
    mounted_ = own && ::mount(device.empty() ? type : device.c_str(), dir.c_str(), type, 0, options.c_str()) == 0;
  }
  ~Mount() {
    if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
    if (!device_.empty()) RunProgram({"losetup", "-d", device_});
  }
  bool mounted() const { return mounted_; }
  bool Resize(std::uint64_t bytes) {
    return ::mount(nullptr, dir_.c_str(), nullptr, MS_REMOUNT, ("size=" + std::to_string(bytes)).c_str()) == 0;
  }
  void LeaveFree(std::uint64_t leave) {
    const std::string filler = dir_ + "/.filler";
    fs::remove(filler);
    const std::uint64_t free = fs::space(dir_).available;
    if (leave >= free) return;
    const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    EXPECT_EQ(::posix_fallocate(fd, 0, off_t(free - leave)), 0);
    ::close(fd);
  }

 private:
  std::string dir_, device_;
  bool mounted_ = false;
};

std::unique_ptr<ChildProcess> Spawn(const std::vector<std::string>& argv, const std::string& out,
                                    const std::string& err, const std::vector<std::string>& env) {
  std::vector<std::string> args = {"-c", "o=$1 e=$2; shift 2; exec \"$@\" >\"$o\" 2>\"$e\"", "sh", out, err};
  args.insert(args.end(), argv.begin(), argv.end());
  return std::make_unique<ChildProcess>("/bin/sh", args, env);
}

Result RunProgram(const std::vector<std::string>& argv) {
  static std::atomic<int> counter{0};
  const std::string base =
      (fs::temp_directory_path() / ("ark-system-" + std::to_string(::getpid()) + "-" + std::to_string(counter++)))
          .string();
  Result run{Spawn(argv, base + ".out", base + ".err")->Wait(), ReadText(base + ".out"), ReadText(base + ".err")};
  fs::remove(base + ".out");
  fs::remove(base + ".err");
  return run;
}

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
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

}  // namespace

SystemHost::SystemHost() : root_((scratch_.path() / "host").string()) {}

SystemHost::~SystemHost() {
  StopWorkload();
  if (service_) StopService();
  mounts_.clear();
}

bool SystemHost::UseBtrfs(std::string* why) {
  const std::string image = (scratch_.path() / "volumes.img").string();
  const std::string device = RunProgram({"truncate", "-s", "8192M", image}).exitCode == 0 &&
                                     RunProgram({"mkfs.btrfs", "-q", "-f", image}).exitCode == 0
                                 ? Lines(RunProgram({"losetup", "--find", "--show", image}).out + " ").front()
                                 : "";
  if (device.rfind("/dev/loop", 0) != 0) {
    *why = "no btrfs image on a loop device (root, mkfs.btrfs and a free loop device needed)";
    return false;
  }
  mounts_['V'] = std::make_unique<Mount>(root_ + "/volumes", device, "btrfs", "");
  *why = "cannot mount the btrfs image";
  return mounts_['V']->mounted();
}

bool SystemHost::SmallDrive(char drive, std::uint64_t bytes, std::string* why) {
  const std::string dir = root_ + "/volumes/" + std::string(1, drive);
  mounts_[drive] = std::make_unique<Mount>(dir, "", "tmpfs", "size=" + std::to_string(bytes));
  *why = "cannot mount a tmpfs on " + dir + " (root needed)";
  if (drive == 'L') fs::create_directories(dir + "/ArkLedger");
  return mounts_[drive]->mounted();
}

void SystemHost::LeaveFree(char drive, std::uint64_t leave) { mounts_.at(drive)->LeaveFree(leave); }

bool SystemHost::Resize(char drive, std::uint64_t bytes) { return mounts_.at(drive)->Resize(bytes); }

::testing::AssertionResult SystemHost::Install(const Shape& shape, std::string* skip) {
  Result install = RunProgram({ProgramBesideTest("dominosim"), "install", "--root", root_, "--backend", shape.backend,
                               "--logging", shape.logging, "--partitions", std::to_string(shape.partitions),
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
    return ::testing::AssertionFailure() << "dominosim install: " << install.out << install.err;
  }
  notesIni_ = ini[0], dataDirectory_ = data[0], logDirectory_ = log[0];
  platform::SetHostRoot(root_);
  if (shape.ledgerBytes != 0 && !SmallDrive('L', shape.ledgerBytes, skip)) return ::testing::AssertionSuccess();
  if (skip != nullptr) skip->clear();
  return StartService(shape.launcher);
}

::testing::AssertionResult SystemHost::StartService(const std::vector<std::string>& launcher) {
  std::vector<std::string> argv = launcher;
  argv.insert(argv.end(), {ProgramBesideTest("arkserver"), "--root", root_, "--port", "0", "--io-timeout", "45"});
  const std::string out = (scratch_.path() / "arkserver.out").string();
  fs::remove(out);  // the port of this start, never the last one's
  service_ = Spawn(argv, out, (scratch_.path() / "arkserver.err").string(), {"ARK_ROOT=" + root_});
  std::vector<std::string> port;
  if (!WaitFor([&] { return !(port = Matches(ReadText(out), "listening on port (\\d+)\n")).empty(); })) {
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
  std::string rest = windowsPath.substr(2);
  std::replace(rest.begin(), rest.end(), '\\', '/');
  return it == drives_.end() ? "" : it->second + rest;
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

Result SystemHost::Backup() {
  SpaceBackups();
  Result run = Ctl({"backup", server});
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
  const std::uint32_t from = simtest::ReadLog(LogDir()).currentExtent;
  return WaitFor([&] { return simtest::ReadLog(LogDir()).currentExtent >= from + extents; });
}

}  // namespace systest
