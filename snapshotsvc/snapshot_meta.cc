#include "snapshotsvc/snapshot_meta.h"

#include <cerrno>
#include <charconv>

#include "platform/kit/errno_map.h"
#include "platform/kit/file_io.h"

namespace snapshotsvc {
namespace {

namespace kit = platform::kit;

constexpr std::string_view kHeader = "ark-snapshot 1";
constexpr std::size_t kMaxMetaSize = 64 * 1024;

bool TakeLine(std::string_view& text, std::string_view& line) {
  if (text.empty()) return false;
  std::size_t end = text.find('\n');
  if (end == std::string_view::npos) return false;  // every line ends in "\n"
  line = text.substr(0, end);
  text.remove_prefix(end + 1);
  return true;
}

}  // namespace

std::string FormatMeta(const SnapshotMeta& meta) {
  std::string text(kHeader);
  text += "\nName=" + meta.name + "\nCreationTime=" + std::to_string(meta.creationTime) +
          "\nBackend=" + meta.backend + "\n";
  return text;
}

bool ParseMeta(std::string_view text, SnapshotMeta& meta) {
  std::string_view line;
  if (!TakeLine(text, line) || line != kHeader) return false;
  bool haveName = false, haveTime = false;
  SnapshotMeta out;
  while (TakeLine(text, line)) {
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return false;
    std::string_view key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "Name") {
      out.name = std::string(value);
      haveName = !value.empty();
    } else if (key == "CreationTime") {
      auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), out.creationTime);
      haveTime = ec == std::errc() && end == value.data() + value.size() && !value.empty();
    } else if (key == "Backend") {
      out.backend = std::string(value);
    }  // unknown keys are kept for later versions and ignored here
  }
  if (!text.empty() || !haveName || !haveTime) return false;
  meta = out;
  return true;
}

HRESULT WriteMetaFile(const std::string& folder, const SnapshotMeta& meta) {
  const int err = kit::WriteFileAtomically(folder + "/" + kMetaFileName, FormatMeta(meta), true);
  return kit::HresultFromResult(err);
}

HRESULT ReadMetaFile(const std::string& folder, SnapshotMeta& meta) {
  std::string text;
  const int err = kit::ReadFileBytes(folder + "/" + kMetaFileName, text, kMaxMetaSize);
  // Metadata larger than any we write is as malformed as unparsable text.
  if (err == EFBIG || (err == 0 && !ParseMeta(text, meta))) {
    return HRESULT_FROM_WIN32(kit::ERROR_GEN_FAILURE);
  }
  return kit::HresultFromResult(err);
}

}  // namespace snapshotsvc
