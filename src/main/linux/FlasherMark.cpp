// This program's mark (package/FlasherMark.h); the build names the program in
// MOVREL_FLASHER_NAME.
#include <algorithm>
#include <string_view>

#include "package/FlasherMark.h"

namespace {

// Nothing reads it at run time: it is there for movrel-pack to find in the file.
[[gnu::used]] constexpr char kFlasherMark[] = "MOVREL FLASHER=" MOVREL_FLASHER_NAME;

constexpr std::string_view kMark = kFlasherMark;
static_assert(kMark.starts_with(movrel::package::kFlasherMarkKey));
static_assert(std::ranges::find(movrel::package::kFlasherNames,
                                kMark.substr(movrel::package::kFlasherMarkKey.size())) !=
              movrel::package::kFlasherNames.end());

}  // namespace
