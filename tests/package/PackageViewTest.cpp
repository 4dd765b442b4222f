// The reader's rules over crafted blocks: option values, template markers, bank values and
// images, bounded texts.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "package/ImageHash.h"
#include "package/PackageBlock.h"
#include "package/PackageLayout.h"

namespace movrel::test {

namespace {

namespace layout = package::layout;

// A copy of the template block that a test may change.
class CraftedBlock : public ::testing::Test {
 protected:
  CraftedBlock()
      : bytes(package::EmbeddedPackage().Data(), package::EmbeddedPackage().Data() + kSize) {}

  // `text`, then zero bytes up to `size` bytes, at `offset`.
  void Put(std::size_t offset, const std::string& text, std::size_t size) {
    std::memset(bytes.data() + offset, 0, size);
    std::memcpy(bytes.data() + offset, text.data(), text.size());
  }
  void PutOption(std::size_t slotOffset, const std::string& text) {
    for (const layout::OptionSlot& slot : layout::kOptionSlots) {
      if (slot.offset == slotOffset) Put(slot.offset, text, slot.size);
    }
  }
  package::PackageView View() const { return package::PackageView(bytes.data()); }

  static constexpr std::size_t kSize = layout::kBlockSize;
  std::vector<unsigned char> bytes;
};

TEST_F(CraftedBlock, EachOptionIsReadFromItsOwnSlot) {
  const char* texts[] = {"N2OMESSAGE=1", "CHKDISC=2",     "BOOTCODE=3", "REBOOT=4",
                         "AUTOMODE=5",   "CLOSEAP=6",     "WARNING=7",  "ADMIN=8",
                         "NBWARNING=9",  "HOW_MANY_BIN=3"};
  for (std::size_t i = 0; i < layout::kOptionSlots.size(); ++i) {
    PutOption(layout::kOptionSlots[i].offset, texts[i]);
  }
  const package::PackageOptions o = View().Options();
  EXPECT_EQ(o.n2oMessage, 1);
  EXPECT_EQ(o.chkDisc, 2);
  EXPECT_EQ(o.bootCode, 3);
  EXPECT_EQ(o.reboot, 4);
  EXPECT_EQ(o.autoMode, 5);
  EXPECT_EQ(o.closeAp, 6);
  EXPECT_EQ(o.warning, 7);
  EXPECT_EQ(o.admin, 8);
  EXPECT_EQ(o.nbWarning, 9);
  EXPECT_EQ(o.howManyBin, 3);
}

TEST_F(CraftedBlock, OptionValueIsTheLastCharacterAsADigit) {
  struct Row {
    std::size_t slot;
    const char* text;
    int expected;
    std::uint8_t package::PackageOptions::*field;
  };
  using O = package::PackageOptions;
  const Row rows[] = {
      {0x735, "WARNING=2", 2, &O::warning},  // not the 1 that shows the notice
      {0x717, "REBOOT=2", 2, &O::reboot},    // not 0, so it restarts
      {0x717, "REBOOT=0", 0, &O::reboot},
      {0x705, "BOOTCODE=10", 0, &O::bootCode},  // only the last character counts
      {0x705, "BOOTCODE=  7", 7, &O::bootCode},
      {0x6FB, "CHKDISC=x", 0, &O::chkDisc},  // a non-digit reads as 0
      {0x6FB, "CHKDISC=/", 0, &O::chkDisc},
      {0x6FB, "CHKDISC=:", 0, &O::chkDisc},
      {0x6EE, "", 0, &O::n2oMessage},  // an empty string has no value
      {0x73F, "ADMIN=1", 1, &O::admin},
      {0x73F, "ADMIN=2", 2, &O::admin},
      {0x73F, "ADMIN=12", 1, &O::admin},  // ADMIN alone is read right after "ADMIN="
      {0x73F, "ADMIN=", 0, &O::admin},
      {0x73F, "XDMIN=1", 1, &O::admin},  // keys are never compared
  };
  for (const Row& row : rows) {
    PutOption(row.slot, row.text);
    EXPECT_EQ(View().Options().*row.field, row.expected) << row.text;
  }
}

TEST_F(CraftedBlock, BankCountIsHowManyBinAtMostFour) {
  const std::pair<const char*, int> rows[] = {
      {"HOW_MANY_BIN=0", 0}, {"HOW_MANY_BIN=3", 3}, {"HOW_MANY_BIN=4", 4}, {"HOW_MANY_BIN=7", 4}};
  for (const auto& [text, count] : rows) {
    PutOption(0x753, text);
    EXPECT_EQ(View().BankCount(), count) << text;
  }
  EXPECT_EQ(View().Options().howManyBin, 7);
}

TEST_F(CraftedBlock, TemplateMarkers) {
  const std::pair<const char*, bool> titles[] = {{"APP_TITLE_HERE", true},
                                                 {"APP_TITLE_HERE and more", true},
                                                 {"APP_TITLE_HER", false},
                                                 {"APP_TITLE_HERX", false},
                                                 {"Flash Program", false}};
  for (const auto& [title, notSet] : titles) {
    Put(0x031, title, 64);
    EXPECT_EQ(View().TitleNotSet(), notSet) << title;
  }
  const std::pair<const char*, bool> areas[] = {{"BANK_START_FROM_HERE", true},
                                                {"BANK_START_FROM_HERX", true},  // 19 bytes only
                                                {"BANK_START_FROM_HEXE", false},
                                                {"XANK_START_FROM_HERE", false},
                                                {"", false}};
  for (const auto& [area, noFirmware] : areas) {
    Put(0x853, area, 32);
    EXPECT_EQ(View().NoFirmware(), noFirmware) << area;
  }
}

TEST_F(CraftedBlock, BankValuesAreDecimalUpToTheFirstNonDigit) {
  Put(0x767 + 22, "BIN_START2=0000032768", 22);
  Put(0x7BF + 63, "BIN_SIZE4=0000012x45", 21);
  Put(0x7BF, "BIN_SIZE1=9999999999", 21);
  Put(0x813 + 32, "NEW_FW3=RV0D", 16);
  EXPECT_EQ(View().BankStart(1), 32768);
  EXPECT_EQ(View().BankStart(0), 0);
  EXPECT_EQ(View().BankSize(3), 12);
  EXPECT_EQ(View().BankSize(0), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(View().NewRevision(2), "RV0D");
}

TEST_F(CraftedBlock, ImageIsUsableOnlyInsideTheBankAreaInWholePieces) {
  struct Row {
    const char *start, *size;
    std::string_view reason;  // empty: usable
  };
  const std::string_view digits = "start is not ten decimal digits",
                         sizeDigits = "size is not ten decimal digits",
                         pieces = "size is not a positive multiple of 16384",
                         outside = "image leaves the bank area";
  const Row rows[] = {
      {"0000000000", "0001048576", ""},         {"0000016384", "0000032768", ""},
      {"0001032192", "0000016384", ""},         {"0000000001", "0000016384", ""},
      {"0001032192", "0000032768", outside},    {"0000000000", "0001064960", outside},
      {"2147483647", "0000016384", outside},    {"0000000000", "0000000000", pieces},
      {"0000000000", "0000016383", pieces},     {"0000000000", "0000024576", pieces},
      {"0000000000", "4294967296", pieces},     {"-000524288", "0000016384", digits},
      {"+000016384", "0000016384", digits},     {" 000016384", "0000016384", digits},
      {"000001638x", "0000016384", digits},     {"0000016384", "-000016384", sizeDigits},
      {"0000000000", "00016384 0", sizeDigits},
  };
  for (const Row& row : rows) {
    Put(0x767 + 22 * 2, std::string("BIN_START3=") + row.start, 22);
    Put(0x7BF + 21 * 2, std::string("BIN_SIZE3=") + row.size, 21);
    const package::BankImage image = View().Image(2);
    EXPECT_EQ(image.usable, row.reason.empty()) << row.start << " " << row.size;
    EXPECT_EQ(image.reason, row.reason) << row.start << " " << row.size;
    if (row.reason.empty()) {
      EXPECT_EQ(image.data, View().BankArea() + std::stoi(row.start));
      EXPECT_EQ(image.size, std::stoi(row.size));
    } else {
      EXPECT_EQ(image.data, nullptr);
    }
  }
}

TEST_F(CraftedBlock, TextsStopAtTheirLimits) {
  std::memset(bytes.data() + layout::kTitleOffset, 'T', 64 + 12);
  std::memset(bytes.data() + 0x0EE + 384 * 2 + 48 * 5, 'x', 48);
  EXPECT_EQ(View().Title(), std::string(64, 'T'));
  EXPECT_EQ(View().Date(), std::string(12, 'T'));
  const package::ConstraintEntry entry = View().Constraint(2, 5);
  EXPECT_EQ(entry.Minimum(), "xxxx");
  EXPECT_EQ(entry.Maximum(), "xxxx");
  EXPECT_EQ(entry.Vendor(), std::string(8, 'x'));
  EXPECT_EQ(entry.Product(), std::string(16, 'x'));
  EXPECT_EQ(View().Constraint(2, 4).Minimum(), "#FLS");

  Put(0x0EE + 48, "RV01", 8);
  Put(0x0EE + 48 + 8, "", 8);
  Put(0x0EE + 48 + 16, "Dorna", 12);
  Put(0x0EE + 48 + 28, "DVDRW KTR-207M  ", 20);
  const package::ConstraintEntry second = View().Constraint(0, 1);
  EXPECT_EQ(second.Minimum(), "RV01");
  EXPECT_EQ(second.Maximum(), "");
  EXPECT_EQ(second.Vendor(), "Dorna");
  EXPECT_EQ(second.Product(), "DVDRW KTR-207M  ");
}

}  // namespace

namespace {

// The bytes 0, 1, .., n - 1: no two alike, so a tail taken from the wrong place changes the digest.
std::string Counting(std::size_t n) {
  std::string message;
  for (std::size_t i = 0; i < n; ++i) message += static_cast<char>(i);
  return message;
}

}  // namespace

// The digest at the padding's edges: a tail of 55 bytes still takes the length in its own block,
// 56 and 119 need a second one, 64 none of its own; 200 bytes leave a tail of 8 after 3 blocks.
TEST(ImageDigest, Sha256OfKnownMessages) {
  const struct {
    std::string message;
    const char* digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
      {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
      {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
      {std::string(119, 'a'), "31eba51c313a5c08226adf18d4a359cfdfd8d2e816b13f4af952f7ea6584dcfb"},
      {Counting(200), "1901da1c9f699b48f6b2636e65cbf73abf99d0441ef67f5c540a42f7051dec6f"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(package::Sha256Hex(c.message.data(), c.message.size()), c.digest) << c.message.size();
  }
}
}  // namespace movrel::test
