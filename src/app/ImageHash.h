// The SHA-256 of a bank's firmware image, as the packaging tool shows it and the record of an
// update carries it. The caller links libcrypto (the flashers statically, the tool as shared).
#pragma once

#include <string>

#include "app/PackageBlock.h"

namespace app {

// 64 lower-case hexadecimal digits; empty for an image that is not usable, or when the library
// cannot compute the digest.
std::string ImageSha256(const BankImage& image);

}  // namespace app
