// The offsets and sizes of the package block, and the template's bytes at those offsets.
#include "package/PackageLayout.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "package/PackageBlock.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace movrel::test {

namespace {

namespace layout = package::layout;

// The bytes of `text` and then zero bytes, filling `size` bytes at `offset` of the template.
void ExpectTemplateField(std::size_t offset, std::size_t size, const std::string& text) {
  const unsigned char* field = package::EmbeddedPackage().Data() + offset;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(field), text.size()), text) << offset;
  for (std::size_t i = text.size(); i < size; ++i) EXPECT_EQ(field[i], 0) << text << " +" << i;
}

TEST(PackageLayout, OptionStringsSitInTheirSlotsWithTheShippedTexts) {
  struct Row {
    const char* key;
    std::size_t offset, size;
    const char* shipped;
  };
  const Row rows[] = {
      {"N2OMESSAGE", 0x6EE, 13, "N2OMESSAGE=0"}, {"CHKDISC", 0x6FB, 10, "CHKDISC=0"},
      {"BOOTCODE", 0x705, 18, "BOOTCODE=0"},     {"REBOOT", 0x717, 9, "REBOOT=1"},
      {"AUTOMODE", 0x720, 11, "AUTOMODE=0"},     {"CLOSEAP", 0x72B, 10, "CLOSEAP=0"},
      {"WARNING", 0x735, 10, "WARNING=1"},       {"ADMIN", 0x73F, 8, "ADMIN=0"},
      {"NBWARNING", 0x747, 12, "NBWARNING=0"},   {"HOW_MANY_BIN", 0x753, 20, "HOW_MANY_BIN=1"},
  };
  ASSERT_EQ(std::size(rows), layout::kOptionSlots.size());
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    EXPECT_EQ(layout::kOptionSlots[i].key, rows[i].key);
    EXPECT_EQ(layout::kOptionSlots[i].offset, rows[i].offset) << rows[i].key;
    EXPECT_EQ(layout::kOptionSlots[i].size, rows[i].size) << rows[i].key;
    ExpectTemplateField(rows[i].offset, rows[i].size, rows[i].shipped);
  }
  EXPECT_EQ(layout::kAdminValuePosition, 6u);
}

TEST(PackageLayout, ConstraintEntriesHoldPlaceholdersInTheTemplate) {
  EXPECT_EQ(layout::kEntrySize, 48u);
  EXPECT_EQ(layout::kEntryMaximumOffset, 8u);
  EXPECT_EQ(layout::kEntryVendorOffset, 16u);
  EXPECT_EQ(layout::kEntryProductOffset, 28u);
  EXPECT_EQ(layout::kEntryMinimumLength + layout::kEntryMaximumLength, 8u);
  EXPECT_EQ(layout::kEntryVendorLength + layout::kEntryProductLength, 24u);
  for (int b = 0; b < 4; ++b) {
    for (int e = 0; e < 8; ++e) {
      const std::size_t entry = 0x0EE + 384 * b + 48 * e;
      EXPECT_EQ(layout::EntryOffset(b, e), entry);
      std::string placeholder = "#FLSH" + std::to_string(b + 1) + std::to_string(e + 1);
      ExpectTemplateField(entry, 8, placeholder);
      ExpectTemplateField(entry + 8, 8, "#");
      ExpectTemplateField(entry + 16, 12, "#");
      ExpectTemplateField(entry + 28, 20, "#");
      package::ConstraintEntry read = package::EmbeddedPackage().Constraint(b, e);
      EXPECT_EQ(read.Minimum(), "#FLS");
      EXPECT_EQ(read.Maximum(), "#");
    }
  }
}

TEST(PackageLayout, BankStringsSitInTheirSlots) {
  const package::PackageView package = package::EmbeddedPackage();
  for (int b = 0; b < 4; ++b) {
    const std::string n = std::to_string(b + 1);
    EXPECT_EQ(layout::BankStartDigitsOffset(b), 0x772u + 22 * b);
    EXPECT_EQ(layout::BankSizeDigitsOffset(b), 0x7C9u + 21 * b);
    EXPECT_EQ(layout::NewRevisionTextOffset(b), 0x81Bu + 16 * b);
    ExpectTemplateField(0x767 + 22 * b, 22, "BIN_START" + n + "=0000000000");
    ExpectTemplateField(0x7BF + 21 * b, 21, "BIN_SIZE" + n + "=0000000000");
    ExpectTemplateField(0x813 + 16 * b, 16, "NEW_FW" + n + "=N/A ");
    EXPECT_EQ(package.NewRevision(b), "N/A ");
    EXPECT_EQ(package.BankSize(b), 0);
  }
}

// The template's texts are the ones the readers and the packager look for.
TEST(PackageLayout, TemplateTextsAndMarkers) {
  const package::PackageView package = package::EmbeddedPackage();
  ExpectTemplateField(0x000, 21, "MOVREL PACKAGE BLOCK");
  ExpectTemplateField(0x015, 13, "v2.0.3");
  ExpectTemplateField(0x07D, 32, "N/A");
  struct Row {
    std::size_t offset, size;
    std::string_view text;
  };
  const Row rows[] = {
      {layout::kContactOffset, layout::kContactSize, layout::kContactPlaceholder},
      {layout::kDateOffset, layout::kDateSize, layout::kDatePlaceholder},
      {layout::kTitleOffset, layout::kTitleSize, layout::kTitleMarker},
      {layout::kConstraintKeyOffset, layout::kConstraintKeySize, layout::kConstraintKey},
      {layout::kModelOffset, layout::kModelSize, layout::kModelPlaceholder},
  };
  for (const Row& row : rows) ExpectTemplateField(row.offset, row.size, std::string(row.text));
  EXPECT_EQ(std::memcmp(package.BankArea(), layout::kBankAreaMarker.data(),
                        layout::kBankAreaMarker.size()),
            0);
  EXPECT_EQ(package.BankArea(), package.Data() + layout::kBankAreaOffset);
  EXPECT_TRUE(package.TitleNotSet());
  EXPECT_TRUE(package.NoFirmware());
}

// The packaging step rewrites the block and the seal in the file, so neither may land in
// read-only memory.
TEST(PackageLayout, EmbeddedBlockAndSealAreInWritableMemory) {
  for (const unsigned char* data :
       {package::EmbeddedPackage().Data(), package::EmbeddedPackage().SealData()}) {
#ifdef _WIN32
    MEMORY_BASIC_INFORMATION region{};
    ASSERT_NE(VirtualQuery(data, &region, sizeof region), 0u);
    EXPECT_TRUE(region.Protect == PAGE_READWRITE || region.Protect == PAGE_WRITECOPY)
        << region.Protect;
    EXPECT_EQ(region.Type, static_cast<DWORD>(MEM_IMAGE));  // in the executable's own image
#else
    const auto address = reinterpret_cast<std::uintptr_t>(data);
    std::ifstream maps("/proc/self/maps");
    std::string line;
    bool found = false;
    while (std::getline(maps, line)) {
      std::uintptr_t low = 0, high = 0;
      char dash = 0;
      std::string perms;
      std::istringstream(line) >> std::hex >> low >> dash >> high >> perms;
      if (address >= low && address < high) {
        found = true;
        EXPECT_EQ(perms.substr(0, 2), "rw") << line;
      }
    }
    EXPECT_TRUE(found);
#endif
  }
}

}  // namespace
}  // namespace movrel::test
