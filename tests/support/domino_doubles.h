// Hand-written doubles of the Domino API: a delegating base (every call goes
// to an inner API, or fails with ERR_NO_RUNTIME without one) that spies and
// fakes derive from to override only what they watch or break, and the
// journaling fake of the backup tests.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "domino/domino_api.h"

class DelegatingDominoApi : public DominoApi {
 public:
  explicit DelegatingDominoApi(DominoApi* inner = nullptr) : inner_(inner) {}
  STATUS InitRuntime(int argc, char** argv) override { return Or(&DominoApi::InitRuntime, argc, argv); }
  void TermRuntime() override { if (inner_) inner_->TermRuntime(); }
  STATUS OpenDatabase(const char* p, DBHANDLE* h) override { return Or(&DominoApi::OpenDatabase, p, h); }
  STATUS CloseDatabase(DBHANDLE h) override { return Or(&DominoApi::CloseDatabase, h); }
  WORD GetErrorText(WORD z, STATUS s, char* b, WORD n) override {
    return inner_ ? inner_->GetErrorText(z, s, b, n) : WORD(std::snprintf(b, n, "Domino error 0x%04X", unsigned(s)));
  }
  STATUS GetDatabaseLogInfo(DBHANDLE h, DWORD z, DWORD* l, BYTE a[16], BYTE b[16], DWORD* e) override {
    return Or(&DominoApi::GetDatabaseLogInfo, h, z, l, a, b, e);
  }
  STATUS BackupStart(DBHANDLE h, DWORD z, DWORD* c, DWORD* a, DWORD* b) override {
    return Or(&DominoApi::BackupStart, h, z, c, a, b);
  }
  STATUS BackupStop(DBHANDLE h, DWORD c) override { return Or(&DominoApi::BackupStop, h, c); }
  STATUS BackupEnd(DBHANDLE h, DWORD c, DWORD a) override { return Or(&DominoApi::BackupEnd, h, c, a); }
  STATUS GetChangeInfoSize(DBHANDLE h, DWORD c, DWORD z, DWORD* l, DWORD* hi) override {
    return Or(&DominoApi::GetChangeInfoSize, h, c, z, l, hi);
  }
  STATUS GetChangeInfo(DBHANDLE h, DWORD c, DWORD z, void* b, DWORD n, DWORD* l) override {
    return Or(&DominoApi::GetChangeInfo, h, c, z, b, n, l);
  }
  STATUS ApplyChangeInfoStart(DWORD* c, const char* t, DWORD z, DWORD l, DWORD h) override {
    return Or(&DominoApi::ApplyChangeInfoStart, c, t, z, l, h);
  }
  STATUS ApplyChangeInfo(DWORD c, DWORD z, const void* b, DWORD n) override {
    return Or(&DominoApi::ApplyChangeInfo, c, z, b, n);
  }
  STATUS ApplyChangeInfoEnd(DWORD c, DWORD z) override { return Or(&DominoApi::ApplyChangeInfoEnd, c, z); }
  STATUS ArchiveBegin() override { return Or(&DominoApi::ArchiveBegin); }
  STATUS ArchiveEnd() override { return Or(&DominoApi::ArchiveEnd); }
  STATUS GetFirstArchiveLog(BYTE id[16], DWORD* n, char* p) override { return Or(&DominoApi::GetFirstArchiveLog, id, n, p); }
  STATUS GetNextArchiveLog(BYTE id[16], DWORD* n, char* p) override { return Or(&DominoApi::GetNextArchiveLog, id, n, p); }
  STATUS MarkLogArchived(const BYTE id[16], DWORD n) override { return Or(&DominoApi::MarkLogArchived, id, n); }
  STATUS GetLoggingStyle(DWORD* s) override { return Or(&DominoApi::GetLoggingStyle, s); }
  STATUS GetServerName(char* b) override { return Or(&DominoApi::GetServerName, b); }
  STATUS AbbreviateName(DWORD a, DWORD b, const char* n, char* o, WORD s, WORD* l) override {
    return Or(&DominoApi::AbbreviateName, a, b, n, o, s, l);
  }
  STATUS TranslatePath(WORD m, const char* p, WORD l, char* o, WORD s) override {
    return Or(&DominoApi::TranslatePath, m, p, l, o, s);
  }
  STATUS TextToTimeDate(void* a, void* b, const char** t, WORD l, TIMEDATE* o) override {
    return Or(&DominoApi::TextToTimeDate, a, b, t, l, o);
  }
  STATUS RecoverDatabaseList(const char* p, ArchivedLogCallbackFn c, DWORD o, WORD* f, DWORD t) override {
    return Or(&DominoApi::RecoverDatabaseList, p, c, o, f, t);
  }
  STATUS ReadDatabaseRecord(DBHANDLE h, BYTE r[128]) override { return Or(&DominoApi::ReadDatabaseRecord, h, r); }
  STATUS WriteDatabaseRecord(DBHANDLE h, const BYTE r[128]) override {
    return Or(&DominoApi::WriteDatabaseRecord, h, r);
  }

