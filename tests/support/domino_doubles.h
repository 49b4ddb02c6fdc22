// The journaling fake of the Domino API for the backup tests: the calls a
// backup makes are answered from its configuration; any other call is the
// quiet default of the mock.
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

#include "tests/support/mock_domino_api.h"

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
// and a journal of every call in order; installed for its lifetime (by the mock).
class FakeDomino : public ::testing::NiceMock<MockDominoApi> {
 public:
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
  WORD GetErrorText(WORD, STATUS s, char* b, WORD n) override {
    return WORD(std::snprintf(b, n, "Domino error 0x%04X", unsigned(s)));
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
