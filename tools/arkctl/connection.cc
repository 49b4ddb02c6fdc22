#include "tools/arkctl/connection.h"
#include "net/io_timeout.h"

#include <cstdio>

#include <algorithm>

#include "net/wire.h"

namespace ark {

ServiceConnection::ServiceConnection(const CtlContext& context)
    : where_(context.host + ":" + std::to_string(context.port)) {
  SetIoTimeoutSeconds(context.ioTimeoutSeconds);
  std::string error;
  socket_ = platform::ConnectTcp(context.host, context.port, &error, context.ioTimeoutSeconds * 1000L);
  if (!socket_.valid())
    throw CtlError(kExitUnreachable, "cannot reach the service at " + where_ + ": " + error);
}

ServiceConnection::~ServiceConnection() = default;

void ServiceConnection::SendCommand(CommandCode code) { SendByte(socket_.get(), static_cast<int>(code)); }

void ServiceConnection::Finish() {
  if (!socket_.valid()) return;
  try {
    SendCommand(CommandCode::EndSession);
    RecvByte(socket_.get());
  } catch (const WireError&) {
  }
  socket_.reset();
}

void ServiceConnection::Refused(const std::string& commandName, CommandCode code, int status) {
  Finish();
  throw CtlError(kExitServiceRefused, commandName + ": the service at " + where_ + " answered status " +
                                          std::to_string(status) + ": " + StatusMeaning(code, status));
}

std::string StatusMeaning(CommandCode code, int status) {
  if (status == 255) return "the service does not know this command";
  if (status == 2 && static_cast<int>(code) <= 5) return "the report type is outside 0..3";
  switch (code) {
    case CommandCode::GetReportTime:
      if (status == 3) return "no such report, or a report name the service refuses";
      break;
    case CommandCode::ReadReport:
      if (status == 4) return "the report could not be read (no such report, or a name the service refuses)";
      break;
    case CommandCode::ListReports:
      if (status == 5) return "the reports could not be listed (is the report folder set?)";
      break;
    case CommandCode::DeleteReport:
    case CommandCode::DeleteReportsOfType:
      if (status == 6)
        return "the reports could not be deleted (a name the service refuses, no report folder, or a report that stays: in use or not a file)";
      break;
    default:
      break;
  }
  return "unexpected answer";
}

std::string ServiceConnection::StreamRunText(const CtlContext& context,
                                             const std::function<void(const std::string&)>& onText,
                                             std::FILE* out) {
  constexpr int kStreamWaitSeconds = 24 * 60 * 60;
  SetIoTimeoutSeconds(std::max(context.ioTimeoutSeconds, kStreamWaitSeconds));
  std::string last;
  for (;;) {
    std::string text = RecvString(socket());
    if (text == "done") break;
    if (out != nullptr) {
      std::fwrite(text.data(), 1, text.size(), out);
      std::fflush(out);
    }
    if (onText) onText(text);
    last = std::move(text);
  }
  SetIoTimeoutSeconds(context.ioTimeoutSeconds);
  return last;
}

}  // namespace ark
