// Standard-output capture: descriptor 1 becomes the write end of a pipe that
// a worker thread reads in pieces of at most 256 bytes.
#include "platform/stdout_capture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace platform {

StdoutCapture::~StdoutCapture() { Stop(); }

bool StdoutCapture::Start(Sink sink) {
  if (active()) return false;
  std::fflush(stdout);
  // A process started without a standard output (a daemon) first gets
  // /dev/null as descriptor 1, so that no descriptor made below lands on 1
  // and the end of the capture has something to put back.
  if (::fcntl(STDOUT_FILENO, F_GETFD) < 0 && errno == EBADF) {
    const int null = ::open("/dev/null", O_WRONLY);
    if (null < 0) return false;
    if (null != STDOUT_FILENO) {
      ::dup2(null, STDOUT_FILENO);
      ::close(null);
    }
  }
  const int saved = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
  if (saved < 0) return false;
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    ::close(saved);
    return false;
  }
  // Descriptor 1 made by dup2 is inheritable, as a standard output must be;
  // the other ends stay close-on-exec.
  if (::dup2(ends[1], STDOUT_FILENO) < 0) {
    ::close(ends[0]);
    ::close(ends[1]);
    ::close(saved);
    return false;
  }
  ::close(ends[1]);  // descriptor 1 is now the only writer
  savedStdout_ = saved;
  readEnd_.reset(ends[0]);
  sink_ = std::move(sink);
  // Every print reaches the pipe at once, not when a buffer fills.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  worker_ = std::thread([this] {
    char piece[kPieceSize];
    while (true) {
      const ssize_t n = ::read(readEnd_.get(), piece, sizeof piece);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;  // every writer is gone
      if (sink_) sink_(std::string_view(piece, static_cast<std::size_t>(n)));
    }
  });
  return true;
}

bool StdoutCapture::Stop() {
  if (!active()) return true;
  std::fflush(stdout);
  // Putting the saved descriptor back closes the pipe's last writer, so the
  // worker reads what is left and then the end of the pipe.
  bool ok = true;
  while (::dup2(savedStdout_, STDOUT_FILENO) < 0) {
    if (errno == EINTR) continue;
    ok = false;
    // Without the restore the worker would wait for ever: close descriptor
    // 1 instead, which also ends the pipe.
    ::close(STDOUT_FILENO);
    break;
  }
  if (worker_.joinable()) worker_.join();
  readEnd_.reset();
  ::close(savedStdout_);
  savedStdout_ = -1;
  sink_ = nullptr;
  // Standard output is a terminal or a file again: line buffering.
  std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
  return ok;
}

}  // namespace platform
