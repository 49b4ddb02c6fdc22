// The Domino API of the restore tests: a GoogleMock whose defaults answer
// like an idle runtime (start-up works, every status has a text, the current
// log position is a given number and log identifier).
#pragma once

#include <gmock/gmock.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include "tests/support/mock_domino_api.h"

using ::testing::_;
using ::testing::NiceMock;

// Log identifier words 1, 2, 4 and 8: log series "0000000f".
inline constexpr std::array<BYTE, 16> kLogId{1, 0, 0, 0, 2, 0, 0, 0, 4, 0, 0, 0, 8, 0, 0, 0};
inline constexpr const char* kLogSeries = "0000000f";

// Reads a packed recovery list (paths each ended by a NUL, one more NUL at
// the end) back into its paths.
inline std::vector<std::string> UnpackList(const char* packed, std::size_t* bytes = nullptr) {
  std::vector<std::string> paths;
  const char* p = packed;
  while (*p != '\0') {
    paths.emplace_back(p);
    p += paths.back().size() + 1;
  }
  // An empty list is two NULs: the runtime may look past the first.
  if (bytes != nullptr) *bytes = paths.empty() ? (packed[1] == '\0' ? 2 : 1) : std::size_t(p - packed) + 1;
  return paths;
}

class FakeDomino {
 public:
  FakeDomino() {
    using ::testing::Invoke;
    using ::testing::Return;
    ON_CALL(api, InitRuntime(_, _)).WillByDefault(Return(0));
    ON_CALL(api, GetErrorText(_, _, _, _))
        .WillByDefault(Invoke([](WORD, STATUS status, char* buffer, WORD size) -> WORD {
          int n = std::snprintf(buffer, size, "Domino status 0x%04X", unsigned(status));
          return WORD(n < 0 ? 0 : n);
        }));
    auto position = [this](BYTE logId[16], DWORD* number, char* path) -> STATUS {
      std::memcpy(logId, currentLogId.data(), 16);
      *number = currentLog;
      path[0] = '\0';
      return positionStatus;
    };
    ON_CALL(api, GetFirstArchiveLog(_, _, _)).WillByDefault(Invoke(position));
    ON_CALL(api, GetNextArchiveLog(_, _, _)).WillByDefault(Invoke(position));
  }

  DWORD currentLog = 1;
  STATUS positionStatus = ERR_NO_MORE_LOGS;  // what the log listing ends with
  std::array<BYTE, 16> currentLogId = kLogId;
  NiceMock<MockDominoApi> api;
};
