// Moving bytes through the wire code over a connected socket pair: one side
// writes (or reads) on a thread of its own, so that inputs and records of any
// size pass without filling the socket's buffer.
#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <exception>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

#include "platform/socket.h"

namespace ark::fuzzwire {

struct SocketPair {
  platform::Socket a;
  platform::Socket b;
};

inline SocketPair MakePair() {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) std::abort();
  return SocketPair{platform::Socket(fds[0]), platform::Socket(fds[1])};
}

// Writes bytes into one end and closes it while read runs on the other.
inline void Feed(std::string_view bytes, const std::function<void(platform::SOCKET)>& read) {
  SocketPair pair = MakePair();
  std::thread writer([&bytes, end = pair.b.release()] {
    platform::Socket own(end);
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::send(own.get(), bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) break;  // the reader gave up early
      done += std::size_t(n);
    }
  });
  std::exception_ptr failure;
  try {
    read(pair.a.get());
  } catch (...) {
    failure = std::current_exception();
  }
  pair.a.reset();  // unblocks a writer whose reader stopped early
  writer.join();
  if (failure) std::rethrow_exception(failure);
}

// The bytes that write sends into one end.
inline std::string Capture(const std::function<void(platform::SOCKET)>& write) {
  SocketPair pair = MakePair();
  std::string bytes;
  std::thread reader([&bytes, end = pair.b.release()] {
    platform::Socket own(end);
    char buffer[65536];
    for (;;) {
      const ssize_t n = ::recv(own.get(), buffer, sizeof buffer, 0);
      if (n <= 0) break;
      bytes.append(buffer, std::size_t(n));
    }
  });
  std::exception_ptr failure;
  try {
    write(pair.a.get());
  } catch (...) {
    failure = std::current_exception();
  }
  pair.a.reset();
  reader.join();
  if (failure) std::rethrow_exception(failure);
  return bytes;
}

}  // namespace ark::fuzzwire
