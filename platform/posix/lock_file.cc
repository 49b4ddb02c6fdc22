#include "platform/posix/lock_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/host.h"
#include "platform/kit/file_io.h"

namespace platform::posix {
using kit::OpenFile;

int OpenLockFile(const std::string& fileName) {
  const std::string dir = HostRoot() + "/locks";
  const std::string path = dir + "/" + fileName;
  // The folder is made when the first lock file is: writers open a lock for
  // every transaction.
  kit::UniqueFd file = OpenFile(path, O_RDWR | O_CREAT, 0666);
  if (file.valid() || errno != ENOENT) return file.release();
  if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) return -1;
  return OpenFile(path, O_RDWR | O_CREAT, 0666).release();
}

}  // namespace platform::posix
