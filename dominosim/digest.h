// The digests of a database: what a restore must reproduce.
//
// SHA-256 over the header's content fields (instance identifier, logged
// flag, log identifier, page count, database record) and every data page
// whole. Left out: the header's last-applied log sequence number, log
// extent and last commit time (bookkeeping of the log) and the header's CRC.
#pragma once

#include <string>
#include <vector>

#include "platform/win_types.h"

namespace dominosim {

// Reads the database under its lock (shared), so writers of any process wait
// and the digest is of one consistent state. Every page is checked:
// ERR_DB_CORRUPT names a damaged page.
STATUS DigestDatabase(const std::string& hostPath, const std::string& stateDir, std::string* hex);
// The digest of the content alone: the page count, the database record
// without its replica id, and every data page. A copy recovered at another
// path with new instance and replica ids has the digest of its original.
STATUS DigestDatabaseContent(const std::string& hostPath, const std::string& stateDir, std::string* hex);

// The database files (.nsf, .ntf, .box in any letter case) under dir and its
// subdirectories, as paths relative to dir with "/" separators, sorted.
std::vector<std::string> FindDatabaseFiles(const std::string& dir);

}  // namespace dominosim
