// Finding the package block inside an executable file.
#pragma once

#include <cstddef>
#include <span>

namespace pack {

// The offset of the one package block in `file`: a place where "FW_CONSTRAINTS=" and every
// option, bank-start, bank-size and new-revision key stand at their offsets, with room for the
// whole block. The texts that packaging replaces are not looked at, so a packaged file is found
// as well as a template. Throws Refusal when there is no such place or more than one.
std::size_t LocateBlock(std::span<const unsigned char> file);

}  // namespace pack
