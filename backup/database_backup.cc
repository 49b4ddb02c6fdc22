// Putting the databases of a server into backup mode, saving the change
// information that Domino recorded meanwhile, and giving backups up.
#include "backup/database_backup.h"

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "domino/host_utils.h"
#include "domino/settings.h"
#include "ledger/change_info_file.h"
#include "output/output.h"
#include "platform/debug.h"
#include "platform/files.h"
#include "platform/text.h"

namespace ark {

namespace {

// Only the first 19 databases without logging are warned about and listed.
constexpr int kMaxDisabledListed = 19;
// Change information moves in chunks of at most this many bytes.
constexpr DWORD kChangeInfoChunk = 32768;

// Ends a backup that cannot be completed and closes the database.
void GiveUp(DatabaseEntry& entry) {
  entry.inBackup = 0;
  Domino().BackupEnd(entry.handle, entry.backupContext, 1);
  Domino().CloseDatabase(entry.handle);
}

// The line naming the class of a failed file creation; empty for errors
// outside the five classes.
std::string ErrorClassLine(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return "ERROR: (ENOENT) File or path not found\r\n";
    case ERROR_ACCESS_DENIED:
      return "ERROR: (EACCES) Tried to open read-only file for writing\r\n";
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return "ERROR: (EEXIST) Filename already exists\r\n";
    case ERROR_INVALID_PARAMETER:
      return "ERROR: (EINVAL) Invalid oflag or pmode argument \r\n";
    case ERROR_TOO_MANY_OPEN_FILES:
      return "ERROR: (EMFILE) No more file handles available (too many open files)\r\n";
    default:
      return "";
  }
}

// Stops one database's backup and writes its change-information file.
// 0, or -1 after the message was written and the entry given up.
int CaptureOne(BackupRequest& request, DatabaseEntry& entry, const std::string& ledgerDirectory,
               std::vector<BYTE>& buffer, std::string& madeDirectory, platform::FlushBatch& written) {
  DominoApi& api = Domino();
  entry.lastStatus = api.BackupStop(entry.handle, entry.backupContext);
  if (entry.lastStatus != NOERROR) {
    Output(request.output, "ERROR: Cannot stop backupmode of  database : " + entry.path + ".\r\n" +
                               DominoErrorText(entry.lastStatus) + "\r\n");
    GiveUp(entry);
    return -1;
  }
  entry.lastStatus = api.GetChangeInfoSize(entry.handle, entry.backupContext, 0,
                                           &entry.changeInfoSizeLow, &entry.changeInfoSizeHigh);
  if (entry.lastStatus != NOERROR) {
    Output(request.output, "ERROR: Cannot get changeinfo size of database : " + entry.path +
                               ".\r\n" + DominoErrorText(entry.lastStatus) + "\r\n");
    GiveUp(entry);
    return -1;
  }

  const std::string path = MakeChangeInfoPath(ledgerDirectory, entry.path);
  // Databases of one folder come one after the other: their folder is made
  // (or looked at) once.
  std::size_t lastSeparator = path.find_last_of('\\');
  if (lastSeparator != std::string::npos && path.compare(0, lastSeparator, madeDirectory) != 0) {
    madeDirectory = path.substr(0, lastSeparator);
    if (CreateDirectoryTree(madeDirectory) != 1) madeDirectory.clear();
  }

  platform::File file;
  DWORD error = file.Open(path, platform::File::Mode::CreateAlways);
  if (error != ERROR_SUCCESS) {
    Output(request.output, ErrorClassLine(error) + "ERROR: Cannot open changeinfo file : " + path +
                               "\r\n" + "Most likely due to failure to rename the recent " + path +
                               ".\r\n" + "arkledger directory to it's time/date value." + "\r\n");
    GiveUp(entry);
    return -1;
  }

  const ChangeInfoHeader header = EncodeChangeInfoHeader(entry.changeInfoSizeLow, entry.changeInfoSizeHigh);
  if (file.Write(header.data(), header.size()) != ERROR_SUCCESS) {
    Output(request.output,
           "ERROR: Cannot write low/high bytes to change info file: " + path + ".\r\n" + "\r\n");
    GiveUp(entry);
    return -1;  // the file closes as it goes out of scope
  }

  // The size words tell a restore how many bytes to apply: a stream that
  // delivers more or fewer bytes than they say could not be applied, so it
  // fails the backup now rather than the restore later.
  const std::uint64_t announced = ChangeInfoSize(entry.changeInfoSizeLow, entry.changeInfoSizeHigh);
  std::uint64_t delivered = 0;
  auto readFailed = [&] {
    Output(request.output, "ERROR: Getting change information (Notes API) failed (while writing to " +
                               path + ").\r\n" + "\r\n");
    GiveUp(entry);
    return -1;
  };
  for (;;) {
    std::memset(buffer.data(), 0, buffer.size());
    entry.chunkLength = 0;
    entry.lastStatus = api.GetChangeInfo(entry.handle, entry.backupContext, 0, buffer.data(),
                                         kChangeInfoChunk, &entry.chunkLength);
    // A chunk longer than the buffer cannot be real: refuse it rather than
    // read past the buffer.
    if (entry.lastStatus != NOERROR || entry.chunkLength > kChangeInfoChunk) return readFailed();
    if (entry.chunkLength == 0) break;
    delivered += entry.chunkLength;
    if (delivered > announced) return readFailed();
    if (file.Write(buffer.data(), entry.chunkLength) != ERROR_SUCCESS) {
      Output(request.output, "ERROR: Writing change information to file: " + path + " failed.\r\n");
      GiveUp(entry);
      return -1;
    }
  }
  if (delivered != announced) return readFailed();
  // A file that cannot be closed cleanly may not hold what was written.
  if (file.Close() != ERROR_SUCCESS) {
    Output(request.output, "ERROR: Writing change information to file: " + path + " failed.\r\n");
    GiveUp(entry);
    return -1;
  }

  written.Add(path);
  written.AddDirectoriesAbove(path);
  api.BackupEnd(entry.handle, entry.backupContext, 0);
  api.CloseDatabase(entry.handle);
  entry.inBackup = 0;
  return 0;
}

}  // namespace

