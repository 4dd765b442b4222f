#include "package/PackageBlock.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <limits>

#include "package/PackageLayout.h"

namespace movrel::package {

namespace {

// The text at `field`, ending at its first zero byte or after `limit` characters.
std::string_view BoundedText(const unsigned char* field, std::size_t limit) {
  const char* text = reinterpret_cast<const char*>(field);
  return {text, static_cast<std::size_t>(std::find(text, text + limit, '\0') - text)};
}

// A digit reads as its value, anything else as 0.
std::uint8_t DigitValue(char c) {
  return (c >= '0' && c <= '9') ? static_cast<std::uint8_t>(c - '0') : 0;
}

// The decimal number in the ten digits at `digits`, up to the first non-digit. A value beyond
// the 32-bit range reads as INT32_MAX, which no bank can use.
std::int32_t DecimalValue(const unsigned char* digits) {
  std::int64_t value = 0;
  for (std::size_t i = 0; i < layout::kDigitCount && digits[i] >= '0' && digits[i] <= '9'; ++i) {
    value = value * 10 + (digits[i] - '0');
  }
  return static_cast<std::int32_t>(
      std::min<std::int64_t>(value, std::numeric_limits<std::int32_t>::max()));
}

// All ten characters at `digits` are decimal digits: no sign, no space, nothing else.
bool AllDigits(const unsigned char* digits) {
  return std::all_of(digits, digits + layout::kDigitCount,
                     [](unsigned char c) { return c >= '0' && c <= '9'; });
}

void CheckBank([[maybe_unused]] int bank) {
  assert(bank >= 0 && bank < layout::kBankCount);
}

}  // namespace

std::string_view ConstraintEntry::Minimum() const {
  return BoundedText(record + layout::kEntryMinimumOffset, layout::kEntryMinimumLength);
}

std::string_view ConstraintEntry::Maximum() const {
  return BoundedText(record + layout::kEntryMaximumOffset, layout::kEntryMaximumLength);
}

std::string_view ConstraintEntry::Vendor() const {
  return BoundedText(record + layout::kEntryVendorOffset, layout::kEntryVendorLength);
}

std::string_view ConstraintEntry::Product() const {
  return BoundedText(record + layout::kEntryProductOffset, layout::kEntryProductLength);
}

bool ConstraintEntry::IsPlaceholder() const {
  return Minimum().starts_with("#FLS") && Maximum().starts_with('#') && Vendor().starts_with('#') &&
         Product().starts_with('#');
}

std::string_view PackageView::Banner() const {
  return BoundedText(block + layout::kBannerOffset, layout::kBannerSize);
}

std::string_view PackageView::Version() const {
  return BoundedText(block + layout::kVersionOffset, layout::kVersionSize);
}

std::string_view PackageView::Contact() const {
  return BoundedText(block + layout::kContactOffset, layout::kContactSize);
}

std::string_view PackageView::Title() const {
  return BoundedText(block + layout::kTitleOffset, layout::kTitleSize);
}

std::string_view PackageView::Date() const {
  return BoundedText(block + layout::kDateOffset, layout::kDateSize);
}

std::string_view PackageView::Note() const {
  return BoundedText(block + layout::kNoteOffset, layout::kNoteSize);
}

std::string_view PackageView::Model() const {
  return BoundedText(block + layout::kModelOffset, layout::kModelSize);
}

ConstraintEntry PackageView::Constraint(int bank, int entry) const {
  CheckBank(bank);
  assert(entry >= 0 && entry < layout::kEntriesPerBank);
  return ConstraintEntry(block + layout::EntryOffset(bank, entry));
}

PackageOptions PackageView::Options() const {
  auto value = [this](layout::Option option) -> std::uint8_t {
    const layout::OptionSlot& slot = layout::SlotOf(option);
    std::string_view text = BoundedText(block + slot.offset, slot.size);
    return text.empty() ? 0 : DigitValue(text.back());
  };
  using layout::Option;
  PackageOptions options;
  options.chkDisc = value(Option::ChkDisc);
  options.n2oMessage = value(Option::N2oMessage);
  options.bootCode = value(Option::BootCode);
  options.closeAp = value(Option::CloseAp);
  options.warning = value(Option::Warning);
  options.reboot = value(Option::Reboot);
  options.autoMode = value(Option::AutoMode);
  options.howManyBin = value(Option::HowManyBin);
  options.nbWarning = value(Option::NbWarning);
  const layout::OptionSlot& admin = layout::SlotOf(Option::Admin);
  options.admin = DigitValue(static_cast<char>(block[admin.offset + layout::kAdminValuePosition]));
  return options;
}

int PackageView::BankCount() const {
  return std::min<int>(Options().howManyBin, layout::kBankCount);
}

std::int32_t PackageView::BankStart(int bank) const {
  CheckBank(bank);
  return DecimalValue(block + layout::BankStartDigitsOffset(bank));
}

std::int32_t PackageView::BankSize(int bank) const {
  CheckBank(bank);
  return DecimalValue(block + layout::BankSizeDigitsOffset(bank));
}

std::string_view PackageView::NewRevision(int bank) const {
  CheckBank(bank);
  std::size_t offset = layout::NewRevisionTextOffset(bank);
  return BoundedText(block + offset,
                     layout::NewRevisionOffset(bank) + layout::kNewRevisionSlot - offset);
}

const unsigned char* PackageView::BankArea() const {
  return block + layout::kBankAreaOffset;
}

BankImage PackageView::Image(int bank) const {
  const std::int64_t start = BankStart(bank);
  const std::int64_t size = BankSize(bank);
  const auto refused = [size](std::string_view reason) {
    return BankImage{nullptr, static_cast<std::int32_t>(size), false, reason};
  };
  if (!AllDigits(block + layout::BankStartDigitsOffset(bank))) {
    return refused("start is not ten decimal digits");
  }
  if (!AllDigits(block + layout::BankSizeDigitsOffset(bank))) {
    return refused("size is not ten decimal digits");
  }
  if (size <= 0 || size % static_cast<std::int64_t>(layout::kImageUnit) != 0) {
    return refused("size is not a positive multiple of 16384");
  }
  if (start + size > static_cast<std::int64_t>(layout::kBankAreaSize)) {
    return refused("image leaves the bank area");
  }
  return {BankArea() + start, static_cast<std::int32_t>(size), true, {}};
}

bool PackageView::TitleNotSet() const {
  return Title().substr(0, layout::kTitleMarker.size()) == layout::kTitleMarker;
}

bool PackageView::NoFirmware() const {
  return std::memcmp(BankArea(), layout::kBankAreaMarker.data(), layout::kBankAreaMarkerCompared) ==
         0;
}

}  // namespace movrel::package
