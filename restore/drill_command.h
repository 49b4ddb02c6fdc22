// The DrillSnapshot command (code 18) of the client session.
#pragma once

namespace ark {

// Makes the session answer code 18: reply byte 1, read the server's
// DominoServerInfo, a snapshot name ("": the newest), a scratch folder ("":
// a clone, else below the ArkLedger root) and a bool keep; run the drill
// with its text streaming to the client, then "done" and a "Backup" report.
// A failed conversation raises a WireError that ends the session.
void RegisterDrillCommand();

}  // namespace ark
