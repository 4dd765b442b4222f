// The package reader over arbitrary bytes: the input is the beginning of a block, and the rest
// of the block is zero bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "PackageChecks.h"
#include "package/PackageLayout.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::vector<unsigned char> block(app::layout::kBlockSize);
  static std::size_t written = 0;  // bytes the previous input left in the block
  const std::size_t length = std::min(size, block.size());
  if (written > length) std::fill(block.begin() + length, block.begin() + written, 0);
  std::copy(data, data + length, block.begin());
  written = length;
  fuzz::CheckPackage(app::PackageView(block.data()));
  return 0;
}
