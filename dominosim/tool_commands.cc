#include "dominosim/tool_commands.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include "dominosim/digest.h"
#include "dominosim/server_config.h"
#include "dominosim/status.h"
#include "dominosim/txn_log.h"
#include "platform/kit/file_io.h"
#include "platform/kit/process.h"

namespace dominosim {

using platform::kit::ReadFileBytes;

namespace {

std::string WindowsName(const ServerConfig& config, const std::string& relative) {
  std::string win = relative;
  for (char& c : win) {
    if (c == '/') c = '\\';
  }
  return JoinWin(config.dataDirWin, win);
}

int ServerPid(const ServerConfig& config) {
  std::string text;
  if (ReadFileBytes(config.stateDirHost + "/nserver.pid", text) != 0) return 0;
  int pid = std::atoi(text.c_str());
  return platform::kit::ProcessAlive(pid) ? pid : 0;
}

}  // namespace

int PrintDigests(const std::string& iniPath, std::FILE* out, std::FILE* errors, bool content) {
  ServerConfig config;
  if (STATUS s = LoadServerConfig(iniPath, config)) {
    std::fprintf(errors, "dominosim: %s: %s\n", iniPath.c_str(), StatusText(s).c_str());
    return -1;
  }
  int failed = 0;
  for (const std::string& relative : FindDatabaseFiles(config.dataDirHost)) {
    std::string hex;
    const std::string path = config.dataDirHost + "/" + relative;
    STATUS s = content ? DigestDatabaseContent(path, config.stateDirHost, &hex)
                       : DigestDatabase(path, config.stateDirHost, &hex);
    if (s == NOERROR) {
      std::fprintf(out, "%s %s\n", WindowsName(config, relative).c_str(), hex.c_str());
    } else {
      std::fprintf(out, "%s ERROR %s\n", WindowsName(config, relative).c_str(), StatusText(s).c_str());
      ++failed;
    }
  }
  std::fflush(out);
  return failed;
}

int PrintStatus(const std::string& iniPath, std::FILE* out) {
  ServerConfig config;
  if (STATUS s = LoadServerConfig(iniPath, config)) {
    std::fprintf(out, "dominosim: %s: %s\n", iniPath.c_str(), StatusText(s).c_str());
    return 1;
  }
  std::fprintf(out, "Server: %s\nData directory: %s\n", config.serverName.c_str(), config.dataDirWin.c_str());
  int pid = ServerPid(config);
  if (pid != 0) {
    std::fprintf(out, "nserver: running (pid %d)\n", pid);
  } else {
    std::fprintf(out, "nserver: not running\n");
  }
  if (!config.logging) {
    std::fprintf(out, "Transaction logging: none\n");
    return 0;
  }
  std::fprintf(out, "Transaction logging: %s in %s\n", config.style == 1 ? "archive" : "circular",
               config.logDirWin.c_str());
  LogOptions options;
  options.dir = config.logDirHost;
  options.create = false;
  std::unique_ptr<TxnLog> log;
  LogControl control;
  STATUS s = TxnLog::Open(options, log);
  if (s == NOERROR) s = log->ReadControl(control);
  if (s != NOERROR) {
    std::fprintf(out, "Log: %s\n", StatusText(s).c_str());
    return 1;
  }
  std::fprintf(out, "Log id: %s\nCurrent extent: %s\nNext sequence number: %llu\n",
               IdToHex(control.logId).c_str(), ExtentFileName(control.currentExtent).c_str(),
               static_cast<unsigned long long>(control.nextLsn));
  std::fprintf(out, "Oldest extent present: %s\nArchived below: %s\n",
               ExtentFileName(control.oldestPresent).c_str(), ExtentFileName(control.archiveLow).c_str());
  return 0;
}

int StopServer(const std::string& iniPath, double timeoutSeconds, std::FILE* out) {
  ServerConfig config;
  if (STATUS s = LoadServerConfig(iniPath, config)) {
    std::fprintf(out, "dominosim: %s: %s\n", iniPath.c_str(), StatusText(s).c_str());
    return 1;
  }
  int pid = ServerPid(config);
  if (pid == 0) {
    std::fprintf(out, "nserver is not running\n");
    return 0;
  }
  platform::kit::RequestStop(pid, StopFilePath(config));
  for (double waited = 0; waited < timeoutSeconds; waited += 0.05) {
    if (!platform::kit::ProcessAlive(pid)) {
      std::fprintf(out, "nserver (pid %d) stopped\n", pid);
      return 0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::fprintf(out, "nserver (pid %d) did not stop\n", pid);
  return 1;
}

}  // namespace dominosim
