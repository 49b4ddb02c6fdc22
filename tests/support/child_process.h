// A program started as a child process, with its standard output and error
// readable line by line or whole and its standard input open until
// CloseInput(); killed and waited for at the end.
#pragma once

#include <memory>
#include <string>
#include <utility>
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

  int id() const;  // the process identifier
  // The next line of output (without its line end), or "" after timeoutMs
  // without one or at the end of the output.
  std::string ReadLine(int timeoutMs = 10000) {
    std::size_t nl;
    while ((nl = buffer_.find('\n')) == std::string::npos) {
      if (!Fill(timeoutMs)) return "";
    }
    std::string line = buffer_.substr(0, nl);
    buffer_.erase(0, nl + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }
  // The rest of the output as it came, up to its end or timeoutMs of silence.
  std::string ReadAll(int timeoutMs = 300000) {
    while (Fill(timeoutMs)) {
    }
    return std::exchange(buffer_, {});
  }
  void CloseInput();
  void Kill();
  // Waits for the exit: the exit code, or -1 when killed or not started.
  int Wait();

  struct State;

 private:
  // Appends the child's next output to buffer_; false at its end or after
  // timeoutMs without any.
  bool Fill(int timeoutMs);
  std::unique_ptr<State> state_;
  std::string buffer_;
};

// The path of a program built beside the running test ("arkctl" gives
// ".../bin/arkctl" or "...\bin\arkctl.exe").
std::string ProgramBesideTest(const std::string& name);
