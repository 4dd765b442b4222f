// The seal: a small second block in the executable's initialised data, in which the packaging
// step records the SHA-256 of the whole package block, bank area included, after writing it. A
// flasher whose block no longer matches its seal was damaged after packaging (in a download, on a
// disk) and must not send its images to a drive. The seal finds damage only: whoever rewrites
// the block can rewrite the seal as well.
#pragma once

#include <cstddef>
#include <string_view>

#include "package/PackageBlock.h"

namespace movrel::package {

namespace layout {

// Offsets from the first byte of the seal. The marker, zero-filled, is how the packaging tool
// finds the seal in a file; the flasher reads the seal in place and never looks at it. The key,
// with its zero byte, is followed by the digest: 64 lower-case hexadecimal digits and a zero
// byte, or in the template the text "NOT SEALED", zero-filled.
inline constexpr std::size_t kSealMarkerOffset = 0x00, kSealMarkerSize = 24;
inline constexpr std::size_t kSealKeyOffset = 0x18, kSealKeySize = 8;
inline constexpr std::size_t kSealDigestOffset = 0x20, kSealDigestSize = 65;
inline constexpr std::size_t kSealSize = kSealDigestOffset + kSealDigestSize;

inline constexpr std::string_view kSealMarker = "MOVREL PACKAGE SEAL";
inline constexpr std::string_view kSealKey = "SHA256=";
inline constexpr std::string_view kNotSealed = "NOT SEALED";

}  // namespace layout

enum class SealState {
  NotSealed,  // no seal block, or the template's seal: nothing to check
  Matching,   // the recorded digest is the block's
  Damaged,    // anything else: the block, or the seal itself, changed after packaging
};

// The state of the package's seal. A seal is unsealed only when its key and digest fields are the
// template's byte for byte, so no change of a byte or two turns a seal into no seal.
SealState CheckSeal(const PackageView& package);

}  // namespace movrel::package
