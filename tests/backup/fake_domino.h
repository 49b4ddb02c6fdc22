// A hand-written Domino runtime for the backup tests: databases with their
// logging facts and change information, archivable logs, failures and
// exceptions on demand, and a journal of every call in order.
#pragma once

#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "domino/domino_api.h"

struct FakeDatabase {
  DWORD logged = 1;
  BYTE logId[16] = {1, 0, 0, 0, 2, 0, 0, 0, 4, 0, 0, 0, 8, 0, 0, 0};
  DWORD logExtent = 7;
  std::string changeInfo;  // delivered by GetChangeInfo
  DWORD sizeLow = 0xFFFFFFFF;  // 0xFFFFFFFF: the size of changeInfo
  DWORD sizeHigh = 0;
  DWORD chunk = 32768;         // at most this many bytes per GetChangeInfo
};

struct FakeLog {
  DWORD number = 0;
  std::string path;  // Windows path of the extent
  BYTE logId[16] = {};
};

class FakeDomino : public DominoApi {
 public:
  FakeDomino() { SetDominoApi(this); }
  ~FakeDomino() override { SetDominoApi(nullptr); }

  // --- configuration
  std::map<std::string, FakeDatabase> databases;  // by Windows path as opened
  std::vector<FakeLog> logs;
  STATUS initStatus = 0;
  STATUS archiveBeginStatus = 0;
  STATUS archiveEndStatus = 0;
  // "Op" or "Op path": the call fails with the status / throws.
  std::map<std::string, STATUS> failures;
  std::set<std::string> throws;
  DWORD overlongChunk = 0;  // when set, GetChangeInfo claims this length

  // --- observations
  std::vector<std::string> calls;
  std::set<DBHANDLE> openHandles;
  std::set<DBHANDLE> inBackup;
  std::vector<DWORD> marked;
  int runtimeStarts = 0;
  int runtimeEnds = 0;
  bool running = false;  // started and not ended since
  bool archiveOpen = false;

  std::string PathOf(DBHANDLE h) const {
    auto it = handles_.find(h);
    return it == handles_.end() ? "?" : it->second;
  }
  int Count(const std::string& call) const {
    int n = 0;
    for (const auto& c : calls) n += c == call;
    return n;
  }

  STATUS InitRuntime(int argc, char** argv) override {
    calls.push_back("InitRuntime " + std::to_string(argc) +
                    (argc == 2 && argv[1] ? std::string(" ") + argv[1] : ""));
    if (initStatus == 0) {
      ++runtimeStarts;
      running = true;
    }
    return initStatus;
  }
  void TermRuntime() override {
    calls.push_back("TermRuntime");
    ++runtimeEnds;
    running = false;
  }
  STATUS OpenDatabase(const char* path, DBHANDLE* handle) override {
    Enter("OpenDatabase", path);
    if (STATUS s = Fail("OpenDatabase", path)) return s;
    *handle = nextHandle_++;
    handles_[*handle] = path;
    openHandles.insert(*handle);
    positions_[*handle] = 0;
    return 0;
  }
  STATUS CloseDatabase(DBHANDLE h) override {
    Enter("CloseDatabase", PathOf(h));
    openHandles.erase(h);
    return 0;
  }
  WORD GetErrorText(WORD, STATUS status, char* buffer, WORD size) override {
    std::snprintf(buffer, size, "Domino error 0x%04X", unsigned(status));
    return WORD(std::strlen(buffer));
  }
  STATUS GetDatabaseLogInfo(DBHANDLE h, DWORD, DWORD* logged, BYTE logId[16], BYTE secondId[16],
                            DWORD* logExtent) override {
    Enter("GetDatabaseLogInfo", PathOf(h));
    if (STATUS s = Fail("GetDatabaseLogInfo", PathOf(h))) return s;
    FakeDatabase& db = databases[PathOf(h)];
    *logged = db.logged;
    std::memcpy(logId, db.logId, 16);
    std::memset(secondId, 0xAB, 16);
    *logExtent = db.logExtent;
    return 0;
  }
  STATUS BackupStart(DBHANDLE h, DWORD, DWORD* context, DWORD* v1, DWORD* v2) override {
    Enter("BackupStart", PathOf(h));
    if (STATUS s = Fail("BackupStart", PathOf(h))) return s;
    *context = 1000 + h;
    *v1 = 1;
    *v2 = 2;
    inBackup.insert(h);
    return 0;
  }
  STATUS BackupStop(DBHANDLE h, DWORD context) override {
    Enter("BackupStop", PathOf(h));
    CheckContext(h, context);
    return Fail("BackupStop", PathOf(h));
  }
  STATUS BackupEnd(DBHANDLE h, DWORD context, DWORD abandon) override {
    calls.push_back("BackupEnd " + PathOf(h) + " " + std::to_string(abandon));
    CheckContext(h, context);
    inBackup.erase(h);
    return 0;
  }
  STATUS GetChangeInfoSize(DBHANDLE h, DWORD, DWORD, DWORD* low, DWORD* high) override {
    Enter("GetChangeInfoSize", PathOf(h));
    if (STATUS s = Fail("GetChangeInfoSize", PathOf(h))) return s;
    FakeDatabase& db = databases[PathOf(h)];
    *low = db.sizeLow == 0xFFFFFFFF ? DWORD(db.changeInfo.size()) : db.sizeLow;
    *high = db.sizeHigh;
    return 0;
  }
  STATUS GetChangeInfo(DBHANDLE h, DWORD, DWORD, void* buffer, DWORD size,
                       DWORD* length) override {
    Enter("GetChangeInfo", PathOf(h));
    if (STATUS s = Fail("GetChangeInfo", PathOf(h))) return s;
    // The buffer must arrive cleared, every time.
    const BYTE* bytes = static_cast<const BYTE*>(buffer);
    for (DWORD i = 0; i < size; ++i)
      if (bytes[i] != 0) throw std::logic_error("GetChangeInfo buffer not cleared");
    if (overlongChunk) {
      *length = overlongChunk;
      return 0;
    }
    FakeDatabase& db = databases[PathOf(h)];
    std::size_t& at = positions_[h];
    DWORD n = DWORD(std::min<std::size_t>({db.chunk, size, db.changeInfo.size() - at}));
    std::memcpy(buffer, db.changeInfo.data() + at, n);
    at += n;
    *length = n;
    return 0;
  }
  STATUS ApplyChangeInfoStart(DWORD*, const char*, DWORD, DWORD, DWORD) override { return 1; }
  STATUS ApplyChangeInfo(DWORD, DWORD, const void*, DWORD) override { return 1; }
  STATUS ApplyChangeInfoEnd(DWORD, DWORD) override { return 1; }

