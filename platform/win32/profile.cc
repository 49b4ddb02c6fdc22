// Initialization files through GetPrivateProfileStringA and
// WritePrivateProfileStringA. Writers of every process take turns through a
// named mutex: the system's own calls read, change and write the whole file,
// so two processes writing at once could lose a value.
#include <algorithm>
#include <vector>

#include "platform/shared/profile_text.h"
#include "platform/win32/windows_api.h"

namespace platform {
namespace {

constexpr char kWritersMutex[] = "Global\\ark.profile-writers";

class WritersTurn {
 public:
  WritersTurn() : mutex_(::CreateMutexA(nullptr, FALSE, kWritersMutex)) {
    if (mutex_ != nullptr) {
      const WinDWORD rc = ::WaitForSingleObject(mutex_, INFINITE);
      held_ = rc == WAIT_OBJECT_0 || rc == WAIT_ABANDONED;
    }
  }
  ~WritersTurn() {
    if (held_) ::ReleaseMutex(mutex_);
    if (mutex_ != nullptr) ::CloseHandle(mutex_);
  }
  WritersTurn(const WritersTurn&) = delete;
  WritersTurn& operator=(const WritersTurn&) = delete;

 private:
  HANDLE mutex_;
  bool held_ = false;
};

}  // namespace

std::size_t GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, std::string& out,
                                    std::size_t capacity, const std::string& winFile) {
  out.clear();
  if (capacity == 0) return 0;
  std::string path;
  if (ToHostPath(winFile, path) != ERROR_SUCCESS) {
    out = std::string(shared::TrimProfileText(defaultValue)).substr(0, capacity - 1);
    return out.size();
  }
  std::vector<char> buffer(capacity, '\0');
  const WinDWORD n = ::GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(), buffer.data(),
                                                static_cast<WinDWORD>(std::min<std::size_t>(capacity, 0x7FFFFFFF)),
                                                path.c_str());
  out.assign(buffer.data(), std::min<std::size_t>(n, capacity - 1));
  return out.size();
}

bool WritePrivateProfileString(const std::string& section, const std::string& key, const std::string& value,
                               const std::string& winFile) {
  if (!shared::ProfileEntryWritable(section, key, value)) return false;
  std::string path;
  if (ToHostPath(winFile, path) != ERROR_SUCCESS) return false;
  WritersTurn turn;
  return ::WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), path.c_str()) != FALSE;
}

}  // namespace platform
