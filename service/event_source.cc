#include "service/event_source.h"

#include "platform/host.h"
#include "platform/registry.h"
#include "service/event_log.h"

namespace ark {

std::string MessageFilePath() {
  std::string module = platform::GetModuleFileName();
  std::size_t slash = module.find_last_of("\\");
  std::string directory = slash == std::string::npos ? std::string() : module.substr(0, slash + 1);
  return directory + kMessageFileName;
}

void RegisterEventSource() {
  const std::string key = std::string(kEventLogApplicationKey) + kEventSourceName;
  const std::string path = MessageFilePath();
  if (platform::RegCreateKey(key) != ERROR_SUCCESS) throw RegKeyCreationFailure(key);
  if (platform::RegSetString(key, "EventMessageFile", path, platform::RegType::ExpandString) != ERROR_SUCCESS)
    throw SetEventFileFailure(path);
  if (platform::RegSetDword(key, "CategoryCount", kEventCategoryCount) != ERROR_SUCCESS)
    throw SetCategoryCountFailure(path);
  if (platform::RegSetString(key, "CategoryMessageFile", path, platform::RegType::ExpandString) != ERROR_SUCCESS)
    throw SetCategoryFileFailure(path);
  if (platform::RegSetDword(key, "TypesSupported", kEventTypesSupported) != ERROR_SUCCESS)
    throw SetEventTypesFailure(path);
}

}  // namespace ark
