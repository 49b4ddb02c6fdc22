// Captures what the process prints on its standard output and forwards it,
// in pieces of at most 256 bytes as it arrives, through Output(sink).
#pragma once

#include "common/output_sink.h"
#include "platform/stdout_capture.h"

class CRedirectStdout {
 public:
  explicit CRedirectStdout(OutputSink* sink);  // starts the capture
  virtual ~CRedirectStdout();                   // stops it after the worker ended
  CRedirectStdout(const CRedirectStdout&) = delete;
  CRedirectStdout& operator=(const CRedirectStdout&) = delete;
  bool started() const { return started_; }

 private:
  OutputSink* sink_;
  bool started_ = false;
  platform::StdoutCapture capture_;
};
