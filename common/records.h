// The shared records: one Domino server, its volumes and snapshots, and the
// operation requests that the client sends.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "common/output_sink.h"
#include "platform/win_types.h"

namespace ark {

// Storage facts of the volume that holds a server directory.
struct VolumeRecord {
  char16_t driveLetter = 0;
  std::string diskPath;         // first text of the storage listing
  std::string devicePath;       // second text of the storage listing
  std::uint8_t present = 0;     // 1 once a disk matched
  std::string volumeName;
  std::string devicePathPart1;
  std::string devicePathPart2;
};

// Fixed zero-terminated text field of the given size; Set() cuts a text that
// does not fit (terminator included).
template <std::size_t N>
struct FixedText {
  std::array<char, N> bytes{};
  void Set(const std::string& text) {
    bytes.fill(0);
    std::size_t n = text.size() < N - 1 ? text.size() : N - 1;
    for (std::size_t i = 0; i < n; ++i) bytes[i] = text[i];
  }
  std::string Get() const {
    std::size_t n = 0;
    while (n < N && bytes[n] != 0) ++n;
    return std::string(bytes.data(), n);
  }
};

template <std::size_t N>
struct FixedWideText {
  std::array<char16_t, N> chars{};
  void Set(const std::u16string& text) {
    chars.fill(0);
    std::size_t n = text.size() < N - 1 ? text.size() : N - 1;
    for (std::size_t i = 0; i < n; ++i) chars[i] = text[i];
  }
  std::u16string Get() const {
    std::size_t n = 0;
    while (n < N && chars[n] != 0) ++n;
    return std::u16string(chars.data(), n);
  }
};

// One snapshot of a server as the client sees it.
struct SnapshotEntry {
  std::array<std::uint8_t, 16> bookkeeping{};
  std::string name;
  FixedText<256> nameText;
  FixedWideText<256> wideName;
  FixedText<32> dateText;     // "%d-%d-%d" month, day, year
  FixedText<32> timeText;     // "%d:%d:%d" hour, minute, second
  FixedText<32> stampText;    // "%d-%d-%d_%d.%d.%d"
  FixedText<32> displayText;  // "%d/%d/%d %d:%d:00"
  // The wire's fields 6 to 8: a 32-character wide text and two numbers. The
  // service sends the snapshot's name and the two halves of its creation time.
  FixedWideText<32> componentName;
  std::uint32_t componentValue1 = 0;  // creation time, low 32 bits (UTC FILETIME)
  std::uint32_t componentValue2 = 0;  // creation time, high 32 bits
};

// One Domino server of the host.
struct DominoServerInfo {
  std::int32_t partition = 0;
  bool clientFlag = false;
  VolumeRecord dataVolume;
  VolumeRecord logVolume;
  std::string dataDirectory;
  std::string logDirectory;
  std::string notesIniPath;
  std::string serverName;
  std::string commonName;
  std::string registryValueName;
  bool loggingEnabled = false;
  std::vector<SnapshotEntry> snapshots;
  OutputSink output;
  bool partitioned = false;
  std::uint32_t loggingStyle = 0;
  std::int32_t archiveLogging = 0;
  bool serverNameResolved = false;
  std::string loggingStyleText;
  std::int32_t logDirectoryRelative = 0;
  std::int32_t dominoVersion = 0;
};

struct BackupRequest {
  bool deleteExcessSnapshots = false;
  std::uint32_t keepCount = 0;
  bool flag3 = false;  // received, not read by the backup run
  bool flag4 = false;
  std::string text5;
  OutputSink output;
};

struct RestoreRequest {
  OutputSink output;
  DominoServerInfo server;
  SnapshotEntry snapshot;
  std::uint8_t pointInTime = 0;  // 1: POINT IN TIME; any other value: UP TO THE MINUTE
  bool flag4 = false;  // received, not read by the restore
  bool flag5 = false;
  std::uint32_t number6 = 0;
};

// A single-database restore (command 17): databases of one snapshot of a
// server, each copied to a folder below the data directory or in place of
// the live database, and recovered to a moment.
inline constexpr std::uint32_t kRestoreToSnapshotTime = 0;
inline constexpr std::uint32_t kRestoreUpToTheMinute = 1;
inline constexpr std::uint32_t kRestoreToMoment = 2;
inline constexpr std::uint32_t kPlaceInFolder = 0;
inline constexpr std::uint32_t kPlaceInPlace = 1;

struct DatabaseRestoreRequest {
  OutputSink output;  // does not travel
  DominoServerInfo server;
  std::string snapshotName;     // "": the newest snapshot at or before the moment
  std::uint32_t target = kRestoreToSnapshotTime;
  std::string moment;           // "YYYY-MM-DD HH:MM:SS" local, for kRestoreToMoment
  std::uint32_t placement = kPlaceInFolder;
  std::string folder;           // below the data directory; "": "restore"
  bool newReplicaId = false;
  std::vector<std::string> paths;  // relative to the data directory; "mail\" is a folder
};

}  // namespace ark
