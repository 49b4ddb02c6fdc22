#include "dominosim/digest.h"

#include <dirent.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <strings.h>

#include <algorithm>
#include <memory>

#include "dominosim/database.h"
#include "dominosim/le_bytes.h"
#include "dominosim/status.h"
#include "platform/posix/kit/file_io.h"

namespace dominosim {

using platform::posix::FlockGuard;
using platform::posix::PReadAll;

namespace {

struct MdCtxFree {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
bool IsDatabaseName(const std::string& name) {
  std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  const char* ext = name.c_str() + dot;
  return ::strcasecmp(ext, ".nsf") == 0 || ::strcasecmp(ext, ".ntf") == 0 || ::strcasecmp(ext, ".box") == 0;
}

void Walk(const std::string& dir, const std::string& prefix, std::vector<std::string>& out) {
  std::vector<std::string> names;
  platform::posix::ListNames(dir, names);  // an unreadable directory holds no database
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    std::string path = dir + "/" + name;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      Walk(path, prefix + name + "/", out);
    } else if (S_ISREG(st.st_mode) && IsDatabaseName(name)) {
      out.push_back(prefix + name);
    }
  }
}

}  // namespace

std::vector<std::string> FindDatabaseFiles(const std::string& dir) {
  std::vector<std::string> out;
  Walk(dir, "", out);
  std::sort(out.begin(), out.end());
  return out;
}

STATUS DigestDatabase(const std::string& hostPath, const std::string& stateDir, std::string* hex) {
  DatabaseOptions options;
  options.stateDir = stateDir;
  std::unique_ptr<Database> db;
  if (STATUS s = Database::Open(hostPath, options, db)) return s;
  std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) return ERR_IO;

  FlockGuard guard(db->lockFd(), false);
  DbHeader header;
  if (STATUS s = db->ReadHeaderUnlocked(header)) return s;
  std::uint8_t fields[8 + 16 + 4 + 16 + 4 + kDbRecordSize];
  std::uint8_t* p = fields;
  std::memcpy(p, "DSIMDIG1", 8);
  std::memcpy(p + 8, header.instanceId.data(), 16);
  PutU32(p + 24, header.logged);
  std::memcpy(p + 28, header.logId.data(), 16);
  PutU32(p + 44, header.pageCount);
  std::memcpy(p + 48, header.dbRecord.data(), kDbRecordSize);
  EVP_DigestUpdate(ctx.get(), fields, sizeof fields);

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
    EVP_DigestUpdate(ctx.get(), buffer.data(), std::size_t(n) * kPageSize);
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1) return ERR_IO;
  static const char kHex[] = "0123456789abcdef";
  hex->clear();
  for (unsigned int i = 0; i < length; ++i) {
    hex->push_back(kHex[digest[i] >> 4]);
    hex->push_back(kHex[digest[i] & 15]);
  }
  return NOERROR;
}

}  // namespace dominosim
