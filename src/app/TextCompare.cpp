#include "app/TextCompare.h"

#include <cstring>

namespace movrel::app {

int CompareText(const std::string& left, const std::string& right) {
  const int order = std::strcoll(left.c_str(), right.c_str());
  // A collation may rank two different texts alike (spacing, for one); they are still unequal.
  if (order == 0 && left != right) return std::strcmp(left.c_str(), right.c_str());
  return order;
}

}  // namespace movrel::app
