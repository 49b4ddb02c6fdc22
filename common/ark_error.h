// Base of the system's own error classes: each builds its text on demand.
// They are raised by value and caught by reference; Text() holds nothing and
// raises nothing but an allocation failure.
#pragma once

#include <string>

namespace ark {

class ARKError {
 public:
  virtual ~ARKError() = default;
  virtual std::string Text() const = 0;
};

// Errors of the service start-up.
class SvcError {
 public:
  virtual ~SvcError() = default;
  virtual std::string Text() const = 0;
};

}  // namespace ark