std::string DominoErrorText(STATUS status, std::size_t size) {
  if (size == 0) return "";
  if (size > 0xFFFF) size = 0xFFFF;
  std::vector<char> buffer(size, 0);
  Domino().GetErrorText(0, STATUS(status & ERR_MASK), buffer.data(), WORD(size));
  buffer.back() = 0;
  return std::string(buffer.data());
}

int StartDatabaseBackups(BackupRequest& request, std::vector<DatabaseEntry>& list,
                         std::vector<std::string>& disabled) {
  DominoApi& api = Domino();
  int unlogged = 0;
  for (DatabaseEntry& entry : list) {
    entry.lastStatus = api.OpenDatabase(entry.path.c_str(), &entry.handle);
    if (entry.lastStatus != NOERROR) {
      entry.inBackup = 0;
      Output(request.output, "ERROR: Cannot open database: " + entry.path + "\r\n" +
                                 "Domino Reports: " + DominoErrorText(entry.lastStatus) +
                                 "\r\nAborting backup of all databases.\r\n");
      return -1;
    }
    entry.inBackup = 1;

    entry.lastStatus = api.GetDatabaseLogInfo(entry.handle, 0, &entry.logged, entry.logId.data(),
                                              entry.secondId.data(), &entry.logExtent);
    if (entry.lastStatus != NOERROR) {
      Output(request.output, "ERROR: Could not obtain log information for " + entry.path +
                                 " \r\n" + DominoErrorText(entry.lastStatus) + "\r\n");
      api.CloseDatabase(entry.handle);
      entry.inBackup = 0;
      return -1;
    }

    entry.lastStatus = api.BackupStart(entry.handle, 0, &entry.backupContext, &entry.startValue1,
                                       &entry.startValue2);
    if (entry.lastStatus != NOERROR) {
      entry.inBackup = 0;
      Output(request.output, "ERROR: Cannot place database : " + entry.path +
                                 " in backup mode.\r\n" + DominoErrorText(entry.lastStatus) +
                                 "\r\nPlease restart the server and try again.\r\n");
      api.CloseDatabase(entry.handle);
      return -1;
    }
    platform::OutputDebugString("backuping up db: " + entry.path + "\r\n");

    if (entry.logged == 0) {
      ++unlogged;
      if (unlogged <= kMaxDisabledListed) {
        Output(request.output, "WARNING: Database " + entry.path +
                                   " is disabled for logging (WILL NOT BE RECOVERABLE).\r\n");
        disabled.push_back(entry.path);
      }
    }
  }
  return 0;
}

