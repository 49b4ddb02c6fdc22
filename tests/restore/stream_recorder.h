// Records what a run sends on the streaming connection, one entry per wire
// string, through a socket pair read by a thread of its own (so a long run
// never blocks on a full socket).
#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "output/output.h"

class StreamRecorder {
 public:
  StreamRecorder() {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fd_) != 0) return;
    SetStreamingConnection(fd_[0]);
    reader_ = std::thread([this] { ReadAll(); });
  }
  ~StreamRecorder() { Stop(); }
  StreamRecorder(const StreamRecorder&) = delete;
  StreamRecorder& operator=(const StreamRecorder&) = delete;

  // Ends the streaming connection and returns every string received.
  std::vector<std::string> Stop() {
    if (fd_[0] >= 0) {
      ClearStreamingConnection();
      ::shutdown(fd_[0], SHUT_WR);
      if (reader_.joinable()) reader_.join();
      ::close(fd_[0]);
      ::close(fd_[1]);
      fd_[0] = fd_[1] = -1;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
  }

 private:
  bool ReadExactly(void* buffer, std::size_t n) {
    auto* p = static_cast<char*>(buffer);
    while (n > 0) {
      ssize_t got = ::read(fd_[1], p, n);
      if (got <= 0) return false;
      p += got;
      n -= std::size_t(got);
    }
    return true;
  }
  void ReadAll() {
    for (;;) {
      unsigned char header[4];
      if (!ReadExactly(header, 4)) return;
      const std::uint32_t n = std::uint32_t(header[0]) | std::uint32_t(header[1]) << 8 |
                              std::uint32_t(header[2]) << 16 | std::uint32_t(header[3]) << 24;
      std::string text(n, '\0');
      if (n > 0 && !ReadExactly(text.data(), n)) return;
      std::lock_guard<std::mutex> lock(mutex_);
      messages_.push_back(std::move(text));
    }
  }

  int fd_[2] = {-1, -1};
  std::thread reader_;
  std::mutex mutex_;
  std::vector<std::string> messages_;
};