 private:
  template <typename... P, typename... A>
  STATUS Or(STATUS (DominoApi::*call)(P...), A&&... args) {
    return inner_ ? (inner_->*call)(std::forward<A>(args)...) : ERR_NO_RUNTIME;
  }
  DominoApi* inner_;
};

// A database of the journaling fake: its logging facts and change information.
struct FakeDatabase {
  DWORD logged = 1;
  BYTE logId[16] = {1, 0, 0, 0, 2, 0, 0, 0, 4, 0, 0, 0, 8, 0, 0, 0};  // series 0000000f
  DWORD logExtent = 7;
  std::string changeInfo;      // delivered by GetChangeInfo
  DWORD sizeLow = 0xFFFFFFFF;  // 0xFFFFFFFF: the size of changeInfo
  DWORD sizeHigh = 0;
  DWORD chunk = 32768;  // at most this many bytes per GetChangeInfo
};

struct FakeLog {
  DWORD number = 0;
  std::string path;  // Windows path of the extent
};

// A runtime of databases, archivable logs, failures and exceptions on demand,
// and a journal of every call in order; installed for its lifetime.
class FakeDomino : public DelegatingDominoApi {
 public:
  FakeDomino() { SetDominoApi(this); }
  ~FakeDomino() override { SetDominoApi(nullptr); }

  // Configuration. failures / throws are keyed "Op" or "Op path".
  std::map<std::string, FakeDatabase> databases;
  std::vector<FakeLog> logs;
  DWORD currentLog = 0;  // the number that comes with "no more logs"
  BYTE currentLogId[16] = {};
  STATUS initStatus = 0, archiveBeginStatus = 0, archiveEndStatus = 0;
  std::map<std::string, STATUS> failures;
  std::set<std::string> throws;
  DWORD overlongChunk = 0;  // when set, GetChangeInfo claims this length

  // Observations.
  std::vector<std::string> calls;
  std::set<DBHANDLE> openHandles, inBackup;
  std::vector<DWORD> marked;
  bool running = false, archiveOpen = false;

  int Count(const std::string& call) const { return int(std::count(calls.begin(), calls.end(), call)); }

