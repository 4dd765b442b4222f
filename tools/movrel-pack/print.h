// The contents of a package block as text, one field per line, as its reader reads them, with
// the SHA-256 of each usable bank image.
#pragma once

#include <string>

#include "package/PackageBlock.h"

namespace pack {

std::string FormatPackage(const app::PackageView& package);

}  // namespace pack
