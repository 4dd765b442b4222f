// The contents of a package block as one JSON document, for scripts. The field names are stable;
// README.md lists them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "package/PackageBlock.h"

namespace movrel::pack {

// The document, indented, with a line feed at its end. Texts are read as UTF-8, as the flasher
// shows them; a byte that is not part of valid UTF-8 becomes U+FFFD.
// `flasher` is the installed Linux flasher the file is a copy of, as its mark names it.
std::string FormatPackageJson(const package::PackageView& package,
                              std::optional<std::string_view> flasher);

}  // namespace movrel::pack
