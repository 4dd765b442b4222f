// Finding the package block inside an executable file.
#pragma once

#include <cstddef>
#include <optional>
#include <span>

#include "package/PackageBlock.h"

namespace movrel::pack {

// The offset of the one package block in `file`: a place where "FW_CONSTRAINTS=" and every
// option, bank-start, bank-size and new-revision key stand at their offsets, with room for the
// whole block. The texts that packaging replaces are not looked at, so a packaged file is found
// as well as a template. Throws Refusal when there is no such place or more than one.
std::size_t LocateBlock(std::span<const unsigned char> file);

// The offset of the one seal in `file` outside the package block at `block`: a place where the
// seal's marker stands, zero-filled to its size, with room for the whole seal. None when there is
// no such place (an executable built before seals, or one whose marker was damaged). Throws
// Refusal when there is more than one.
std::optional<std::size_t> LocateSeal(std::span<const unsigned char> file, std::size_t block);

// The package in `file`: its block (LocateBlock) and its seal when the file has one.
package::PackageView LocatePackage(std::span<const unsigned char> file);

}  // namespace movrel::pack
