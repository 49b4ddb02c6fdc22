// Processes for the components' own programs (the simulated server and its
// tool): the process id, whether a process lives, a stop request that a
// running server notices, and running a program that lies beside this one.
#pragma once

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace platform::kit {

int CurrentProcessId();
// How many descriptors the process may hold open at once (the soft limit on
// POSIX; the C runtime's descriptor table on Windows).
unsigned long long OpenDescriptorLimit();
bool ProcessAlive(int pid);

// Sets *stop when the process is asked to stop: SIGTERM or SIGINT on POSIX;
// on Windows, Ctrl+C or the stop file (RequestStop) appearing. Keep the
// object for as long as requests should be noticed.
class StopWatch {
 public:
  StopWatch(std::atomic<bool>& stop, const std::string& stopFile);
  ~StopWatch();
  StopWatch(const StopWatch&) = delete;
  StopWatch& operator=(const StopWatch&) = delete;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Asks the process pid, watched with stopFile, to stop. An errno value.
int RequestStop(int pid, const std::string& stopFile);

// The process's standard output as it is while this object lives, for the
// text a component prints (recovery's progress): the C library's stdout on
// POSIX; on Windows a stream on the standard output handle of this moment,
// so that a capture that has just replaced the handle (SetStdHandle) gets the
// text, as it would from a library that writes to the handle it finds.
class StandardOutput {
 public:
  StandardOutput();
  ~StandardOutput();  // flushes; closes what it opened
  StandardOutput(const StandardOutput&) = delete;
  StandardOutput& operator=(const StandardOutput&) = delete;
  std::FILE* get() const { return stream_; }

 private:
  std::FILE* stream_ = nullptr;
  bool owned_ = false;
};

// The directory of the running executable (host path, no trailing separator).
std::string ExecutableDirectory();

// An argument as a Windows command line writes it (quoted where it holds a
// blank, a tab or a quote), so that CommandLineToArgvW and the C runtime
// read it back whole.
std::string QuoteArgument(const std::string& arg);

// Runs the program beside this executable named name (".exe" is added on
// Windows) with args and returns its exit code; on POSIX the program
// replaces this process. -1 when it cannot be started.
int RunSiblingProgram(const std::string& name, const std::vector<std::string>& args);

}  // namespace platform::kit
