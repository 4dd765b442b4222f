#include "movrel-pack/Write.h"

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <cstring>
#include <string>

#include "movrel-pack/Choices.h"
#include "movrel-pack/Error.h"
#include "package/ImageHash.h"
#include "package/Seal.h"

namespace movrel::pack {

namespace layout = movrel::package::layout;

namespace {

std::string BankName(int bank) {
  return "bank " + std::to_string(bank + 1);
}

void CheckText(const PackRequest& request, const TextField& field) {
  const std::optional<std::string>& text = request.*field.member;
  if (text && text->size() >= field.size) {
    throw Refusal(std::string(field.name) + " '" + *text + "' is longer than " +
                  std::to_string(field.size - 1) + " characters");
  }
}

void CheckRevision(const std::string& what, const std::string& revision, bool mayBeEmpty) {
  if (revision.size() != layout::kRevisionLength && !(mayBeEmpty && revision.empty())) {
    throw Refusal(what + " '" + revision + "' is not 4 characters");
  }
}

void CheckConstraint(int bank, int entry, const ConstraintArg& c) {
  std::string where = BankName(bank) + " constraint " + std::to_string(entry + 1);
  CheckRevision(where + " minimum", c.minimum, true);
  CheckRevision(where + " maximum", c.maximum, true);
  if (c.vendor.size() > layout::kEntryVendorLength) {
    throw Refusal(where + " vendor '" + c.vendor + "' is longer than 8 characters");
  }
  if (c.product.size() > layout::kEntryProductLength) {
    throw Refusal(where + " product '" + c.product + "' is longer than 16 characters");
  }
  const std::string* fields[] = {&c.minimum, &c.maximum, &c.vendor, &c.product};
  if (std::all_of(std::begin(fields), std::end(fields), [](auto f) { return f->empty(); })) {
    throw Refusal(where + " is empty and would accept any drive; use --any-drive " +
                  std::to_string(bank + 1));
  }
  if (std::any_of(std::begin(fields), std::end(fields),
                  [](auto f) { return !f->empty() && f->front() == '#'; })) {
    throw Refusal(where + ": a field beginning with '#' marks a free entry");
  }
  if (!c.minimum.empty() && !c.maximum.empty() && CompareRevisions(c.minimum, c.maximum) > 0) {
    const std::string n = std::to_string(bank + 1);
    throw ChoiceError(where + ": minimum '" + c.minimum + "' is above maximum '" + c.maximum +
                      "', so it matches no drive; give the lower revision first (--constraint " +
                      n + "=" + c.maximum + "," + c.minimum + ",...)");
  }
}

void CheckBank(const PackRequest& request, int bank, bool hasImage) {
  const BankArgs& args = request.banks[bank];
  if (!hasImage) {
    if (args.newRevision || args.anyDrive || !args.constraints.empty()) {
      throw Refusal(BankName(bank) + " has settings but no image (--bank " +
                    std::to_string(bank + 1) + "=FILE)");
    }
    return;
  }
  if (!args.newRevision) {
    const std::string n = std::to_string(bank + 1);
    throw ChoiceError(BankName(bank) + " has no revision to install; give --new-fw " + n +
                      "=REV (4 characters)");
  }
  CheckRevision(BankName(bank) + " new revision", *args.newRevision, false);
  if (args.anyDrive == !args.constraints.empty()) {
    throw Refusal(BankName(bank) + (args.anyDrive
                                        ? ": --any-drive and --constraint exclude each other"
                                        : " has no --constraint; give one, or --any-drive"));
  }
  for (std::size_t e = 0; e < args.constraints.size(); ++e) {
    CheckConstraint(bank, static_cast<int>(e), args.constraints[e]);
  }
}

void CheckImages(const std::vector<Bytes>& images) {
  std::size_t total = 0;
  for (int b = 0; b < static_cast<int>(images.size()); ++b) {
    const Bytes& image = images[b];
    if (image.empty() || image.size() % layout::kImageUnit != 0) {
      throw Refusal(BankName(b) + " image of " + std::to_string(image.size()) +
                    " bytes is not a positive multiple of 16384");
    }
    total += image.size();
  }
  if (total > layout::kBankAreaSize) {
    throw Refusal("the images take " + std::to_string(total) +
                  " bytes; the bank area holds 1048576");
  }
  if (!images.empty() &&
      std::equal(layout::kBankAreaMarker.begin(),
                 layout::kBankAreaMarker.begin() + layout::kBankAreaMarkerCompared,
                 images[0].begin())) {
    throw Refusal("bank 1 image begins with the template's bank-area marker");
  }
}

// The text and zero bytes up to the end of its field.
void WriteField(unsigned char* field, std::size_t size, const std::string& text) {
  std::memset(field, 0, size);
  std::memcpy(field, text.data(), text.size());
}

// The four texts, each followed by zero bytes up to the next field.
void WriteEntry(unsigned char* entry, const ConstraintArg& fields) {
  WriteField(entry, layout::kEntrySize, "");
  auto put = [entry](std::size_t offset, const std::string& text) {
    std::memcpy(entry + offset, text.data(), text.size());
  };
  put(layout::kEntryMinimumOffset, fields.minimum);
  put(layout::kEntryMaximumOffset, fields.maximum);
  put(layout::kEntryVendorOffset, fields.vendor);
  put(layout::kEntryProductOffset, fields.product);
}

// Identity fields are padded with spaces, as the drive reports them; an empty one stays empty.
std::string Padded(const std::string& text, std::size_t length) {
  return text.empty() ? text : text + std::string(length - text.size(), ' ');
}

ConstraintArg Constraint(const ConstraintArg& given) {
  return {given.minimum, given.maximum, Padded(given.vendor, layout::kEntryVendorLength),
          Padded(given.product, layout::kEntryProductLength)};
}

// A free entry: "#FLSH", the bank and entry numbers, and "#" in the other fields.
ConstraintArg Placeholder(int bank, int entry) {
  return {"#FLSH" + std::to_string(bank + 1) + std::to_string(entry + 1), "#", "#", "#"};
}

std::string Digits(std::size_t value) {
  char digits[layout::kDigitCount + 1];
  std::snprintf(digits, sizeof digits, "%010zu", value);
  return digits;
}

void WriteBanks(unsigned char* block, const PackRequest& request,
                const std::vector<Bytes>& images) {
  for (int b = 0; b < layout::kBankCount; ++b) {
    const BankArgs& args = request.banks[b];
    for (int e = 0; e < layout::kEntriesPerBank; ++e) {
      bool given = e < static_cast<int>(args.constraints.size()) && !args.anyDrive;
      WriteEntry(block + layout::EntryOffset(b, e),
                 given ? Constraint(args.constraints[e]) : Placeholder(b, e));
    }
  }
  unsigned char* area = block + layout::kBankAreaOffset;
  std::memset(area, 0, layout::kBankAreaSize);
  std::size_t start = 0;
  for (int b = 0; b < layout::kBankCount; ++b) {
    bool used = b < static_cast<int>(images.size());
    std::size_t size = used ? images[b].size() : 0;
    std::string n = std::to_string(b + 1);
    WriteField(block + layout::BankStartOffset(b), layout::kBankStartSlot,
               std::string(layout::kBankStartKey) + n + "=" + Digits(used ? start : 0));
    WriteField(block + layout::BankSizeOffset(b), layout::kBankSizeSlot,
               std::string(layout::kBankSizeKey) + n + "=" + Digits(size));
    WriteField(block + layout::NewRevisionOffset(b), layout::kNewRevisionSlot,
               std::string(layout::kNewRevisionKey) + n + "=" +
                   (used ? *request.banks[b].newRevision : "N/A "));
    if (used) std::memcpy(area + start, images[b].data(), size);
    start += size;
  }
}

void WriteOptions(unsigned char* block, const PackRequest& request, int bankCount) {
  auto options = request.options;
  options[static_cast<std::size_t>(layout::Option::HowManyBin)] =
      static_cast<char>('0' + bankCount);
  for (std::size_t i = 0; i < options.size(); ++i) {
    const layout::OptionSlot& slot = layout::kOptionSlots[i];
    if (options[i]) {
      WriteField(block + slot.offset, slot.size, std::string(slot.key) + "=" + *options[i]);
    }
  }
}

}  // namespace

int BankCountOf(const PackRequest& request) {
  int count = 0;
  while (count < layout::kBankCount && request.banks[count].imagePath) ++count;
  for (int b = count; b < layout::kBankCount; ++b) {
    if (request.banks[b].imagePath) {
      throw Refusal("banks are numbered from 1 without gaps: " + BankName(count) +
                    " is missing before " + BankName(b));
    }
  }
  return count;
}

void FillBlock(unsigned char* block, const PackRequest& request, const std::vector<Bytes>& images) {
  int bankCount = BankCountOf(request);
  assert(static_cast<int>(images.size()) == bankCount);
  for (const TextField& field : kTextFields) CheckText(request, field);
  for (int b = 0; b < layout::kBankCount; ++b) CheckBank(request, b, b < bankCount);
  CheckImages(images);

  for (const TextField& field : kTextFields) {
    if (const auto& text = request.*field.member)
      WriteField(block + field.offset, field.size, *text);
  }
  WriteOptions(block, request, bankCount);
  WriteBanks(block, request, images);
}

void WriteSeal(unsigned char* seal, const unsigned char* block) {
  WriteField(seal + layout::kSealKeyOffset, layout::kSealKeySize, std::string(layout::kSealKey));
  WriteField(seal + layout::kSealDigestOffset, layout::kSealDigestSize,
             package::Sha256Hex(block, layout::kBlockSize));
}

}  // namespace movrel::pack
