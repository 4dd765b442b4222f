// movrel-pack show over arbitrary bytes: the block and its seal are located in a file and
// printed. The input is a 32-bit little-endian count of zero bytes that end the file, then the
// file's first bytes, so that a block of over a megabyte fits behind a short input.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "PackageChecks.h"
#include "Require.h"
#include "movrel-pack/Error.h"
#include "movrel-pack/Locate.h"
#include "movrel-pack/Print.h"
#include "package/PackageLayout.h"
#include "package/Seal.h"

namespace layout = movrel::package::layout;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const std::size_t zeros = (data[0] | data[1] << 8 | data[2] << 16 | std::size_t{data[3]} << 24) %
                            (layout::kBlockSize + 1);
  std::vector<unsigned char> file(data + 4, data + size);
  file.resize(file.size() + zeros);

  std::optional<movrel::package::PackageView> found;
  try {
    found = movrel::pack::LocatePackage(file);
  } catch (const movrel::pack::Refusal&) {
    return 0;
  }
  const movrel::package::PackageView package = *found;
  const unsigned char* block = package.Data();
  fuzz::Require(block + layout::kBlockSize <= file.data() + file.size(),
                "the block runs past the file's end");
  const std::string_view key(layout::kConstraintKey.data(), layout::kConstraintKey.size() + 1);
  fuzz::Require(std::equal(key.begin(), key.end(), block + layout::kConstraintKeyOffset),
                "the block found has no constraint key");
  if (const unsigned char* seal = package.SealData()) {
    fuzz::Require(seal >= file.data() && seal + layout::kSealSize <= file.data() + file.size(),
                  "the seal runs past the file's end");
    fuzz::Require(seal + layout::kSealSize <= block || seal >= block + layout::kBlockSize,
                  "the seal found lies in the block");
    fuzz::Require(std::equal(layout::kSealMarker.begin(), layout::kSealMarker.end(), seal),
                  "the seal found has no marker");
  }

  fuzz::CheckPackage(package);
  const std::string text = movrel::pack::FormatPackage(package);
  fuzz::Require(std::all_of(text.begin(), text.end(),
                            [](unsigned char c) { return c == '\n' || (c >= 0x20 && c <= 0x7E); }),
                "show prints a byte that is not printable");
  // Seven texts, two template markers, the seal, the options, the bank count, each bank in use with
  // its hash and its entries, and one line for each bank that is not.
  const auto inUse =
      static_cast<std::size_t>(std::clamp(package.BankCount(), 0, layout::kBankCount));
  const auto lines = 7 + 2 + 1 + layout::kOptionSlots.size() + 1 +
                     inUse * (2 + layout::kEntriesPerBank) + (layout::kBankCount - inUse);
  fuzz::Require(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) == lines,
                "show prints a field on more than one line");
  return 0;
}
