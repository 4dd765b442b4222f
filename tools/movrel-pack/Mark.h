// Finding the flasher mark (package/FlasherMark.h) inside an executable file.
#pragma once

#include <optional>
#include <span>
#include <string_view>

namespace movrel::pack {

// The name of the installed Linux flasher that `file` is a copy of, as its marks say: the key
// followed by one of the flashers' names and a zero byte. A debug build holds its mark twice
// (once more in its debugging information), so any number of marks may stand in the file as long
// as they all name one program. Throws Refusal when the file carries no mark (a Windows or a
// simulated flasher, any other file) or marks naming both.
std::string_view FlasherName(std::span<const unsigned char> file);

// The same, or none when the file carries no mark.
std::optional<std::string_view> FindFlasherName(std::span<const unsigned char> file);

}  // namespace movrel::pack
