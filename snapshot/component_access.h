// Reaching the snapshot component: the class factory and the interface, each
// released by ownership on every path, and the system texts of failures.
#pragma once

#include <memory>
#include <string>

#include "platform/com.h"
#include "snapshot/snapshot_service.h"

namespace ark::snapshot {

// In-process or local server: every use but taking a snapshot.
constexpr DWORD kComponentContext = platform::CLSCTX_INPROC_SERVER | platform::CLSCTX_LOCAL_SERVER;
// Taking a snapshot also accepts a remote server.
constexpr DWORD kTakeSnapshotContext = kComponentContext | platform::CLSCTX_REMOTE_SERVER;

// The operating system's text for an HRESULT or a Win32 code, at most 1023
// characters (a 1024-byte buffer); empty when there is none.
std::string SystemText(HRESULT hr);
std::string SystemTextOfError(DWORD code);

// The one-character drive string made of the first character of driveLetter
// (empty when driveLetter is empty).
std::u16string DriveOf(const std::u16string& driveLetter);

enum class OpenFailure { None, Factory, Interface };

// Obtains the snapshot class's factory, creates the ISnapshotService
// interface and releases the factory. On failure returns the failing HRESULT
// and says in *failure which step failed; service stays empty.
HRESULT OpenSnapshotService(DWORD context, std::unique_ptr<ISnapshotService>& service,
                            OpenFailure* failure);

}  // namespace ark::snapshot
