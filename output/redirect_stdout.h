// Captures what the process prints on its standard output and forwards it,
// in pieces of at most 256 bytes as it arrives, through Output(sink).
#pragma once

#include "common/output_sink.h"
#include "platform/stdout_capture.h"

namespace ark {

class CRedirectStdout {
 public:
  // Starts the capture (sink may be null: the pieces then go only to the
  // debug trace). When it cannot start, standard output stays as it was,
  // started() is false, "Stdout pipe creation failed" goes to the debug trace
  // and nothing is output through the sink.
  explicit CRedirectStdout(OutputSink* sink);
  // Puts standard output back, waits until the worker has forwarded every
  // piece and ended, then sets sink->captureEnded; nothing stays redirected.
  // A failure to put it back goes to the debug trace only.
  virtual ~CRedirectStdout();
  CRedirectStdout(const CRedirectStdout&) = delete;
  CRedirectStdout& operator=(const CRedirectStdout&) = delete;
  bool started() const { return started_; }

 private:
  OutputSink* sink_;
  bool started_ = false;
  platform::StdoutCapture capture_;
};

}  // namespace ark
