// The optional output file "ark_output.txt" beside the executable.
#include "output/output.h"

#include "platform/files.h"
#include "platform/host.h"

namespace {

constexpr const char* kOutputFileName = "ark_output.txt";

}  // namespace

void AppendToOutputFile(const OutputSink& sink) {
  // Drive and directory of the module file name, with its trailing "\".
  const std::string module = platform::GetModuleFileName();
  const std::size_t slash = module.find_last_of("\\/");
  const std::string directory = slash == std::string::npos ? std::string() : module.substr(0, slash + 1);
  platform::File file;
  if (file.Open(directory + kOutputFileName, platform::File::Mode::Append) != ERROR_SUCCESS) return;
  file.Write(sink.message.data(), sink.message.size());  // failures are dropped silently
}
