// arkserver.exe [--port N] [--io-timeout SECONDS]: the service ARKServer,
// started by the service control manager (install.cmd registers it). The
// machine's own registry, drives and Windows directory are its host.
#include <CLI/CLI.hpp>

#include "service/service_host.h"

using namespace ark;

int main(int argc, char** argv) {
  ServiceOptions options;
  CLI::App app{"The backup and restore service for Domino servers on snapshot storage."};
  app.add_option("--port", options.port, "TCP port to listen on (0: any free port)")->check(CLI::Range(0, 65535));
  app.add_option("--io-timeout", options.ioTimeoutSeconds, "seconds a client may stay silent during a read or write")
      ->check(CLI::Range(1, 86400));
  CLI11_PARSE(app, argc, argv);
  return RunServiceProcess(options);
}
