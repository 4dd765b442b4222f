// The shape of a firmware image that can be sent: whole 16 KiB chunks, and no more than the
// 24-bit buffer offsets of WRITE BUFFER and READ BUFFER can reach; and the control bytes of the
// WRITE BUFFER that tells the drive to program the buffered image into its flash.
#pragma once

#include <cstdint>

namespace movrel::flash {

inline constexpr std::int32_t kChunkSize = 16384;
inline constexpr std::int32_t kMaxImageLength = 16 * 1024 * 1024;

// The programming commands: the image alone, or the image with the boot code.
inline constexpr std::uint8_t kProgram = 0x80;
inline constexpr std::uint8_t kProgramWithBootCode = 0xA0;

// A length that would leave part of the image unsent, or address bytes past the 24-bit offsets,
// is refused before anything is sent.
constexpr bool ImageLengthUsable(std::int32_t length) {
  return length > 0 && length <= kMaxImageLength && length % kChunkSize == 0;
}

}  // namespace movrel::flash
