// FormatMessage: the system's text for a Win32 code or an HRESULT. Some
// systems have no text for some codes (Wine has none for E_NOINTERFACE or
// REGDB_E_CLASSNOTREG); the code in numbers stands in for it then.
#include <cstdio>

#include "platform/win32/windows_api.h"

namespace platform {
namespace {

std::string SystemText(WinDWORD code) {
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

std::string Numeric(const char* format, std::uint32_t code) {
  char text[32];
  std::snprintf(text, sizeof text, format, static_cast<unsigned>(code));
  return text;
}

}  // namespace

std::string FormatMessage(DWORD code) {
  if (code & 0x80000000u) return FormatMessageHr(static_cast<HRESULT>(code));
  std::string text = SystemText(code);
  return text.empty() ? Numeric("Error %u", code) : text;
}

std::string FormatMessageHr(HRESULT hr) {
  const auto code = static_cast<std::uint32_t>(hr);
  std::string text = SystemText(code);
  if (text.empty() && (code & 0xFFFF0000u) == 0x80070000u) text = SystemText(code & 0xFFFFu);
  return text.empty() ? Numeric("Error 0x%08X", code) : text;
}

}  // namespace platform
