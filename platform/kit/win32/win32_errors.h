// Win32 error codes as the errno values that the toolkit's interface gives.
#pragma once

namespace platform::kit::win32 {

int ErrnoFromWin32(unsigned long code);

}  // namespace platform::kit::win32
