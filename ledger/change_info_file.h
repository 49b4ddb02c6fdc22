// A database's change-information file below a snapshot's ArkLedger
// directory: where it lies, and its 8-byte header, the size of the change
// information that follows it (low 32-bit word, then high, little-endian).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/files.h"
#include "platform/win_types.h"

namespace ark {

inline constexpr std::size_t kChangeInfoHeaderSize = 8;
using ChangeInfoHeader = std::array<BYTE, kChangeInfoHeaderSize>;

// Where the change information of a database is kept below an ArkLedger
// directory: the tree mirrors the database's directory on its volume (the
// drive dropped), and ".nsf", ".ntf" and ".box" in any case become ".nsf.dat",
// ".ntf.dat" and ".box.dat"; any other extension is kept lower-cased with
// ".dat" after it, so that no database's file can land on another's. Joined
// to the directory with one "\" (one is added unless it ends in "\" or "/").
std::string MakeChangeInfoPath(const std::string& ledgerDirectory, const std::string& databasePath);
// The same path relative to the ArkLedger directory, as change_info_list
// names it ("Domino\Data\mail\jo.nsf.dat").
std::string ChangeInfoRelativePath(const std::string& databasePath);

ChangeInfoHeader EncodeChangeInfoHeader(DWORD sizeLow, DWORD sizeHigh);
void DecodeChangeInfoHeader(const ChangeInfoHeader& header, DWORD& sizeLow, DWORD& sizeHigh);
// The number of bytes of change information that the size words announce.
inline std::uint64_t ChangeInfoSize(DWORD sizeLow, DWORD sizeHigh) {
  return (std::uint64_t(sizeHigh) << 32) | sizeLow;
}

// Reads from the file until size bytes are in buffer or the file ends (as a
// byte-mode fread does), so that blocks are whole except the last; got says
// how many arrived. ERROR_SUCCESS, or the platform's code of the read that
// failed.
DWORD ReadFully(platform::File& file, void* buffer, std::size_t size, std::size_t& got);

}  // namespace ark