int CaptureChangeInfo(BackupRequest& request, std::vector<DatabaseEntry>& list,
                      const std::string& ledgerDirectory, platform::FlushBatch& written) {
  std::vector<BYTE> buffer(kChangeInfoChunk);
  std::string madeDirectory;
  for (DatabaseEntry& entry : list) {
    if (entry.inBackup == 0) continue;
    if (CaptureOne(request, entry, ledgerDirectory, buffer, madeDirectory, written) != 0) return -1;
  }
  return 0;
}

int FlushBackupFiles(BackupRequest& request, platform::FlushBatch& written) {
  std::string failed;
  if (written.Flush(failed) == ERROR_SUCCESS) return 0;
  Output(request.output, "ERROR: Writing change information to file: " + failed + " failed.\r\n");
  return -1;
}

int AbortDatabaseBackups(std::vector<DatabaseEntry>& list) {
  DominoApi& api = Domino();
  for (DatabaseEntry& entry : list) {
    if (entry.inBackup == 0) continue;
    entry.inBackup = 0;  // cleared first: an entry is never given up twice
    api.BackupStop(entry.handle, entry.backupContext);
    api.BackupEnd(entry.handle, entry.backupContext, 1);
    api.CloseDatabase(entry.handle);
  }
  return 0;
}

DatabaseBackupGuard::~DatabaseBackupGuard() {
  // As AbortDatabaseBackups, but a destructor must not throw: a call that
  // throws is passed over and the entry's other calls still run.
  auto quietly = [](auto&& call) {
    try {
      call();
    } catch (...) {
    }
  };
  for (DatabaseEntry& entry : list_) {
    if (entry.inBackup == 0) continue;
    entry.inBackup = 0;
    quietly([&] { Domino().BackupStop(entry.handle, entry.backupContext); });
    quietly([&] { Domino().BackupEnd(entry.handle, entry.backupContext, 1); });
    quietly([&] { Domino().CloseDatabase(entry.handle); });
  }
}

// Finding the database files of a data directory.
namespace {

// The extension of a file name as the platform's path splitter sees it: from
// the last dot on, or empty.
std::string_view Extension(std::string_view name) {
  std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string_view() : name.substr(dot);
}

bool IsDatabaseName(std::string_view name) {
  std::string_view ext = Extension(name);
  if (ext.size() != 4) return false;
  return platform::EndsWithNoCase(ext, ".nsf") || platform::EndsWithNoCase(ext, ".ntf") ||
         platform::EndsWithNoCase(ext, ".box");
}

}  // namespace

DWORD FindDatabases(const std::string& directory, std::vector<DatabaseEntry>& list) {
  const std::string d = WithBackslash(directory);
  // The listing leaves "." and ".." out and costs no status call per file.
  std::vector<platform::DirectoryName> entries;
  DWORD error = platform::ListDirectoryNames(d, entries);
  if (error != ERROR_SUCCESS) return error;
  for (const platform::DirectoryName& entry : entries) {
    if (entry.directory) {
      // A subdirectory's databases come where the subdirectory is met; a
      // subdirectory that cannot be listed is passed over.
      FindDatabases(d + entry.name + "\\", list);
    } else if (IsDatabaseName(entry.name)) {
      DatabaseEntry found;
      found.path = d + entry.name;
      list.push_back(std::move(found));
    }
  }
  return ERROR_SUCCESS;
}

}  // namespace ark