  STATUS ArchiveBegin() override {
    calls.push_back("ArchiveBegin");
    archiveOpen = archiveBeginStatus == 0;
    logAt_ = 0;
    return archiveBeginStatus;
  }
  STATUS ArchiveEnd() override {
    calls.push_back("ArchiveEnd");
    archiveOpen = false;
    return archiveEndStatus;
  }
  STATUS GetFirstArchiveLog(BYTE logId[16], DWORD* number, char* path) override {
    calls.push_back("GetFirstArchiveLog");
    logAt_ = 0;
    if (STATUS s = Fail("GetFirstArchiveLog", "")) return s;
    return NextLog(logId, number, path);
  }
  STATUS GetNextArchiveLog(BYTE logId[16], DWORD* number, char* path) override {
    calls.push_back("GetNextArchiveLog");
    if (STATUS s = Fail("GetNextArchiveLog", "")) return s;
    return NextLog(logId, number, path);
  }
  STATUS MarkLogArchived(const BYTE[16], DWORD number) override {
    calls.push_back("MarkLogArchived " + std::to_string(number));
    if (throws.count("MarkLogArchived")) throw std::runtime_error("fake runtime threw in MarkLogArchived");
    if (STATUS s = Fail("MarkLogArchived", "")) return s;
    marked.push_back(number);
    return 0;
  }
  // The number that comes with 0x13DE: the current extent.
  DWORD currentLog = 0;
  BYTE currentLogId[16] = {};
  STATUS GetLoggingStyle(DWORD* style) override {
    *style = 1;
    return 0;
  }
  STATUS GetServerName(char* buffer) override {
    std::snprintf(buffer, 256, "CN=srv1/O=Org");
    return 0;
  }
  STATUS AbbreviateName(DWORD, DWORD, const char*, char* out, WORD size, WORD* length) override {
    std::snprintf(out, size, "srv1/Org");
    if (length) *length = 8;
    return 0;
  }
  STATUS TranslatePath(WORD, const char* path, WORD, char* out, WORD size) override {
    std::snprintf(out, size, "%s", path);
    return 0;
  }
  STATUS TextToTimeDate(void*, void*, const char**, WORD, TIMEDATE*) override { return 1; }
  STATUS RecoverDatabaseList(const char*, ArchivedLogCallbackFn, DWORD, WORD*, DWORD) override {
    return 1;
  }
  STATUS ReadDatabaseRecord(DBHANDLE, BYTE[128]) override { return 1; }
  STATUS WriteDatabaseRecord(DBHANDLE, const BYTE[128]) override { return 1; }

 private:
  void Enter(const std::string& op, const std::string& path) {
    calls.push_back(op + " " + path);
    if (throws.count(op) || throws.count(op + " " + path))
      throw std::runtime_error("fake runtime threw in " + op);
  }
  STATUS Fail(const std::string& op, const std::string& path) {
    auto it = failures.find(op + " " + path);
    if (it == failures.end()) it = failures.find(op);
    return it == failures.end() ? 0 : it->second;
  }
  void CheckContext(DBHANDLE h, DWORD context) {
    if (context != 1000 + h && inBackup.count(h))
      throw std::logic_error("wrong backup context for " + PathOf(h));
  }
  STATUS NextLog(BYTE logId[16], DWORD* number, char* path) {
    if (logAt_ >= logs.size()) {
      std::memcpy(logId, currentLogId, 16);
      *number = currentLog;
      return ERR_NO_MORE_LOGS;
    }
    const FakeLog& log = logs[logAt_++];
    std::memcpy(logId, log.logId, 16);
    *number = log.number;
    std::snprintf(path, 1024, "%s", log.path.c_str());
    return 0;
  }

  DBHANDLE nextHandle_ = 1;
  std::map<DBHANDLE, std::string> handles_;
  std::map<DBHANDLE, std::size_t> positions_;
  std::size_t logAt_ = 0;
};
