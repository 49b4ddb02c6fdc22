#include "dominosim/install.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "dominosim/database.h"
#include "dominosim/server_config.h"
#include "dominosim/status.h"
#include "dominosim/txn_log.h"
#include "platform/host.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "snapshotsvc/configure.h"
#include "platform/kit/file_io.h"

namespace dominosim {

using platform::kit::MakeDirectories;
using platform::kit::ParentDirectory;
using platform::kit::PathExists;
using platform::kit::ReadFileBytes;
using platform::kit::WriteFileAtomically;

namespace {

constexpr const char* kDosDevices = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\DOS Devices";
constexpr const char* kComputerNameKey = "SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName";
constexpr const char* kReportKey = "SOFTWARE\\Corvane\\Arkhold for Domino 1.0\\Client";
constexpr const char* kDominoKey = "SOFTWARE\\Lotus\\Domino";
constexpr const char* kDomino50Key = "SOFTWARE\\Lotus\\Domino\\5.0";
constexpr const char* kProgramDir = "C:\\Lotus\\Domino";
constexpr const char* kReportTypes[] = {"Configure", "Backup", "Restore", "Delete Snapshot"};

// The storage volumes, in the order of InstallOptions::drives.
struct Volume {
  const char* volumeName;
  const char* diskName;
};
constexpr Volume kVolumes[] = {{"vol_data", "disk1"}, {"vol_logs", "disk2"}, {"vol_ledger", "disk3"}};

std::string Drive(const InstallOptions& o, int volume) { return std::string(1, o.drives[std::size_t(volume)]) + ":"; }

bool Fail(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
  return false;
}

bool SetString(const std::string& key, const std::string& name, const std::string& value,
               std::string* error) {
  if (platform::RegSetString(key, name, value) != ERROR_SUCCESS)
    return Fail(error, "cannot write registry value " + key + "\\" + name);
  return true;
}

bool MakeWinDirectory(const std::string& winPath, std::string* error) {
  std::string host;
  if (MapPath(winPath, host) != NOERROR) return Fail(error, "cannot map " + winPath);
  if (int e = MakeDirectories(host)) return Fail(error, "cannot create " + host + ": " + std::strerror(e));
  return true;
}

bool WriteIni(const std::string& ini, const std::string& key, const std::string& value,
              std::string* error) {
  if (!platform::WritePrivateProfileString("Notes", key, value, ini))
    return Fail(error, "cannot write " + key + " into " + ini);
  return true;
}

bool BuildServer(const InstallOptions& o, int partition, bool partitioned, InstalledServer& server,
                 std::string* error) {
  std::string shortName = "srv" + std::to_string(partition);
  server.partition = partition;
  server.canonicalName = "CN=" + shortName + "/O=" + o.organization;
  const std::string dataRoot = Drive(o, 0) + "\\Domino\\Data";
  server.dataDirectory = partitioned ? dataRoot + std::to_string(partition) : dataRoot;
  server.notesIni = JoinWin(partitioned ? server.dataDirectory : kProgramDir, "notes.ini");
  server.logging = o.logging;
  std::string translogPath;
  if (o.logging != "none") {
    if (o.translogPath == "relative") {
      translogPath = "logdir";
      server.logDirectory = JoinWin(server.dataDirectory, translogPath);
    } else {
      const std::string logRoot = Drive(o, 1) + "\\Logs";
      translogPath = partitioned ? logRoot + std::to_string(partition) : logRoot;
      server.logDirectory = translogPath;
    }
  }
  std::string stateDir = "C:\\dominosim\\state\\" + shortName;
  if (!MakeWinDirectory(server.dataDirectory, error) || !MakeWinDirectory(stateDir, error)) return false;
  std::string iniDir = server.notesIni.substr(0, server.notesIni.rfind('\\'));
  if (!MakeWinDirectory(iniDir, error)) return false;
  if (!WriteIni(server.notesIni, "Directory", server.dataDirectory, error) ||
      !WriteIni(server.notesIni, "ServerName", server.canonicalName, error) ||
      !WriteIni(server.notesIni, kExtentKiBKey, std::to_string(o.extentKiB), error) ||
      !WriteIni(server.notesIni, kStateDirKey, stateDir, error))
    return false;
  Id16 logId{};
  if (!server.logDirectory.empty()) {
    if (!WriteIni(server.notesIni, "TRANSLOG_Status", "1", error) ||
        !WriteIni(server.notesIni, "TRANSLOG_Style", o.logging == "archive" ? "1" : "0", error) ||
        !WriteIni(server.notesIni, "TRANSLOG_Path", translogPath, error))
      return false;
    std::string logHost;
    if (MapPath(server.logDirectory, logHost) != NOERROR) return Fail(error, "cannot map " + server.logDirectory);
    logId = NewRandomId();
    if (STATUS s = TxnLog::Create(logHost, logId, o.extentKiB * 1024))
      return Fail(error, "cannot create the transaction log in " + logHost + ": " + StatusText(s));
  }

  std::vector<PlannedDatabase> plan = PlanDatabases(o.databases, o.unlogged);
  std::uint32_t pages = std::uint32_t(o.sizeMiB * 256.0 / (plan.empty() ? 1 : plan.size()));
  if (pages < 4) pages = 4;
  // The names are the installer's own: each host path is the data
  // directory's and the relative path, with no lookup per database.
  std::string dataHost;
  if (MapPath(server.dataDirectory, dataHost) != NOERROR) {
    return Fail(error, "cannot map " + server.dataDirectory);
  }
  std::string lastFolder;
  for (std::size_t i = 0; i < plan.size(); ++i) {
    std::string win = JoinWin(server.dataDirectory, plan[i].relativePath);
    std::string host = platform::kit::JoinHostPath(dataHost, plan[i].relativePath);
    if (ParentDirectory(host) != lastFolder) {
      lastFolder = ParentDirectory(host);
      if (int e = MakeDirectories(lastFolder)) {
        return Fail(error, "cannot create the folder of " + host + ": " + std::strerror(e));
      }
    }
    CreateParams params;
    params.dataPages = pages;
    params.logged = plan[i].logged && !server.logDirectory.empty();
    params.logId = logId;
    params.lastExtent = 1;
    params.seed = o.seed * 1000003u + std::uint64_t(partition) * 1009u + i;
    std::snprintf(reinterpret_cast<char*>(params.dbRecord.data()), kRecordReplicaId, "%s", plan[i].title.c_str());
    const Id16 replicaId = NewRandomId();
    std::memcpy(params.dbRecord.data() + kRecordReplicaId, replicaId.data(), kReplicaIdSize);
    if (STATUS s = Database::Create(host, params))
      return Fail(error, "cannot create " + win + ": " + StatusText(s));
    server.databases.push_back(win);
  }
  return true;
}

bool WriteDominoKeys(const InstallOptions& o, const std::vector<InstalledServer>& servers,
                     bool partitioned, std::string* error) {
  const InstalledServer& first = servers.front();
  if (o.layout == "classic") {
    if (!SetString(kDomino50Key, "Path", kProgramDir, error)) return false;
    if (!partitioned) return SetString(kDomino50Key, "DataPath", first.dataDirectory, error);
    for (const InstalledServer& s : servers) {
      if (!SetString(kDomino50Key, "PARTITION" + std::to_string(s.partition), s.dataDirectory, error))
        return false;
    }
    return true;
  }
  // The newer layout: "Version" marks it; partitions are numbered keys.
  if (!SetString(kDominoKey, "Version", "6.5.4", error) || !SetString(kDominoKey, "Path", kProgramDir, error))
    return false;
  bool oneComma = o.layout == "newer-one-comma";
  if (!partitioned && !oneComma) return SetString(kDominoKey, "DataPath", first.dataDirectory, error);
  std::string list;
  for (const InstalledServer& s : servers) list += (list.empty() ? "" : ",") + std::to_string(s.partition);
  std::size_t commas = servers.size() - 1;
  if (oneComma && commas != 1) {
    list = servers.size() == 1 ? list + "," : std::to_string(servers[0].partition) + "," +
                                                 std::to_string(servers[1].partition);
  } else if (!oneComma && commas == 1) {
    list += ",";  // exactly one comma would read as "not partitioned"
  }
  if (!SetString(kDominoKey, "Partitions", list, error)) return false;
  if (partitioned) {
    for (const InstalledServer& s : servers) {
      if (!SetString(std::string(kDominoKey) + "\\" + std::to_string(s.partition), "DataPath",
                     s.dataDirectory, error))
        return false;
    }
  }
  if (oneComma) {
    // Read as one server: its data directory and the program directory's
    // notes.ini are those of the first partition.
    if (!SetString(kDominoKey, "DataPath", first.dataDirectory, error)) return false;
    std::string programIni = JoinWin(kProgramDir, "notes.ini");
    if (programIni != first.notesIni) {
      std::string from, to, text;
      if (MapPath(first.notesIni, from) != NOERROR || MapPath(programIni, to) != NOERROR ||
          ReadFileBytes(from, text) != 0 || MakeDirectories(ParentDirectory(to)) != 0 ||
          WriteFileAtomically(to, text, true) != 0)
        return Fail(error, "cannot write " + programIni);
    }
  }
  return true;
}

}  // namespace

bool InstallHost(const InstallOptions& given, InstallResult& result, std::string* error) {
  InstallOptions o = given;
  for (char& c : o.drives) c = char(std::toupper(static_cast<unsigned char>(c)));
  if (o.drives.size() != 3 || o.drives[0] == o.drives[1] || o.drives[0] == o.drives[2] ||
      o.drives[1] == o.drives[2] || o.drives.find_first_not_of("ABDEFGHIJKLMNOPQRSTUVWXYZ") != std::string::npos)
    return Fail(error, "--drives: three different letters other than C (data, logs, ledger)");
  if (o.reportFolder.empty()) o.reportFolder = Drive(o, 2) + "\\Reports";
  if (o.changeInfoDir.empty()) o.changeInfoDir = Drive(o, 2) + "\\ArkLedger";
  if (o.partitions < 0 || o.partitions > 8) return Fail(error, "--partitions must be 0 to 8");
  if (o.databases < 0 || o.unlogged < 0 || o.unlogged > o.databases) return Fail(error, "bad database counts");
  if (o.backend != "dir" && o.backend != "btrfs" && o.backend != "none") return Fail(error, "--backend: dir, btrfs or none");
  if (o.layout != "classic" && o.layout != "newer" && o.layout != "newer-one-comma") return Fail(error, "--layout: classic, newer or newer-one-comma");
  if (o.logging != "archive" && o.logging != "circular" && o.logging != "none") return Fail(error, "--logging: archive, circular or none");
  if (o.translogPath != "absolute" && o.translogPath != "relative") return Fail(error, "--translog-path: absolute or relative");
  if (o.extentKiB < 16) return Fail(error, "--log-extent-kib must be at least 16");
  if (o.sizeMiB < 0) return Fail(error, "--size-mib must not be negative");

  result = InstallResult{};
  const bool simulated = !o.root.empty();
  if (simulated) {
    if (int e = MakeDirectories(o.root)) return Fail(error, "cannot create " + o.root + ": " + std::strerror(e));
    if (platform::kit::CanonicalPath(o.root, result.root) != 0) return Fail(error, "cannot resolve " + o.root);
    std::string volumes = result.root + "/volumes";
    if (PathExists(volumes + "/D")) return Fail(error, result.root + " already holds a host");
    if (MakeDirectories(volumes) != 0 || MakeDirectories(result.root + "/Windows") != 0)
      return Fail(error, "cannot create the host's folders under " + result.root);
    platform::SetHostRoot(result.root);
  } else {
    if (o.backend == "btrfs") return Fail(error, "--backend btrfs needs a host root (--root)");
    std::string data;
    if (MapPath(Drive(o, 0) + "\\Domino", data) == NOERROR && PathExists(data))
      return Fail(error, Drive(o, 0) + "\\Domino already holds a host");
  }

  snapshotsvc::Backend backend = o.backend == "btrfs" ? snapshotsvc::Backend::Btrfs : snapshotsvc::Backend::Dir;
  std::vector<snapshotsvc::DiskConfig> disks;
  for (int i = 0; i < 3; ++i) {
    const Volume& v = kVolumes[i];
    const char letter = o.drives[std::size_t(i)];
    std::string dir;
    if (simulated) {
      dir = result.root + "/volumes/" + letter;
      std::string failure;
      if (o.backend == "none") {
        if (int e = MakeDirectories(dir)) return Fail(error, "cannot create " + dir + ": " + std::strerror(e));
      } else if (!snapshotsvc::PrepareVolume(backend, dir, &failure)) {
        return Fail(error, "cannot prepare volume " + dir + ": " + failure);
      }
      if (!SetString(kDosDevices, Drive(o, i), dir, error)) return false;
    } else {
      // A drive of the machine: it must exist (Wine maps one with dosdevices).
      dir = platform::DriveHostDirectory(letter);
      if (dir.empty()) return Fail(error, "drive " + Drive(o, i) + " does not exist");
    }
    result.drives.emplace_back(letter, dir);
    disks.push_back({v.volumeName, v.diskName,
                     std::string("\\\\ARKSTORE\\") + v.volumeName + "\\" + v.diskName, {letter}});
  }

  // The computer name of a simulated host; a real machine keeps its own.
  if (simulated && !SetString(kComputerNameKey, "ComputerName", o.computerName, error)) return false;
  if (!SetString(kReportKey, "ReportFolder", o.reportFolder, error)) return false;
  for (const char* type : kReportTypes) {
    if (!MakeWinDirectory(JoinWin(o.reportFolder, type), error)) return false;
  }
  result.reportFolder = o.reportFolder;
  result.changeInfoDir = o.changeInfoDir;
  if (!platform::WritePrivateProfileString("NOTES", "CHANGE_INFO_DIR", o.changeInfoDir, "C:\\Windows\\ark.ini"))
    return Fail(error, "cannot write C:\\Windows\\ark.ini");
  if (!MakeWinDirectory(o.changeInfoDir, error)) return false;

  bool partitioned = o.partitions > 0;
  int count = partitioned ? o.partitions : 1;
  for (int p = 1; p <= count; ++p) {
    InstalledServer server;
    if (!BuildServer(o, p, partitioned, server, error)) return false;
    result.servers.push_back(server);
  }
  if (!WriteDominoKeys(o, result.servers, partitioned, error)) return false;

  if (o.backend != "none") {
    std::string failure;
    if (!o.snapshotStore.empty() && !MakeWinDirectory(o.snapshotStore, error)) return false;
    if (!snapshotsvc::InstallComponent(backend, disks, o.snapshotStore, simulated, &failure))
      return Fail(error, "cannot install the snapshot component: " + failure);
  }
  return true;
}

void PrintInstall(const InstallOptions& o, const InstallResult& r, std::FILE* out) {
  if (!r.root.empty()) std::fprintf(out, "Host root: %s\n", r.root.c_str());
  std::fprintf(out, "Drives:\n  C: -> %s\n", r.root.empty() ? "C:\\" : r.root.c_str());
  for (const auto& [letter, dir] : r.drives) std::fprintf(out, "  %c: -> %s\n", letter, dir.c_str());
  std::fprintf(out, "Snapshot backend: %s\n", o.backend.c_str());
  if (!o.snapshotStore.empty()) std::fprintf(out, "Snapshot store: %s\n", o.snapshotStore.c_str());
  if (!r.root.empty()) std::fprintf(out, "Computer name: %s\n", o.computerName.c_str());
  std::fprintf(out, "ark.ini: C:\\Windows\\ark.ini (CHANGE_INFO_DIR=%s)\n", r.changeInfoDir.c_str());
  std::fprintf(out, "Report folder: %s\n", r.reportFolder.c_str());
  std::fprintf(out, "Registry layout: %s\n", o.layout.c_str());
  for (const InstalledServer& s : r.servers) {
    std::fprintf(out, "Server %s (partition %d)\n", s.canonicalName.c_str(), s.partition);
    std::fprintf(out, "  notes.ini: %s\n", s.notesIni.c_str());
    std::fprintf(out, "  data directory: %s (%zu databases)\n", s.dataDirectory.c_str(), s.databases.size());
    std::fprintf(out, "  transaction log: %s (%s)\n",
                 s.logDirectory.empty() ? "none" : s.logDirectory.c_str(), s.logging.c_str());
  }
}

}  // namespace dominosim
