// A writable clone of a snapshot for a drill, through the component's own
// interface ISnapshotClones: made beside the snapshot in its store without
// copying data, and removed again when the object ends unless kept.
#pragma once

#include <string>

namespace ark {

class SnapshotClone {
 public:
  SnapshotClone() = default;
  ~SnapshotClone();  // removes the clone unless kept
  SnapshotClone(const SnapshotClone&) = delete;
  SnapshotClone& operator=(const SnapshotClone&) = delete;

  enum class Made { Clone, CannotClone, Failed };
  // Clones snapshot snapshotName of the volume of driveLetter (its first
  // character). Clone: root() is the clone's root folder, a Windows path
  // holding the volume's tree. CannotClone: the component lacks the
  // interface or its store's file system cannot clone without copying; why
  // says which (the caller copies instead). Failed: why is the reason, one
  // line without a line end.
  Made Create(const std::u16string& driveLetter, const std::u16string& snapshotName, std::string& why);
  const std::string& root() const { return root_; }
  // The clone stays when the object ends.
  void Keep() { root_.clear(); }
  // Takes charge of the clone at root (a Windows path that Create gave) of
  // the volume of driveLetter, made by an earlier run: Remove removes it.
  void Adopt(const std::u16string& driveLetter, const std::string& root);
  // Removes the clone now: "" or why it could not be removed.
  std::string Remove();

 private:
  std::u16string drive_;
  std::string root_;
};

}  // namespace ark
