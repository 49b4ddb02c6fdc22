// Notes: every data page of a database is one note, so reading every note
// reads every page, each checked against its checksum and number.
#include <algorithm>

#include "dominosim/sim_api.h"
#include "dominosim/status.h"

namespace dominosim {

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;
constexpr DWORD kNoteIdStep = 4;  // note ids are multiples of 4
constexpr std::uint32_t kReadAheadPages = 256;  // 1 MiB: one read for most databases

}  // namespace

STATUS SimApi::GetModifiedNoteTable(DBHANDLE handle, WORD noteClassMask, TIMEDATE, TIMEDATE* until, DHANDLE* table) {
  Lock lock(mutex_);
  if (table == nullptr) return ERR_BAD_ARGUMENT;
  *table = 0;
  Database* db = Find(handle);
  if (db == nullptr) return ERR_BAD_HANDLE;
  DbHeader header;
  if (STATUS s = db->ReadHeader(header)) return s;
  readAhead_.handle = 0;  // a new scan reads the pages anew
  // Every page of the file is read next: keep it open meanwhile.
  if (STATUS s = db->HoldFile()) return s;
  std::vector<DWORD> ids;
  if (noteClassMask != 0) {
    for (std::uint32_t page = 1; page < header.pageCount; ++page) ids.push_back(page * kNoteIdStep);
  }
  if (until != nullptr) *until = TIMEDATE{};
  const DHANDLE h = nextMemory_++;
  idTables_[h] = std::move(ids);
  *table = h;
  return NOERROR;
}

int SimApi::ScanIdTable(DHANDLE table, int first, DWORD* id) {
  Lock lock(mutex_);
  auto it = idTables_.find(table);
  if (it == idTables_.end() || id == nullptr) return 0;
  const std::vector<DWORD>& ids = it->second;
  // Ids are ascending: the next is the first above the one returned last.
  auto next = first != 0 ? ids.begin() : std::upper_bound(ids.begin(), ids.end(), *id);
  if (next == ids.end()) return 0;
  *id = *next;
  return 1;
}

STATUS SimApi::DestroyIdTable(DHANDLE table) {
  Lock lock(mutex_);
  return idTables_.erase(table) == 1 ? NOERROR : ERR_BAD_HANDLE;
}

STATUS SimApi::OpenNote(DBHANDLE handle, NOTEID id, WORD options, NOTEHANDLE* note) {
  Lock lock(mutex_);
  if (note == nullptr || options != 0) return ERR_BAD_ARGUMENT;
  *note = 0;
  Database* db = Find(handle);
  if (db == nullptr) return ERR_BAD_HANDLE;
  if (id == 0 || id % kNoteIdStep != 0 || (id & RRV_DELETED) != 0) return ERR_BAD_PAGE;
  const std::uint32_t pageNo = id / kNoteIdStep;
  ReadAhead& ahead = readAhead_;
  if (ahead.handle != handle || pageNo < ahead.first || pageNo >= ahead.first + ahead.count) {
    ahead.handle = 0;
    ahead.pages.resize(std::size_t(kReadAheadPages) * kPageSize);
    const STATUS s = db->ReadPages(pageNo, kReadAheadPages, ahead.pages.data(), &ahead.count);
    if (s == ERR_DB_CORRUPT) {
      lastDamagedPage_ = pageNo;
      return ERR_PAGE_DAMAGED;
    }
    if (s != NOERROR) return s;
    ahead.handle = handle;
    ahead.first = pageNo;
  }
  if (!PageIsSound(ahead.pages.data() + std::size_t(pageNo - ahead.first) * kPageSize, pageNo)) {
    lastDamagedPage_ = pageNo;
    return ERR_PAGE_DAMAGED;
  }
  const NOTEHANDLE h = nextMemory_++;
  notes_[h] = handle;
  *note = h;
  return NOERROR;
}

STATUS SimApi::CloseNote(NOTEHANDLE note) {
  Lock lock(mutex_);
  return notes_.erase(note) == 1 ? NOERROR : ERR_BAD_HANDLE;
}

}  // namespace dominosim
