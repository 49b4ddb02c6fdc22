// Reaching the snapshot component.
#include "snapshot/component_access.h"

#include "platform/files.h"

namespace ark::snapshot {

namespace {

constexpr std::size_t kSystemTextLimit = 1023;  // 1024-byte buffer with its terminator

std::string Cut(std::string text) {
  if (text.size() > kSystemTextLimit) text.resize(kSystemTextLimit);
  return text;
}

}  // namespace

std::string SystemText(HRESULT hr) { return Cut(platform::FormatMessageHr(hr)); }

std::string SystemTextOfError(DWORD code) { return Cut(platform::FormatMessage(code)); }

std::u16string DriveOf(const std::u16string& driveLetter) {
  return driveLetter.empty() ? std::u16string() : driveLetter.substr(0, 1);
}

HRESULT OpenSnapshotService(DWORD context, std::unique_ptr<ISnapshotService>& service,
                            OpenFailure* failure) {
  service.reset();
  std::unique_ptr<platform::IClassFactory> factory;
  HRESULT hr = platform::CoGetClassObject(CLSID_SnapshotService, context, factory);
  if (FAILED(hr) || factory == nullptr) {
    if (failure != nullptr) *failure = OpenFailure::Factory;
    return FAILED(hr) ? hr : E_POINTER;
  }
  hr = platform::CreateInstance(*factory, IID_ISnapshotService, service);
  if (hr != S_OK || service == nullptr) {
    service.reset();
    if (failure != nullptr) *failure = OpenFailure::Interface;
    return hr != S_OK ? hr : E_POINTER;
  }
  if (failure != nullptr) *failure = OpenFailure::None;
  return S_OK;
}

}  // namespace ark::snapshot
