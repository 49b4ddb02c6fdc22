#include "net/command.h"

#include <array>
#include <mutex>
#include <stdexcept>
#include <string>

#include "net/query_commands.h"
#include "net/report_commands.h"
#include "net/wire.h"

namespace ark {

namespace {

constexpr int kUnknownCode = static_cast<int>(CommandCode::Unknown);

class CommandTable {
 public:
  CommandTable() {
    Set(CommandCode::ListReports, HandleListReports);
    Set(CommandCode::GetReportTime, HandleGetReportTime);
    Set(CommandCode::ReadReport, HandleReadReport);
    Set(CommandCode::DeleteReport, HandleDeleteReport);
    Set(CommandCode::DeleteReportsOfType, HandleDeleteReportsOfType);
    Set(CommandCode::QueryBackupWizardRun, HandleQueryBackupWizardRun);
    Set(CommandCode::QueryConfigWizardRun, HandleQueryConfigWizardRun);
    Set(CommandCode::QueryDominoRunning, HandleQueryDominoRunning);
    Set(CommandCode::Noop, HandleNoop);
    Set(CommandCode::QueryZero, HandleQueryZero);
    Set(CommandCode::TestFlag, HandleTestFlag);
    Set(CommandCode::EndSession, HandleEndSession);
    Set(CommandCode::Unknown, HandleUnknown);
  }

  void Set(int code, CommandHandler handler) {
    if (!(code >= 0 && code <= 127) && code != kUnknownCode)
      throw std::invalid_argument("command code out of range: " + std::to_string(code));
    std::lock_guard<std::mutex> lock(mutex_);
    handlers_[static_cast<std::size_t>(code)] = std::move(handler);
  }
  void Set(CommandCode code, CommandHandler handler) { Set(static_cast<int>(code), std::move(handler)); }

  CommandHandler Get(int code) {
    if (code < 0 || code > kUnknownCode) return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    return handlers_[static_cast<std::size_t>(code)];
  }

 private:
  std::mutex mutex_;
  std::array<CommandHandler, kUnknownCode + 1> handlers_;
};

CommandTable& Table() {
  static CommandTable table;
  return table;
}

}  // namespace

void RegisterCommand(int code, CommandHandler handler) { Table().Set(code, std::move(handler)); }

void RegisterCommand(CommandCode code, CommandHandler handler) {
  RegisterCommand(static_cast<int>(code), std::move(handler));
}

void UnregisterCommand(int code) { Table().Set(code, nullptr); }

bool IsRegisteredCommand(int code) { return Table().Get(code) != nullptr; }

void ReadCommand(platform::SOCKET client, Command& command) {
  command.payload.clear();
  command.code = static_cast<std::int8_t>(RecvByte(client));
  if (command.code == static_cast<int>(CommandCode::ListReports)) {
    command.payload.assign(1, 0);
    RecvBuffer(client, command.payload);
  }
  if (command.code < 0 || !IsRegisteredCommand(command.code)) command.code = kUnknownCode;
}

bool DispatchCommand(platform::SOCKET client, Command& command) {
  CommandHandler handler = Table().Get(command.code);
  if (!handler) throw WireError("Unspecified command code!\n");
  return handler(client, command);
}

}  // namespace ark
