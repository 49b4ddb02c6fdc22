// The command session's RunRestore command (code 8) and the list of
// interrupted restores (code 19).
#pragma once

namespace ark {

// Registers the handler of code 8: reply byte 1, read the RestoreRequest,
// then run PerformRestore as a streaming operation whose text is saved as a
// "Restore" report. Returns true; a failed conversation raises a WireError
// that ends the session (the restore itself still runs to its end).
void RegisterRestoreCommand();
// Registers the handler of code 19: reply byte 1, u32 n, then n strings,
// the line of each restore that died in the middle (its journal is still
// in the ArkLedger).
void RegisterInterruptedRestoresCommand();

}  // namespace ark
