// Checks of texts that tests share.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Succeeds when text holds each part, one after the other; other text may
// come between them.
inline ::testing::AssertionResult InOrder(const std::string& text, const std::vector<std::string>& parts) {
  std::size_t at = 0;
  for (const std::string& part : parts) {
    const std::size_t found = text.find(part, at);
    if (found == std::string::npos) {
      return ::testing::AssertionFailure() << "not found in order: \"" << part << "\" in:\n" << text;
    }
    at = found + part.size();
  }
  return ::testing::AssertionSuccess();
}

inline bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
