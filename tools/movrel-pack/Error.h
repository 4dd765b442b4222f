// The two ways movrel-pack declines to go on.
#pragma once

#include <stdexcept>

namespace movrel::pack {

// A command line the tool does not understand; exit code 2.
class UsageError : public std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A request the tool will not or cannot carry out; exit code 1.
class Refusal : public std::runtime_error {
  using std::runtime_error::runtime_error;
};

}  // namespace movrel::pack
