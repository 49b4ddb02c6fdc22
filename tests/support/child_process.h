// A program started as a child process, with its standard output readable
// line by line and its standard input open until CloseInput(); killed and
// waited for at the end.
#pragma once

#include <memory>
#include <string>
#include <vector>

class ChildProcess {
 public:
  // extraEnv entries ("NAME=value") are added to this process's environment
  // (an entry "NAME=" empties NAME); cwd empty: this process's directory.
  // On POSIX the child works under this process's host root (ARK_ROOT)
  // unless extraEnv names another.
  ChildProcess(const std::string& program, const std::vector<std::string>& args,
               const std::vector<std::string>& extraEnv = {}, const std::string& cwd = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const;
  int id() const;  // the process identifier
  // The next line of output (without its line end), or "" after timeoutMs
  // without one or at the end of the output.
  std::string ReadLine(int timeoutMs = 10000);
  void CloseInput();
  void Kill();
  // Waits for the exit: the exit code, or -1 when killed or not started.
  int Wait();

  struct State;

 private:
  std::unique_ptr<State> state_;
};

// The path of a program built beside the running test ("arkctl" gives
// ".../bin/arkctl" or "...\bin\arkctl.exe").
std::string ProgramBesideTest(const std::string& name);
