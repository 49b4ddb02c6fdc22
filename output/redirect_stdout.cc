// Capture of the process's standard output during Domino recovery: every
// piece the platform capture reads goes through Output(sink).
#include "output/redirect_stdout.h"

#include <string>

#include "output/output.h"
#include "platform/debug.h"

namespace ark {

CRedirectStdout::CRedirectStdout(OutputSink* sink) : sink_(sink) {
  started_ = capture_.Start([this](std::string_view piece) {
    if (sink_ != nullptr) OutputCapturedPiece(*sink_, piece);
    platform::OutputDebugString(std::string(piece.substr(0, piece.find('\0'))));
  });
  if (started_) {
    CaptureStarted();
  } else {
    platform::OutputDebugString("Stdout pipe creation failed\n");
  }
}

CRedirectStdout::~CRedirectStdout() {
  if (!started_) return;
  // Stop() returns once the worker has forwarded everything and ended.
  if (!capture_.Stop()) platform::OutputDebugString("Re-redirecting Stdout failed\n");
  CaptureStopped();
  if (sink_ != nullptr) MarkCaptureEnded(*sink_);
}

}  // namespace ark
