#include "tools/arkctl/json_output.h"

namespace ark {

std::string JsonLine(const Json& value) {
  if (!value.is_structured()) return value.dump(-1, ' ', false, Json::error_handler_t::replace);
  const bool object = value.is_object();
  std::string out = object ? "{" : "[";
  const char* separator = "";
  for (auto it = value.begin(); it != value.end(); ++it) {
    out += separator;
    if (object) out += JsonLine(it.key()) + ": ";
    out += JsonLine(*it);
    separator = ", ";
  }
  return out + (object ? "}" : "]");
}

}  // namespace ark
