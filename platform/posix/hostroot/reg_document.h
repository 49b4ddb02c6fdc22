// The Windows .reg text format ("Windows Registry Editor Version 5.00"),
// parsed into sections and entries so that a rewrite keeps every line it
// did not change exactly as it was read.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace platform::posix {

extern const char kRegHeader[];  // "Windows Registry Editor Version 5.00"

struct RegEntry {
  bool isValue = false;    // false: a line kept as written (comment, deletion, ...)
  bool known = false;      // a value of a type RegValue represents, parsed without fault
  RegValue value;          // name always set for values ("" is the default value "@")
  std::vector<std::string> raw;  // the lines as read; empty once the entry changed
};

struct RegSection {
  bool hklm = false;             // a key of HKEY_LOCAL_MACHINE (else kept verbatim)
  std::string path;              // relative to HKLM, '\'-joined, no empty components
  std::string rawHeader;         // the bracket line as read; empty for new sections
  std::vector<RegEntry> entries;
};

class RegDocument {
 public:
  void Parse(std::string_view text);
  std::string Serialize() const;

  bool KeyExists(std::string_view key) const;
  // Results are Win32 codes.
  LONG CreateKey(std::string_view key, bool* changed);
  LONG DeleteKeyTree(std::string_view key);
  // The last value of that name in the key's sections; nullptr when absent.
  const RegEntry* FindValue(std::string_view key, std::string_view name) const;
  void SetValue(std::string_view key, const RegValue& value);
  LONG DeleteValue(std::string_view key, std::string_view name);
  std::vector<std::string> SubKeys(std::string_view key) const;
  std::vector<RegValue> Values(std::string_view key) const;

 private:
  RegSection* LastSection(const std::string& path);
  RegSection& AddSection(const std::string& path);

  std::string header_ = kRegHeader;
  std::vector<std::string> preamble_;  // lines between the header and the first key
  std::vector<RegSection> sections_;
  std::string eol_ = "\r\n";
};

// "SOFTWARE\\Lotus\\\\Domino\\" → "SOFTWARE\Lotus\Domino" (case kept).
std::string NormalizeKeyPath(std::string_view key);

}  // namespace platform::posix
