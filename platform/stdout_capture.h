// Standard-output capture: file descriptor 1 (and the C stdout stream,
// unbuffered) goes into a pipe while the capture lives; a worker thread reads
// the pipe in pieces of at most 256 bytes and hands each piece to the sink as
// soon as it arrives.
#pragma once

#include <cstddef>
#include <functional>
#include <string_view>
#include <thread>

#include "platform/native_handle.h"

namespace platform {

class StdoutCapture {
 public:
  using Sink = std::function<void(std::string_view piece)>;
  static constexpr std::size_t kPieceSize = 256;

  StdoutCapture() = default;
  ~StdoutCapture();  // Stop()
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;

  // Returns false (and captures nothing) when the pipe or redirect fails.
  bool Start(Sink sink);
  // Puts standard output back, then waits until the worker has forwarded
  // everything written before and ended. Returns false when the restore of
  // the standard output failed.
  bool Stop();
  bool active() const { return savedStdout_ >= 0; }

 private:
  Sink sink_;
  int savedStdout_ = -1;  // a descriptor (of the C runtime on Windows)
  NativeFile readEnd_;
  std::thread worker_;
};

}  // namespace platform
