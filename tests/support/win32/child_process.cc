#include "tests/support/child_process.h"

#include <cstring>
#include <map>

#include "platform/kit/process.h"
#include "platform/win32/windows_api.h"

struct ChildProcess::State {
  PROCESS_INFORMATION process = {};
  HANDLE out = nullptr;
  HANDLE in = nullptr;
  bool killed = false;
};

namespace {

// This process's environment with the extra entries put in; names compare
// without case, as Windows compares them.
std::string Environment(const std::vector<std::string>& extra) {
  std::map<std::string, std::string> entries;
  auto add = [&](const std::string& entry) {
    const auto eq = entry.find('=', 1);
    if (eq == std::string::npos) return;
    entries[platform::ToUpperAnsi(entry.substr(0, eq))] = entry;
  };
  if (char* block = ::GetEnvironmentStringsA()) {
    for (const char* p = block; *p != '\0'; p += std::strlen(p) + 1) add(p);
    ::FreeEnvironmentStringsA(block);
  }
  for (const std::string& entry : extra) {
    entry.back() == '=' ? void(entries.erase(platform::ToUpperAnsi(entry.substr(0, entry.size() - 1)))) : add(entry);
  }
  std::string out;
  for (const auto& [name, entry] : entries) {
    out.append(entry);
    out.push_back('\0');
  }
  out.push_back('\0');
  return out;
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::vector<std::string>& extraEnv, const std::string& cwd)
    : state_(std::make_unique<State>()) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE outRead = nullptr, outWrite = nullptr, inRead = nullptr, inWrite = nullptr;
  if (!::CreatePipe(&outRead, &outWrite, &inherit, 0) || !::CreatePipe(&inRead, &inWrite, &inherit, 0)) {
    for (HANDLE h : {outRead, outWrite}) if (h != nullptr) ::CloseHandle(h);
    return;
  }
  ::SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  ::SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
  std::string commandLine = platform::kit::QuoteArgument(program);
  for (const std::string& arg : args) {
    commandLine.push_back(' ');
    commandLine.append(platform::kit::QuoteArgument(arg));
  }
  std::string environment = Environment(extraEnv);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = outWrite;
  startup.hStdInput = inRead;
  startup.hStdError = outWrite;
  if (!::CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, environment.data(),
                        cwd.empty() ? nullptr : cwd.c_str(), &startup, &state_->process)) {
    state_->process = {};
  }
  ::CloseHandle(outWrite);
  ::CloseHandle(inRead);
  state_->out = outRead;
  state_->in = inWrite;
}

ChildProcess::~ChildProcess() {
  Kill();
  Wait();
  if (state_->out != nullptr) ::CloseHandle(state_->out);
  CloseInput();
}

int ChildProcess::id() const { return static_cast<int>(state_->process.dwProcessId); }

bool ChildProcess::Fill(int timeoutMs) {
  const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
  WinDWORD available = 0;
  while (::PeekNamedPipe(state_->out, nullptr, 0, nullptr, &available, nullptr) && available == 0) {
    if (::GetTickCount64() >= deadline) return false;
    ::Sleep(5);
  }
  char chunk[4096];
  WinDWORD n = 0;
  if (available == 0 || !::ReadFile(state_->out, chunk, sizeof chunk, &n, nullptr) || n == 0) return false;
  buffer_.append(chunk, n);
  return true;
}

void ChildProcess::CloseInput() {
  if (state_->in != nullptr) ::CloseHandle(std::exchange(state_->in, nullptr));
}

void ChildProcess::Kill() {
  if (state_->process.hProcess != nullptr && ::TerminateProcess(state_->process.hProcess, 1)) state_->killed = true;
}

int ChildProcess::Wait() {
  if (state_->process.hProcess == nullptr) return -1;
  ::WaitForSingleObject(state_->process.hProcess, INFINITE);
  WinDWORD code = 0;
  ::GetExitCodeProcess(state_->process.hProcess, &code);
  ::CloseHandle(state_->process.hProcess);
  ::CloseHandle(state_->process.hThread);
  state_->process = {};
  return state_->killed ? -1 : static_cast<int>(code);
}

std::string ProgramBesideTest(const std::string& name) {
  const std::string self = platform::GetModuleFileName();
  return self.substr(0, self.find_last_of("\\/") + 1) + name + ".exe";
}
