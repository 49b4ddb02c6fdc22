// arkserver with a crash point, for the system tests only: the same service,
// but the process exits hard (_exit, as a power cut or a killed service
// ends it) when a run reaches the step that ARK_CRASH_AT names.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <string>

#include "platform/host_seam.h"
#include "service/service_host.h"

namespace {

constexpr int kCrashExitCode = 86;

class CrashAt : public platform::HostSeam {
 public:
  void StepReached(std::string_view step) override {
    const char* at = std::getenv("ARK_CRASH_AT");
    if (at == nullptr || step != at) return;
    const std::string said = "arkserver: crash at " + std::string(step) + "\n";
    (void)!::write(STDERR_FILENO, said.data(), said.size());
    ::_exit(kCrashExitCode);
  }
};

}  // namespace

int main(int argc, char** argv) {
  ark::ServiceOptions options;
  CLI::App app{"arkserver that exits hard at the step ARK_CRASH_AT names"};
  app.add_option("--root", options.root)->required();
  app.add_option("--port", options.port);
  app.add_option("--io-timeout", options.ioTimeoutSeconds);
  CLI11_PARSE(app, argc, argv);
  CrashAt seam;
  platform::HostSeamOverride installed(seam);
  return ark::RunServiceProcess(options);
}
