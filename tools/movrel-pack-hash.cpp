#include "movrel-pack-hash.h"

#include <openssl/evp.h>

#include <cstddef>

#include "movrel-pack-error.h"

namespace pack {

std::optional<std::string> ImageSha256(const app::BankImage& image) {
  if (!image.usable) return std::nullopt;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(image.data, static_cast<std::size_t>(image.size), digest, &length, EVP_sha256(),
                 nullptr) != 1) {
    throw Refusal("cannot compute a SHA-256 hash");
  }
  constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kDigits[digest[i] >> 4];
    hex += kDigits[digest[i] & 0xF];
  }
  return hex;
}

}  // namespace pack
