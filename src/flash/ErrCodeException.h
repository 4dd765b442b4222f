// The one exception of the program: a failed step inside a flash worker, thrown by value and
// caught in the worker's body. 42 is a failed flash procedure.
#pragma once

#include <cstdint>

namespace movrel::flash {

class ErrCodeException {
 public:
  explicit ErrCodeException(std::uint8_t code) : code(code) {}

  std::uint8_t code;
};

}  // namespace movrel::flash
