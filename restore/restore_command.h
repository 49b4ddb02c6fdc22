// The command session's RunRestore command (code 8).
#pragma once

namespace ark {

// Registers the handler of code 8: reply byte 1, read the RestoreRequest,
// then run PerformRestore as a streaming operation whose text is saved as a
// "Restore" report. Returns true; a failed conversation raises a WireError
// that ends the session (the restore itself still runs to its end).
void RegisterRestoreCommand();

}  // namespace ark
