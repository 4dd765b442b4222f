// The SHA-256 of a bank's firmware image, as the packaging tool shows it and the record of an
// update carries it. The digest is computed here, with no library: the flashers are
// self-contained on every system they run on.
#pragma once

#include <cstddef>
#include <string>

#include "package/PackageBlock.h"

namespace movrel::package {

// The SHA-256 of `size` bytes at `data`, as 64 lower-case hexadecimal digits.
std::string Sha256Hex(const void* data, std::size_t size);

// The image's SHA-256 (Sha256Hex); empty for an image that is not usable.
std::string ImageSha256(const BankImage& image);

}  // namespace movrel::package
