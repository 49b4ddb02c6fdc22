// reports list TYPE | show TYPE NAME | delete TYPE NAME | clear TYPE
#include <cstdio>
#include <string>
#include <vector>

#include "net/wire.h"
#include "tools/arkctl/command_group.h"
#include "tools/arkctl/connection.h"
#include "tools/arkctl/json_output.h"
#include "tools/arkctl/report_type_arg.h"

namespace ark {

namespace {

struct ReportArgs {
  std::string type;
  std::string name;
};

int TypeOf(const ReportArgs& args) { return ParseReportType(args.type); }

void ExpectOk(ServiceConnection& connection, const char* name, CommandCode code) {
  int status = RecvByte(connection.socket());
  if (status != 1) connection.Refused(name, code, status);
}

// Sends a command whose request is the type byte and the report name.
void SendNamedRequest(ServiceConnection& connection, CommandCode code, const ReportArgs& args) {
  connection.SendCommand(code);
  SendByte(connection.socket(), TypeOf(args));
  SendString(connection.socket(), args.name);
}

void List(const CtlContext& context, const ReportArgs& args) {
  ServiceConnection connection(context);
  connection.SendCommand(CommandCode::ListReports);
  SendByte(connection.socket(), TypeOf(args));
  ExpectOk(connection, "reports list", CommandCode::ListReports);
  std::uint32_t count = RecvU32(connection.socket());
  std::vector<std::string> names;
  for (std::uint32_t i = 0; i < count; ++i) names.push_back(RecvString(connection.socket()));
  connection.Finish();
  if (context.json) {
    std::printf("%s\n", JsonLine(Json(names)).c_str());
  } else {
    for (const std::string& name : names) std::printf("%s\n", name.c_str());
  }
}

void Show(const CtlContext& context, const ReportArgs& args) {
  ServiceConnection connection(context);
  SendNamedRequest(connection, CommandCode::ReadReport, args);
  ExpectOk(connection, "reports show", CommandCode::ReadReport);
  std::string text = RecvString(connection.socket());
  connection.Finish();
  if (context.json) {
    const Json out = {{"type", ReportTypeFolder(TypeOf(args))}, {"name", args.name}, {"text", text}};
    std::printf("%s\n", JsonLine(out).c_str());
  } else {
    std::fwrite(text.data(), 1, text.size(), stdout);
  }
}

void Delete(const CtlContext& context, const ReportArgs& args) {
  ServiceConnection connection(context);
  // The service answers success for a report that is not there; asking for
  // its time first tells the user about a mistyped name.
  SendNamedRequest(connection, CommandCode::GetReportTime, args);
  ExpectOk(connection, "reports delete", CommandCode::GetReportTime);
  RecvU32(connection.socket());
  RecvU32(connection.socket());
  SendNamedRequest(connection, CommandCode::DeleteReport, args);
  ExpectOk(connection, "reports delete", CommandCode::DeleteReport);
  connection.Finish();
  std::printf("deleted %s report %s\n", ReportTypeFolder(TypeOf(args)).c_str(), args.name.c_str());
}

void Clear(const CtlContext& context, const ReportArgs& args) {
  ServiceConnection connection(context);
  connection.SendCommand(CommandCode::DeleteReportsOfType);
  SendByte(connection.socket(), TypeOf(args));
  ExpectOk(connection, "reports clear", CommandCode::DeleteReportsOfType);
  connection.Finish();
  std::printf("deleted every %s report\n", ReportTypeFolder(TypeOf(args)).c_str());
}

void AddType(CLI::App* command, ReportArgs& args) {
  command->add_option("TYPE", args.type, kReportTypeHelp)
      ->required()
      ->check(CLI::Validator(
          [](std::string& value) {
            return ParseReportType(value) < 0 ? std::string("TYPE must be ") + kReportTypeHelp : std::string();
          },
          "TYPE"));
}

void SetUp(CLI::App& app, CtlContext& context) {
  static ReportArgs args;
  CLI::App* reports = app.add_subcommand("reports", "the reports of backups, restores and deletions");
  reports->require_subcommand(1);
  CLI::App* list = reports->add_subcommand("list", "list the reports of a type");
  AddType(list, args);
  list->callback([&context] { List(context, args); });
  CLI::App* show = reports->add_subcommand("show", "print a report");
  AddType(show, args);
  show->add_option("NAME", args.name, "report name")->required();
  show->callback([&context] { Show(context, args); });
  CLI::App* remove = reports->add_subcommand("delete", "delete one report");
  AddType(remove, args);
  remove->add_option("NAME", args.name, "report name")->required();
  remove->callback([&context] { Delete(context, args); });
  CLI::App* clear = reports->add_subcommand("clear", "delete every report of a type");
  AddType(clear, args);
  clear->callback([&context] { Clear(context, args); });
}

}  // namespace

ARKCTL_COMMAND_GROUP(reports, SetUp);

}  // namespace ark
