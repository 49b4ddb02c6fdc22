#include "dominosim/status.h"

#include <cerrno>
#include <cstdio>

#include "platform/kit/process.h"

namespace dominosim {

std::string StatusText(STATUS status) {
  switch (status) {
    case NOERROR: return "No error";
    case ERR_NO_MORE_LOGS: return "There are no more transaction logs to archive";
    case ERR_LOGS_MISSING: return "Recovery needs transaction log files that could not be found";
    case ERR_DB_NOT_LOGGED: return "Transaction logging is disabled for this database";
    case ERR_LOGGING_DISABLED: return "Transaction logging is not enabled on this server";
    case ERR_NOT_INITIALIZED: return "The Domino runtime has not been initialized";
    case ERR_INIT_ARGS: return "Invalid arguments to start the Domino runtime";
    case ERR_INI_NOT_FOUND: return "Unable to read the server's notes.ini";
    case ERR_NO_DATA_DIRECTORY: return "notes.ini does not name a data directory";
    case ERR_BAD_PATH: return "Invalid file name or path";
    case ERR_FILE_NOT_FOUND: return "File does not exist";
    case ERR_IO: return "File I/O error";
    case ERR_DISK_FULL: return "Insufficient disk space";
    case ERR_NOT_DATABASE: return "File is not a database";
    case ERR_DB_CORRUPT: return "Database is damaged";
    case ERR_DB_VERSION: return "Database has an unsupported format version";
    case ERR_BAD_HANDLE: return "Invalid database handle";
    case ERR_IN_BACKUP: return "Database is already in backup mode";
    case ERR_NOT_IN_BACKUP: return "Database is not in backup mode or the backup context is invalid";
    case ERR_BACKUP_NOT_STOPPED: return "Backup has not been stopped; change information is not available";
    case ERR_CHANGE_CORRUPT: return "Change information is damaged";
    case ERR_CHANGE_TRUNCATED: return "Change information is incomplete";
    case ERR_CHANGE_TOO_LONG: return "Change information is longer than its declared size";
    case ERR_CHANGE_OTHER_DB: return "Change information belongs to another database";
    case ERR_BAD_APPLY_CONTEXT: return "Invalid change information context";
    case ERR_LOG_NOT_FOUND: return "The transaction log control file is missing or damaged";
    case ERR_LOG_CORRUPT: return "A transaction log extent is damaged";
    case ERR_LOG_FOREIGN: return "A transaction log extent belongs to another log";
    case ERR_DB_OTHER_LOG: return "Database belongs to another transaction log";
    case ERR_NOT_ARCHIVE_LOGGING: return "Archive transaction logging is not enabled on this server";
    case ERR_LOG_NOT_ARCHIVABLE: return "The transaction log extent is not ready to be archived";
    case ERR_BAD_TIME: return "Unable to interpret time or date";
    case ERR_BUFFER_SMALL: return "Buffer is too small";
    case ERR_BAD_NAME: return "Invalid name";
    case ERR_BAD_LIST: return "Invalid database list";
    case ERR_NO_SERVER_NAME: return "notes.ini does not name the server";
    case ERR_STATE_CORRUPT: return "The database's backup state file is damaged";
    case ERR_BAD_ARGUMENT: return "Invalid argument";
    case ERR_BAD_PAGE: return "Invalid page number";
    case ERR_DB_EXISTS: return "Database already exists";
    case ERR_DB_OFFLINE: return "Database is offline";
    case ERR_DBINUSE: return "Database is being accessed by one or more processes and cannot be taken offline";
    case ERR_PAGE_DAMAGED: return "A page of the database is damaged";
    case ERR_LATE_BACKUP: return "Backup is later than point in time specified for recovery";
    case ERR_TOO_MANY_FILES: {
      char text[96];
      std::snprintf(text, sizeof text, "File I/O error: too many open files (the limit is %llu)",
                    platform::kit::OpenDescriptorLimit());
      return text;
    }
    default: break;
  }
  char text[48];
  std::snprintf(text, sizeof text, "Unknown error 0x%04X", unsigned(status));
  return text;
}

STATUS StatusFromErrno(int error) {
  switch (error) {
    case ENOENT: return ERR_FILE_NOT_FOUND;
    case EMFILE: return ERR_TOO_MANY_FILES;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP: return ERR_BAD_PATH;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return ERR_DISK_FULL;
    default: return ERR_IO;
  }
}

}  // namespace dominosim
