// The report commands of the session: list, time, read and delete the
// reports of a type.
#pragma once

#include <string_view>

#include "net/command.h"

namespace ark {

// Each reads the rest of its request (the type byte, sign-extended, and for
// the named ones the report name) and answers status 1 followed by its data,
// or only a failure status: 2 for an invalid type, and for any other failure
// of the store (a missing ReportFolder value, a file that cannot be opened,
// read or deleted, an unsafe name) 5 (list), 3 (time), 4 (read) or 6
// (delete). They return true: a failure of the store leaves the session
// going. A failed or timed-out socket call raises a WireError instead, since
// the position in the client's byte stream is then unknown. Nothing is
// written through Output and nothing stays held.

// ListReports: the type is the command's payload byte; status 1, the count
// (u32) and each name.
bool HandleListReports(platform::SOCKET client, Command& command);
// GetReportTime: status 1 and the file's last-write FILETIME, low then high u32.
bool HandleGetReportTime(platform::SOCKET client, Command& command);
// ReadReport: status 1 and the report's text.
bool HandleReadReport(platform::SOCKET client, Command& command);
// DeleteReport: deletes the one file; status 1, also when the file was not
// there or could not be deleted (the store ignores a failed delete).
bool HandleDeleteReport(platform::SOCKET client, Command& command);
// DeleteReportsOfType: deletes every report of the type; status 1, also when
// some could not be deleted.
bool HandleDeleteReportsOfType(platform::SOCKET client, Command& command);

// Whether a report name that came from the network names a file inside one
// type's folder and nothing else: false for an empty name, "." and "..", and
// a name holding "\", "/", ":" or a zero byte.
bool IsSafeReportName(std::string_view name);

}  // namespace ark
