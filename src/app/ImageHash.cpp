#include "app/ImageHash.h"

#include <openssl/evp.h>

#include <cstddef>

namespace app {

std::string ImageSha256(const BankImage& image) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!image.usable || EVP_Digest(image.data, static_cast<std::size_t>(image.size), digest, &length,
                                  EVP_sha256(), nullptr) != 1) {
    return {};
  }
  constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kDigits[digest[i] >> 4];
    hex += kDigits[digest[i] & 0xF];
  }
  return hex;
}

}  // namespace app
