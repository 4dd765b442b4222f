// movrel-pack's block writer and locator, in process.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "movrel-pack/Args.h"
#include "movrel-pack/Error.h"
#include "movrel-pack/Locate.h"
#include "movrel-pack/Write.h"
#include "package/PackageBlock.h"
#include "package/PackageLayout.h"

namespace movrel::test {

namespace {

namespace layout = package::layout;

std::vector<unsigned char> TemplateBlock() {
  const unsigned char* block = package::EmbeddedPackage().Data();
  return {block, block + layout::kBlockSize};
}

pack::PackRequest Request(std::vector<std::string> extra) {
  std::vector<std::string> args = {"--template", "t",   "--output", "o",
                                   "--bank",     "1=a", "--new-fw", "1=RV0D"};
  args.insert(args.end(), extra.begin(), extra.end());
  return pack::ParsePackArguments(args);
}

TEST(PackWrite, PadsIdentitiesAndClearsWhatAnEarlierPackageLeft) {
  std::vector<unsigned char> block = TemplateBlock();
  std::memset(block.data() + layout::kBankAreaOffset + 100000, 0xEE, 10);  // an older image
  std::memcpy(block.data() + layout::EntryOffset(0, 1), "RV01", 4);
  const pack::Bytes a(32768, 0xA1), b(16384, 0xB2);
  pack::FillBlock(block.data(),
                  Request({"--constraint", "1=RV01,RV0D,Dorna,KTR", "--bank", "2=b", "--new-fw",
                           "2=AB12", "--constraint", "2=,0V05,,DVDRW KTR-207M X"}),
                  {a, b});
  const package::PackageView view(block.data());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.data() + 0x753), 20),
            std::string("HOW_MANY_BIN=2") + std::string(6, '\0'));
  const package::ConstraintEntry first = view.Constraint(0, 0), second = view.Constraint(1, 0);
  EXPECT_EQ(first.Vendor(), "Dorna   ");
  EXPECT_EQ(first.Product(), "KTR             ");
  EXPECT_EQ(second.Minimum(), "");
  EXPECT_EQ(second.Vendor(), "");
  EXPECT_EQ(second.Product(), "DVDRW KTR-207M X");
  EXPECT_EQ(std::memcmp(block.data() + layout::EntryOffset(0, 1), "#FLSH12\0#\0", 10), 0);
  EXPECT_EQ(view.Constraint(0, 1).Product(), "#");
  EXPECT_EQ(std::memcmp(view.Image(1).data, b.data(), b.size()), 0);
  EXPECT_EQ(block[layout::kBankAreaOffset + 100000], 0);
}

TEST(PackWrite, ShorterTextLeavesZeroBytesBehindIt) {
  std::vector<unsigned char> block = TemplateBlock();
  pack::FillBlock(block.data(), Request({"--any-drive", "1", "--version", "v9"}),
                  {pack::Bytes(16384, 1)});
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.data() + 0x015), 13),
            std::string("v9") + std::string(11, '\0'));
  EXPECT_EQ(std::memcmp(block.data() + layout::EntryOffset(0, 0), "#FLSH11", 8), 0);
}

TEST(PackLocate, FindsExactlyOneBlock) {
  const std::vector<unsigned char> block = TemplateBlock();
  std::vector<unsigned char> file(300, 'x');
  EXPECT_THROW(pack::LocateBlock(file), pack::Refusal);
  file.insert(file.end(), block.begin(), block.end());
  file.resize(file.size() + 50, 0);
  EXPECT_EQ(pack::LocateBlock(file), 300u);

  std::vector<unsigned char> cut(file.begin(), file.end() - 51);  // no room for the bank area
  EXPECT_THROW(pack::LocateBlock(cut), pack::Refusal);
  std::vector<unsigned char> wrongKey = file;
  wrongKey[300 + 0x7BF] = 'X';  // "BIN_SIZE1=" no longer there
  EXPECT_THROW(pack::LocateBlock(wrongKey), pack::Refusal);
  std::vector<unsigned char> twice = file;
  twice.insert(twice.end(), block.begin(), block.end());
  EXPECT_THROW(pack::LocateBlock(twice), pack::Refusal);
}

}  // namespace
}  // namespace movrel::test
