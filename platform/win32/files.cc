// Files and directories by Windows path on the Win32 calls.
#include <algorithm>
#include <atomic>
#include <cstdio>

#include "platform/shared/flush_override.h"
#include "platform/shared/wildcard.h"
#include "platform/win32/windows_api.h"
#include "platform/shared/machine.h"

namespace platform {
namespace {

using win32::FromWin;

DWORD LastError() { return static_cast<DWORD>(::GetLastError()); }

// The attributes the engine looks at: directory and read-only, else normal.
DWORD Attributes(WinDWORD native) {
  DWORD attributes = native & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY);
  return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

// "." and ".." first, then the names in upper case order, as NTFS lists
// them; the same order whatever the file system under the drive.
std::string ListKey(std::string_view name) {
  if (name == ".") return std::string(1, '\0');
  if (name == "..") return std::string(2, '\0');
  return ToUpperAnsi(name);
}

struct FindTraits {
  using Value = HANDLE;
  static Value Invalid() { return INVALID_HANDLE_VALUE; }
  static int Close(HANDLE h) { return ::FindClose(h) ? 0 : static_cast<int>(::GetLastError()); }
};
using FindHandle = kit::UniqueHandle<FindTraits>;

// Lists the entries of a checked directory (with its trailing backslash)
// whose names match mask, sorted; ERROR_SUCCESS even when nothing matches
// (then out is empty). A directory that is missing or is a file gives
// ERROR_PATH_NOT_FOUND. The whole directory is listed and matched here, so
// that short 8.3 names never match and every system matches alike.
DWORD List(const std::string& dir, std::string_view mask,
           std::vector<std::pair<std::string, WIN32_FIND_DATAA>>& out) {
  WIN32_FIND_DATAA data;
  FindHandle find(::FindFirstFileA((dir + "*").c_str(), &data));
  if (find.get() == INVALID_HANDLE_VALUE) {
    const DWORD err = LastError();
    if (err == ERROR_FILE_NOT_FOUND || err == ERROR_NO_MORE_FILES) return ERROR_SUCCESS;
    if (err == ERROR_DIRECTORY || err == ERROR_INVALID_NAME) return ERROR_PATH_NOT_FOUND;
    return err;
  }
  do {
    if (shared::WildcardMatch(mask, data.cFileName)) out.emplace_back(ListKey(data.cFileName), data);
  } while (::FindNextFileA(find.get(), &data));
  if (const DWORD err = LastError(); err != ERROR_NO_MORE_FILES) return err;
  std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  return ERROR_SUCCESS;
}

// Windows refuses to replace a read-only file (Wine does not).
bool IsReadOnly(const std::string& path) {
  const WinDWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

// A fresh name beside a target for a file that gets the target's name only
// once complete.
std::string TemporaryBeside(const std::string& target) {
  static std::atomic<unsigned> counter{0};
  char suffix[64];
  std::snprintf(suffix, sizeof suffix, ".ark-%lu-%u.tmp", static_cast<unsigned long>(::GetCurrentProcessId()),
                counter.fetch_add(1));
  return target + suffix;
}

// Writes data to a temporary file beside target, flushed to the disk.
// Writes the temporary file of a whole-file write and flushes it (a flush
// answered by a FlushOverride under the Windows path of the target).
DWORD WriteTemporary(const std::string& temp, const std::string& winPath, const std::string& data) {
  File file;
  if (const DWORD err = file.OpenHost(temp, File::Mode::CreateNew); err != ERROR_SUCCESS) return err;
  if (const DWORD err = file.Write(data.data(), data.size()); err != ERROR_SUCCESS) return err;
  DWORD answer = ERROR_SUCCESS;
  if (!shared::FlushOverridden(winPath, answer)) answer = file.Sync();
  if (answer != ERROR_SUCCESS) return answer;
  return file.Close();
}

}  // namespace

DWORD FindFiles(const std::string& pattern, std::vector<FindData>& out) {
  out.clear();
  const auto sep = pattern.find_last_of("\\/");
  std::string dirPart, mask;
  if (sep != std::string::npos) {
    dirPart = pattern.substr(0, sep + 1);
    mask = pattern.substr(sep + 1);
  } else if (pattern.size() >= 2 && pattern[1] == ':') {
    dirPart = pattern.substr(0, 2);
    mask = pattern.substr(2);
  } else {
    return ERROR_PATH_NOT_FOUND;
  }
  if (mask.empty()) return ERROR_FILE_NOT_FOUND;
  std::string dir;
  if (const DWORD err = ToHostPath(dirPart, dir); err != ERROR_SUCCESS) return err;
  if (mask.find_first_of("\\/:\"<>|") != std::string::npos) return ERROR_INVALID_NAME;
  if (dir.back() != '\\') dir += '\\';
  std::vector<std::pair<std::string, WIN32_FIND_DATAA>> found;
  if (const DWORD err = List(dir, mask, found); err != ERROR_SUCCESS) return err;
  for (const auto& [key, data] : found) {
    FindData item;
    item.name = data.cFileName;
    item.attributes = Attributes(data.dwFileAttributes);
    item.lastWriteTime = FromWin(data.ftLastWriteTime);
    item.size = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    ? 0
                    : (std::uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    out.push_back(std::move(item));
  }
  return out.empty() ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
}

DWORD ListDirectoryNames(const std::string& directory, std::vector<DirectoryName>& out) {
  out.clear();
  std::string dir;
  if (const DWORD err = ToHostPath(directory, dir); err != ERROR_SUCCESS) return err;
  const WinDWORD attributes = ::GetFileAttributesA(dir.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return ERROR_PATH_NOT_FOUND;
  }
  if (dir.back() != '\\') dir += '\\';
  std::vector<std::pair<std::string, WIN32_FIND_DATAA>> found;
  if (const DWORD err = List(dir, "*", found); err != ERROR_SUCCESS) return err;
  for (const auto& [key, data] : found) {
    const std::string_view name = data.cFileName;
    if (name == "." || name == "..") continue;
    out.push_back(DirectoryName{std::string(name), (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  }
  return ERROR_SUCCESS;
}

DWORD GetFileAttributes(const std::string& path) {
  std::string native;
  if (ToHostPath(path, native) != ERROR_SUCCESS) return INVALID_FILE_ATTRIBUTES;
  const WinDWORD attributes = ::GetFileAttributesA(native.c_str());
  return attributes == INVALID_FILE_ATTRIBUTES ? INVALID_FILE_ATTRIBUTES : Attributes(attributes);
}

DWORD CreateDirectory(const std::string& path) {
  std::string native;
  if (const DWORD err = ToHostPath(path, native); err != ERROR_SUCCESS) return err;
  return ::CreateDirectoryA(native.c_str(), nullptr) ? ERROR_SUCCESS : LastError();
}

DWORD RemoveDirectory(const std::string& path) {
  std::string native;
  if (const DWORD err = ToHostPath(path, native); err != ERROR_SUCCESS) return err;
  return ::RemoveDirectoryA(native.c_str()) ? ERROR_SUCCESS : LastError();
}

DWORD DeleteFile(const std::string& path) {
  std::string native;
  if (const DWORD err = ToHostPath(path, native); err != ERROR_SUCCESS) return err;
  return ::DeleteFileA(native.c_str()) ? ERROR_SUCCESS : LastError();
}

// CopyFileA to a temporary name in the target's folder, then a rename that
// never replaces when failIfExists: a failed copy leaves no partial target.
DWORD CopyFile(const std::string& from, const std::string& to, bool failIfExists) {
  std::string source, target;
  if (const DWORD err = ToHostPath(from, source); err != ERROR_SUCCESS) return err;
  if (const DWORD err = ToHostPath(to, target); err != ERROR_SUCCESS) return err;
  const WinDWORD targetAttributes = ::GetFileAttributesA(target.c_str());
  if (targetAttributes != INVALID_FILE_ATTRIBUTES) {
    if (targetAttributes & FILE_ATTRIBUTE_DIRECTORY) return ERROR_ACCESS_DENIED;
    if (failIfExists) return ERROR_FILE_EXISTS;
    if (targetAttributes & FILE_ATTRIBUTE_READONLY) return ERROR_ACCESS_DENIED;
  }
  const std::string temp = TemporaryBeside(target);
  if (!::CopyFileA(source.c_str(), temp.c_str(), TRUE)) {
    const DWORD err = LastError();
    ::DeleteFileA(temp.c_str());
    return err;
  }
  const WinDWORD flags = MOVEFILE_WRITE_THROUGH | (failIfExists ? 0 : MOVEFILE_REPLACE_EXISTING);
  if (!::MoveFileExA(temp.c_str(), target.c_str(), flags)) {
    DWORD err = LastError();
    ::DeleteFileA(temp.c_str());
    if (err == ERROR_ALREADY_EXISTS) err = ERROR_FILE_EXISTS;
    return err;
  }
  return ERROR_SUCCESS;
}

DWORD MoveFile(const std::string& from, const std::string& to) {
  std::string source, target;
  if (const DWORD err = ToHostPath(from, source); err != ERROR_SUCCESS) return err;
  if (const DWORD err = ToHostPath(to, target); err != ERROR_SUCCESS) return err;
  return ::MoveFileA(source.c_str(), target.c_str()) ? ERROR_SUCCESS : LastError();
}

// The shell's file operation deletes the tree; its result is the shell's
// code. No dialog may show: the service has no desktop.
DWORD DeleteTree(const std::string& path) {
  std::string native;
  if (const DWORD err = ToHostPath(path, native); err != ERROR_SUCCESS) return err;
  if (::GetFileAttributesA(native.c_str()) == INVALID_FILE_ATTRIBUTES) return LastError();
  std::string from = native;
  from.push_back('\0');  // the list ends with two zero bytes
  SHFILEOPSTRUCTA operation = {};
  operation.wFunc = FO_DELETE;
  operation.pFrom = from.c_str();
  operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
  const int rc = ::SHFileOperationA(&operation);
  if (rc != 0) return static_cast<DWORD>(rc);
  return operation.fAnyOperationsAborted ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
}

DWORD machine::GetDiskFreeSpace(const std::string& path, std::uint64_t& freeBytes) {
  std::string native;
  if (const DWORD err = ToHostPath(path, native); err != ERROR_SUCCESS) return err;
  ULARGE_INTEGER available, total, totalFree;
  if (!::GetDiskFreeSpaceExA(native.c_str(), &available, &total, &totalFree)) return LastError();
  freeBytes = totalFree.QuadPart;  // all free bytes, not this user's quota
  return ERROR_SUCCESS;
}

DWORD GetLastWriteTime(const std::string& path, FILETIME& out) {
  std::string native;
  if (const DWORD err = ToHostPath(path, native); err != ERROR_SUCCESS) return err;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExA(native.c_str(), GetFileExInfoStandard, &data)) return LastError();
  out = FromWin(data.ftLastWriteTime);
  return ERROR_SUCCESS;
}

DWORD GetFileSize(const std::string& path, std::uint64_t& size) {
  std::string native;
  if (const DWORD err = ToHostPath(path, native); err != ERROR_SUCCESS) return err;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExA(native.c_str(), GetFileExInfoStandard, &data)) return LastError();
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return ERROR_ACCESS_DENIED;
  size = (std::uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return ERROR_SUCCESS;
}

// Windows takes no hint to read a closed file ahead; its cache manager
// reads ahead of a file read in order.
std::uint64_t ReadAheadFile(const std::string&, std::uint64_t) { return 0; }

DWORD File::Open(const std::string& winPath, Mode mode) {
  std::string native;
  if (const DWORD err = ToHostPath(winPath, native); err != ERROR_SUCCESS) {
    Close();
    return err;
  }
  return OpenHost(native, mode);
}

// Sharing everything, as POSIX does: other openers may read, write, rename
// and delete the file meanwhile.
DWORD File::OpenHost(const std::string& hostPath, Mode mode) {
  Close();
  WinDWORD access = GENERIC_READ;
  WinDWORD disposition = OPEN_EXISTING;
  switch (mode) {
    case Mode::Read: break;
    case Mode::ReadWrite: access = GENERIC_READ | GENERIC_WRITE; break;
    case Mode::CreateAlways: access = GENERIC_WRITE; disposition = CREATE_ALWAYS; break;
    case Mode::CreateNew: access = GENERIC_WRITE; disposition = CREATE_NEW; break;
    case Mode::Append: access = FILE_APPEND_DATA | SYNCHRONIZE; disposition = OPEN_ALWAYS; break;
  }
  const HANDLE h = ::CreateFileA(hostPath.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return LastError();
  handle_.reset(h);
  return ERROR_SUCCESS;
}

DWORD File::Read(void* buffer, std::size_t n, std::size_t* got) {
  *got = 0;
  if (!handle_.valid()) return ERROR_INVALID_HANDLE;
  WinDWORD read = 0;
  const WinDWORD want = static_cast<WinDWORD>(std::min<std::size_t>(n, 1u << 30));
  if (!::ReadFile(handle_.get(), buffer, want, &read, nullptr)) {
    const DWORD err = LastError();
    return err == ERROR_HANDLE_EOF || err == ERROR_BROKEN_PIPE ? ERROR_SUCCESS : err;
  }
  *got = read;
  return ERROR_SUCCESS;
}

DWORD File::Write(const void* buffer, std::size_t n) {
  if (!handle_.valid()) return ERROR_INVALID_HANDLE;
  const char* p = static_cast<const char*>(buffer);
  while (n > 0) {
    WinDWORD written = 0;
    const WinDWORD chunk = static_cast<WinDWORD>(std::min<std::size_t>(n, 1u << 30));
    if (!::WriteFile(handle_.get(), p, chunk, &written, nullptr)) return LastError();
    if (written == 0) return ERROR_WRITE_FAULT;
    p += written;
    n -= written;
  }
  return ERROR_SUCCESS;
}

DWORD File::Size(std::uint64_t& size) const {
  if (!handle_.valid()) return ERROR_INVALID_HANDLE;
  LARGE_INTEGER value;
  if (!::GetFileSizeEx(handle_.get(), &value)) return LastError();
  size = static_cast<std::uint64_t>(value.QuadPart);
  return ERROR_SUCCESS;
}

DWORD File::Sync() {
  if (!handle_.valid()) return ERROR_INVALID_HANDLE;
  return ::FlushFileBuffers(handle_.get()) ? ERROR_SUCCESS : LastError();
}

DWORD File::Close() { return static_cast<DWORD>(handle_.Close()); }

DWORD ReadWholeFile(const std::string& path, std::string& out) {
  File file;
  if (const DWORD err = file.Open(path, File::Mode::Read); err != ERROR_SUCCESS) return err;
  std::string data;
  char buffer[65536];
  while (true) {
    std::size_t got = 0;
    if (const DWORD err = file.Read(buffer, sizeof buffer, &got); err != ERROR_SUCCESS) return err;
    if (got == 0) break;
    data.append(buffer, got);
  }
  out = std::move(data);
  return ERROR_SUCCESS;
}

// The file is replaced as a whole (temporary file, then a rename over the
// target), so a failure leaves the earlier content in place.
DWORD WriteWholeFile(const std::string& path, const std::string& data) {
  std::string target;
  if (const DWORD err = ToHostPath(path, target); err != ERROR_SUCCESS) return err;
  if (IsReadOnly(target)) return ERROR_ACCESS_DENIED;
  const std::string temp = TemporaryBeside(target);
  DWORD err = WriteTemporary(temp, path, data);
  if (err == ERROR_SUCCESS &&
      !::MoveFileExA(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    err = LastError();
  }
  if (err != ERROR_SUCCESS) {
    ::DeleteFileA(temp.c_str());
    return err;
  }
  // The rename is written through; the names of the directory need no flush
  // of their own unless a test answers for it.
  DWORD answer = ERROR_SUCCESS;
  shared::FlushOverridden(shared::WinDirName(path), answer);
  return answer;
}

// NTFS keeps a directory's names in its journal, and a directory cannot be
// opened for writing: flushing one means checking that it is there.
DWORD FlushToDisk(const std::string& path) {
  if (DWORD answer = ERROR_SUCCESS; shared::FlushOverridden(path, answer)) return answer;
  std::string native;
  if (const DWORD err = ToHostPath(path, native); err != ERROR_SUCCESS) return err;
  const WinDWORD attributes = ::GetFileAttributesA(native.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return LastError();
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return ERROR_SUCCESS;
  const HANDLE handle = ::CreateFileA(native.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return LastError();
  const DWORD err = ::FlushFileBuffers(handle) ? ERROR_SUCCESS : LastError();
  ::CloseHandle(handle);
  return err;
}

namespace {

// Flushes a whole volume through its handle ("\\.\X:"): one flush for every
// file written on it, which LocalSystem and administrators may do. False
// when the volume cannot be opened so (another account, a folder mounted as
// a drive, a file system that has no such handle): its files are then
// flushed one by one, as they are when its file system has no flush of a
// whole volume (ERROR_INVALID_FUNCTION). A volume that can be flushed but
// fails to be fails.
bool FlushVolume(const std::string& root, DWORD& error) {
  if (root.size() != 3 || root[1] != ':') return false;
  const std::string device = "\\\\.\\" + root.substr(0, 2);
  const HANDLE handle = ::CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  error = ::FlushFileBuffers(handle) ? ERROR_SUCCESS : LastError();
  ::CloseHandle(handle);
  return error != ERROR_INVALID_FUNCTION && error != ERROR_NOT_SUPPORTED;
}

}  // namespace

DWORD FlushAllToDisk(const std::vector<std::string>& paths, std::string& failedPath) {
  // The paths by volume, in the order added.
  struct Volume {
    std::string root;
    std::vector<std::string> paths;
  };
  std::vector<Volume> volumes;
  for (const std::string& path : paths) {
    DWORD answer = ERROR_SUCCESS;
    if (shared::FlushOverridden(path, answer)) {
      if (answer == ERROR_SUCCESS) continue;
      failedPath = path;
      return answer;
    }
    std::string native;
    char root[MAX_PATH] = {};
    if (const DWORD err = ToHostPath(path, native); err != ERROR_SUCCESS) {
      failedPath = path;
      return err;
    }
    if (::GetFileAttributesA(native.c_str()) == INVALID_FILE_ATTRIBUTES ||
        !::GetVolumePathNameA(native.c_str(), root, MAX_PATH)) {
      failedPath = path;
      return LastError();
    }
    auto volume = std::find_if(volumes.begin(), volumes.end(), [&](const Volume& v) { return v.root == root; });
    if (volume == volumes.end()) volume = volumes.insert(volumes.end(), Volume{root, {}});
    volume->paths.push_back(path);
  }
  for (const Volume& volume : volumes) {
    if (DWORD error = ERROR_SUCCESS; FlushVolume(volume.root, error)) {
      if (error == ERROR_SUCCESS) continue;
      failedPath = volume.paths.front();
      return error;
    }
    for (const std::string& path : volume.paths) {
      if (const DWORD error = FlushToDisk(path); error != ERROR_SUCCESS) {
        failedPath = path;
        return error;
      }
    }
  }
  return ERROR_SUCCESS;
}

}  // namespace platform
