// The records that cross the snapshot component's binary interface (the
// component is a COM server of the system on Windows). The byte offsets the
// storage's component documents are those of a 32-bit build; these records
// keep its field order with pointers at their natural width, so a 32-bit
// build gets exactly those offsets and a 64-bit build the same records with
// 8-byte pointers (a test checks both sets of offsets).
//
// Ownership: the caller allocates a DriveSet's array and its strings and the
// name strings with the COM task allocator, and the component frees them
// (the caller keeps the DriveSet record itself); the lists the component
// returns (entries and their strings) are allocated with the COM task
// allocator and freed by the caller. GetSnapshotRoot (ISnapshotFiles) reads
// the caller's drive and name strings and returns the root as a string of
// the COM task allocator, which the caller frees.
#pragma once

#include <cstdint>

namespace ark::snapshot::native {

using WideChar = char16_t;  // a Windows WCHAR

struct DriveInfo {
  WideChar* driveLetter;  // one character and a terminator
  std::uint8_t flag;      // 1
};

struct DriveSet {
  std::uint8_t reserved0;
  std::uint8_t reserved1;
  std::uint32_t count;
  DriveInfo* drives;
};

// The first out-record of EnumerateSnapShots and the one of ListDisks.
struct List {
  std::uint32_t count;
  void* items;
};

struct SnapshotInfo {
  WideChar* name;
  std::uint32_t creationTimeLow;   // FILETIME (UTC)
  std::uint32_t creationTimeHigh;
  std::uint8_t extra[28];          // not interpreted by the engine
};

struct DiskInfo {
  std::uint32_t reserved0;
  WideChar* devicePath;  // "\\" + pieces separated by "\"
  WideChar* diskPath;    // "/" + volume + "/" + further pieces
  std::uint8_t reserved[36];
  std::uint32_t letterCount;
  WideChar** letters;    // first character of each is a drive letter
};

}  // namespace ark::snapshot::native
