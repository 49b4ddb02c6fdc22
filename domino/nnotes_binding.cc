#include "domino/nnotes_binding.h"

#include <cstdio>
#include <cstring>

#include "platform/debug.h"
#include "platform/registry.h"

namespace ark {

struct NnotesApi::Functions {
  nnotes::InitRuntime::Fn initRuntime = nullptr;
  nnotes::TermRuntime::Fn termRuntime = nullptr;
  nnotes::OpenDatabase::Fn openDatabase = nullptr;
  nnotes::CloseDatabase::Fn closeDatabase = nullptr;
  nnotes::GetErrorText::Fn getErrorText = nullptr;
  nnotes::GetDatabaseLogInfo::Fn getDatabaseLogInfo = nullptr;
  nnotes::BackupStart::Fn backupStart = nullptr;
  nnotes::BackupStop::Fn backupStop = nullptr;
  nnotes::BackupEnd::Fn backupEnd = nullptr;
  nnotes::GetChangeInfoSize::Fn getChangeInfoSize = nullptr;
  nnotes::GetChangeInfo::Fn getChangeInfo = nullptr;
  nnotes::ApplyChangeInfoStart::Fn applyChangeInfoStart = nullptr;
  nnotes::ApplyChangeInfo::Fn applyChangeInfo = nullptr;
  nnotes::ApplyChangeInfoEnd::Fn applyChangeInfoEnd = nullptr;
  nnotes::ArchiveBegin::Fn archiveBegin = nullptr;
  nnotes::ArchiveEnd::Fn archiveEnd = nullptr;
  nnotes::GetFirstArchiveLog::Fn getFirstArchiveLog = nullptr;
  nnotes::GetNextArchiveLog::Fn getNextArchiveLog = nullptr;
  nnotes::MarkLogArchived::Fn markLogArchived = nullptr;
  nnotes::GetLoggingStyle::Fn getLoggingStyle = nullptr;
  nnotes::GetServerName::Fn getServerName = nullptr;
  nnotes::AbbreviateName::Fn abbreviateName = nullptr;
  nnotes::TranslatePath::Fn translatePath = nullptr;
  nnotes::TextToTimeDate::Fn textToTimeDate = nullptr;
  nnotes::RecoverDatabaseList::Fn recoverDatabaseList = nullptr;
  nnotes::ReadDatabaseRecord::Fn readDatabaseRecord = nullptr;
  nnotes::WriteDatabaseRecord::Fn writeDatabaseRecord = nullptr;
  nnotes::TakeDatabaseOffline::Fn takeDatabaseOffline = nullptr;
  nnotes::BringDatabaseOnline::Fn bringDatabaseOnline = nullptr;
  nnotes::GetModifiedNoteTable::Fn getModifiedNoteTable = nullptr;
  nnotes::ScanIdTable::Fn scanIdTable = nullptr;
  nnotes::DestroyIdTable::Fn destroyIdTable = nullptr;
  nnotes::OpenNote::Fn openNote = nullptr;
  nnotes::CloseNote::Fn closeNote = nullptr;
};

namespace {

constexpr const char* kDomino50Key = "SOFTWARE\\Lotus\\Domino\\5.0";
constexpr const char* kDominoKey = "SOFTWARE\\Lotus\\Domino";

void Trace(const std::string& text) { platform::OutputDebugString("(ARKServer) " + text + "\n"); }

// Resolves one operation; false with *missing set to its ordinal's text.
template <typename Op>
bool Resolve(const platform::Library& library, const char* name, typename Op::Fn& out, std::string* missing) {
  out = reinterpret_cast<typename Op::Fn>(library.FindOrdinal(WORD(Op::kOrdinal)));
  if (out != nullptr) return true;
  *missing = "ordinal " + std::to_string(Op::kOrdinal) + " (" + name + ")";
  return false;
}

// Resolves one operation exported by name; false with *missing set to the name.
template <typename Op>
bool ResolveName(const platform::Library& library, typename Op::Fn& out, std::string* missing) {
  out = reinterpret_cast<typename Op::Fn>(library.FindName(Op::kName));
  if (out != nullptr) return true;
  *missing = std::string("the function ") + Op::kName;
  return false;
}

}  // namespace

NnotesApi::NnotesApi() = default;
NnotesApi::~NnotesApi() = default;

bool NnotesApi::Bind() {
  if (fn_ != nullptr) return true;
  std::string path = pathForTest_;
  if (path.empty()) {
    std::string program;
    if (platform::RegGetString(kDomino50Key, "Path", program) != ERROR_SUCCESS &&
        platform::RegGetString(kDominoKey, "Path", program) != ERROR_SUCCESS) {
      failure_ = std::string("cannot load ") + kNnotesFileName + ": no Domino program directory (\"Path\" under HKLM\\" +
                 kDomino50Key + " or HKLM\\" + kDominoKey + ")";
      Trace(failure_);
      return false;
    }
    while (!program.empty() && (program.back() == '\\' || program.back() == '/')) program.pop_back();
    path = program + "\\" + kNnotesFileName;
  }
  auto library = std::make_unique<platform::Library>();
  if (const DWORD err = library->Load(path); err != ERROR_SUCCESS) {
    const char* why = err == platform::kErrorModNotFound ? "missing, or a library it needs is missing"
                      : err == platform::kErrorBadExeFormat ? "not a 64-bit library"
                                                           : "cannot be loaded";
    failure_ = "cannot load " + path + ": " + why + " (error " + std::to_string(err) + ")";
    Trace(failure_);
    return false;
  }
  auto fn = std::make_unique<Functions>();
  std::string missing;
  const platform::Library& l = *library;
  const bool all =
      Resolve<nnotes::InitRuntime>(l, "InitRuntime", fn->initRuntime, &missing) &&
      Resolve<nnotes::TermRuntime>(l, "TermRuntime", fn->termRuntime, &missing) &&
      Resolve<nnotes::OpenDatabase>(l, "OpenDatabase", fn->openDatabase, &missing) &&
      Resolve<nnotes::CloseDatabase>(l, "CloseDatabase", fn->closeDatabase, &missing) &&
      Resolve<nnotes::GetErrorText>(l, "GetErrorText", fn->getErrorText, &missing) &&
      Resolve<nnotes::GetDatabaseLogInfo>(l, "GetDatabaseLogInfo", fn->getDatabaseLogInfo, &missing) &&
      Resolve<nnotes::BackupStart>(l, "BackupStart", fn->backupStart, &missing) &&
      Resolve<nnotes::BackupStop>(l, "BackupStop", fn->backupStop, &missing) &&
      Resolve<nnotes::BackupEnd>(l, "BackupEnd", fn->backupEnd, &missing) &&
      Resolve<nnotes::GetChangeInfoSize>(l, "GetChangeInfoSize", fn->getChangeInfoSize, &missing) &&
      Resolve<nnotes::GetChangeInfo>(l, "GetChangeInfo", fn->getChangeInfo, &missing) &&
      Resolve<nnotes::ApplyChangeInfoStart>(l, "ApplyChangeInfoStart", fn->applyChangeInfoStart, &missing) &&
      Resolve<nnotes::ApplyChangeInfo>(l, "ApplyChangeInfo", fn->applyChangeInfo, &missing) &&
      Resolve<nnotes::ApplyChangeInfoEnd>(l, "ApplyChangeInfoEnd", fn->applyChangeInfoEnd, &missing) &&
      Resolve<nnotes::ArchiveBegin>(l, "ArchiveBegin", fn->archiveBegin, &missing) &&
      Resolve<nnotes::ArchiveEnd>(l, "ArchiveEnd", fn->archiveEnd, &missing) &&
      Resolve<nnotes::GetFirstArchiveLog>(l, "GetFirstArchiveLog", fn->getFirstArchiveLog, &missing) &&
      Resolve<nnotes::GetNextArchiveLog>(l, "GetNextArchiveLog", fn->getNextArchiveLog, &missing) &&
      Resolve<nnotes::MarkLogArchived>(l, "MarkLogArchived", fn->markLogArchived, &missing) &&
      Resolve<nnotes::GetLoggingStyle>(l, "GetLoggingStyle", fn->getLoggingStyle, &missing) &&
      Resolve<nnotes::GetServerName>(l, "GetServerName", fn->getServerName, &missing) &&
      Resolve<nnotes::AbbreviateName>(l, "AbbreviateName", fn->abbreviateName, &missing) &&
      Resolve<nnotes::TranslatePath>(l, "TranslatePath", fn->translatePath, &missing) &&
      Resolve<nnotes::TextToTimeDate>(l, "TextToTimeDate", fn->textToTimeDate, &missing) &&
      Resolve<nnotes::RecoverDatabaseList>(l, "RecoverDatabaseList", fn->recoverDatabaseList, &missing) &&
      Resolve<nnotes::ReadDatabaseRecord>(l, "ReadDatabaseRecord", fn->readDatabaseRecord, &missing) &&
      Resolve<nnotes::WriteDatabaseRecord>(l, "WriteDatabaseRecord", fn->writeDatabaseRecord, &missing) &&
      ResolveName<nnotes::TakeDatabaseOffline>(l, fn->takeDatabaseOffline, &missing) &&
      ResolveName<nnotes::BringDatabaseOnline>(l, fn->bringDatabaseOnline, &missing) &&
      ResolveName<nnotes::GetModifiedNoteTable>(l, fn->getModifiedNoteTable, &missing) &&
      ResolveName<nnotes::ScanIdTable>(l, fn->scanIdTable, &missing) &&
      ResolveName<nnotes::DestroyIdTable>(l, fn->destroyIdTable, &missing) &&
      ResolveName<nnotes::OpenNote>(l, fn->openNote, &missing) &&
      ResolveName<nnotes::CloseNote>(l, fn->closeNote, &missing);
  if (!all) {
    failure_ = "cannot use " + path + ": " + missing + " is missing";
    Trace(failure_);
    return false;
  }
  Trace("Domino API library " + path + " loaded");
  failure_.clear();
  library_ = std::move(library);
  fn_ = std::move(fn);
  return true;
}

STATUS NnotesApi::InitRuntime(int argc, char** argv) {
  if (!Bind()) return ERR_NO_RUNTIME;
  return fn_->initRuntime(argc, argv);
}

void NnotesApi::TermRuntime() {
  if (fn_ != nullptr) fn_->termRuntime();
}

WORD NnotesApi::GetErrorText(WORD zero, STATUS status, char* buffer, WORD size) {
  if (fn_ != nullptr) return fn_->getErrorText(zero, status, buffer, size);
  // Without the library, the text of the failure to load it.
  if (buffer == nullptr || size == 0) return 0;
  const std::string text = failure_.empty() ? "Domino runtime not installed" : failure_;
  const std::size_t n = text.size() < std::size_t(size) ? text.size() : std::size_t(size) - 1;
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return WORD(n);
}

// Every other operation: the library's, or ERR_NO_RUNTIME while none is bound.
#define ARK_NNOTES_CALL(member, ...) return fn_ != nullptr ? fn_->member(__VA_ARGS__) : ERR_NO_RUNTIME

STATUS NnotesApi::OpenDatabase(const char* path, DBHANDLE* handle) { ARK_NNOTES_CALL(openDatabase, path, handle); }
STATUS NnotesApi::CloseDatabase(DBHANDLE handle) { ARK_NNOTES_CALL(closeDatabase, handle); }
STATUS NnotesApi::GetDatabaseLogInfo(DBHANDLE handle, DWORD zero, DWORD* logged, BYTE logId[16], BYTE secondId[16],
                                     DWORD* logExtent) {
  ARK_NNOTES_CALL(getDatabaseLogInfo, handle, zero, logged, logId, secondId, logExtent);
}
STATUS NnotesApi::BackupStart(DBHANDLE handle, DWORD zero, DWORD* context, DWORD* value1, DWORD* value2) {
  ARK_NNOTES_CALL(backupStart, handle, zero, context, value1, value2);
}
STATUS NnotesApi::BackupStop(DBHANDLE handle, DWORD context) { ARK_NNOTES_CALL(backupStop, handle, context); }
STATUS NnotesApi::BackupEnd(DBHANDLE handle, DWORD context, DWORD abandon) {
  ARK_NNOTES_CALL(backupEnd, handle, context, abandon);
}
STATUS NnotesApi::GetChangeInfoSize(DBHANDLE handle, DWORD context, DWORD zero, DWORD* low, DWORD* high) {
  ARK_NNOTES_CALL(getChangeInfoSize, handle, context, zero, low, high);
}
STATUS NnotesApi::GetChangeInfo(DBHANDLE handle, DWORD context, DWORD zero, void* buffer, DWORD size,
                                DWORD* length) {
  if (fn_ == nullptr && length != nullptr) *length = 0;
  ARK_NNOTES_CALL(getChangeInfo, handle, context, zero, buffer, size, length);
}
STATUS NnotesApi::ApplyChangeInfoStart(DWORD* applyContext, const char* targetPath, DWORD zero, DWORD low,
                                       DWORD high) {
  ARK_NNOTES_CALL(applyChangeInfoStart, applyContext, targetPath, zero, low, high);
}
STATUS NnotesApi::ApplyChangeInfo(DWORD applyContext, DWORD zero, const void* buffer, DWORD length) {
  ARK_NNOTES_CALL(applyChangeInfo, applyContext, zero, buffer, length);
}
STATUS NnotesApi::ApplyChangeInfoEnd(DWORD applyContext, DWORD zero) {
  ARK_NNOTES_CALL(applyChangeInfoEnd, applyContext, zero);
}
STATUS NnotesApi::ArchiveBegin() { ARK_NNOTES_CALL(archiveBegin); }
STATUS NnotesApi::ArchiveEnd() { ARK_NNOTES_CALL(archiveEnd); }
STATUS NnotesApi::GetFirstArchiveLog(BYTE logId[16], DWORD* logNumber, char* path) {
  ARK_NNOTES_CALL(getFirstArchiveLog, logId, logNumber, path);
}
STATUS NnotesApi::GetNextArchiveLog(BYTE logId[16], DWORD* logNumber, char* path) {
  ARK_NNOTES_CALL(getNextArchiveLog, logId, logNumber, path);
}
STATUS NnotesApi::MarkLogArchived(const BYTE logId[16], DWORD logNumber) {
  ARK_NNOTES_CALL(markLogArchived, logId, logNumber);
}
STATUS NnotesApi::GetLoggingStyle(DWORD* style) { ARK_NNOTES_CALL(getLoggingStyle, style); }
STATUS NnotesApi::GetServerName(char* buffer256) {
  if (fn_ == nullptr && buffer256 != nullptr) buffer256[0] = '\0';
  ARK_NNOTES_CALL(getServerName, buffer256);
}
STATUS NnotesApi::AbbreviateName(DWORD zero1, DWORD zero2, const char* name, char* out, WORD size, WORD* length) {
  ARK_NNOTES_CALL(abbreviateName, zero1, zero2, name, out, size, length);
}
STATUS NnotesApi::TranslatePath(WORD mode, const char* path, WORD length, char* out, WORD size) {
  ARK_NNOTES_CALL(translatePath, mode, path, length, out, size);
}
STATUS NnotesApi::TextToTimeDate(void* zero1, void* zero2, const char** text, WORD length, TIMEDATE* out) {
  ARK_NNOTES_CALL(textToTimeDate, zero1, zero2, text, length, out);
}
STATUS NnotesApi::RecoverDatabaseList(const char* packedList, ArchivedLogCallbackFn callback, DWORD options,
                                      WORD* failingPosition, TIMEDATE* recoveryTime) {
  if (fn_ == nullptr && failingPosition != nullptr) *failingPosition = 0;
  ARK_NNOTES_CALL(recoverDatabaseList, packedList, callback, options, failingPosition, recoveryTime);
}
STATUS NnotesApi::ReadDatabaseRecord(DBHANDLE handle, BYTE record[128]) {
  ARK_NNOTES_CALL(readDatabaseRecord, handle, record);
}
STATUS NnotesApi::WriteDatabaseRecord(DBHANDLE handle, const BYTE record[128]) {
  ARK_NNOTES_CALL(writeDatabaseRecord, handle, record);
}

STATUS NnotesApi::TakeDatabaseOffline(const char* path, DWORD waitMilliseconds, DWORD options) {
  ARK_NNOTES_CALL(takeDatabaseOffline, path, waitMilliseconds, options);
}
STATUS NnotesApi::BringDatabaseOnline(const char* path, DWORD options) {
  ARK_NNOTES_CALL(bringDatabaseOnline, path, options);
}
STATUS NnotesApi::GetModifiedNoteTable(DBHANDLE handle, WORD noteClassMask, TIMEDATE since, TIMEDATE* until,
                                       DHANDLE* table) {
  ARK_NNOTES_CALL(getModifiedNoteTable, handle, noteClassMask, since, until, table);
}
int NnotesApi::ScanIdTable(DHANDLE table, int first, DWORD* id) {
  return fn_ != nullptr ? fn_->scanIdTable(table, first, id) : 0;
}
STATUS NnotesApi::DestroyIdTable(DHANDLE table) { ARK_NNOTES_CALL(destroyIdTable, table); }
STATUS NnotesApi::OpenNote(DBHANDLE handle, NOTEID id, WORD options, NOTEHANDLE* note) {
  ARK_NNOTES_CALL(openNote, handle, id, options, note);
}
STATUS NnotesApi::CloseNote(NOTEHANDLE note) { ARK_NNOTES_CALL(closeNote, note); }

#undef ARK_NNOTES_CALL

}  // namespace ark
