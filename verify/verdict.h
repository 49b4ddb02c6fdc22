// What a verification concludes about one snapshot: how far a restore from
// it can go, and the first reason that keeps it from going further.
#pragma once

#include <string>

namespace ark {

enum class Restorability { UpToTheMinute, PointInTimeOnly, NotRestorable };

class SnapshotVerdict {
 public:
  explicit SnapshotVerdict(std::string name) : name_(std::move(name)) {}

  // A fault that makes the snapshot useless for a restore. The first one
  // given is the reason the verdict names.
  void NotRestorable(const std::string& reason) {
    if (level_ != Restorability::NotRestorable) reason_ = reason;
    level_ = Restorability::NotRestorable;
  }
  // A fault that only rules out rolling forward through the logs.
  void PointInTimeOnly(const std::string& reason) {
    if (level_ == Restorability::UpToTheMinute) {
      level_ = Restorability::PointInTimeOnly;
      reason_ = reason;
    }
  }

  const std::string& name() const { return name_; }
  void set_name(std::string name) { name_ = std::move(name); }
  Restorability level() const { return level_; }
  const std::string& reason() const { return reason_; }

  // "<name>: restorable up to the minute\r\n", "<name>: restorable to point
  // in time only (<reason>)\r\n" or "<name>: NOT restorable (<reason>)\r\n".
  std::string Line() const {
    switch (level_) {
      case Restorability::UpToTheMinute:
        return name_ + ": restorable up to the minute\r\n";
      case Restorability::PointInTimeOnly:
        return name_ + ": restorable to point in time only (" + reason_ + ")\r\n";
      case Restorability::NotRestorable:
        break;
    }
    return name_ + ": NOT restorable (" + reason_ + ")\r\n";
  }

 private:
  std::string name_;
  Restorability level_ = Restorability::UpToTheMinute;
  std::string reason_;
};

}  // namespace ark
