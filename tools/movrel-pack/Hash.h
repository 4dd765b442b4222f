// The SHA-256 of a bank's firmware image, as movrel-pack prints it.
#pragma once

#include <optional>
#include <string>

#include "package/PackageBlock.h"

namespace movrel::pack {

// The SHA-256 of the image's bytes as 64 lowercase hexadecimal digits; none when the image is
// not usable.
std::optional<std::string> ImageSha256(const package::BankImage& image);

}  // namespace movrel::pack
