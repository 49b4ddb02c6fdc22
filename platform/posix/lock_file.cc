#include "platform/posix/lock_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/host.h"

namespace platform::posix {

int OpenLockFile(const std::string& fileName) {
  const std::string dir = HostRoot() + "/locks";
  if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) return -1;
  const std::string path = dir + "/" + fileName;
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace platform::posix
