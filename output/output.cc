// The one path of operation text: the streaming connection, the report text,
// the sink's accumulated text, and the optional file and console outputs
// (the output file "ark_output.txt" beside the executable).
#include "output/output.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>

#include "platform/debug.h"
#include "platform/files.h"
#include "platform/host.h"

namespace ark {

namespace {

constexpr int kDefaultSendTimeoutSeconds = 45;
constexpr const char* kOutputFileName = "ark_output.txt";

struct OutputState {
  std::mutex mutex;
  platform::SOCKET streaming = platform::INVALID_SOCKET;
  bool streamingFailed = false;
  std::string reportText;
};

OutputState& State() {
  static OutputState state;
  return state;
}

std::atomic<int> sendTimeoutSeconds{kDefaultSendTimeoutSeconds};
std::atomic<int> activeCaptures{0};

// Sends the whole buffer, each send guarded by a wait for writability with
// the I/O time-out. False when the socket failed or stayed unwritable.
bool SendAll(platform::SOCKET s, const char* data, std::size_t size) {
  const long timeoutMs = long(sendTimeoutSeconds.load()) * 1000;
  while (size > 0) {
    if (platform::WaitReady(s, true, timeoutMs) != 1) return false;
    long sent = platform::Send(s, data, size);
    if (sent < 0) return false;
    data += sent;
    size -= std::size_t(sent);
  }
  return true;
}

// One wire string: the byte count as u32 little-endian, then the bytes.
bool SendWireString(platform::SOCKET s, const std::string& text) {
  const std::uint32_t n = std::uint32_t(text.size());
  std::string frame;
  frame.reserve(4 + text.size());
  for (int i = 0; i < 4; ++i) frame.push_back(char((n >> (8 * i)) & 0xFF));
  frame += text;
  return SendAll(s, frame.data(), frame.size());
}

void WriteToConsole(OutputSink& sink) {
  // While standard output is captured, the console is the capture pipe:
  // writing there would feed the text back in and output it a second time.
  if (activeCaptures.load() > 0) return;
  if (sink.consoleHandle < 0) sink.consoleHandle = 1;  // the process's standard output
  std::fwrite(sink.message.data(), 1, sink.message.size(), stdout);
  std::fflush(stdout);
}

// Caller holds State().mutex.
void OutputLocked(OutputState& state, OutputSink& sink) {
  if (state.streaming != platform::INVALID_SOCKET &&
      !SendWireString(state.streaming, sink.message)) {
    // The client is gone or stuck: stop streaming, keep the operation going
    // so its report is still complete and saved.
    state.streaming = platform::INVALID_SOCKET;
    state.streamingFailed = true;
    platform::OutputDebugString("Output: sending to the client failed; streaming stopped\n");
  }
  state.reportText += sink.message;
  sink.accumulated += sink.message;
  if (sink.toFile) AppendToOutputFile(sink);
  if (sink.toConsole) WriteToConsole(sink);
}

}  // namespace

void SetOutputSendTimeoutSeconds(int seconds) {
  sendTimeoutSeconds.store(seconds > 0 ? seconds : kDefaultSendTimeoutSeconds);
}

void Output(OutputSink& sink) {
  OutputState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  OutputLocked(state, sink);
}

void Output(OutputSink& sink, const std::string& text) {
  OutputState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  sink.message = text;
  OutputLocked(state, sink);
}

void OutputCapturedPiece(OutputSink& sink, std::string_view piece) {
  OutputState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  sink.captureEnded = false;
  // The text up to its first zero byte, as a C string would end.
  sink.message.assign(piece.substr(0, piece.find('\0')));
  OutputLocked(state, sink);
}

void MarkCaptureEnded(OutputSink& sink) {
  std::lock_guard<std::mutex> lock(State().mutex);
  sink.captureEnded = true;
}

void CaptureStarted() { activeCaptures.fetch_add(1); }
void CaptureStopped() { activeCaptures.fetch_sub(1); }

void SetStreamingConnection(platform::SOCKET socket) {
  OutputState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.streaming = socket;
  state.streamingFailed = false;
}

void ClearStreamingConnection() {
  OutputState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.streaming = platform::INVALID_SOCKET;
}

bool StreamingFailed() {
  OutputState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.streamingFailed;
}

void ClearReportText() {
  OutputState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.reportText.clear();
}

std::string ReportText() {
  OutputState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.reportText;
}

void AppendToOutputFile(const OutputSink& sink) {
  // Drive and directory of the module file name, with its trailing "\".
  const std::string module = platform::GetModuleFileName();
  const std::size_t slash = module.find_last_of("\\/");
  const std::string directory = slash == std::string::npos ? std::string() : module.substr(0, slash + 1);
  platform::File file;
  if (file.Open(directory + kOutputFileName, platform::File::Mode::Append) != ERROR_SUCCESS) return;
  file.Write(sink.message.data(), sink.message.size());  // failures are dropped silently
}

}  // namespace ark
