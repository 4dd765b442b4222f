// Whether a bank of a package holds exactly the bytes of a given file.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "package/PackageBlock.h"

namespace movrel::pack {

// Why bank `bank` (0..3) of `package` does not hold exactly `file`: the bank is beyond the banks
// in use, its image is not usable, the sizes differ, or the first byte that differs. None when
// the image is the file byte for byte.
std::optional<std::string> BankDifference(const package::PackageView& package, int bank,
                                          std::span<const unsigned char> file);

}  // namespace movrel::pack
