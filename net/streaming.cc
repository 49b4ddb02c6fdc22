#include "net/streaming.h"

#include <exception>

#include "net/wire.h"
#include "output/output.h"
#include "reports/report_store.h"

namespace ark {

namespace {

// Clears the process-wide streaming state on every way out.
struct StreamingScope {
  explicit StreamingScope(platform::SOCKET client) {
    ClearReportText();
    SetStreamingConnection(client);
  }
  ~StreamingScope() {
    ClearStreamingConnection();
    ClearReportText();
  }
  StreamingScope(const StreamingScope&) = delete;
  StreamingScope& operator=(const StreamingScope&) = delete;
};

}  // namespace

void RunStreamingOperation(platform::SOCKET client, const std::string& reportTypeName,
                           const std::function<void()>& operation) {
  StreamingScope scope(client);
  std::exception_ptr failure;
  try {
    operation();
  } catch (...) {
    failure = std::current_exception();
  }
  bool clientGone = StreamingFailed();
  if (!failure && !clientGone) {
    try {
      SendString(client, "done");
    } catch (const WireError&) {
      clientGone = true;
    }
  }
  ClearStreamingConnection();
  if (failure) {
    // Keep the text of the failed run; the operation's error is the one to raise.
    try {
      TheReportStore().SaveReport(reportTypeName, ReportText());
    } catch (...) {
    }
    std::rethrow_exception(failure);
  }
  TheReportStore().SaveReport(reportTypeName, ReportText());
  if (clientGone) throw WireError(kClientWentAway);
}

}  // namespace ark
