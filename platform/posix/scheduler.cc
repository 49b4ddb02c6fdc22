// Scheduled tasks as systemd timer and service pairs: NAME.timer
// (OnCalendar, Persistent=true: a run missed while the machine was off
// happens at the next boot) starts NAME.service, a oneshot unit that runs
// the command, so a run that exits non-zero leaves the unit failed and its
// output in the journal. Units written into systemd's own directory are
// enabled and started when systemd runs; elsewhere they are only written.
#include "platform/scheduler.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/kit/file_io.h"

extern char** environ;

namespace platform {
namespace {

constexpr const char* kSystemUnitDir = "/etc/systemd/system";

bool SystemdRuns() { return kit::IsDirectory("/run/systemd/system"); }

// Units in systemd's own directory, with systemd running, are taken up.
bool Managed(const std::string& where) {
  std::string canonical;
  return SystemdRuns() && kit::CanonicalPath(where, canonical) == 0 && canonical == kSystemUnitDir;
}

// Runs argv (searched in PATH) and returns its exit code, -1 when it could
// not run; its standard output goes to *out, its standard error nowhere.
int Run(const std::vector<std::string>& argv, std::string* out) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
  kit::UniqueFd readEnd(pipeFds[0]);
  kit::UniqueFd writeEnd(pipeFds[1]);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  writeEnd.reset();
  if (spawned != 0) return -1;
  std::string text;
  kit::ReadAll(readEnd.get(), text);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (out != nullptr) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A word of a unit file's command or assignment, quoted as systemd reads
// it back whole: '%' is a specifier and '$' a variable unless doubled.
std::string UnitQuote(const std::string& word, bool command) {
  std::string out = "\"";
  for (char c : word) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '%') out += '%';
    if (c == '$' && command) out += '$';
    out += c;
  }
  return out + "\"";
}

// Text of a unit file's Description: '%' is a specifier unless doubled.
std::string UnitText(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '%' ? std::string("%%") : std::string(1, c);
  return out;
}

std::string OnCalendar(const TaskTrigger& t) {
  char text[64];
  if (t.intervalMinutes >= 1440) {
    std::snprintf(text, sizeof text, "*-*-* %02d:%02d:00", t.hour, t.minute);
  } else if (t.intervalMinutes % 60 == 0) {
    std::snprintf(text, sizeof text, "*-*-* %02d/%d:%02d:00", t.hour, t.intervalMinutes / 60, t.minute);
  } else {
    std::snprintf(text, sizeof text, "*-*-* *:%02d/%d:00", t.minute % t.intervalMinutes, t.intervalMinutes);
  }
  return text;
}

std::string ServiceUnit(const ScheduledTask& task) {
  std::string unit = "[Unit]\nDescription=" + UnitText(task.description) +
                     "\nAfter=arkserver.service network-online.target\n\n[Service]\nType=oneshot\n";
  for (const std::string& variable : task.environment) unit += "Environment=" + UnitQuote(variable, false) + "\n";
  unit += "ExecStart=";
  for (std::size_t i = 0; i < task.command.size(); ++i) unit += (i ? " " : "") + UnitQuote(task.command[i], true);
  return unit + "\n";
}

std::string TimerUnit(const ScheduledTask& task) {
  return "[Unit]\nDescription=" + UnitText(task.description) + "\n\n[Timer]\nOnCalendar=" + OnCalendar(task.trigger) +
         "\nPersistent=true\n\n[Install]\nWantedBy=timers.target\n";
}

// The value of the first "key=" line of a unit file; empty when none.
std::string UnitValue(const std::string& path, const std::string& key) {
  std::string text;
  if (kit::ReadFileBytes(path, text) != 0) return {};
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    if (line.compare(0, key.size() + 1, key + "=") == 0) return line.substr(key.size() + 1);
    at = end + 1;
  }
  return {};
}

// "Key=value" lines of systemctl show.
std::string ShowValue(const std::string& shown, const std::string& key) {
  const std::string head = key + "=";
  for (std::size_t at = 0; at < shown.size();) {
    std::size_t end = shown.find('\n', at);
    if (end == std::string::npos) end = shown.size();
    if (shown.compare(at, head.size(), head) == 0) return shown.substr(at + head.size(), end - at - head.size());
    at = end + 1;
  }
  return {};
}

