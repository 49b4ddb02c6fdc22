// The RestoreDatabases command (code 17) of the client session.
#pragma once

namespace ark {

// Makes the session answer code 17: reply byte 1, read the
// DatabaseRestoreRequest, then restore the databases with the running text
// streaming to the client, "done" and a "Restore" report. A target or
// placement the command does not know is answered with one "ERROR: ..."
// line and "done", and nothing is done. Returns true; a failed conversation
// raises a WireError that ends the session.
void RegisterRestoreDatabasesCommand();

}  // namespace ark
