#include "PackageChecks.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "Require.h"
#include "package/ImageHash.h"
#include "package/PackageLayout.h"
#include "package/Seal.h"

namespace fuzz {

namespace {

namespace layout = movrel::package::layout;

// `text` begins at `field`, ends at the field's first zero byte and never runs past its `size`.
void CheckText(const unsigned char* field, std::size_t size, std::string_view text,
               const char* what) {
  Require(text.data() == reinterpret_cast<const char*>(field) && text.size() <= size, what);
  Require(text.find('\0') == std::string_view::npos, what);
  Require(text.size() == size || field[text.size()] == 0, what);
}

void CheckEntry(const movrel::package::ConstraintEntry& entry, const unsigned char* record) {
  CheckText(record + layout::kEntryMinimumOffset, layout::kEntryMinimumLength, entry.Minimum(),
            "constraint minimum leaves its field");
  CheckText(record + layout::kEntryMaximumOffset, layout::kEntryMaximumLength, entry.Maximum(),
            "constraint maximum leaves its field");
  CheckText(record + layout::kEntryVendorOffset, layout::kEntryVendorLength, entry.Vendor(),
            "constraint vendor leaves its field");
  CheckText(record + layout::kEntryProductOffset, layout::kEntryProductLength, entry.Product(),
            "constraint product leaves its field");
}

// The value of ten decimal digits; -1 when one of them is not a digit.
std::int64_t TenDigits(const unsigned char* digits) {
  std::int64_t value = 0;
  for (std::size_t i = 0; i < layout::kDigitCount; ++i) {
    if (digits[i] < '0' || digits[i] > '9') return -1;
    value = value * 10 + (digits[i] - '0');
  }
  return value;
}

void CheckImage(const movrel::package::PackageView& package, int bank) {
  const movrel::package::BankImage image = package.Image(bank);
  if (!image.usable) {
    Require(image.data == nullptr, "an unusable image has data");
    return;
  }
  const std::int64_t start =
      static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(image.data) -
                                reinterpret_cast<std::uintptr_t>(package.BankArea()));
  Require(start >= 0 && image.size > 0 &&
              start + image.size <= static_cast<std::int64_t>(layout::kBankAreaSize),
          "a usable image leaves the bank area");
  Require(image.size % static_cast<std::int64_t>(layout::kImageUnit) == 0,
          "a usable image is not a multiple of 16384 bytes");
  Require(start == TenDigits(package.Data() + layout::BankStartDigitsOffset(bank)) &&
              image.size == TenDigits(package.Data() + layout::BankSizeDigitsOffset(bank)),
          "a usable image is not where its ten-digit start and size put it");
}

// `text`, then zero bytes up to `size`.
std::string Field(std::string_view text, std::size_t size) {
  std::string field(text);
  field.resize(size, '\0');
  return field;
}

void CheckSealState(const movrel::package::PackageView& package) {
  const movrel::package::SealState state = movrel::package::CheckSeal(package);
  const unsigned char* seal = package.SealData();
  if (seal == nullptr) {
    Require(state == movrel::package::SealState::NotSealed, "no seal reads as a seal");
    return;
  }
  // The template's key and digest fields, made once for the process.
  static const std::string key = Field(layout::kSealKey, layout::kSealKeySize);
  static const std::string notSealed = key + Field(layout::kNotSealed, layout::kSealDigestSize);
  const std::string_view fields(reinterpret_cast<const char*>(seal) + layout::kSealKeyOffset,
                                layout::kSealSize - layout::kSealKeyOffset);
  Require((state == movrel::package::SealState::NotSealed) == (fields == notSealed),
          "the seal reads as not sealed but is not the template's, or the other way round");
  if (state == movrel::package::SealState::Matching) {
    Require(fields == key + Field(movrel::package::Sha256Hex(package.Data(), layout::kBlockSize),
                                  layout::kSealDigestSize),
            "the seal matches but does not hold the block's digest");
  }
}

}  // namespace

void CheckPackage(const movrel::package::PackageView& package) {
  const unsigned char* block = package.Data();
  CheckText(block + layout::kBannerOffset, layout::kBannerSize, package.Banner(),
            "banner leaves its field");
  CheckText(block + layout::kVersionOffset, layout::kVersionSize, package.Version(),
            "version leaves its field");
  CheckText(block + layout::kContactOffset, layout::kContactSize, package.Contact(),
            "contact leaves its field");
  CheckText(block + layout::kTitleOffset, layout::kTitleSize, package.Title(),
            "title leaves its field");
  CheckText(block + layout::kDateOffset, layout::kDateSize, package.Date(),
            "date leaves its field");
  CheckText(block + layout::kNoteOffset, layout::kNoteSize, package.Note(),
            "note leaves its field");
  CheckText(block + layout::kModelOffset, layout::kModelSize, package.Model(),
            "model leaves its field");

  const movrel::package::PackageOptions o = package.Options();
  const int values[] = {o.chkDisc, o.n2oMessage, o.bootCode,   o.closeAp,   o.warning,
                        o.reboot,  o.autoMode,   o.howManyBin, o.nbWarning, o.admin};
  Require(std::all_of(std::begin(values), std::end(values), [](int v) { return v <= 9; }),
          "an option value is not one digit");
  Require(package.BankCount() == std::min<int>(o.howManyBin, layout::kBankCount),
          "the bank count is not HOW_MANY_BIN limited to the four banks");

  for (int b = 0; b < layout::kBankCount; ++b) {
    for (int e = 0; e < layout::kEntriesPerBank; ++e) {
      CheckEntry(package.Constraint(b, e), block + layout::EntryOffset(b, e));
    }
    const std::size_t revision = layout::NewRevisionTextOffset(b);
    CheckText(block + revision, layout::NewRevisionOffset(b) + layout::kNewRevisionSlot - revision,
              package.NewRevision(b), "new revision leaves its slot");
    CheckImage(package, b);
  }
  CheckSealState(package);
}

}  // namespace fuzz
