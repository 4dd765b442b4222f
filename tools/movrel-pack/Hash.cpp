#include "movrel-pack/Hash.h"

#include "movrel-pack/Error.h"
#include "package/ImageHash.h"

namespace movrel::pack {

std::optional<std::string> ImageSha256(const package::BankImage& image) {
  if (!image.usable) return std::nullopt;
  std::string hex = package::ImageSha256(image);
  if (hex.empty()) throw Refusal("cannot compute a SHA-256 hash");
  return hex;
}

}  // namespace movrel::pack
