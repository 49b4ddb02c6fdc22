#include "tests/scenario/scenario_host.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <regex>
#include <sstream>

namespace scenario {

namespace fs = std::filesystem;

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The text after `label` up to the line end, in the first line holding it.
std::string After(const std::string& text, const std::string& label) {
  std::size_t at = text.find(label);
  if (at == std::string::npos) return "";
  at += label.size();
  return text.substr(at, text.find('\n', at) - at);
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

}  // namespace

ScenarioHost::~ScenarioHost() {
  StopServer();
  if (started_) {
    // A clean stop exits 0; a leak or a crash on the way out (seen under
    // the sanitizers) does not. One that does not stop is killed by ark_.
    ark_.SendStop();
    EXPECT_EQ(ark_.WaitForExit(10000), 0) << "arkserver did not stop cleanly:\n" << ark_.stderrText();
  }
  logMount_.reset();
  volumesMount_.reset();
}

bool ScenarioHost::UseBtrfs(std::string* why) {
  volumesMount_ = snaptest::Mount::Btrfs(scratch_.path() + "/volumes.img", root() + "/volumes", 8192, why);
  return volumesMount_ != nullptr;
}

bool ScenarioHost::UseSmallLogDrive(int kib, std::string* why) {
  logMount_ = snaptest::Mount::Tmpfs(root() + "/volumes/E", kib, why);
  return logMount_ != nullptr;
}

::testing::AssertionResult ScenarioHost::Install(const HostShape& shape) {
  ToolResult install = servicetest::RunTool(
      {DOMINOSIM_PATH, "install", "--root", root(), "--backend", shape.backend, "--logging", shape.logging,
       "--partitions", std::to_string(shape.partitions), "--databases", std::to_string(shape.databases),
       "--unlogged", std::to_string(shape.unlogged), "--size-mib", shape.sizeMib, "--log-extent-kib",
       std::to_string(shape.logExtentKib), "--translog-path", shape.translogPath},
      scratch_.path());
  if (install.exitCode != 0) {
    return ::testing::AssertionFailure() << "dominosim install failed: " << install.out << install.err;
  }
  // "  D: -> /host/dir" per drive; then the first server's block.
  static const std::regex drive(R"(^  ([A-Z]): -> (.*)$)");
  for (const std::string& line : Lines(install.out)) {
    std::smatch m;
    if (std::regex_match(line, m, drive)) drives_[m[1].str()[0]] = m[2].str();
  }
  notesIni_ = After(install.out, "  notes.ini: ");
  dataDirectory_ = After(install.out, "  data directory: ");
  dataDirectory_ = dataDirectory_.substr(0, dataDirectory_.find(" ("));
  logDirectory_ = After(install.out, "  transaction log: ");
  logDirectory_ = logDirectory_.substr(0, logDirectory_.find(" ("));
  if (notesIni_.empty() || dataDirectory_.empty() || drives_.count('D') == 0) {
    return ::testing::AssertionFailure() << "unexpected install output:\n" << install.out;
  }
  if (!ark_.Start(45, 0, shape.serviceLauncher)) {
    return ::testing::AssertionFailure() << "arkserver did not start: " << ark_.stderrText();
  }
  started_ = true;
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult ScenarioHost::RestartService(const std::vector<std::string>& launcher) {
  ark_.SendStop();
  if (ark_.WaitForExit(10000) != 0) return ::testing::AssertionFailure() << "arkserver did not stop cleanly";
  started_ = ark_.Start(45, 0, launcher);
  if (!started_) return ::testing::AssertionFailure() << "arkserver did not start: " << ark_.stderrText();
  return ::testing::AssertionSuccess();
}

std::string ScenarioHost::HostPath(const std::string& windowsPath) const {
  if (windowsPath.size() < 2 || windowsPath[1] != ':') return "";
  auto it = drives_.find(static_cast<char>(std::toupper(static_cast<unsigned char>(windowsPath[0]))));
  if (it == drives_.end()) return "";
  std::string rest = windowsPath.substr(2);
  std::replace(rest.begin(), rest.end(), '\\', '/');
  return it->second + rest;
}

std::string ScenarioHost::ServerLedger() const { return HostPath("L:\\ArkLedger\\") + kServer; }

std::string ScenarioHost::SnapshotLedger(const std::string& snapshotName) const {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(ServerLedger(), ec)) {
    if (entry.is_directory() && Lower(entry.path().filename().string()) == Lower(snapshotName)) {
      return entry.path().string();
    }
  }
  return "";
}

std::set<std::string> ScenarioHost::Unlogged(const std::string& snapshotName) const {
  std::set<std::string> paths;
  std::istringstream in(servicetest::ReadFile(SnapshotLedger(snapshotName) + "/disabled_databases"));
  for (std::string path; in >> path;) paths.insert(path);
  return paths;
}

ToolResult ScenarioHost::Ctl(std::vector<std::string> args) const {
  args.insert(args.begin(), {ARKCTL_PATH, "--port", std::to_string(ark_.port())});
  return servicetest::RunTool(args, scratch_.path());
}

ToolResult ScenarioHost::Backup(unsigned keep) const {
  if (keep == 0) return Ctl({"backup", kServer});
  return Ctl({"backup", kServer, "--keep", std::to_string(keep)});
}

ToolResult ScenarioHost::Restore(const std::string& snapshot, bool pointInTime) const {
  if (pointInTime) return Ctl({"restore", kServer, snapshot, "--point-in-time", "--yes"});
  return Ctl({"restore", kServer, snapshot, "--yes"});
}

ToolResult ScenarioHost::Sim(const std::string& command) const {
  return servicetest::RunTool({DOMINOSIM_PATH, command, "--root", root(), "--ini", notesIni_}, scratch_.path());
}

std::vector<std::string> ScenarioHost::SnapshotNames() const {
  ToolResult list = Ctl({"--json", "snapshots", kServer});
  std::vector<std::string> names;
  static const std::regex name("\"name\": \"([^\"]+)\"");
  for (std::sregex_iterator it(list.out.begin(), list.out.end(), name), end; it != end; ++it) {
    names.push_back((*it)[1].str());
  }
  return names;
}

std::string ScenarioHost::OlderSnapshot() const {
  for (const std::string& name : SnapshotNames()) {
    if (!EndsWith(Lower(name), "__recent")) return name;
  }
  return "";
}

std::vector<std::string> ScenarioHost::Reports(const std::string& type) const {
  return Lines(Ctl({"reports", "list", type}).out);
}

std::string ScenarioHost::Report(const std::string& type, const std::string& name) const {
  return Ctl({"reports", "show", type, name}).out;
}

Digests ScenarioHost::Digest() const {
  ToolResult run = Sim("digest");
  Digests digests;
  digests.exitCode = run.exitCode;
  digests.text = run.out + run.err;
  for (const std::string& line : Lines(run.out)) {
    std::size_t blank = line.find(' ');
    if (blank != std::string::npos) digests.byPath[line.substr(0, blank)] = line.substr(blank + 1);
  }
  return digests;
}

void ScenarioHost::StartServer(double rate, unsigned seed) {
  StopServer();
  nserver_ = std::make_unique<simtest::ServerProcess>(root(), notesIni_, std::to_string(rate), std::to_string(seed));
}

void ScenarioHost::StopServer() {
  if (nserver_) {
    EXPECT_EQ(nserver_->Stop(), 0) << "nserver did not stop cleanly";
  }
  nserver_.reset();
}

bool ScenarioHost::AdvanceLog(std::uint32_t extents) const {
  const std::uint32_t from = simtest::ReadLog(LogDir()).currentExtent;
  return simtest::WaitForLog(LogDir(), [&](const dominosim::LogControl& c) { return c.currentExtent >= from + extents; });
}

std::uint64_t ScenarioHost::NextRecord() const { return simtest::ReadLog(LogDir()).nextLsn; }

bool ScenarioHost::WaitForRecordAfter(std::uint64_t next) const {
  return simtest::WaitForLog(LogDir(), [&](const dominosim::LogControl& c) { return c.nextLsn > next; });
}

void BackendTest::SetUp() {
  HostShape shape;
  shape.backend = GetParam().backend;
  shape.translogPath = GetParam().translogPath;
  shape.logExtentKib = logExtentKib_;
  if (shape.backend == "btrfs") {
    std::string why;
    if (!host_.UseBtrfs(&why)) GTEST_SKIP() << "btrfs variant skipped: " << why;
  }
  ASSERT_TRUE(host_.Install(shape));
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

std::vector<std::string> Tree(const std::string& dir) { return snaptest::Listing(dir); }

bool RolledForward(const std::string& windowsPath, const std::set<std::string>& unlogged) {
  std::string lower = Lower(windowsPath);
  std::string name = lower.substr(lower.find_last_of('\\') + 1);
  return !EndsWith(lower, ".ntf") && name != "log.nsf" && unlogged.count(windowsPath) == 0;
}

std::map<std::string, std::string> RolledForwardOnly(const Digests& digests, const std::set<std::string>& unlogged) {
  std::map<std::string, std::string> kept;
  for (const auto& [path, hash] : digests.byPath) {
    if (RolledForward(path, unlogged)) kept[path] = hash;
  }
  return kept;
}

}  // namespace scenario
