// The one path by which operation text reaches the client, the run's report
// text and the operation's own accumulated text.
#pragma once

#include <string>
#include <string_view>

#include "common/output_sink.h"
#include "platform/socket.h"

namespace ark {

// Outputs sink.message: sends it as one string on the streaming connection
// (when set), appends it to the report text and to sink.accumulated, and to
// the output file / console when the sink asks for them. Serialised: the
// service thread and the capture worker may call it at the same time.
// When sending fails, the streaming connection is dropped and the failure
// remembered (StreamingFailed); the operation goes on; nothing is raised.
void Output(OutputSink& sink);
// Convenience: sets sink.message to text, then Output(sink).
void Output(OutputSink& sink, const std::string& text);

// The process-wide streaming connection (the client socket) or none. Setting
// one forgets an earlier send failure; neither call owns or closes the socket.
void SetStreamingConnection(platform::SOCKET socket);
void ClearStreamingConnection();
// True when a send on the streaming connection failed since it was last set.
bool StreamingFailed();

// The process-wide report text: everything output since it was last cleared
// (a copy).
void ClearReportText();
std::string ReportText();

// Time-out of the wait for writability before each send on the streaming
// connection (45 seconds unless set, and again for 0 or less; tests shorten it).
void SetOutputSendTimeoutSeconds(int seconds);

// Appends sink.message to ark_output.txt beside the executable, creating it;
// a failure to open or write is dropped silently (nothing raised or reported).
void AppendToOutputFile(const OutputSink& sink);

// For the capture object (output/redirect_stdout.h) only; none fails or raises.
// Under the output lock: clears sink.captureEnded, sets sink.message to the
// piece (up to its first zero byte) and outputs it.
void OutputCapturedPiece(OutputSink& sink, std::string_view piece);
// Under the output lock: sets sink.captureEnded.
void MarkCaptureEnded(OutputSink& sink);
// Counts live captures; the console output is skipped while one runs.
void CaptureStarted();
void CaptureStopped();

}  // namespace ark
