// The report commands: list, time, read and delete the reports of a type.
// Every failure of the store becomes a status byte and the session goes on;
// a failure of the connection itself ends the session, since the position
// in the client's byte stream is then unknown.
#include "net/report_commands.h"

#include <string>
#include <vector>

#include "net/wire.h"
#include "reports/report_store.h"

namespace ark {

namespace {

constexpr int kStatusOk = 1;
constexpr int kStatusInvalidType = 2;
constexpr int kStatusTimeFailed = 3;
constexpr int kStatusReadFailed = 4;
constexpr int kStatusListFailed = 5;
constexpr int kStatusDeleteFailed = 6;

int CheckedReportType(int type) {
  if (!ReportStore::IsValidReportType(type)) throw InvalidReportType();
  return type;
}

int ReadReportType(platform::SOCKET client) {
  return CheckedReportType(static_cast<std::int8_t>(RecvByte(client)));
}

std::string ReadReportName(platform::SOCKET client) {
  std::string name = RecvString(client);
  if (!IsSafeReportName(name)) throw InvalidReportName(name);
  return name;
}

// Runs body, which sends status 1 and the data itself on success; answers
// status 2 for an invalid type and failureStatus for any other failure of
// the store. Connection failures end the session.
template <typename Body>
void Answer(platform::SOCKET client, int failureStatus, Body&& body) {
  int status = failureStatus;
  try {
    body();
    return;
  } catch (const WireError&) {
    throw;
  } catch (const InvalidReportType&) {
    status = kStatusInvalidType;
  } catch (...) {
    status = failureStatus;
  }
  SendByte(client, status);
}

}  // namespace

bool IsSafeReportName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find_first_of(std::string_view("\\/:\0", 4)) == std::string_view::npos;
}

bool HandleListReports(platform::SOCKET client, Command& command) {
  Answer(client, kStatusListFailed, [&] {
    int type = CheckedReportType(command.payload.empty() ? -1 : static_cast<std::int8_t>(command.payload[0]));
    std::vector<std::string> names = TheReportStore().ListReports(type);
    SendByte(client, kStatusOk);
    SendU32(client, static_cast<std::uint32_t>(names.size()));
    for (const std::string& name : names) SendString(client, name);
  });
  return true;
}

bool HandleGetReportTime(platform::SOCKET client, Command&) {
  Answer(client, kStatusTimeFailed, [&] {
    int type = ReadReportType(client);
    std::string name = ReadReportName(client);
    FILETIME time = TheReportStore().GetReportTime(type, name);
    SendByte(client, kStatusOk);
    SendU32(client, time.dwLowDateTime);
    SendU32(client, time.dwHighDateTime);
  });
  return true;
}

bool HandleReadReport(platform::SOCKET client, Command&) {
  Answer(client, kStatusReadFailed, [&] {
    int type = ReadReportType(client);
    std::string name = ReadReportName(client);
    std::string text = TheReportStore().ReadReport(type, name);
    SendByte(client, kStatusOk);
    SendString(client, text);
  });
  return true;
}

bool HandleDeleteReport(platform::SOCKET client, Command&) {
  Answer(client, kStatusDeleteFailed, [&] {
    int type = ReadReportType(client);
    std::string name = ReadReportName(client);
    TheReportStore().DeleteReport(type, name);
    SendByte(client, kStatusOk);
  });
  return true;
}

bool HandleDeleteReportsOfType(platform::SOCKET client, Command&) {
  Answer(client, kStatusDeleteFailed, [&] {
    int type = ReadReportType(client);
    TheReportStore().DeleteReportsOfType(type);
    SendByte(client, kStatusOk);
  });
  return true;
}

}  // namespace ark
