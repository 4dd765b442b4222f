#include "sim/ImageIdentity.h"

#include <algorithm>
#include <cstring>

namespace movrel::sim {

namespace {

constexpr char kMarker[] = "MOVREL-SIM-IMAGE";
constexpr std::size_t kMarkerLength = sizeof(kMarker) - 1;
constexpr std::size_t kVendorAt = kMarkerLength;
constexpr std::size_t kProductAt = kVendorAt + 8;
constexpr std::size_t kRevisionAt = kProductAt + 16;

void PutText(std::uint8_t* at, const std::string& text, std::size_t width) {
  std::memset(at, ' ', width);
  std::memcpy(at, text.data(), std::min(width, text.size()));
}

std::string GetText(const std::uint8_t* at, std::size_t width) {
  return std::string(reinterpret_cast<const char*>(at), width);
}

}  // namespace

std::optional<ImageIdentity> ReadImageIdentity(const std::uint8_t* image, std::size_t length) {
  if (image == nullptr || length < kImageIdentitySize) return std::nullopt;
  if (std::memcmp(image, kMarker, kMarkerLength) != 0) return std::nullopt;
  return ImageIdentity{GetText(image + kVendorAt, 8), GetText(image + kProductAt, 16),
                       GetText(image + kRevisionAt, 4)};
}

void StampImageIdentity(std::uint8_t* image, const ImageIdentity& identity) {
  std::memset(image, 0, kImageIdentitySize);
  std::memcpy(image, kMarker, kMarkerLength);
  PutText(image + kVendorAt, identity.vendor, 8);
  PutText(image + kProductAt, identity.product, 16);
  PutText(image + kRevisionAt, identity.revision, 4);
}

}  // namespace movrel::sim
