// The error information of a thread, through COM's own (CreateErrorInfo,
// SetErrorInfo, GetErrorInfo), so that the description a component in its
// own DLL leaves reaches the engine that called it.
#include "platform/win32/windows_api.h"

#include <oleauto.h>

namespace platform {

void SetErrorDescription(const std::string& text) {
  ICreateErrorInfo* create = nullptr;
  if (FAILED(::CreateErrorInfo(&create)) || create == nullptr) return;
  std::u16string wide = AnsiToWide(text);
  create->SetDescription(reinterpret_cast<LPOLESTR>(wide.data()));
  IErrorInfo* info = nullptr;
  if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info))) && info != nullptr) {
    ::SetErrorInfo(0, info);
    info->Release();
  }
  create->Release();
}

bool TakeErrorDescription(std::string& text) {
  IErrorInfo* info = nullptr;
  if (::GetErrorInfo(0, &info) != S_OK || info == nullptr) return false;
  BSTR description = nullptr;
  const bool got = SUCCEEDED(info->GetDescription(&description)) && description != nullptr;
  if (got) {
    text = WideToAnsi(std::u16string_view(reinterpret_cast<const char16_t*>(description), ::SysStringLen(description)));
  }
  ::SysFreeString(description);
  info->Release();
  return got;
}

}  // namespace platform
