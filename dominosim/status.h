// Statuses of the simulated Domino runtime. Values stay below 0x4000 so that
// a caller masking with ERR_MASK still names the same status.
#pragma once

#include <string>

#include "domino/domino_api.h"

namespace dominosim {

constexpr STATUS ERR_NOT_INITIALIZED = 0x1501;
constexpr STATUS ERR_INIT_ARGS = 0x1502;
constexpr STATUS ERR_INI_NOT_FOUND = 0x1503;
constexpr STATUS ERR_NO_DATA_DIRECTORY = 0x1504;
constexpr STATUS ERR_BAD_PATH = 0x1505;
constexpr STATUS ERR_FILE_NOT_FOUND = 0x1506;
constexpr STATUS ERR_IO = 0x1507;
constexpr STATUS ERR_DISK_FULL = 0x1508;
constexpr STATUS ERR_NOT_DATABASE = 0x1509;
constexpr STATUS ERR_DB_CORRUPT = 0x150A;
constexpr STATUS ERR_DB_VERSION = 0x150B;
constexpr STATUS ERR_BAD_HANDLE = 0x150C;
constexpr STATUS ERR_IN_BACKUP = 0x150D;
constexpr STATUS ERR_NOT_IN_BACKUP = 0x150E;
constexpr STATUS ERR_BACKUP_NOT_STOPPED = 0x150F;
constexpr STATUS ERR_CHANGE_CORRUPT = 0x1510;
constexpr STATUS ERR_CHANGE_TRUNCATED = 0x1511;
constexpr STATUS ERR_CHANGE_TOO_LONG = 0x1512;
constexpr STATUS ERR_CHANGE_OTHER_DB = 0x1513;
constexpr STATUS ERR_BAD_APPLY_CONTEXT = 0x1514;
constexpr STATUS ERR_LOG_NOT_FOUND = 0x1515;
constexpr STATUS ERR_LOG_CORRUPT = 0x1516;
constexpr STATUS ERR_LOG_FOREIGN = 0x1517;
constexpr STATUS ERR_DB_OTHER_LOG = 0x1518;
constexpr STATUS ERR_NOT_ARCHIVE_LOGGING = 0x1519;
constexpr STATUS ERR_LOG_NOT_ARCHIVABLE = 0x151A;
constexpr STATUS ERR_BAD_TIME = 0x151B;
constexpr STATUS ERR_BUFFER_SMALL = 0x151C;
constexpr STATUS ERR_BAD_NAME = 0x151D;
constexpr STATUS ERR_BAD_LIST = 0x151E;
constexpr STATUS ERR_NO_SERVER_NAME = 0x151F;
constexpr STATUS ERR_STATE_CORRUPT = 0x1520;
constexpr STATUS ERR_BAD_ARGUMENT = 0x1521;
constexpr STATUS ERR_BAD_PAGE = 0x1522;
constexpr STATUS ERR_DB_EXISTS = 0x1523;
constexpr STATUS ERR_TOO_MANY_FILES = 0x1524;
constexpr STATUS ERR_DB_OFFLINE = 0x1525;
// The runtime's own values for the failures the Domino C API reference names
// ERR_DBINUSE (a database in use cannot be taken offline) and
// ERR_RM_LATE_BACKUP (the database holds transactions committed at or after
// the moment of a point-in-time recovery): their values in the library are
// not known here.
constexpr STATUS ERR_DBINUSE = 0x1526;
constexpr STATUS ERR_LATE_BACKUP = 0x1527;
// A note's page fails its checksum or names another page; GetErrorText
// names the page.
constexpr STATUS ERR_PAGE_DAMAGED = 0x1528;

// The text of a status (also the texts of the statuses the engine names:
// ERR_NO_MORE_LOGS, ERR_LOGS_MISSING, ERR_DB_NOT_LOGGED, ERR_LOGGING_DISABLED).
// Unknown statuses get a text that names their value. The text of
// ERR_TOO_MANY_FILES names the process's present limit of open files.
std::string StatusText(STATUS status);

// The status for an errno of a failed file operation.
STATUS StatusFromErrno(int error);

}  // namespace dominosim
