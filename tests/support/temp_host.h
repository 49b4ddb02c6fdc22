// A fresh host for one test, on either platform: drive D: empty, no ark.ini
// in the Windows directory, none of the product's registry keys.
//   POSIX: a temporary host root (registry.reg, Windows/, D: mapped to D/).
//   Windows: the machine itself. D: must be a scratch drive that the test
//   runner marked with a file "ark-test-scratch-drive" in its root (the tests
//   refuse to run elsewhere); it is emptied at the start and at the end, and
//   the product's keys are deleted from HKEY_LOCAL_MACHINE.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

class TempHostRoot {
 public:
  TempHostRoot();
  ~TempHostRoot();
  TempHostRoot(const TempHostRoot&) = delete;
  TempHostRoot& operator=(const TempHostRoot&) = delete;

  // A folder of this test outside every drive the test uses (on POSIX the
  // host root itself).
  const std::filesystem::path& path() const { return root_; }
  // Drive D: and the Windows directory, as paths of the machine.
  std::filesystem::path D() const;
  std::filesystem::path WindowsDirectory() const;

 private:
  std::filesystem::path root_;
};

// The registry key under HKEY_LOCAL_MACHINE that tests of the registry
// itself write (deleted with the product's keys).
inline constexpr char kTestRegistryKey[] = "SOFTWARE\\ark-test";

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
