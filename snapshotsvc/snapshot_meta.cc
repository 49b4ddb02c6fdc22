#include "snapshotsvc/snapshot_meta.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>

#include "snapshotsvc/tree_ops.h"
#include "snapshotsvc/unique_fd.h"
#include "snapshotsvc/win32_errors.h"

namespace snapshotsvc {
namespace {

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
  const std::string text = FormatMeta(meta);
  const std::string temp = folder + "/" + kMetaFileName + ".new";
  const std::string final = folder + "/" + kMetaFileName;
  UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd) return HresultFromErrno(errno);
  HRESULT hr = S_OK;
  std::size_t done = 0;
  while (done < text.size() && SUCCEEDED(hr)) {
    ssize_t n = ::write(fd.get(), text.data() + done, text.size() - done);
    if (n < 0 && errno != EINTR) hr = HresultFromErrno(errno);
    if (n > 0) done += std::size_t(n);
  }
  if (SUCCEEDED(hr) && ::fsync(fd.get()) != 0) hr = HresultFromErrno(errno);
  if (fd.Close() != 0 && SUCCEEDED(hr)) hr = HresultFromErrno(errno);
  if (SUCCEEDED(hr) && ::rename(temp.c_str(), final.c_str()) != 0) hr = HresultFromErrno(errno);
  if (FAILED(hr)) {
    ::unlink(temp.c_str());
    return hr;
  }
  return FsyncDirectory(folder);
}

HRESULT ReadMetaFile(const std::string& folder, SnapshotMeta& meta) {
  const std::string path = folder + "/" + kMetaFileName;
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return HresultFromErrno(errno);
  std::string text;
  char buffer[4096];
  for (;;) {
    ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return HresultFromErrno(errno);
    }
    if (n == 0) break;
    text.append(buffer, std::size_t(n));
    if (text.size() > kMaxMetaSize) return HRESULT_FROM_WIN32(ERROR_GEN_FAILURE);
  }
  if (!ParseMeta(text, meta)) return HRESULT_FROM_WIN32(ERROR_GEN_FAILURE);
  return S_OK;
}

}  // namespace snapshotsvc
