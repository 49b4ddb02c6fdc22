// Standard-output capture: the write end of an anonymous pipe becomes the
// process's standard output handle and the C library's descriptor 1 (so
// printf and WriteFile on the handle both reach it); a worker thread reads
// the pipe in pieces of at most 256 bytes.
#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "platform/win32/windows_api.h"

namespace platform {
namespace {

// A process without a standard output (a service) first gets the null
// device as descriptor 1, so that the end of the capture has something to
// put back.
bool EnsureDescriptorOne() {
  if (::_get_osfhandle(1) != -1) return true;
  const int null = ::_open("NUL", _O_WRONLY | _O_BINARY);
  if (null < 0) return false;
  const bool ok = null == 1 || ::_dup2(null, 1) == 0;
  if (null != 1) ::_close(null);
  return ok;
}

}  // namespace

StdoutCapture::~StdoutCapture() { Stop(); }

bool StdoutCapture::Start(Sink sink) {
  if (active()) return false;
  std::fflush(stdout);
  if (!EnsureDescriptorOne()) return false;
  const int saved = ::_dup(1);
  if (saved < 0) return false;
  // The read end is not inherited by child processes; the write end is, as
  // a standard output must be.
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
    ::_close(saved);
    return false;
  }
  ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  // Descriptor 1 gets its own duplicate of the write end; the descriptor
  // made here (and with it writeEnd) is closed again, so descriptor 1 is
  // the only writer left.
  const int pipeFd = ::_open_osfhandle(reinterpret_cast<intptr_t>(writeEnd), _O_WRONLY | _O_BINARY);
  if (pipeFd < 0) {
    ::CloseHandle(writeEnd);
    ::CloseHandle(readEnd);
    ::_close(saved);
    return false;
  }
  const bool redirected = ::_dup2(pipeFd, 1) == 0;
  ::_close(pipeFd);
  if (!redirected || !::SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(::_get_osfhandle(1)))) {
    ::_dup2(saved, 1);
    ::CloseHandle(readEnd);
    ::_close(saved);
    return false;
  }
  savedStdout_ = saved;
  readEnd_.reset(readEnd);
  sink_ = std::move(sink);
  // Every print reaches the pipe at once, not when a buffer fills.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  worker_ = std::thread([this] {
    char piece[kPieceSize];
    while (true) {
      WinDWORD n = 0;
      // Fails with ERROR_BROKEN_PIPE once every writer is gone.
      if (!::ReadFile(readEnd_.get(), piece, sizeof piece, &n, nullptr) || n == 0) break;
      if (sink_) sink_(std::string_view(piece, n));
    }
  });
  return true;
}

bool StdoutCapture::Stop() {
  if (!active()) return true;
  std::fflush(stdout);
  // Putting the saved descriptor back closes the pipe's last writer, so the
  // worker reads what is left and then the end of the pipe.
  bool ok = ::_dup2(savedStdout_, 1) == 0;
  if (!ok) ::_close(1);  // without the restore the worker would wait for ever
  if (ok) ok = ::SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(::_get_osfhandle(1))) != FALSE;
  if (worker_.joinable()) worker_.join();
  readEnd_.reset();
  ::_close(savedStdout_);
  savedStdout_ = -1;
  sink_ = nullptr;
  std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
  return ok;
}

}  // namespace platform
