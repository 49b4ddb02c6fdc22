// The system's text for a Win32 code or an HRESULT (FormatMessage,
// platform/shared/format_message.cc). Some systems have no text for some
// codes (Wine has none for E_NOINTERFACE or REGDB_E_CLASSNOTREG); the code
// in numbers stands in for it then.
#include "platform/shared/machine.h"
#include "platform/win32/windows_api.h"

namespace platform {

std::string machine::MessageText(std::uint32_t code) {
  char* text = nullptr;
  const WinDWORD n = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  if (n == 0 || text == nullptr) return {};
  std::string out(text, n);
  ::LocalFree(text);
  while (!out.empty() && (out.back() == '\r' || out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

}  // namespace platform
