// The change-information file's path below an ArkLedger directory and its
// header.
#include "ledger/change_info_file.h"

#include "platform/text.h"

namespace ark {

namespace {

void PutWord(BYTE* out, DWORD value) {
  for (int i = 0; i < 4; ++i) out[i] = BYTE((value >> (8 * i)) & 0xFF);
}

DWORD GetWord(const BYTE* bytes) {
  return DWORD(bytes[0]) | DWORD(bytes[1]) << 8 | DWORD(bytes[2]) << 16 | DWORD(bytes[3]) << 24;
}

}  // namespace

std::string ChangeInfoRelativePath(const std::string& databasePath) {
  // Split like the platform's path splitter: drive, directory (up to the
  // last separator), file name and extension (from the last dot).
  std::string rest = databasePath;
  if (rest.size() >= 2 && rest[1] == ':') rest.erase(0, 2);
  const std::size_t lastSeparator = rest.find_last_of("\\/");
  const std::string directory = lastSeparator == std::string::npos ? "" : rest.substr(0, lastSeparator + 1);
  const std::string file = lastSeparator == std::string::npos ? rest : rest.substr(lastSeparator + 1);
  const std::size_t dot = file.rfind('.');
  const std::string fileName = dot == std::string::npos ? file : file.substr(0, dot);
  const std::string extension = dot == std::string::npos ? "" : file.substr(dot);

  std::string relative = directory + fileName + platform::ToLowerAnsi(extension) + ".dat";
  if (!relative.empty() && relative.front() == '\\') relative.erase(0, 1);
  return relative;
}

std::string MakeChangeInfoPath(const std::string& ledgerDirectory, const std::string& databasePath) {
  std::string path = ledgerDirectory;
  if (path.empty() || (path.back() != '\\' && path.back() != '/')) path += '\\';
  return path + ChangeInfoRelativePath(databasePath);
}

ChangeInfoHeader EncodeChangeInfoHeader(DWORD sizeLow, DWORD sizeHigh) {
  ChangeInfoHeader header{};
  PutWord(header.data(), sizeLow);
  PutWord(header.data() + 4, sizeHigh);
  return header;
}

void DecodeChangeInfoHeader(const ChangeInfoHeader& header, DWORD& sizeLow, DWORD& sizeHigh) {
  sizeLow = GetWord(header.data());
  sizeHigh = GetWord(header.data() + 4);
}

DWORD ReadFully(platform::File& file, void* buffer, std::size_t size, std::size_t& got) {
  got = 0;
  auto* bytes = static_cast<unsigned char*>(buffer);
  while (got < size) {
    std::size_t n = 0;
    const DWORD error = file.Read(bytes + got, size - got, &n);
    if (error != ERROR_SUCCESS) return error;
    if (n == 0) break;
    got += n;
  }
  return ERROR_SUCCESS;
}

}  // namespace ark
