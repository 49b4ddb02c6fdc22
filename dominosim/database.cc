#include "dominosim/database.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "dominosim/checksum.h"
#include "dominosim/page_fill.h"
#include "dominosim/status.h"
#include "dominosim/txn_log.h"
#include "dominosim/volume_hold.h"
#include "platform/kit/file_io.h"

namespace dominosim {

using platform::kit::FileSize;
using platform::kit::FlockGuard;
using platform::kit::OpenFile;
using platform::kit::PReadAll;
using platform::kit::PWriteAll;
using platform::kit::PathExists;
using platform::kit::RemoveFile;
using platform::kit::ReplaceFile;
using platform::kit::WriteAll;

std::string StateKeyFor(const std::string& canonicalPath) {
  std::uint64_t hash = 0xcbf29ce484222325ull;  // FNV-1a
  for (unsigned char c : canonicalPath) {
    hash ^= c;
    hash *= 0x100000001b3ull;
  }
  char text[17];
  for (int i = 15; i >= 0; --i) {
    text[i] = "0123456789abcdef"[hash & 15];
    hash >>= 4;
  }
  text[16] = '\0';
  return text;
}

STATUS Database::Create(const std::string& hostPath, const CreateParams& params) {
  if (PathExists(hostPath)) return ERR_DB_EXISTS;
  std::string temp = hostPath + ".dsim-create";
  UniqueFd fd = OpenFile(temp, O_WRONLY | O_CREAT | O_TRUNC);
  if (!fd.valid()) return StatusFromErrno(errno);
  DbHeader header;
  header.pageCount = params.dataPages + 1;
  header.instanceId = params.instanceId;
  header.logged = params.logged ? 1 : 0;
  header.logId = params.logId;
  header.lastLsn = params.lastLsn;
  header.lastExtent = params.lastExtent;
  header.created = params.created;
  header.dbRecord = params.dbRecord;
  // Pages are written in runs of up to 256 through one buffer.
  constexpr std::uint32_t kRun = 256;
  std::vector<std::uint8_t> buffer(std::size_t(kRun) * kPageSize);
  STATUS status = NOERROR;
  for (std::uint32_t first = 0; first < header.pageCount && status == NOERROR; first += kRun) {
    std::uint32_t n = std::min(kRun, header.pageCount - first);
    std::memset(buffer.data(), 0, std::size_t(n) * kPageSize);
    for (std::uint32_t i = 0; i < n; ++i) {
      std::uint8_t* page = buffer.data() + std::size_t(i) * kPageSize;
      std::uint32_t pageNo = first + i;
      if (pageNo == 0) {
        EncodeHeader(header, page);
      } else {
        FillBytes(page, kPagePayload, params.seed * 0x100000001b3ull + pageNo);
        SealPage(page, pageNo);
      }
    }
    if (int e = WriteAll(fd.get(), buffer.data(), std::size_t(n) * kPageSize)) status = StatusFromErrno(e);
  }
  fd.reset();
  if (status == NOERROR) {
    if (int e = ReplaceFile(temp, hostPath)) status = StatusFromErrno(e);
  }
  if (status != NOERROR) RemoveFile(temp);
  return status;
}

Database::FileUse::FileUse(Database& db) : db_(db) {
  if (db_.fd_.valid()) return;
  status_ = db_.OpenDataFile();
  opened_ = status_ == NOERROR;
}

Database::FileUse::~FileUse() {
  if (opened_ && !db_.options_.keepFileOpen) db_.fd_.reset();
}

STATUS Database::OpenDataFile() {
  fd_ = OpenFile(path_, O_RDWR);
  if (!fd_.valid() && (errno == EACCES || errno == EROFS)) fd_ = OpenFile(path_, O_RDONLY);
  return fd_.valid() ? NOERROR : StatusFromErrno(errno);
}

STATUS Database::AttachState() {
  std::string canonical;
  const int e = fd_.valid() ? platform::kit::CanonicalPathOfOpen(fd_.get(), path_, canonical)
                            : platform::kit::CanonicalPath(path_, canonical);
  if (e != 0) return StatusFromErrno(e);
  stateKey_ = StateKeyFor(canonical);
  return OpenState();
}

STATUS Database::OpenStateOf(const std::string& hostPath, const DatabaseOptions& options,
                             std::unique_ptr<Database>& out) {
  if (options.stateDir.empty()) return ERR_BAD_ARGUMENT;
  auto db = std::make_unique<Database>();
  db->path_ = hostPath;
  db->options_ = options;
  db->options_.keepFileOpen = false;
  if (STATUS s = db->AttachState()) return s;
  out = std::move(db);
  return NOERROR;
}

STATUS Database::Open(const std::string& hostPath, const DatabaseOptions& options,
                      std::unique_ptr<Database>& out, bool* offline) {
  if (options.stateDir.empty()) return ERR_BAD_ARGUMENT;
  auto db = std::make_unique<Database>();
  db->path_ = hostPath;
  db->options_ = options;
  if (STATUS s = db->OpenDataFile()) return s;
  if (STATUS s = db->AttachState()) return s;
  DbHeader header;
  std::uint64_t size = 0;
  {
    FlockGuard guard(db->state_.get(), false);
    if (STATUS s = db->ReadHeaderUnlocked(header)) return s;
    if (int e = FileSize(db->fd_.get(), &size)) return StatusFromErrno(e);
    if (offline != nullptr) *offline = db->CheckOnline() == ERR_DB_OFFLINE;
  }
  if (size < std::uint64_t(header.pageCount) * kPageSize) return ERR_DB_CORRUPT;
  if (!options.keepFileOpen) db->fd_.reset();
  out = std::move(db);
  return NOERROR;
}

STATUS Database::HoldFile() {
  options_.keepFileOpen = true;
  return fd_.valid() ? NOERROR : OpenDataFile();
}

Database::~Database() {
  if (holding_) BackupEnd(context_, true);
}

STATUS Database::ReadHeaderUnlocked(DbHeader& out) {
  FileUse file(*this);
  if (STATUS s = file.status()) return s;
  std::uint8_t bytes[kHeaderBytes];
  std::size_t got = 0;
  if (int e = PReadAll(fd_.get(), bytes, sizeof bytes, 0, &got)) return StatusFromErrno(e);
  return DecodeHeader(bytes, got, out);
}

STATUS Database::WriteHeaderUnlocked(const DbHeader& header) {
  FileUse file(*this);
  if (STATUS s = file.status()) return s;
  std::uint8_t bytes[kHeaderBytes];
  EncodeHeader(header, bytes);
  if (int e = PWriteAll(fd_.get(), bytes, sizeof bytes, 0)) return StatusFromErrno(e);
  return NOERROR;
}

STATUS Database::WritePageImageUnlocked(std::uint32_t pageNo, const std::uint8_t page[kPageSize]) {
  FileUse file(*this);
  if (STATUS s = file.status()) return s;
  if (int e = PWriteAll(fd_.get(), page, kPageSize, std::uint64_t(pageNo) * kPageSize))
    return StatusFromErrno(e);
  return NOERROR;
}

STATUS Database::ReadHeader(DbHeader& out) {
  FlockGuard guard(state_.get(), false);
  return ReadHeaderUnlocked(out);
}

STATUS Database::ReadPage(std::uint32_t pageNo, std::uint8_t page[kPageSize]) {
  FileUse file(*this);
  if (STATUS s = file.status()) return s;
  FlockGuard guard(state_.get(), false);
  DbHeader header;
  if (STATUS s = ReadHeaderUnlocked(header)) return s;
  if (pageNo == 0 || pageNo >= header.pageCount) return ERR_BAD_PAGE;
  if (PReadAll(fd_.get(), page, kPageSize, std::uint64_t(pageNo) * kPageSize) != 0) return ERR_DB_CORRUPT;
  return PageIsSound(page, pageNo) ? NOERROR : ERR_DB_CORRUPT;
}

STATUS Database::ReadPages(std::uint32_t first, std::uint32_t count, std::uint8_t* out, std::uint32_t* got) {
  *got = 0;
  FileUse file(*this);
  if (STATUS s = file.status()) return s;
  FlockGuard guard(state_.get(), false);
  DbHeader header;
  if (STATUS s = ReadHeaderUnlocked(header)) return s;
  if (first == 0 || first >= header.pageCount) return ERR_BAD_PAGE;
  const std::uint32_t n = std::min(count, header.pageCount - first);
  if (PReadAll(fd_.get(), out, std::size_t(n) * kPageSize, std::uint64_t(first) * kPageSize) != 0) return ERR_DB_CORRUPT;
  *got = n;
  return NOERROR;
}

STATUS Database::ReadDbRecord(std::uint8_t out[kDbRecordSize]) {
  DbHeader header;
  if (STATUS s = ReadHeader(header)) return s;
  std::memcpy(out, header.dbRecord.data(), kDbRecordSize);
  return NOERROR;
}

STATUS Database::Write(const PageWrite* pages, std::size_t count, const std::uint8_t* dbRecord) {
  if (count == 0 && dbRecord == nullptr) return NOERROR;
  FileUse file(*this);
  if (STATUS s = file.status()) return s;
  VolumeWriteGuard volume;
  if (!volume.Lock(options_.volumeDrive)) return ERR_IO;
  FlockGuard guard(state_.get(), true);
  // An offline database is left alone until it is online again.
  if (STATUS s = CheckOnline()) return s;
  DbHeader header;
  if (STATUS s = ReadHeaderUnlocked(header)) return s;
  std::uint32_t pageCount = header.pageCount;
  std::vector<std::uint32_t> numbers(count);
  for (std::size_t i = 0; i < count; ++i) {
    std::uint32_t n = pages[i].pageNo;
    if (n == 0 || n > pageCount || pages[i].payload == nullptr) return ERR_BAD_PAGE;
    if (n == pageCount) ++pageCount;
    numbers[i] = n;
  }
  buffer_.resize(count * kPageSize);
  std::vector<std::uint32_t> crcs(count);
  for (std::size_t i = 0; i < count; ++i) {
    std::uint8_t* page = buffer_.data() + i * kPageSize;
    std::memcpy(page, pages[i].payload, kPagePayload);
    crcs[i] = SealPage(page, numbers[i]);
  }
  if (options_.log != nullptr && header.logged != 0) {
    std::vector<LogRecordIn> records(count + (dbRecord != nullptr ? 1 : 0));
    for (std::size_t i = 0; i < count; ++i) {
      records[i] = LogRecordIn{RecordType::Page, &header.instanceId, numbers[i],
                               buffer_.data() + i * kPageSize, kPageSize, crcs[i]};
    }
    if (dbRecord != nullptr) {
      records[count] = LogRecordIn{RecordType::DbRecord, &header.instanceId, 0, dbRecord,
                                   kDbRecordSize, Crc32(dbRecord, kDbRecordSize)};
    }
    std::uint64_t lastLsn = 0, commitTime = 0;
    std::uint32_t lastExtent = 0;
    if (STATUS s = options_.log->Append(records.data(), records.size(), &lastLsn, &lastExtent, &commitTime))
      return s;
    header.lastLsn = lastLsn;
    header.lastExtent = lastExtent;
    header.lastCommit = commitTime;
    header.logId = options_.log->logId();
  }
  // Noted before the pages are written: a page the change information names
  // but that was never written costs nothing, a written page it misses would.
  if (count > 0) {
    if (STATUS s = NoteWrites(numbers.data(), count)) return s;
  }
  for (std::size_t i = 0; i < count; ++i) {
    if (STATUS s = WritePageImageUnlocked(numbers[i], buffer_.data() + i * kPageSize)) return s;
  }
  if (dbRecord != nullptr) std::memcpy(header.dbRecord.data(), dbRecord, kDbRecordSize);
  header.pageCount = pageCount;
  return WriteHeaderUnlocked(header);
}

}  // namespace dominosim
