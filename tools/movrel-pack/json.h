// The contents of a package block as one JSON document, for scripts. The field names are stable;
// README.md lists them.
#pragma once

#include <string>

#include "package/PackageBlock.h"

namespace pack {

// The document, indented, with a line feed at its end. Texts are read as UTF-8, as the flasher
// shows them; a byte that is not part of valid UTF-8 becomes U+FFFD.
std::string FormatPackageJson(const app::PackageView& package);

}  // namespace pack
