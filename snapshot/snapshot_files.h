// A snapshot's files for reading, for the commands that need single files of
// a snapshot rather than a revert of the whole volume (a single-database
// restore): the snapshot component's own interface ISnapshotFiles gives the
// snapshot's root folder. A storage's component without it refuses here only.
#pragma once

#include <string>

namespace ark {

// The root folder of snapshot snapshotName of the volume whose drive letter
// is the first character of driveLetter, as a Windows path that the
// platform's file calls open; its tree is the volume's as the snapshot took
// it, to be read and never changed. Returns 0 with root set, or -1 with
// errorText set to one line without a line end:
//   the component is not installed or cannot be created:
//     "The snapshot component of volume X cannot be reached: <system text>"
//   it lacks the interface:
//     "The snapshot component of volume X: cannot show a snapshot's files;
//      restore the whole volume instead." (one line)
//   no such snapshot: "Snapshot NAME of volume X does not exist."
//   the store lies where no drive reaches: "The snapshot store of volume X
//     is not reachable through the drive map; map a drive to its folder."
//   anything else: "The snapshot component of volume X cannot show
//     snapshot NAME: <system text>"
int SnapshotRootForReading(const std::u16string& driveLetter, const std::u16string& snapshotName,
                           std::string& root, std::string& errorText);

}  // namespace ark