  STATUS InitRuntime(int argc, char** argv) override {
    calls.push_back("InitRuntime " + std::to_string(argc) + (argc == 2 ? std::string(" ") + argv[1] : ""));
    running = initStatus == 0;
    return initStatus;
  }
  void TermRuntime() override {
    calls.push_back("TermRuntime");
    running = false;
  }
  STATUS OpenDatabase(const char* path, DBHANDLE* handle) override {
    if (STATUS s = Enter("OpenDatabase", path)) return s;
    *handle = DBHANDLE(paths_.size() + 1);
    paths_[*handle] = path;
    openHandles.insert(*handle);
    return 0;
  }
  STATUS CloseDatabase(DBHANDLE h) override {
    Enter("CloseDatabase", paths_[h]);
    openHandles.erase(h);
    return 0;
  }
  STATUS GetDatabaseLogInfo(DBHANDLE h, DWORD, DWORD* logged, BYTE id[16], BYTE id2[16], DWORD* ext) override {
    if (STATUS s = Enter("GetDatabaseLogInfo", paths_[h])) return s;
    const FakeDatabase& db = databases[paths_[h]];
    *logged = db.logged;
    std::memcpy(id, db.logId, 16);
    std::memset(id2, 0xAB, 16);
    *ext = db.logExtent;
    return 0;
  }
  STATUS BackupStart(DBHANDLE h, DWORD, DWORD* context, DWORD* v1, DWORD* v2) override {
    if (STATUS s = Enter("BackupStart", paths_[h])) return s;
    *context = 1000 + h;
    *v1 = *v2 = 0;
    inBackup.insert(h);
    at_[h] = 0;
    return 0;
  }
  STATUS BackupStop(DBHANDLE h, DWORD context) override {
    CheckContext(h, context);
    return Enter("BackupStop", paths_[h]);
  }
  STATUS BackupEnd(DBHANDLE h, DWORD context, DWORD abandon) override {
    calls.push_back("BackupEnd " + paths_[h] + " " + std::to_string(abandon));
    CheckContext(h, context);
    inBackup.erase(h);
    return 0;
  }
  STATUS GetChangeInfoSize(DBHANDLE h, DWORD, DWORD, DWORD* low, DWORD* high) override {
    if (STATUS s = Enter("GetChangeInfoSize", paths_[h])) return s;
    const FakeDatabase& db = databases[paths_[h]];
    *low = db.sizeLow == 0xFFFFFFFF ? DWORD(db.changeInfo.size()) : db.sizeLow;
    *high = db.sizeHigh;
    return 0;
  }
  STATUS GetChangeInfo(DBHANDLE h, DWORD, DWORD, void* buffer, DWORD size, DWORD* length) override {
    if (STATUS s = Enter("GetChangeInfo", paths_[h])) return s;
    const BYTE* bytes = static_cast<const BYTE*>(buffer);  // must arrive cleared, every time
    if (std::any_of(bytes, bytes + size, [](BYTE b) { return b != 0; }))
      throw std::logic_error("GetChangeInfo buffer not cleared");
    const FakeDatabase& db = databases[paths_[h]];
    DWORD n = DWORD(std::min<std::size_t>({db.chunk, size, db.changeInfo.size() - at_[h]}));
    std::memcpy(buffer, db.changeInfo.data() + at_[h], n);
    at_[h] += n;
    *length = overlongChunk ? overlongChunk : n;
    return 0;
  }
  STATUS ArchiveBegin() override {
    calls.push_back("ArchiveBegin");
    archiveOpen = archiveBeginStatus == 0;
    return archiveBeginStatus;
  }
  STATUS ArchiveEnd() override {
    calls.push_back("ArchiveEnd");
    archiveOpen = false;
    return archiveEndStatus;
  }
  STATUS GetFirstArchiveLog(BYTE id[16], DWORD* number, char* path) override {
    logAt_ = 0;
    return NextLog("GetFirstArchiveLog", id, number, path);
  }
  STATUS GetNextArchiveLog(BYTE id[16], DWORD* number, char* path) override {
    return NextLog("GetNextArchiveLog", id, number, path);
  }
  STATUS MarkLogArchived(const BYTE[16], DWORD number) override {
    if (STATUS s = Enter("MarkLogArchived", "")) return s;
    marked.push_back(number);
    return 0;
  }
  STATUS TranslatePath(WORD, const char* path, WORD, char* out, WORD size) override {
    std::snprintf(out, size, "%s", path);
    return 0;
  }

 private:
  // Journals the call; throws or fails it when asked to.
  STATUS Enter(const std::string& op, const std::string& path) {
    const std::string call = path.empty() ? op : op + " " + path;
    calls.push_back(call);
    if (throws.count(op) || throws.count(call)) throw std::runtime_error("fake runtime threw in " + op);
    auto it = failures.find(call);
    if (it == failures.end()) it = failures.find(op);
    return it == failures.end() ? 0 : it->second;
  }
  void CheckContext(DBHANDLE h, DWORD context) {
    if (inBackup.count(h) && context != 1000 + h) throw std::logic_error("wrong backup context");
  }
  STATUS NextLog(const char* op, BYTE id[16], DWORD* number, char* path) {
    if (STATUS s = Enter(op, "")) return s;
    std::memset(id, 0, 16);
    if (logAt_ >= logs.size()) {
      std::memcpy(id, currentLogId, 16);
      *number = currentLog;
      return ERR_NO_MORE_LOGS;
    }
    const FakeLog& log = logs[logAt_++];
    id[0] = BYTE(log.number);
    *number = log.number;
    std::snprintf(path, 1024, "%s", log.path.c_str());
    return 0;
  }

  std::map<DBHANDLE, std::string> paths_;
  std::map<DBHANDLE, std::size_t> at_;
  std::size_t logAt_ = 0;
};
