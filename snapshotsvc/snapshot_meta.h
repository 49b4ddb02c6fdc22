// The metadata file kept inside every snapshot folder ("snapshot.meta"):
// the snapshot's name in its original letter case and its creation time.
//
//   ark-snapshot 1
//   Name=dominosnap__HOST__SRV__recent
//   CreationTime=133194456000000000      (FILETIME, UTC, decimal)
//   Backend=dir
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/win_types.h"

namespace snapshotsvc {

inline constexpr const char* kMetaFileName = "snapshot.meta";

struct SnapshotMeta {
  std::string name;               // UTF-8 (the ANSI code page of the port)
  std::uint64_t creationTime = 0; // FILETIME, UTC
  std::string backend;            // "dir" or "btrfs"
};

std::string FormatMeta(const SnapshotMeta& meta);
// False for text that is not a complete metadata file.
bool ParseMeta(std::string_view text, SnapshotMeta& meta);

// Writes the file in folder durably and atomically (temporary, fsync,
// rename, fsync of the folder).
HRESULT WriteMetaFile(const std::string& folder, const SnapshotMeta& meta);
// HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) when missing,
// HRESULT_FROM_WIN32(ERROR_GEN_FAILURE) when malformed.
HRESULT ReadMetaFile(const std::string& folder, SnapshotMeta& meta);

}  // namespace snapshotsvc