void ReadRunState(ScheduledTaskState& state) {
  std::string timer;
  std::string service;
  Run({"systemctl", "show", state.name + ".timer", "-p", "NextElapseUSecRealtime", "-p", "LastTriggerUSec"}, &timer);
  Run({"systemctl", "show", state.name + ".service", "-p", "Result", "-p", "ExecMainStatus"}, &service);
  state.nextRun = ShowValue(timer, "NextElapseUSecRealtime");
  state.lastRun = ShowValue(timer, "LastTriggerUSec");
  if (state.lastRun.empty() || state.lastRun == "n/a") {
    state.lastRun = "never";
    return;
  }
  const std::string result = ShowValue(service, "Result");
  state.lastResult = result == "success" ? "success" : result + " (exit " + ShowValue(service, "ExecMainStatus") + ")";
}

std::string ErrnoText(const std::string& what, int error) { return what + ": " + std::strerror(error); }

}  // namespace

bool CreateScheduledTask(const std::string& where, const ScheduledTask& task, std::string* note, std::string* error) {
  if (!kit::IsDirectory(where)) {
    *error = "the unit directory " + where + " does not exist";
    return false;
  }
  const std::string base = where + "/" + task.name;
  // The service first: a timer never points at a unit that is not there.
  if (int e = kit::WriteFileAtomically(base + ".service", ServiceUnit(task), true); e != 0) {
    *error = ErrnoText(base + ".service", e);
    return false;
  }
  if (int e = kit::WriteFileAtomically(base + ".timer", TimerUnit(task), true); e != 0) {
    *error = ErrnoText(base + ".timer", e);
    return false;
  }
  if (!Managed(where)) {
    *note = SystemdRuns() ? "written; systemd reads units from " + std::string(kSystemUnitDir) + ", not from here"
                          : "written; systemd does not run here: when it does, run systemctl daemon-reload and "
                            "systemctl enable --now " + task.name + ".timer";
    return true;
  }
  if (Run({"systemctl", "daemon-reload"}, nullptr) != 0 ||
      Run({"systemctl", "enable", "--now", task.name + ".timer"}, nullptr) != 0) {
    *error = "systemctl could not enable and start " + task.name + ".timer";
    return false;
  }
  *note = "enabled and started";
  return true;
}

bool DeleteScheduledTask(const std::string& where, const std::string& name, bool* existed, std::string* error) {
  const std::string base = where + "/" + name;
  *existed = kit::PathExists(base + ".timer") || kit::PathExists(base + ".service");
  if (!*existed) return true;
  if (Managed(where)) Run({"systemctl", "disable", "--now", name + ".timer"}, nullptr);
  for (const char* suffix : {".timer", ".service"}) {
    if (int e = kit::RemoveFile(base + suffix); e != 0 && e != ENOENT) {
      *error = ErrnoText(base + suffix, e);
      return false;
    }
  }
  if (Managed(where)) Run({"systemctl", "daemon-reload"}, nullptr);
  return true;
}

bool ListScheduledTasks(const std::string& where, const std::string& prefix, std::vector<ScheduledTaskState>* tasks,
                        std::string* error) {
  std::vector<std::string> names;
  if (int e = kit::ListNames(where, names); e != 0) {
    *error = ErrnoText(where, e);
    return false;
  }
  const std::string suffix = ".timer";
  const bool managed = Managed(where);
  for (const std::string& file : names) {
    if (file.size() <= prefix.size() + suffix.size() || file.compare(0, prefix.size(), prefix) != 0 ||
        file.compare(file.size() - suffix.size(), suffix.size(), suffix) != 0)
      continue;
    ScheduledTaskState state;
    state.name = file.substr(0, file.size() - suffix.size());
    state.when = UnitValue(where + "/" + file, "OnCalendar");
    state.command = UnitValue(where + "/" + state.name + ".service", "ExecStart");
    if (managed) ReadRunState(state);
    tasks->push_back(state);
  }
  std::sort(tasks->begin(), tasks->end(),
            [](const ScheduledTaskState& a, const ScheduledTaskState& b) { return a.name < b.name; });
  return true;
}

std::string DefaultTaskLocation() { return kSystemUnitDir; }

std::string CurrentProgramPath() {
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  return n > 0 ? std::string(self, std::size_t(n)) : std::string();
}

}  // namespace platform
