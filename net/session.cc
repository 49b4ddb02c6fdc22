#include "net/session.h"

#include <cstdio>
#include <string>

#include "common/ark_error.h"
#include "common/events.h"
#include "net/client_filter.h"
#include "net/command.h"
#include "platform/clock.h"
#include "platform/com.h"
#include "platform/eventlog.h"

namespace ark {

namespace {

// Errors of a turn go to the process's standard output.
void WriteServiceText(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
}

// COM for the thread while one turn lasts: the snapshot component is
// reached from the session.
class ComForTheTurn {
 public:
  ComForTheTurn() : initialized_(SUCCEEDED(platform::CoInitialize())) {}
  ~ComForTheTurn() {
    if (initialized_) platform::CoUninitialize();
  }
  ComForTheTurn(const ComForTheTurn&) = delete;
  ComForTheTurn& operator=(const ComForTheTurn&) = delete;

 private:
  bool initialized_;
};

}  // namespace

void RunSession(platform::SOCKET client) {
  Command command;
  bool keepRunning = true;
  while (keepRunning) {
    ReadCommand(client, command);
    keepRunning = DispatchCommand(client, command);
    command.payload.clear();
  }
}

void ServeOneConnection(platform::SOCKET listener, long waitMilliseconds) {
  const ComForTheTurn com;
  if (platform::Listen(listener, kListenBacklog) != 0) {
    WriteServiceText("listen() failed.\n");
    platform::Sleep(kListenerRetryMilliseconds);
    return;
  }
  platform::Socket client;
  std::uint32_t peer = 0;
  try {
    if (!AcceptClient(listener, client, waitMilliseconds, &peer)) return;
  } catch (const std::string& text) {
    WriteServiceText(text + "\n");
    platform::Sleep(kListenerRetryMilliseconds);
    return;
  }
  // A client outside ALLOWED_CLIENTS is closed before any byte is read.
  if (!IsClientAllowed(ReadAllowedClients(), peer)) {
    platform::ReportEvent(kEventSourceName, EVENTLOG_WARNING_TYPE, kCategoryService,
                          kEventClientRefused, {AddressText(peer)});
    return;
  }
  // The client's connection is closed when the turn ends, however the
  // session ended.
  try {
    RunSession(client.get());
  } catch (const std::string& text) {
    WriteServiceText(text + "\n");
  } catch (const ARKError& error) {
    WriteServiceText(error.Text() + "\n");
  } catch (...) {
    WriteServiceText("unknown error\n");
  }
}

}  // namespace ark
