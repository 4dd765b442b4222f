// The fields of a package block by name, in the order both forms of "movrel-pack show" list them.
#pragma once

#include <array>
#include <string_view>

#include "package/PackageBlock.h"
#include "package/PackageLayout.h"

namespace movrel::pack {

struct NamedText {
  const char* name;
  std::string_view text;
};

// banner, version, contact, title, date, note and model.
std::array<NamedText, 7> Texts(const package::PackageView& package);

struct OptionValue {
  std::string_view key;
  unsigned value;
};

// The ten options in block order, each by its key with the value the program reads.
std::array<OptionValue, package::layout::kOptionSlots.size()> OptionValues(
    const package::PackageView& package);

}  // namespace movrel::pack
