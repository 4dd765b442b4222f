#include "movrel-pack/Verify.h"

#include <algorithm>
#include <cstddef>

namespace movrel::pack {

std::optional<std::string> BankDifference(const package::PackageView& package, int bank,
                                          std::span<const unsigned char> file) {
  if (bank >= package.BankCount()) {
    return "not in use (HOW_MANY_BIN " + std::to_string(package.Options().howManyBin) + ")";
  }
  const package::BankImage image = package.Image(bank);
  if (!image.usable) return "image not usable (" + std::string(image.reason) + ")";
  const std::span<const unsigned char> bytes(image.data, static_cast<std::size_t>(image.size));
  if (bytes.size() != file.size()) {
    return "the image is " + std::to_string(bytes.size()) + " bytes, the file " +
           std::to_string(file.size());
  }
  const auto differs = std::mismatch(bytes.begin(), bytes.end(), file.begin()).first;
  if (differs == bytes.end()) return std::nullopt;
  return "content differs at byte " + std::to_string(differs - bytes.begin());
}

}  // namespace movrel::pack
