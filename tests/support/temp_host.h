// The one host builder of the tests. A fresh host for one test, on either
// platform: drive D: empty, no ark.ini in the Windows directory, none of the
// product's registry keys; on request more drives, the computer name,
// CHANGE_INFO_DIR, the report folder and the local time zone.
//   POSIX: a temporary host root (registry.reg, Windows/, each drive X:
//   mapped to the folder X/ of the root).
//   Windows: the machine itself. D: must be a scratch drive that the test
//   runner marked with a file "ark-test-scratch-drive" in its root (the tests
//   refuse to run elsewhere); it is emptied at the start and at the end, and
//   the product's keys are deleted from HKEY_LOCAL_MACHINE.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

struct HostOptions {
  std::string drives = "D";     // letters of the drives, each a folder of its own (Windows: D only)
  std::string computerName;     // "" leaves it unset
  std::string changeInfoDir;    // CHANGE_INFO_DIR in ark.ini, e.g. "L:\\ArkLedger"; "" writes none
  std::string reportFolder;     // the report folder setting, e.g. "L:\\Reports"; "" writes none
  std::string timeZone;         // POSIX only: TZ of this process while the host lives ("" keeps it)
};

class TempHostRoot {
 public:
  explicit TempHostRoot(const HostOptions& options = {});
  ~TempHostRoot();
  TempHostRoot(const TempHostRoot&) = delete;
  TempHostRoot& operator=(const TempHostRoot&) = delete;

  // A folder of this test outside every drive the test uses (on POSIX the
  // host root itself).
  const std::filesystem::path& path() const { return root_; }
  // Drive D: and the Windows directory, as paths of the machine.
  std::filesystem::path D() const;
  std::filesystem::path WindowsDirectory() const;
  // A drive's root as a path of the machine, plus an optional relative path
  // ("Domino/Data/a.nsf").
  std::filesystem::path Drive(char letter, const std::string& relative = {}) const;

 private:
  // Writes the settings that both platforms write the same way.
  void ApplySettings(const HostOptions& options);
  std::filesystem::path root_;
  std::string savedTimeZone_;
  bool timeZoneChanged_ = false;
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
