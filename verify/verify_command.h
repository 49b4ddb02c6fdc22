// The VerifySnapshot command (code 16) of the client session.
#pragma once

namespace ark {

// Makes the session answer code 16: reply byte 1, read the server's
// DominoServerInfo and a snapshot name (empty: every snapshot of the
// server), verify with the findings streaming to the client, then "done"
// and a "Backup" report. Returns true; a failed conversation raises a
// WireError that ends the session.
void RegisterVerifyCommand();

}  // namespace ark
