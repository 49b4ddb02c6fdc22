// Small host-side file helpers for the tests (independent of the code under test).
#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace platform::testing {

inline void WriteHost(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
}

inline std::string ReadHost(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

}  // namespace platform::testing
