// An open file by Windows path; whole small files.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/files.h"
#include "platform/host.h"
#include "platform/posix/hostroot/case_names.h"
#include "platform/posix/file_copy.h"
#include "platform/kit/errno_map.h"
#include "platform/kit/file_io.h"

namespace platform {
namespace {

// A write error as Windows names it: a full disk, or a fault of the device.
DWORD WriteError(int err) {
  if (err == EIO) return ERROR_WRITE_FAULT;
  return kit::Win32FromErrno(err);
}

}  // namespace

DWORD File::Open(const std::string& winPath, Mode mode) {
  std::string host;
  if (const DWORD err = ToHostPath(winPath, host); err != ERROR_SUCCESS) {
    Close();
    return err;
  }
  return OpenHost(host, mode);
}

DWORD File::OpenHost(const std::string& hostPath, Mode mode) {
  Close();
  int flags = 0;
  switch (mode) {
    case Mode::Read: flags |= O_RDONLY; break;
    case Mode::ReadWrite: flags |= O_RDWR; break;
    case Mode::CreateAlways: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
    case Mode::CreateNew: flags |= O_WRONLY | O_CREAT | O_EXCL; break;
    case Mode::Append: flags |= O_WRONLY | O_CREAT | O_APPEND; break;
  }
  kit::UniqueFd fd = kit::OpenFile(hostPath, flags, 0666);
  if (!fd.valid()) return kit::Win32FromErrno(errno, hostPath, kit::PathRole::File);
  struct stat st {};
  if (::fstat(fd.get(), &st) == 0 && S_ISDIR(st.st_mode)) {
    return ERROR_ACCESS_DENIED;  // a directory is not opened as a file
  }
  handle_ = std::move(fd);
  if (flags & O_CREAT) posix::NoteCreatedName(hostPath);
  return ERROR_SUCCESS;
}

DWORD File::Read(void* buffer, std::size_t n, std::size_t* got) {
  *got = 0;
  if (!handle_.valid()) return ERROR_INVALID_HANDLE;
  while (true) {
    const ssize_t r = ::read(handle_.get(), buffer, n);
    if (r >= 0) {
      *got = static_cast<std::size_t>(r);
      return ERROR_SUCCESS;
    }
    if (errno != EINTR) return errno == EIO ? ERROR_READ_FAULT : kit::Win32FromErrno(errno);
  }
}

DWORD File::Write(const void* buffer, std::size_t n) {
  if (!handle_.valid()) return ERROR_INVALID_HANDLE;
  const int err = kit::WriteAll(handle_.get(), buffer, n);
  return err == 0 ? ERROR_SUCCESS : WriteError(err);
}

DWORD File::Size(std::uint64_t& size) const {
  if (!handle_.valid()) return ERROR_INVALID_HANDLE;
  struct stat st {};
  if (::fstat(handle_.get(), &st) != 0) return kit::Win32FromErrno(errno);
  size = static_cast<std::uint64_t>(st.st_size);
  return ERROR_SUCCESS;
}

DWORD File::Sync() {
  if (!handle_.valid()) return ERROR_INVALID_HANDLE;
  return ::fsync(handle_.get()) == 0 ? ERROR_SUCCESS : WriteError(errno);
}

DWORD File::Close() {
  // The descriptor is gone even when close reports an error: never retry.
  const int err = handle_.Close();
  return err == 0 || err == EINTR ? ERROR_SUCCESS : WriteError(err);
}

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

// The file is replaced as a whole, so a failure (a full disk) leaves the
// earlier content in place rather than a truncated file.
DWORD WriteWholeFile(const std::string& path, const std::string& data) {
  std::string host;
  if (const DWORD err = ToHostPath(path, host); err != ERROR_SUCCESS) return err;
  return posix::ReplaceFileContent(host, data, true, path);
}

}  // namespace platform
