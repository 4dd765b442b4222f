#include "movrel-pack/Locate.h"

#include <algorithm>
#include <functional>
#include <string>
#include <string_view>

#include "movrel-pack/Error.h"
#include "package/PackageLayout.h"
#include "package/Seal.h"

namespace movrel::pack {

namespace layout = movrel::package::layout;

namespace {

bool HasText(std::span<const unsigned char> block, std::size_t offset, std::string_view text) {
  return std::equal(text.begin(), text.end(), block.begin() + offset);
}

bool HasFixedKeys(std::span<const unsigned char> block) {
  for (const layout::OptionSlot& slot : layout::kOptionSlots) {
    if (!HasText(block, slot.offset, std::string(slot.key) + "=")) return false;
  }
  for (int b = 0; b < layout::kBankCount; ++b) {
    std::string n = std::to_string(b + 1) + "=";
    if (!HasText(block, layout::BankStartOffset(b), std::string(layout::kBankStartKey) + n) ||
        !HasText(block, layout::BankSizeOffset(b), std::string(layout::kBankSizeKey) + n) ||
        !HasText(block, layout::NewRevisionOffset(b), std::string(layout::kNewRevisionKey) + n)) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::size_t LocateBlock(std::span<const unsigned char> file) {
  // The key with its terminating zero byte.
  const std::string_view key(layout::kConstraintKey.data(), layout::kConstraintKey.size() + 1);
  const std::boyer_moore_horspool_searcher searcher(key.begin(), key.end());
  std::size_t found = 0;
  int count = 0;
  for (auto at = file.begin(); (at = std::search(at, file.end(), searcher)) != file.end(); ++at) {
    std::size_t keyOffset = static_cast<std::size_t>(at - file.begin());
    if (keyOffset < layout::kConstraintKeyOffset) continue;
    std::size_t start = keyOffset - layout::kConstraintKeyOffset;
    if (file.size() - start < layout::kBlockSize) continue;
    if (!HasFixedKeys(file.subspan(start, layout::kBlockSize))) continue;
    found = start;
    ++count;
  }
  if (count == 0) throw Refusal("no package block found");
  if (count > 1) throw Refusal("more than one package block found");
  return found;
}

std::optional<std::size_t> LocateSeal(std::span<const unsigned char> file, std::size_t block) {
  // The text alone is searched for: a pattern that ends in zero bytes crawls through zero-filled
  // data.
  const std::string_view marker = layout::kSealMarker;
  const std::boyer_moore_horspool_searcher searcher(marker.begin(), marker.end());
  std::optional<std::size_t> found;
  for (auto at = file.begin(); (at = std::search(at, file.end(), searcher)) != file.end(); ++at) {
    const std::size_t start = static_cast<std::size_t>(at - file.begin());
    // A text or an image of the block may hold the marker too.
    if (start + layout::kSealSize > block && start < block + layout::kBlockSize) continue;
    if (file.size() - start < layout::kSealSize) continue;
    if (!std::all_of(at + marker.size(), at + layout::kSealMarkerSize,
                     [](unsigned char c) { return c == 0; })) {
      continue;
    }
    if (found) throw Refusal("more than one seal found");
    found = start;
  }
  return found;
}

package::PackageView LocatePackage(std::span<const unsigned char> file) {
  const std::size_t block = LocateBlock(file);
  const std::optional<std::size_t> seal = LocateSeal(file, block);
  return package::PackageView(file.data() + block, seal ? file.data() + *seal : nullptr);
}

}  // namespace movrel::pack
