#include "platform/shared/flush_override.h"

#include <functional>
#include <mutex>

#include "platform/files.h"

namespace platform {
namespace {

std::mutex overrideMutex;
std::function<DWORD(const std::string&)> overrideAnswer;  // guarded by overrideMutex

}  // namespace

namespace shared {

bool FlushOverridden(const std::string& winPath, DWORD& answer) {
  std::function<DWORD(const std::string&)> answerFor;
  {
    std::lock_guard<std::mutex> lock(overrideMutex);
    if (!overrideAnswer) return false;
    answerFor = overrideAnswer;
  }
  answer = answerFor(winPath);
  return true;
}

std::string WinDirName(const std::string& winPath) {
  const std::size_t separator = winPath.find_last_of('\\');
  std::string dir = separator == std::string::npos ? std::string() : winPath.substr(0, separator);
  while (dir.size() > 1 && dir.back() == '\\') dir.pop_back();
  if (dir.size() == 2 && dir[1] == ':') dir += '\\';  // a drive's root
  return dir;
}

}  // namespace shared

FlushOverride::FlushOverride(std::function<DWORD(const std::string& path)> answer) {
  std::lock_guard<std::mutex> lock(overrideMutex);
  overrideAnswer = std::move(answer);
}

FlushOverride::~FlushOverride() {
  std::lock_guard<std::mutex> lock(overrideMutex);
  overrideAnswer = nullptr;
}

}  // namespace platform
