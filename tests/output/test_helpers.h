// Shared by the output, report and settings tests: a fresh host root with
// C:\Windows and drive D: mapped to <root>/D, and the client end of a
// streaming connection that reads wire strings (u32 little-endian length,
// then the bytes).
#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "platform/host.h"
#include "platform/registry.h"

class TempHostRoot {
 public:
  TempHostRoot() {
    root_ = std::filesystem::temp_directory_path() /
            ("ark-services-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_ / "Windows");
    std::filesystem::create_directories(root_ / "D");
    platform::SetHostRoot(root_.string());
    platform::RegSetString("SYSTEM\\CurrentControlSet\\Control\\Session Manager\\DOS Devices", "D:",
                           (root_ / "D").string());
  }
  ~TempHostRoot() { std::filesystem::remove_all(root_); }
  const std::filesystem::path& path() const { return root_; }
  std::filesystem::path D() const { return root_ / "D"; }

 private:
  std::filesystem::path root_;
};

inline void WriteHostFile(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

inline std::string ReadHostFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline bool ReadExactly(int fd, void* buffer, std::size_t n) {
  for (auto* p = static_cast<char*>(buffer); n > 0;) {
    const ssize_t got = ::read(fd, p, n);
    if (got <= 0) return false;
    p += got;
    n -= std::size_t(got);
  }
  return true;
}

inline std::optional<std::string> ReadWireString(int fd) {
  unsigned char h[4];
  if (!ReadExactly(fd, h, 4)) return std::nullopt;
  std::string text(std::size_t(h[0] | h[1] << 8 | h[2] << 16 | std::uint32_t(h[3]) << 24), '\0');
  if (!text.empty() && !ReadExactly(fd, text.data(), text.size())) return std::nullopt;
  return text;
}

// fd[0] is the service's end, fd[1] the client's.
struct SocketPair {
  int fd[2] = {-1, -1};
  SocketPair() { ::socketpair(AF_UNIX, SOCK_STREAM, 0, fd); }
  ~SocketPair() {
    CloseClient();
    ::close(fd[0]);
  }
  void CloseClient() {
    if (fd[1] >= 0) ::close(fd[1]);
    fd[1] = -1;
  }
};
