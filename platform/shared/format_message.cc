// FormatMessage: the system's text for a Win32 code or an HRESULT, else the
// code in numbers ("Error 1234", "Error 0x80040154"), so that a message is
// never blank.
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/files.h"
#include "platform/shared/machine.h"

namespace platform {
namespace {

std::string Numeric(const char* format, std::uint32_t code) {
  char text[32];
  std::snprintf(text, sizeof text, format, static_cast<unsigned>(code));
  return text;
}

}  // namespace

std::string FormatMessage(DWORD code) {
  // An HRESULT handed over as a DWORD, as FormatMessage accepts it on Windows.
  if (code & 0x80000000u) return FormatMessageHr(static_cast<HRESULT>(code));
  const std::string text = machine::MessageText(code);
  return text.empty() ? Numeric("Error %u", code) : text;
}

std::string FormatMessageHr(HRESULT hr) {
  const auto code = static_cast<std::uint32_t>(hr);
  std::string text = machine::MessageText(code);
  // HRESULT_FROM_WIN32: the Win32 code's text.
  if (text.empty() && (code & 0xFFFF0000u) == 0x80070000u) text = machine::MessageText(code & 0xFFFFu);
  return text.empty() ? Numeric("Error 0x%08X", code) : text;
}

}  // namespace platform
