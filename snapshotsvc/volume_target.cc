#include "snapshotsvc/volume_target.h"

#include <cerrno>

#include "platform/kit/errno_map.h"
#include "platform/text.h"

namespace snapshotsvc {
namespace {

constexpr std::size_t kMaxFileNameBytes = 255;

}  // namespace

HRESULT DriveLetterOf(const std::u16string& drive, char& letter) {
  if (drive.empty()) return E_INVALIDARG;
  char16_t c = drive[0];
  if (c >= u'a' && c <= u'z') c = char16_t(c - u'a' + u'A');
  if (c < u'A' || c > u'Z') return E_INVALIDARG;
  letter = char(c);
  return S_OK;
}

HRESULT FreezeVolume(platform::VolumeLock& freeze, char letter) {
  errno = 0;
  if (freeze.Lock(letter, platform::VolumeLock::Kind::ExclusiveFreeze)) return S_OK;
  return platform::kit::HresultFromErrno(errno);
}

HRESULT ValidateSnapshotName(const std::u16string& name, std::string& ansi) {
  if (name.empty() || name == u"." || name == u"..") return E_INVALIDARG;
  for (char16_t c : name) {
    if (c < 0x20 || c == 0x7F || c == u'/' || c == u'\\') return E_INVALIDARG;
  }
  std::string text = platform::WideToAnsi(name);
  if (text.size() > kMaxFileNameBytes) return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
  ansi = std::move(text);
  return S_OK;
}

}  // namespace snapshotsvc
