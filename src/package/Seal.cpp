#include "package/Seal.h"

#include <algorithm>
#include <string>

#include "package/ImageHash.h"
#include "package/PackageLayout.h"

namespace movrel::package {

namespace {

// The field of `size` bytes at `field` holds `text` and zero bytes to its end.
bool Holds(const unsigned char* field, std::size_t size, std::string_view text) {
  return std::equal(text.begin(), text.end(), field) &&
         std::all_of(field + text.size(), field + size, [](unsigned char c) { return c == 0; });
}

// The field holds 64 lower-case hexadecimal digits and its zero byte: it could hold a digest.
bool IsDigest(const unsigned char* field) {
  return std::all_of(
             field, field + layout::kSealDigestSize - 1,
             [](unsigned char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }) &&
         field[layout::kSealDigestSize - 1] == 0;
}

// The digest field holds the 64 digits of `digest`, compared whole rather than up to the first
// digit that differs: a reader learns nothing from how far the digits match, and a fuzzer is not
// led digit by digit into hashing a megabyte for every input it tries.
bool SameDigits(const unsigned char* field, const std::string& digest) {
  unsigned difference = 0;
  for (std::size_t i = 0; i < digest.size(); ++i) {
    difference |= field[i] ^ static_cast<unsigned char>(digest[i]);
  }
  return digest.size() == layout::kSealDigestSize - 1 && difference == 0;
}

}  // namespace

SealState CheckSeal(const PackageView& package) {
  const unsigned char* seal = package.SealData();
  if (seal == nullptr) return SealState::NotSealed;
  const unsigned char* digest = seal + layout::kSealDigestOffset;
  if (!Holds(seal + layout::kSealKeyOffset, layout::kSealKeySize, layout::kSealKey)) {
    return SealState::Damaged;
  }
  if (Holds(digest, layout::kSealDigestSize, layout::kNotSealed)) return SealState::NotSealed;
  // The block, over a megabyte, is hashed only for a seal whose digest field could match it.
  if (!IsDigest(digest)) return SealState::Damaged;
  return SameDigits(digest, Sha256Hex(package.Data(), layout::kBlockSize)) ? SealState::Matching
                                                                           : SealState::Damaged;
}

}  // namespace movrel::package
