// The dominosim tool's commands other than install.
#pragma once

#include <cstdio>
#include <string>

namespace dominosim {

// One line per database of the server: Windows path, a blank, the digest
// (the content digest when content is set; or "ERROR " and the status
// text). Returns the number of databases that could not be digested, or -1
// when the server cannot be read.
int PrintDigests(const std::string& iniPath, std::FILE* out, std::FILE* errors, bool content = false);

// The server's log position and whether its nserver runs.
int PrintStatus(const std::string& iniPath, std::FILE* out);

// Sends SIGTERM to the server's nserver and waits for it to end (up to
// timeoutSeconds). 0 when it ended or was not running.
int StopServer(const std::string& iniPath, double timeoutSeconds, std::FILE* out);

}  // namespace dominosim
