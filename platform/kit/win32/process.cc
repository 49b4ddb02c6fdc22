// Processes on Win32. A stop request is a file that the server's watcher
// thread looks for (Windows has no signal that another process can send a
// console-less program).
#include "platform/kit/process.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace platform::kit {
namespace {

std::atomic<bool>* g_consoleStop = nullptr;

BOOL WINAPI OnConsoleControl(DWORD) {
  if (g_consoleStop != nullptr) g_consoleStop->store(true);
  return TRUE;
}

}  // namespace

int CurrentProcessId() { return int(::GetCurrentProcessId()); }

// The descriptor table of msvcrt.dll, the C runtime of the mingw-w64 build,
// holds 2048 descriptors; it cannot be raised.
unsigned long long OpenDescriptorLimit() { return 2048; }

// A service's C library has no stdout stream at all (its descriptor is -2
// and cannot be reopened), so the text goes to a stream of its own on a
// duplicate of the standard output handle, closed again at the end, so that
// a capture's pipe sees its end once its other writers are gone.
StandardOutput::StandardOutput() : stream_(stdout) {
  const HANDLE current = ::GetStdHandle(STD_OUTPUT_HANDLE);
  HANDLE copy = nullptr;
  if (current == nullptr || current == INVALID_HANDLE_VALUE ||
      !::DuplicateHandle(::GetCurrentProcess(), current, ::GetCurrentProcess(), &copy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
    return;
  }
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(copy), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(copy);
    return;
  }
  std::FILE* stream = ::_fdopen(fd, "wb");
  if (stream == nullptr) {
    ::_close(fd);
    return;
  }
  std::setvbuf(stream, nullptr, _IONBF, 0);  // every print reaches the handle at once
  stream_ = stream;
  owned_ = true;
}

StandardOutput::~StandardOutput() {
  std::fflush(stream_);
  if (owned_) std::fclose(stream_);
}

bool ProcessAlive(int pid) {
  if (pid <= 0) return false;
  const HANDLE h = ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
  if (h == nullptr) return ::GetLastError() == ERROR_ACCESS_DENIED;
  const bool alive = ::WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
  ::CloseHandle(h);
  return alive;
}

struct StopWatch::Impl {
  std::atomic<bool> quit{false};
  std::thread watcher;
};

StopWatch::StopWatch(std::atomic<bool>& stop, const std::string& stopFile) : impl_(std::make_unique<Impl>()) {
  g_consoleStop = &stop;
  ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  Impl* impl = impl_.get();
  impl->watcher = std::thread([impl, &stop, stopFile] {
    while (!impl->quit.load() && !stop.load()) {
      if (::GetFileAttributesA(stopFile.c_str()) != INVALID_FILE_ATTRIBUTES) stop.store(true);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
}

StopWatch::~StopWatch() {
  impl_->quit.store(true);
  impl_->watcher.join();
  ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  g_consoleStop = nullptr;
}

int RequestStop(int, const std::string& stopFile) {
  const HANDLE h = ::CreateFileA(stopFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return EIO;
  ::CloseHandle(h);
  return 0;
}

std::string ExecutableDirectory() {
  char buffer[MAX_PATH * 4];
  const DWORD n = ::GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  if (n == 0 || n >= sizeof buffer) return ".";
  std::string path(buffer, n);
  return path.substr(0, path.find_last_of("\\/"));
}

int RunSiblingProgram(const std::string& name, const std::vector<std::string>& args) {
  std::string path = ExecutableDirectory();
  path += '\\';
  path += name;
  path += ".exe";
  std::string command = QuoteArgument(path);
  for (const std::string& a : args) command += " " + QuoteArgument(a);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessA(path.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
    return -1;
  }
  ::CloseHandle(process.hThread);
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 1;
  ::GetExitCodeProcess(process.hProcess, &code);
  ::CloseHandle(process.hProcess);
  return int(code);
}

}  // namespace platform::kit
