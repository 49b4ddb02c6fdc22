// The error information of a thread: the description a component left with
// its last failed call, for its caller to take.
#include <optional>

#include "platform/com.h"

namespace platform {
namespace {

thread_local std::optional<std::string> description;

}  // namespace

void SetErrorDescription(const std::string& text) { description = text; }

bool TakeErrorDescription(std::string& text) {
  if (!description) return false;
  text = std::move(*description);
  description.reset();
  return true;
}

}  // namespace platform
