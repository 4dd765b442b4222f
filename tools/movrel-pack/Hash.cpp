#include "movrel-pack/Hash.h"

#include "package/ImageHash.h"

namespace movrel::pack {

std::optional<std::string> ImageSha256(const package::BankImage& image) {
  if (!image.usable) return std::nullopt;
  return package::ImageSha256(image);
}

}  // namespace movrel::pack
