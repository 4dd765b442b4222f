// The contents of a package block as text, one field per line, as its reader reads them, with
// the state of its seal and the SHA-256 of each usable bank image.
#pragma once

#include <string>
#include <string_view>

#include "package/PackageBlock.h"
#include "package/Seal.h"

namespace movrel::pack {

std::string FormatPackage(const package::PackageView& package);

// The seal's state as "show" prints it after "seal: ".
std::string_view SealText(package::SealState state);

}  // namespace movrel::pack
