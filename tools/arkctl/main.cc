// arkctl [--host H] [--port N] COMMAND: the client of the service's wire
// protocol, for people and scripts.
#include <cstdio>

#include "net/wire_error.h"
#include "tools/arkctl/command_group.h"

using namespace ark;

int main(int argc, char** argv) {
  CtlContext context;
  CLI::App app{"Talks to the backup and restore service."};
  app.add_option("--host", context.host, "service host")->capture_default_str();
  app.add_option("--port", context.port, "service port")->capture_default_str();
  app.add_option("--io-timeout", context.ioTimeoutSeconds, "seconds to wait for each answer")
      ->check(CLI::Range(1, 86400))
      ->capture_default_str();
  app.add_flag("--json", context.json, "print answers as JSON");
  app.require_subcommand(1);
  // The options above are also taken after the command ("arkctl discover
  // --json"): what a command does not know falls through to them. Set before
  // the commands are made, which inherit it.
  app.fallthrough();
  SetUpCommandGroups(app, context);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForAllHelp& help) {
    return app.exit(help);
  } catch (const CLI::ParseError& error) {
    app.exit(error);
    return kExitUsage;
  } catch (const CtlError& error) {
    std::fprintf(stderr, "arkctl: %s\n", error.what());
    return error.exitCode();
  } catch (const WireError& error) {
    std::fprintf(stderr, "arkctl: the conversation with the service at %s:%u failed: %s\n",
                 context.host.c_str(), unsigned(context.port), error.text().c_str());
    return kExitUnreachable;
  }
  return kExitOk;
}
