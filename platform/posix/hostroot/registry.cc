// HKEY_LOCAL_MACHINE in DIR/registry.reg. Readers keep the parsed file and
// read it again when its identity (inode, size, times) changed; writers take
// an flock on DIR/registry.reg.lock, read the current file, change it and
// replace it atomically, so concurrent writers of several processes never
// lose each other's values.
#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <mutex>

#include "platform/host.h"
#include "platform/posix/file_copy.h"
#include "platform/kit/errno_map.h"
#include "platform/kit/file_io.h"
#include "platform/posix/hostroot/reg_document.h"

namespace platform {
namespace {

using posix::RegDocument;
using kit::UniqueFd;

struct FileIdentity {
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  struct timespec mtime {};
  struct timespec ctime {};

  bool operator==(const FileIdentity& o) const {
    return exists == o.exists && dev == o.dev && ino == o.ino && size == o.size &&
           mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec &&
           ctime.tv_sec == o.ctime.tv_sec && ctime.tv_nsec == o.ctime.tv_nsec;
  }
};

FileIdentity IdentityOf(const struct stat& st) {
  return FileIdentity{true, st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
}

struct Cache {
  std::string path;
  bool loaded = false;
  FileIdentity identity;
  RegDocument document;
};

std::mutex g_mutex;
Cache g_cache;

std::string RegistryPath() { return HostRoot() + "/registry.reg"; }

// Brings the cached document up to date with the file. Returns a Win32 code.
LONG Refresh() {
  const std::string path = RegistryPath();
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) return static_cast<LONG>(kit::Win32FromErrno(errno, path));
    // A missing file is an empty registry.
    if (!g_cache.loaded || g_cache.path != path || g_cache.identity.exists) {
      g_cache.document.Parse("");
      g_cache.identity = FileIdentity{};
      g_cache.path = path;
      g_cache.loaded = true;
    }
    return ERROR_SUCCESS;
  }
  if (g_cache.loaded && g_cache.path == path && g_cache.identity == IdentityOf(st)) {
    return ERROR_SUCCESS;
  }
  UniqueFd fd = kit::OpenFile(path, O_RDONLY);
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0) {
    return static_cast<LONG>(kit::Win32FromErrno(errno, path));
  }
  std::string text;
  if (kit::ReadAll(fd.get(), text) != 0) return static_cast<LONG>(ERROR_READ_FAULT);
  g_cache.document.Parse(text);
  g_cache.identity = IdentityOf(st);
  g_cache.path = path;
  g_cache.loaded = true;
  return ERROR_SUCCESS;
}

// Runs a reader on the current document.
template <typename F>
auto Read(F reader, decltype(reader(std::declval<const RegDocument&>())) onError) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (Refresh() != ERROR_SUCCESS) return onError;
  return reader(static_cast<const RegDocument&>(g_cache.document));
}

// Applies change to the current file under the writers' lock and replaces
// the file when change reports a modification. Returns a Win32 code.
LONG Write(const std::function<LONG(RegDocument&, bool& changed)>& change) {
  std::lock_guard<std::mutex> lock(g_mutex);
  const std::string path = RegistryPath();
  const std::string lockPath = path + ".lock";
  UniqueFd lockFd = kit::OpenFile(lockPath, O_RDWR | O_CREAT, 0666);
  if (!lockFd.valid()) return static_cast<LONG>(kit::Win32FromErrno(errno, lockPath));
  if (const int err = kit::Flock(lockFd.get(), LOCK_EX); err != 0) {
    return static_cast<LONG>(kit::Win32FromErrno(err, lockPath));
  }
  if (const LONG err = Refresh(); err != ERROR_SUCCESS) return err;
  RegDocument updated = g_cache.document;
  bool changed = false;
  if (const LONG err = change(updated, changed); err != ERROR_SUCCESS || !changed) return err;
  if (const DWORD err = posix::ReplaceFileContent(path, updated.Serialize(), true); err != ERROR_SUCCESS) {
    return static_cast<LONG>(err);
  }
  g_cache.document = std::move(updated);
  struct stat st {};
  g_cache.loaded = ::stat(path.c_str(), &st) == 0;
  if (g_cache.loaded) g_cache.identity = IdentityOf(st);
  return ERROR_SUCCESS;
  // The lock is released when lockFd closes.
}

LONG SetValue(const std::string& key, RegValue value) {
  return Write([&](RegDocument& doc, bool& changed) {
    doc.SetValue(key, value);
    changed = true;
    return static_cast<LONG>(ERROR_SUCCESS);
  });
}

}  // namespace

bool RegKeyExists(const std::string& key) {
  return Read([&](const RegDocument& doc) { return doc.KeyExists(key); }, false);
}

LONG RegCreateKey(const std::string& key) {
  return Write([&](RegDocument& doc, bool& changed) { return doc.CreateKey(key, &changed); });
}

LONG RegDeleteKeyTree(const std::string& key) {
  return Write([&](RegDocument& doc, bool& changed) {
    const LONG err = doc.DeleteKeyTree(key);
    changed = err == ERROR_SUCCESS;
    return err;
  });
}

LONG RegGetString(const std::string& key, const std::string& value, std::string& out) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (const LONG err = Refresh(); err != ERROR_SUCCESS) return err;
  const posix::RegEntry* entry = g_cache.document.FindValue(key, value);
  if (entry == nullptr) return ERROR_FILE_NOT_FOUND;
  if (!entry->known || entry->value.type == RegType::Dword) return ERROR_INVALID_PARAMETER;
  out = entry->value.text;
  return ERROR_SUCCESS;
}

LONG RegGetDword(const std::string& key, const std::string& value, DWORD& out) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (const LONG err = Refresh(); err != ERROR_SUCCESS) return err;
  const posix::RegEntry* entry = g_cache.document.FindValue(key, value);
  if (entry == nullptr) return ERROR_FILE_NOT_FOUND;
  if (!entry->known || entry->value.type != RegType::Dword) return ERROR_INVALID_PARAMETER;
  out = entry->value.number;
  return ERROR_SUCCESS;
}

LONG RegSetString(const std::string& key, const std::string& value, const std::string& text,
                  RegType type) {
  if (type == RegType::Dword) return ERROR_INVALID_PARAMETER;
  RegValue v;
  v.name = value;
  v.type = type;
  v.text = text;
  return SetValue(key, std::move(v));
}

LONG RegSetDword(const std::string& key, const std::string& value, DWORD number) {
  RegValue v;
  v.name = value;
  v.type = RegType::Dword;
  v.number = number;
  return SetValue(key, std::move(v));
}

LONG RegDeleteValue(const std::string& key, const std::string& value) {
  return Write([&](RegDocument& doc, bool& changed) {
    const LONG err = doc.DeleteValue(key, value);
    changed = err == ERROR_SUCCESS;
    return err;
  });
}

std::vector<std::string> RegEnumSubKeys(const std::string& key) {
  return Read([&](const RegDocument& doc) { return doc.SubKeys(key); }, std::vector<std::string>{});
}

std::vector<RegValue> RegEnumValues(const std::string& key) {
  return Read([&](const RegDocument& doc) { return doc.Values(key); }, std::vector<RegValue>{});
}

}  // namespace platform
