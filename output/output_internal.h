// Entry points of the output path (output/output.cc) that only the capture
// object uses. None fails or raises.
#pragma once

#include <string_view>

#include "common/output_sink.h"

// Under the output lock: clears sink.captureEnded, sets sink.message to the
// piece (up to its first zero byte) and outputs it.
void OutputCapturedPiece(OutputSink& sink, std::string_view piece);
// Under the output lock: sets sink.captureEnded.
void MarkCaptureEnded(OutputSink& sink);
// Counts live captures; the console output is skipped while one runs.
void CaptureStarted();
void CaptureStopped();
