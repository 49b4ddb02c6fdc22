#include "platform/posix/hostroot/reg_value_text.h"

#include <cstdio>

#include "platform/text.h"

namespace platform::posix {
namespace {

// regedit wraps binary data once a line reaches this many columns.
constexpr std::size_t kHexWrapColumn = 77;

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Reads a quoted text starting at s[0] == '"'; \\ and \" are escapes, any
// other backslash stands for itself. Advances s past the closing quote.
bool ReadQuoted(std::string_view& s, std::string& out) {
  out.clear();
  for (std::size_t i = 1; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
      out += s[++i];
    } else if (c == '"') {
      s.remove_prefix(i + 1);
      return true;
    } else {
      out += c;
    }
  }
  return false;
}

std::string Quote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "41,00,42,00" (blanks and line-continuation backslashes allowed).
bool ParseHexBytes(std::string_view s, std::string& bytes) {
  bytes.clear();
  std::string_view rest = TrimLeft(TrimRight(s));
  if (rest.empty()) return true;
  while (true) {
    rest = TrimLeft(rest);
    if (rest.size() < 2) return false;
    const int hi = HexDigit(rest[0]), lo = HexDigit(rest[1]);
    if (hi < 0 || lo < 0) return false;
    bytes += static_cast<char>(hi * 16 + lo);
    rest = TrimLeft(rest.substr(2));
    if (rest.empty()) return true;
    if (rest.front() != ',') return false;
    rest.remove_prefix(1);
  }
}

// UTF-16LE bytes with the terminating zero(s) dropped.
bool Utf16LeToText(const std::string& bytes, std::string& text) {
  if (bytes.size() % 2 != 0) return false;
  std::u16string wide;
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    wide += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                  (static_cast<unsigned char>(bytes[i + 1]) << 8));
  }
  while (!wide.empty() && wide.back() == 0) wide.pop_back();
  text = WideToAnsi(wide);
  return true;
}

bool ParseData(std::string_view data, RegValue& value) {
  data = TrimRight(TrimLeft(data));
  std::string bytes;
  if (!data.empty() && data.front() == '"') {
    std::string text;
    if (!ReadQuoted(data, text) || !TrimLeft(data).empty()) return false;
    value.type = RegType::String;
    value.text = std::move(text);
    return true;
  }
  if (StartsWithNoCase(data, "dword:")) {
    const std::string_view digits = data.substr(6);
    if (digits.empty() || digits.size() > 8) return false;
    DWORD number = 0;
    for (char c : digits) {
      const int d = HexDigit(c);
      if (d < 0) return false;
      number = number * 16 + static_cast<DWORD>(d);
    }
    value.type = RegType::Dword;
    value.number = number;
    return true;
  }
  const bool expand = StartsWithNoCase(data, "hex(2):");
  if (expand || StartsWithNoCase(data, "hex(1):")) {
    std::string text;
    if (!ParseHexBytes(data.substr(7), bytes) || !Utf16LeToText(bytes, text)) return false;
    value.type = expand ? RegType::ExpandString : RegType::String;
    value.text = std::move(text);
    return true;
  }
  if (StartsWithNoCase(data, "hex(4):")) {
    if (!ParseHexBytes(data.substr(7), bytes) || bytes.size() != 4) return false;
    value.type = RegType::Dword;
    value.number = 0;
    for (int i = 3; i >= 0; --i) value.number = (value.number << 8) | static_cast<unsigned char>(bytes[i]);
    return true;
  }
  return false;  // another type (hex:, hex(7):, qword ...) or a deletion: kept as written
}

// name=hex(N):xx,xx,... wrapped as regedit does: ",\" at the end of a full
// line and two blanks at the start of the next.
std::vector<std::string> HexLines(const std::string& prefix, const std::string& bytes) {
  std::vector<std::string> lines;
  std::string line = prefix;
  char item[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(item, sizeof item, "%02x", static_cast<unsigned char>(bytes[i]));
    line += item;
    if (i + 1 == bytes.size()) break;
    line += ',';
    if (line.size() >= kHexWrapColumn) {
      line += '\\';
      lines.push_back(std::move(line));
      line = "  ";
    }
  }
  lines.push_back(std::move(line));
  return lines;
}

std::string Utf16LeBytesWithTerminator(const std::string& text) {
  std::string bytes;
  for (char16_t unit : AnsiToWide(text)) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  bytes.append(2, '\0');
  return bytes;
}

// Splits a value line into its name and the text after '='.
bool SplitValueLine(std::string_view line, std::string& name, std::string_view& data) {
  std::string_view s = TrimLeft(line);
  name.clear();
  if (!s.empty() && s.front() == '@') {
    s.remove_prefix(1);
  } else if (s.empty() || s.front() != '"' || !ReadQuoted(s, name)) {
    return false;
  }
  s = TrimLeft(s);
  if (s.empty() || s.front() != '=') return false;
  data = TrimLeft(s.substr(1));
  return true;
}

}  // namespace

bool StartsWrappedBinaryValue(std::string_view line) {
  std::string name;
  std::string_view data;
  line = TrimRight(line);
  return SplitValueLine(line, name, data) && StartsWithNoCase(data, "hex") && line.ends_with('\\');
}

bool ParseValueLine(std::string_view line, RegEntry& entry) {
  std::string name;
  std::string_view data;
  if (!SplitValueLine(line, name, data)) return false;
  entry.isValue = true;
  entry.value = RegValue{};
  entry.value.name = std::move(name);
  entry.known = ParseData(data, entry.value);
  return true;
}

std::vector<std::string> FormatValueLines(const RegValue& value) {
  const std::string name = value.name.empty() ? "@" : Quote(value.name);
  switch (value.type) {
    case RegType::Dword: {
      char digits[16];
      std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(value.number));
      return {name + "=dword:" + digits};
    }
    case RegType::ExpandString:
      return HexLines(name + "=hex(2):", Utf16LeBytesWithTerminator(value.text));
    case RegType::String:
      // A line end or a zero cannot stand inside quotes: such text is kept
      // as REG_SZ data in binary form instead.
      if (value.text.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
        return HexLines(name + "=hex(1):", Utf16LeBytesWithTerminator(value.text));
      }
      return {name + "=" + Quote(value.text)};
  }
  return {};
}

}  // namespace platform::posix
