// The per-operation output object that every operation writes through
// (see output/output.h for Output()). A plain value: copying one copies its
// texts; consoleHandle is a number, never closed by the sink.
#pragma once

#include <cstdint>
#include <string>

namespace ark {

struct OutputSink {
  std::string message;      // the piece of text being output now
  std::string accumulated;  // every message output through this sink
  void* windowHandle = nullptr;  // progress window; none in the service
  std::int32_t windowDatum = 0;
  bool toFile = false;       // append every message to ark_output.txt
  int consoleHandle = -1;    // console output, opened on first use
  bool toConsole = false;    // write every message to the console
  bool captureEnded = false; // written by the capture worker
};

}  // namespace ark
