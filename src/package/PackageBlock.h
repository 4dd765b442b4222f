// Reading the package block: the configuration that the packaging step writes into the
// executable's data. Every field is read in place at its fixed offset; nothing is copied.
#pragma once

#include <cstdint>
#include <string_view>

namespace movrel::package {

// One 48-byte constraint record. Each text stops at its first zero byte or at its length limit.
class ConstraintEntry {
 public:
  explicit ConstraintEntry(const unsigned char* record) : record(record) {}

  std::string_view Minimum() const;  // at most 4 characters
  std::string_view Maximum() const;  // at most 4 characters
  std::string_view Vendor() const;   // at most 8 characters
  std::string_view Product() const;  // at most 16 characters
  // A free entry: a minimum beginning "#FLS" and "#" at the start of the other three fields.
  bool IsPlaceholder() const;

 private:
  const unsigned char* record;
};

// The option values: the last character of each option string as a digit (anything else reads
// as 0); ADMIN is the character right after "ADMIN=".
struct PackageOptions {
  std::uint8_t chkDisc = 0;
  std::uint8_t n2oMessage = 0;
  std::uint8_t bootCode = 0;
  std::uint8_t closeAp = 0;
  std::uint8_t warning = 0;
  std::uint8_t reboot = 0;
  std::uint8_t autoMode = 0;
  std::uint16_t howManyBin = 0;
  std::uint8_t nbWarning = 0;
  std::uint8_t admin = 0;
};

// A bank's firmware image inside the bank area. Only a usable image may be sent to a drive: its
// start and size are written as ten decimal digits each, its range lies inside the bank area and
// its size is a positive multiple of 16384 bytes.
struct BankImage {
  const unsigned char* data = nullptr;  // null unless usable
  std::int32_t size = 0;
  bool usable = false;
  std::string_view reason;  // why it is not usable; empty when it is
};

// A package block of layout::kBlockSize bytes starting at `block`, with the seal made for it at
// `seal` (package/Seal.h; none: the executable has no seal block). Banks are indexed 0..3,
// constraint entries 0..7.
class PackageView {
 public:
  explicit PackageView(const unsigned char* block, const unsigned char* seal = nullptr)
      : block(block), seal(seal) {}

  const unsigned char* Data() const { return block; }
  const unsigned char* SealData() const { return seal; }

  std::string_view Banner() const;
  std::string_view Version() const;
  std::string_view Contact() const;
  std::string_view Title() const;
  std::string_view Date() const;
  std::string_view Note() const;
  std::string_view Model() const;

  ConstraintEntry Constraint(int bank, int entry) const;
  PackageOptions Options() const;

  // HOW_MANY_BIN limited to the four banks the block has room for.
  int BankCount() const;
  // Decimal digits up to the first non-digit; values beyond the 32-bit range read as INT32_MAX.
  // A field that is not all digits still reads as its leading digits: only Image() tells whether
  // the two values describe an image.
  std::int32_t BankStart(int bank) const;
  std::int32_t BankSize(int bank) const;
  std::string_view NewRevision(int bank) const;
  const unsigned char* BankArea() const;
  BankImage Image(int bank) const;

  // The title field still begins with the template's "APP_TITLE_HERE".
  bool TitleNotSet() const;
  // The bank area still begins with the template's "BANK_START_FROM_HERE" (19 bytes compared).
  bool NoFirmware() const;

 private:
  const unsigned char* block;
  const unsigned char* seal;
};

// The block and the seal embedded in this executable, as the packaging step left them.
PackageView EmbeddedPackage();

}  // namespace movrel::package
