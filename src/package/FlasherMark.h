// The mark that names a Linux flasher as installed. Each of the two carries it in its data: the
// key, the program's name and a zero byte ("MOVREL FLASHER=movrel-console"). Packaging leaves it
// as it is, so a packaged copy still names the program it was made from, and movrel-pack finds the
// installed program of that name for a package (movrel-launch runs a package that way).
#pragma once

#include <array>
#include <string_view>

namespace movrel::package {

inline constexpr std::string_view kFlasherMarkKey = "MOVREL FLASHER=";

// The window and the terminal flasher.
inline constexpr std::array<std::string_view, 2> kFlasherNames = {"movrel", "movrel-console"};

}  // namespace movrel::package
