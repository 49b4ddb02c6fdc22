// The operating system's own scheduler, for a command line run at fixed
// times of day: a systemd timer and service pair on POSIX, a Task Scheduler
// task run as SYSTEM on Windows.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Runs at hour:minute and then every intervalMinutes until the day ends;
// intervalMinutes divides a day (1440 once a day, 60 hourly, 15, 360 ...),
// so that the runs fall on the same clock times every day.
struct TaskTrigger {
  int intervalMinutes = 1440;
  int hour = 0;
  int minute = 0;
};

struct ScheduledTask {
  std::string name;  // the unit's or task's name: letters, digits, '-', '_', '.'
  std::string description;
  TaskTrigger trigger;
  std::vector<std::string> command;  // the program's full path, then its arguments
  // Environment of the run (NAME=value), where the scheduler keeps one
  // (systemd); the Task Scheduler runs with the system's.
  std::vector<std::string> environment;
};

// A task as the scheduler has it; a text is empty where the scheduler does
// not say.
struct ScheduledTaskState {
  std::string name;
  std::string when;     // the trigger in the scheduler's own words
  std::string command;  // the command line it runs
  std::string nextRun;
  std::string lastRun;
  std::string lastResult;
};

// where: the directory of the unit files on POSIX; unused on Windows.
// Creates the task or replaces the one of that name. False with *error
// saying why when it could not.
// *note says whether the scheduler has taken it up (enabled, started) or
// what is left to do for that.
bool CreateScheduledTask(const std::string& where, const ScheduledTask& task, std::string* note, std::string* error);
// False with *error when it could not; *existed says whether there was one.
bool DeleteScheduledTask(const std::string& where, const std::string& name, bool* existed, std::string* error);
// The tasks whose names begin with prefix, by name. False with *error when
// the scheduler could not be read.
bool ListScheduledTasks(const std::string& where, const std::string& prefix, std::vector<ScheduledTaskState>* tasks,
                        std::string* error);

// Where tasks go when no place is given: systemd's unit directory
// (/etc/systemd/system) on POSIX; empty on Windows.
std::string DefaultTaskLocation();

// The full path of the running program, for a task that runs it again.
std::string CurrentProgramPath();

}  // namespace platform
