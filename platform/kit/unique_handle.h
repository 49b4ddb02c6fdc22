// The owner of one operating-system handle (a descriptor, a Windows HANDLE,
// a socket): closed by the destructor, moved, never copied. Traits names
// the handle's type, the value that means "none" and the call that closes:
//
//   struct Traits {
//     using Value = ...;
//     static Value Invalid();
//     static int Close(Value);  // 0, or the error the system reported
//   };
#pragma once

#include <utility>

namespace platform::kit {

template <class Traits>
class UniqueHandle {
 public:
  using Value = typename Traits::Value;

  UniqueHandle() = default;
  explicit UniqueHandle(Value value) : value_(value) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  Value get() const { return value_; }
  bool valid() const { return value_ != Traits::Invalid(); }
  // Gives the handle up without closing it.
  Value release() { return std::exchange(value_, Traits::Invalid()); }
  // Closes the handle held (unless it is the one given) and holds value.
  void reset(Value value = Traits::Invalid()) {
    const Value old = std::exchange(value_, value);
    if (old != Traits::Invalid() && old != value) Traits::Close(old);
  }
  // Closes now and returns what the close reported (0 when nothing was
  // held), which for a file can be a failed write-back. The handle is gone
  // either way.
  int Close() {
    const Value old = release();
    return old == Traits::Invalid() ? 0 : Traits::Close(old);
  }

 private:
  Value value_ = Traits::Invalid();
};

// close(2) on POSIX, the C runtime's _close on Windows: 0 or the errno value.
int CloseDescriptor(int fd);

// A file descriptor (on Windows a C runtime descriptor).
struct DescriptorTraits {
  using Value = int;
  static constexpr int Invalid() { return -1; }
  static int Close(int fd) { return CloseDescriptor(fd); }
};
using UniqueFd = UniqueHandle<DescriptorTraits>;

}  // namespace platform::kit
