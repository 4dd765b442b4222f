// Comparison of identity and revision texts: the user's locale collation, case-sensitive, whole
// texts with their trailing spaces.
#pragma once

#include <string>

namespace movrel::app {

int CompareText(const std::string& left, const std::string& right);
inline bool TextEquals(const std::string& left, const std::string& right) {
  return CompareText(left, right) == 0;
}

}  // namespace movrel::app
