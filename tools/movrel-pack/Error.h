// The ways movrel-pack declines to go on.
#pragma once

#include <stdexcept>

namespace movrel::pack {

// A command line the tool does not understand; exit code 2, with the usage.
class UsageError : public std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A package that leaves a choice to the template or contradicts itself; exit code 2, with the
// argument that settles it.
class ChoiceError : public std::runtime_error {
  using std::runtime_error::runtime_error;
};

// --help or -h after a command: its help is printed, exit code 0.
class HelpRequested : public std::exception {};

// A request the tool will not or cannot carry out; exit code 1.
class Refusal : public std::runtime_error {
  using std::runtime_error::runtime_error;
};

}  // namespace movrel::pack
