// The package reader over arbitrary bytes: the input is a seal, then the beginning of a block;
// the rest of both is zero bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "PackageChecks.h"
#include "package/PackageLayout.h"
#include "package/Seal.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::vector<unsigned char> seal(movrel::package::layout::kSealSize);
  static std::vector<unsigned char> block(movrel::package::layout::kBlockSize);
  static std::size_t written = 0;  // bytes the previous input left in the block
  const std::size_t sealLength = std::min(size, seal.size());
  std::fill(std::copy(data, data + sealLength, seal.begin()), seal.end(), 0);
  data += sealLength;
  size -= sealLength;
  const std::size_t length = std::min(size, block.size());
  if (written > length) std::fill(block.begin() + length, block.begin() + written, 0);
  std::copy(data, data + length, block.begin());
  written = length;
  fuzz::CheckPackage(movrel::package::PackageView(block.data(), seal.data()));
  return 0;
}
