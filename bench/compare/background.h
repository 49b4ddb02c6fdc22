// A program running in the background for the length of a measurement
// (arkserver, nserver); stopped with SIGTERM, then SIGKILL, when it goes.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace ark {

class Background {
 public:
  Background() = default;
  // Starts args[0] with standard output and error going to logPath.
  Background(const std::vector<std::string>& args, const std::string& logPath);
  ~Background() { Stop(); }
  Background(Background&& other) noexcept : pid_(other.pid_) { other.pid_ = -1; }
  Background& operator=(Background&& other) noexcept;
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;

  bool running() const { return pid_ > 0; }
  void Stop();

 private:
  pid_t pid_ = -1;
};

// arkserver on a free port of a host root; 0 when it did not come up.
struct ArkService {
  Background process;
  int port = 0;
};
ArkService StartArkService(const std::string& binDir, const std::string& root, const std::string& logPath);

}  // namespace ark
