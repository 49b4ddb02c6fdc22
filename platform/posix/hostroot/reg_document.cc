#include "platform/posix/hostroot/reg_document.h"

#include <algorithm>

#include "platform/posix/hostroot/reg_value_text.h"
#include "platform/text.h"

namespace platform::posix {

const char kRegHeader[] = "Windows Registry Editor Version 5.00";

namespace {

constexpr std::string_view kHklm = "HKEY_LOCAL_MACHINE";

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// True when path is key itself or lies below it.
bool IsAtOrBelow(std::string_view path, std::string_view key) {
  if (key.empty()) return true;
  if (!StartsWithNoCase(path, key)) return false;
  return path.size() == key.size() || path[key.size()] == '\\';
}

// Splits text into lines, dropping "\r" of "\r\n" ends; notes which end the
// text uses so that a rewrite keeps it.
std::vector<std::string_view> SplitLines(std::string_view text, std::string& eol) {
  std::vector<std::string_view> lines;
  bool eolSeen = false;
  while (!text.empty()) {
    const auto nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    if (!eolSeen && nl != std::string_view::npos) {
      eol = line.ends_with('\r') ? "\r\n" : "\n";
      eolSeen = true;
    }
    if (line.ends_with('\r')) line.remove_suffix(1);
    lines.push_back(line);
    if (nl == std::string_view::npos) break;
    text.remove_prefix(nl + 1);
  }
  return lines;
}

}  // namespace

std::string NormalizeKeyPath(std::string_view key) {
  std::string out;
  std::size_t i = 0;
  while (i <= key.size()) {
    const auto sep = key.find_first_of("\\", i);
    const std::string_view part = key.substr(i, sep == std::string_view::npos ? std::string_view::npos : sep - i);
    if (!part.empty()) {
      if (!out.empty()) out += '\\';
      out += part;
    }
    if (sep == std::string_view::npos) break;
    i = sep + 1;
  }
  return out;
}

void RegDocument::Parse(std::string_view text) {
  header_ = kRegHeader;
  preamble_.clear();
  sections_.clear();
  eol_ = "\r\n";
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  // regedit exports UTF-16LE with a byte order mark: read as UTF-8 text
  // (a rewrite then stores UTF-8).
  std::string converted;
  if (text.starts_with("\xFF\xFE")) {
    std::u16string wide;
    for (std::size_t i = 2; i + 1 < text.size(); i += 2) {
      wide += static_cast<char16_t>(static_cast<unsigned char>(text[i]) |
                                    (static_cast<unsigned char>(text[i + 1]) << 8));
    }
    converted = WideToAnsi(wide);
    text = converted;
  }
  const std::vector<std::string_view> lines = SplitLines(text, eol_);
  std::size_t i = 0;
  if (!lines.empty() && !Trim(lines[0]).empty() && !Trim(lines[0]).starts_with('[')) {
    header_ = std::string(lines[0]);
    i = 1;
  }
  for (; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    const std::string_view trimmed = Trim(line);
    if (trimmed.empty()) continue;  // blank lines are rewritten as one between keys
    if (trimmed.front() == '[' && trimmed.back() == ']') {
      RegSection section;
      section.rawHeader = std::string(line);
      const std::string_view name = trimmed.substr(1, trimmed.size() - 2);
      if (StartsWithNoCase(name, kHklm) && (name.size() == kHklm.size() || name[kHklm.size()] == '\\')) {
        section.hklm = true;
        section.path = NormalizeKeyPath(name.substr(kHklm.size()));
      }
      sections_.push_back(std::move(section));
      continue;
    }
    RegEntry entry;
    entry.raw.emplace_back(line);
    std::string logical(line);
    if (StartsWrappedBinaryValue(line)) {
      // Join "41,00,\" + "  42,00" into one list of bytes.
      while (Trim(logical).ends_with('\\') && i + 1 < lines.size()) {
        logical = std::string(Trim(logical));
        logical.pop_back();
        entry.raw.emplace_back(lines[++i]);
        logical += Trim(lines[i]);
      }
    }
    if (!ParseValueLine(logical, entry)) entry = RegEntry{{}, {}, {}, std::move(entry.raw)};
    if (sections_.empty()) {
      for (auto& raw : entry.raw) preamble_.push_back(std::move(raw));
    } else {
      sections_.back().entries.push_back(std::move(entry));
    }
  }
}

std::string RegDocument::Serialize() const {
  std::string out = header_ + eol_ + eol_;
  for (const std::string& line : preamble_) out += line + eol_;
  if (!preamble_.empty()) out += eol_;
  for (const RegSection& section : sections_) {
    out += section.rawHeader.empty()
               ? "[" + std::string(kHklm) + (section.path.empty() ? "" : "\\" + section.path) + "]"
               : section.rawHeader;
    out += eol_;
    for (const RegEntry& entry : section.entries) {
      const std::vector<std::string> lines =
          entry.raw.empty() ? FormatValueLines(entry.value) : entry.raw;
      for (const std::string& line : lines) out += line + eol_;
    }
    out += eol_;
  }
  return out;
}

bool RegDocument::KeyExists(std::string_view key) const {
  const std::string path = NormalizeKeyPath(key);
  return path.empty() || std::any_of(sections_.begin(), sections_.end(), [&](const RegSection& s) {
           return s.hklm && IsAtOrBelow(s.path, path);
         });
}

RegSection* RegDocument::LastSection(const std::string& path) {
  for (auto it = sections_.rbegin(); it != sections_.rend(); ++it) {
    if (it->hklm && EqualsNoCase(it->path, path)) return &*it;
  }
  return nullptr;
}

RegSection& RegDocument::AddSection(const std::string& path) {
  RegSection section;
  section.hklm = true;
  section.path = path;
  sections_.push_back(std::move(section));
  return sections_.back();
}

LONG RegDocument::CreateKey(std::string_view key, bool* changed) {
  *changed = false;
  const std::string path = NormalizeKeyPath(key);
  if (KeyExists(path)) return ERROR_SUCCESS;
  AddSection(path);
  *changed = true;
  return ERROR_SUCCESS;
}

LONG RegDocument::DeleteKeyTree(std::string_view key) {
  const std::string path = NormalizeKeyPath(key);
  if (path.empty()) return ERROR_ACCESS_DENIED;  // HKEY_LOCAL_MACHINE itself stays
  const auto removed = std::erase_if(sections_, [&](const RegSection& s) {
    return s.hklm && IsAtOrBelow(s.path, path);
  });
  return removed == 0 ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
}

const RegEntry* RegDocument::FindValue(std::string_view key, std::string_view name) const {
  const std::string path = NormalizeKeyPath(key);
  const RegEntry* found = nullptr;
  for (const RegSection& section : sections_) {
    if (!section.hklm || !EqualsNoCase(section.path, path)) continue;
    for (const RegEntry& entry : section.entries) {
      if (entry.isValue && EqualsNoCase(entry.value.name, name)) found = &entry;
    }
  }
  return found;
}

void RegDocument::SetValue(std::string_view key, const RegValue& value) {
  const std::string path = NormalizeKeyPath(key);
  RegEntry replacement;
  replacement.isValue = true;
  replacement.known = true;
  replacement.value = value;
  // The last entry of that name takes the new value (keeping the case of its
  // name); earlier duplicates, which it hid anyway, go.
  RegEntry* target = nullptr;
  for (RegSection& section : sections_) {
    if (!section.hklm || !EqualsNoCase(section.path, path)) continue;
    for (RegEntry& entry : section.entries) {
      if (entry.isValue && EqualsNoCase(entry.value.name, value.name)) target = &entry;
    }
  }
  if (target == nullptr) {
    RegSection* section = LastSection(path);
    if (section == nullptr) section = &AddSection(path);
    section->entries.push_back(std::move(replacement));
    return;
  }
  replacement.value.name = target->value.name;
  *target = std::move(replacement);
  for (RegSection& section : sections_) {
    if (!section.hklm || !EqualsNoCase(section.path, path)) continue;
    // remove_if tests each entry where it stands, before moving any.
    std::erase_if(section.entries, [&](const RegEntry& e) {
      return &e != target && e.isValue && EqualsNoCase(e.value.name, value.name);
    });
  }
}

LONG RegDocument::DeleteValue(std::string_view key, std::string_view name) {
  const std::string path = NormalizeKeyPath(key);
  std::size_t removed = 0;
  for (RegSection& section : sections_) {
    if (!section.hklm || !EqualsNoCase(section.path, path)) continue;
    removed += std::erase_if(section.entries, [&](const RegEntry& e) {
      return e.isValue && EqualsNoCase(e.value.name, name);
    });
  }
  if (removed > 0) return ERROR_SUCCESS;
  return ERROR_FILE_NOT_FOUND;
}

std::vector<std::string> RegDocument::SubKeys(std::string_view key) const {
  const std::string path = NormalizeKeyPath(key);
  std::vector<std::string> names;
  for (const RegSection& section : sections_) {
    if (!section.hklm || !IsAtOrBelow(section.path, path) || section.path.size() == path.size()) {
      continue;
    }
    std::string_view rest = std::string_view(section.path).substr(path.empty() ? 0 : path.size() + 1);
    rest = rest.substr(0, rest.find('\\'));
    const bool known = std::any_of(names.begin(), names.end(),
                                   [&](const std::string& n) { return EqualsNoCase(n, rest); });
    if (!known) names.emplace_back(rest);
  }
  return names;
}

std::vector<RegValue> RegDocument::Values(std::string_view key) const {
  const std::string path = NormalizeKeyPath(key);
  std::vector<RegValue> values;
  for (const RegSection& section : sections_) {
    if (!section.hklm || !EqualsNoCase(section.path, path)) continue;
    for (const RegEntry& entry : section.entries) {
      if (!entry.isValue) continue;
      auto same = std::find_if(values.begin(), values.end(), [&](const RegValue& v) {
        return EqualsNoCase(v.name, entry.value.name);
      });
      if (same != values.end()) values.erase(same);  // a later line overrides
      if (entry.known) values.push_back(entry.value);
    }
  }
  return values;
}

}  // namespace platform::posix
