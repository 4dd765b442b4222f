// The identity record a simulated firmware image may carry in its first 64 bytes: the marker
// "MOVREL-SIM-IMAGE", then vendor (8), product (16) and revision (4) characters, then zeros. A
// drive that programs such an image reports this identity afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace movrel::sim {

inline constexpr std::size_t kImageIdentitySize = 64;

struct ImageIdentity {
  std::string vendor;    // 8 characters
  std::string product;   // 16 characters
  std::string revision;  // 4 characters
};

// The record at the start of an image, when it carries one.
std::optional<ImageIdentity> ReadImageIdentity(const std::uint8_t* image, std::size_t length);

// Writes the record into the first 64 bytes of an image (at least that long); texts are
// space-padded or cut to their widths.
void StampImageIdentity(std::uint8_t* image, const ImageIdentity& identity);

}  // namespace movrel::sim
