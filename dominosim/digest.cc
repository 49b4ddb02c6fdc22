#include "dominosim/digest.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include "dominosim/checksum.h"
#include "dominosim/database.h"
#include "dominosim/le_bytes.h"
#include "dominosim/status.h"
#include "platform/kit/file_io.h"

namespace dominosim {

using platform::kit::FlockGuard;
using platform::kit::PReadAll;

namespace {

bool IsDatabaseName(const std::string& name) {
  std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  std::string ext = name.substr(dot);
  for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".nsf" || ext == ".ntf" || ext == ".box";
}

void Walk(const std::string& dir, const std::string& prefix, std::vector<std::string>& out) {
  std::vector<std::string> names;
  platform::kit::ListNames(dir, names);  // an unreadable directory holds no database
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    std::string path = dir + "/" + name;
    if (platform::kit::IsDirectory(path)) {
      Walk(path, prefix + name + "/", out);
    } else if (IsDatabaseName(name) && platform::kit::IsRegularFile(path)) {
      out.push_back(prefix + name);
    }
  }
}

}  // namespace

std::string ToHex(const std::uint8_t* bytes, std::size_t size) {
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (std::size_t i = 0; i < size; ++i) {
    hex.push_back(kHex[bytes[i] >> 4]);
    hex.push_back(kHex[bytes[i] & 15]);
  }
  return hex;
}

std::vector<std::string> FindDatabaseFiles(const std::string& dir) {
  std::vector<std::string> out;
  Walk(dir, "", out);
  std::sort(out.begin(), out.end());
  return out;
}

namespace {

STATUS Digest(const std::string& hostPath, const std::string& stateDir, bool contentOnly, std::string* hex) {
  DatabaseOptions options;
  options.stateDir = stateDir;
  std::unique_ptr<Database> db;
  if (STATUS s = Database::Open(hostPath, options, db)) return s;
  Sha256 sha;
  if (!sha.ok()) return ERR_IO;

  FlockGuard guard(db->lockFd(), false);
  DbHeader header;
  if (STATUS s = db->ReadHeaderUnlocked(header)) return s;
  if (contentOnly) {
    std::uint8_t fields[8 + 4 + kDbRecordSize];
    std::memcpy(fields, "DSIMCNT1", 8);
    PutU32(fields + 8, header.pageCount);
    std::memcpy(fields + 12, header.dbRecord.data(), kDbRecordSize);
    std::memset(fields + 12 + kRecordReplicaId, 0, kReplicaIdSize);
    sha.Update(fields, sizeof fields);
  } else {
    std::uint8_t fields[8 + 16 + 4 + 16 + 4 + kDbRecordSize];
    std::uint8_t* p = fields;
    std::memcpy(p, "DSIMDIG1", 8);
    std::memcpy(p + 8, header.instanceId.data(), 16);
    PutU32(p + 24, header.logged);
    std::memcpy(p + 28, header.logId.data(), 16);
    PutU32(p + 44, header.pageCount);
    std::memcpy(p + 48, header.dbRecord.data(), kDbRecordSize);
    sha.Update(fields, sizeof fields);
  }

  constexpr std::uint32_t kRun = 256;
  std::vector<std::uint8_t> buffer(std::size_t(kRun) * kPageSize);
  for (std::uint32_t first = 1; first < header.pageCount; first += kRun) {
    std::uint32_t n = std::min(kRun, header.pageCount - first);
    if (PReadAll(db->dataFd(), buffer.data(), std::size_t(n) * kPageSize,
                 std::uint64_t(first) * kPageSize) != 0)
      return ERR_DB_CORRUPT;
    for (std::uint32_t i = 0; i < n; ++i) {
      if (!PageIsSound(buffer.data() + std::size_t(i) * kPageSize, first + i)) return ERR_DB_CORRUPT;
    }
    sha.Update(buffer.data(), std::size_t(n) * kPageSize);
  }
  *hex = sha.FinalHex();
  return hex->empty() ? ERR_IO : NOERROR;
}

}  // namespace

STATUS DigestDatabase(const std::string& hostPath, const std::string& stateDir, std::string* hex) {
  return Digest(hostPath, stateDir, false, hex);
}

STATUS DigestDatabaseContent(const std::string& hostPath, const std::string& stateDir, std::string* hex) {
  return Digest(hostPath, stateDir, true, hex);
}

}  // namespace dominosim
