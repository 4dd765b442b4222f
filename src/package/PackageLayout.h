// Where every field of the package block sits: offsets from the first byte of the block and
// field sizes in bytes. The program reads the block in place through these constants; the
// packaging tool writes it through them.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace movrel::package::layout {

inline constexpr std::size_t kBannerOffset = 0x000, kBannerSize = 21;
inline constexpr std::size_t kVersionOffset = 0x015, kVersionSize = 13;
inline constexpr std::size_t kContactOffset = 0x022, kContactSize = 15;
inline constexpr std::size_t kTitleOffset = 0x031, kTitleSize = 64;
inline constexpr std::size_t kDateOffset = 0x071, kDateSize = 12;
inline constexpr std::size_t kNoteOffset = 0x07D, kNoteSize = 32;
inline constexpr std::size_t kModelOffset = 0x09D, kModelSize = 65;
inline constexpr std::size_t kConstraintKeyOffset = 0x0DE, kConstraintKeySize = 16;
inline constexpr std::size_t kConstraintTableOffset = 0x0EE, kConstraintTableSize = 1536;
inline constexpr std::size_t kOptionsOffset = 0x6EE, kOptionsSize = 121;
inline constexpr std::size_t kBankStartsOffset = 0x767, kBankStartSlot = 22;
inline constexpr std::size_t kBankSizesOffset = 0x7BF, kBankSizeSlot = 21;
inline constexpr std::size_t kNewRevisionsOffset = 0x813, kNewRevisionSlot = 16;
inline constexpr std::size_t kBankAreaOffset = 0x853, kBankAreaSize = 1048576;
inline constexpr std::size_t kBlockSize = kBankAreaOffset + kBankAreaSize;
// Each field ends where the next begins: the block has no gap and no overlap.
static_assert(kBannerOffset + kBannerSize == kVersionOffset);
static_assert(kVersionOffset + kVersionSize == kContactOffset);
static_assert(kContactOffset + kContactSize == kTitleOffset);
static_assert(kTitleOffset + kTitleSize == kDateOffset);
static_assert(kDateOffset + kDateSize == kNoteOffset);
static_assert(kNoteOffset + kNoteSize == kModelOffset);
static_assert(kModelOffset + kModelSize == kConstraintKeyOffset);
static_assert(kConstraintKeyOffset + kConstraintKeySize == kConstraintTableOffset);
static_assert(kConstraintTableOffset + kConstraintTableSize == kOptionsOffset);
static_assert(kOptionsOffset + kOptionsSize == kBankStartsOffset);

inline constexpr int kBankCount = 4;
inline constexpr int kEntriesPerBank = 8;
static_assert(kBankStartsOffset + kBankStartSlot * kBankCount == kBankSizesOffset);
static_assert(kBankSizesOffset + kBankSizeSlot * kBankCount == kNewRevisionsOffset);
static_assert(kNewRevisionsOffset + kNewRevisionSlot * kBankCount == kBankAreaOffset);

// One constraint entry: each field is followed by zero bytes up to the next one.
inline constexpr std::size_t kEntrySize = 48;
static_assert(kEntrySize * kEntriesPerBank * kBankCount == kConstraintTableSize);
inline constexpr std::size_t kEntryMinimumOffset = 0, kEntryMinimumLength = 4;
inline constexpr std::size_t kEntryMaximumOffset = 8, kEntryMaximumLength = 4;
inline constexpr std::size_t kEntryVendorOffset = 16, kEntryVendorLength = 8;
inline constexpr std::size_t kEntryProductOffset = 28, kEntryProductLength = 16;

constexpr std::size_t EntryOffset(int bank, int entry) {
  return kConstraintTableOffset + kEntrySize * (kEntriesPerBank * bank + entry);
}

// "BIN_START1=" .. "BIN_START4=", "BIN_SIZE1=" .. and "NEW_FW1=" ..: the key, the bank
// number, "=", then the value.
inline constexpr std::string_view kBankStartKey = "BIN_START";
inline constexpr std::string_view kBankSizeKey = "BIN_SIZE";
inline constexpr std::string_view kNewRevisionKey = "NEW_FW";
inline constexpr std::size_t kDigitCount = 10;
inline constexpr std::size_t kRevisionLength = 4;

constexpr std::size_t BankStartOffset(int bank) {
  return kBankStartsOffset + kBankStartSlot * bank;
}
constexpr std::size_t BankSizeOffset(int bank) {
  return kBankSizesOffset + kBankSizeSlot * bank;
}
constexpr std::size_t NewRevisionOffset(int bank) {
  return kNewRevisionsOffset + kNewRevisionSlot * bank;
}
constexpr std::size_t BankStartDigitsOffset(int bank) {
  return BankStartOffset(bank) + kBankStartKey.size() + 2;
}
constexpr std::size_t BankSizeDigitsOffset(int bank) {
  return BankSizeOffset(bank) + kBankSizeKey.size() + 2;
}
constexpr std::size_t NewRevisionTextOffset(int bank) {
  return NewRevisionOffset(bank) + kNewRevisionKey.size() + 2;
}

// The ten option strings, in the order they lie in the block.
enum class Option {
  N2oMessage,
  ChkDisc,
  BootCode,
  Reboot,
  AutoMode,
  CloseAp,
  Warning,
  Admin,
  NbWarning,
  HowManyBin
};

struct OptionSlot {
  std::string_view key;
  std::size_t offset;
  std::size_t size;
};

inline constexpr std::array<OptionSlot, 10> kOptionSlots = {{
    {"N2OMESSAGE", 0x6EE, 13},
    {"CHKDISC", 0x6FB, 10},
    {"BOOTCODE", 0x705, 18},
    {"REBOOT", 0x717, 9},
    {"AUTOMODE", 0x720, 11},
    {"CLOSEAP", 0x72B, 10},
    {"WARNING", 0x735, 10},
    {"ADMIN", 0x73F, 8},
    {"NBWARNING", 0x747, 12},
    {"HOW_MANY_BIN", 0x753, 20},
}};

constexpr const OptionSlot& SlotOf(Option option) {
  return kOptionSlots[static_cast<std::size_t>(option)];
}

// ADMIN is read at this position of its string, right after "ADMIN=".
inline constexpr std::size_t kAdminValuePosition = 6;

inline constexpr std::string_view kConstraintKey = "FW_CONSTRAINTS=";
inline constexpr std::string_view kTitleMarker = "APP_TITLE_HERE";
// The template's other placeholder texts, which no shipped package keeps.
inline constexpr std::string_view kModelPlaceholder = "MODEL_HERE";
inline constexpr std::string_view kContactPlaceholder = "CONTACT_HERE";
inline constexpr std::string_view kDatePlaceholder = "YYYY/MM/DD";
inline constexpr std::string_view kBankAreaMarker = "BANK_START_FROM_HERE";
// The bank-area test covers one byte less than the marker.
inline constexpr std::size_t kBankAreaMarkerCompared = 19;

// A firmware image is sent to the drive in pieces of this size.
inline constexpr std::size_t kImageUnit = 16384;

}  // namespace movrel::package::layout
