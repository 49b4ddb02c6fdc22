// The server's snapshot hint file (GetSnapshotHintPath): the names of the
// server's snapshots, one per line, each ended by "\n", so that discovery and
// a restore find them without asking the component for every name.
#pragma once

#include <string>
#include <vector>

namespace ark {

// Appends the names in line order: empty lines are skipped (a blank line
// left by an editor must not hide the names after it), a "\r" before the
// line end is dropped and a line longer than 255 characters is cut. Creates
// an empty file, and the directories above it, when there is none. 0, or -1
// when the path is empty or the file can be neither read nor created.
int ReadSnapshotHintNames(const std::string& hintPath, std::vector<std::string>& names);
// Writes the file anew, whole: each name upper-cased, once, followed by
// "\n"; empty names are left out. 0, or -1 when the path is empty or the file
// cannot be written.
int WriteSnapshotHintNames(const std::string& hintPath, const std::vector<std::string>& names);

}  // namespace ark
