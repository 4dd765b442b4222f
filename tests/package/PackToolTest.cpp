// movrel-pack and movrel-probe as built: a package written by the tool is what a packaged
// executable reads at run time.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "movrel-pack/Locate.h"
#include "package/PackageBlock.h"
#include "package/PackageLayout.h"
#include "package/Seal.h"

namespace movrel::test {

namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;
using Json = nlohmann::json;

// The SHA-256 of the images a.bin, b.bin and d.bin below, as sha256sum gives them.
constexpr const char* kSha256A = "8fcdd5c1c2a446d224f32c2782fa976d323c12f6d6ca139e5556c3b43897191f";
constexpr const char* kSha256B = "bb0e36ac41e8a63202af81b63c1c98f0674fb5e1c5bd45a5ecea3b15fba4bb96";
constexpr const char* kSha256D = "6f8187d1c4f109341c4f382f3d9e589013ac5795ad63d52ad262413bbb0e9702";

// The seal's line in show and verify.
const std::string kSealed = "seal: sealed, matches the package\n";
const std::string kDamaged = "seal: sealed, does not match the package (damaged)\n";

struct Outcome {
  int status;
  std::string out, err;
};

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<unsigned char> ReadBytes(const fs::path& path) {
  std::string text = ReadText(path);
  return {text.begin(), text.end()};
}

// `text` as one word for the shell, appended to `command` after a space.
void AppendQuoted(std::string& command, const std::string& text) {
  command.append(" '");
  for (char c : text) c == '\'' ? command.append("'\\''") : command.append(1, c);
  command.append("'");
}

// A pack command line with the choices it must make but a test does not look at: the machine is
// not restarted, and the template's texts may stay.
Strings Chosen(Strings args) {
  args.insert(args.end(), {"--option", "REBOOT=0", "--allow-template-texts"});
  return args;
}

class PackTool : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = fs::temp_directory_path() /
          ("movrel-pack-" + std::string(test->name()) + "-" + std::to_string(getpid()));
    fs::create_directories(dir);
    WriteImage("a.bin", 32768, 0x5A);
    WriteImage("b.bin", 16384, 0xC3);
    WriteImage("c.bin", 16384, 0x11);
    WriteImage("d.bin", 1048576 - 65536, 0x77);  // the last bank ends with the bank area
  }
  void TearDown() override { fs::remove_all(dir); }

  std::string Path(const std::string& name) const { return (dir / name).string(); }

  // The names in the test's directory but the tool's captured error output.
  std::set<std::string> Listing() const {
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
      names.insert(entry.path().filename().string());
    }
    names.erase("stderr");
    return names;
  }

  void WriteImage(const std::string& name, std::size_t size, unsigned char seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(seed + i * 7);
    std::ofstream(Path(name), std::ios::binary) << bytes;
  }

  Outcome Execute(const std::string& program, const Strings& args) const {
    std::string command = "exec";
    AppendQuoted(command, program);
    for (const std::string& arg : args) AppendQuoted(command, arg);
    command.append(" 2>");
    AppendQuoted(command, Path("stderr"));
    Outcome run{-1, "", ""};
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
      run.out.append(buffer, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = ReadText(Path("stderr"));
    return run;
  }
  Outcome Pack(const Strings& args) const { return Execute(MOVREL_PACK_PATH, args); }

  // In the "show --json" document of `exe`, each JSON pointer of `fields` has its value; a null
  // value stands for a field that is left out.
  void ExpectJson(const std::string& exe,
                  const std::vector<std::pair<std::string, Json>>& fields) const {
    const Outcome shown = Pack({"show", "--json", exe});
    ASSERT_EQ(shown.status, 0) << shown.err;
    EXPECT_TRUE(std::all_of(shown.out.begin(), shown.out.end(), [](char c) {
      return static_cast<unsigned char>(c) < 0x80;
    })) << "not ASCII only";
    const Json document = Json::parse(shown.out);
    for (const auto& [pointer, value] : fields) {
      const Json::json_pointer at(pointer);
      EXPECT_EQ(document.contains(at) ? document[at] : Json(), value) << pointer;
    }
  }

  // A complete request: four banks filling the bank area, constraints, texts and options.
  Strings FullRequest(const std::string& from, const std::string& to) const {
    return {"pack",
            "--template",
            from,
            "--output",
            to,
            "--title",
            "Flash Program for KTR-207M",
            "--version",
            "v2.1.0",
            "--model",
            "Dornavex DVDRW KTR-207M",
            "--date",
            "2004/02/16",
            "--note",
            "N/A",
            "--contact",
            "555-0100",
            "--bank",
            "1=" + Path("a.bin"),
            "--new-fw",
            "1=RV0D",
            "--constraint",
            "1=RV01,RV0D,Dornavex,DVDRW KTR-207M",
            "--constraint",
            "1=0V05,0V05,Dornavex,DVDRW KTR-207M",
            "--bank",
            "2=" + Path("b.bin"),
            "--new-fw",
            "2=RW02",
            "--any-drive",
            "2",
            "--bank",
            "3=" + Path("c.bin"),
            "--new-fw",
            "3=RW03",
            "--constraint",
            "3=,,Dornavex,",
            "--bank",
            "4=" + Path("d.bin"),
            "--new-fw",
            "4=RW04",
            "--any-drive",
            "4",
            "--option",
            "CHKDISC=1",
            "--option",
            "ADMIN=1",
            "--option",
            "REBOOT=0"};
  }

  fs::path dir;
};

TEST_F(PackTool, PackagedProbeReadsWhatWasPacked) {
  const std::string out = Path("probe");
  ASSERT_EQ(Pack(FullRequest(MOVREL_PROBE_PATH, out)).status, 0);

  const Outcome shown = Pack({"show", out});
  const Outcome probed = Execute(out, {});
  ASSERT_EQ(shown.status, 0) << shown.err;
  ASSERT_EQ(probed.status, 0);
  EXPECT_EQ(probed.out, shown.out);
  for (const std::string& line :
       Strings{"title: \"Flash Program for KTR-207M\"\n",
               "version: \"v2.1.0\"\n",
               "model: \"Dornavex DVDRW KTR-207M\"\n",
               "contact: \"555-0100\"\n",
               "title set: yes\n",
               "firmware written: yes\n",
               kSealed,
               "option CHKDISC: 1\n",
               "option ADMIN: 1\n",
               "option REBOOT: 0\n",
               "option WARNING: 1\n",
               "option HOW_MANY_BIN: 4\n",
               "bank 1: start 0, size 32768, new revision \"RV0D\", image usable\n",
               "bank 1 sha256: " + std::string(kSha256A) + "\n",
               "bank 1 entry 2: minimum \"0V05\", maximum \"0V05\", vendor \"Dornavex\", product "
               "\"DVDRW KTR-207M  \"\n",
               "bank 1 entry 3: minimum \"#FLS\", maximum \"#\", vendor \"#\", product \"#\"\n",
               "bank 2: start 32768, size 16384, new revision \"RW02\", image usable\n",
               "bank 2 sha256: " + std::string(kSha256B) + "\n",
               "bank 2 entry 1: minimum \"#FLS\", maximum \"#\", vendor \"#\", product \"#\"\n",
               "bank 3: start 49152, size 16384, new revision \"RW03\", image usable\n",
               "bank 3 entry 1: minimum \"\", maximum \"\", vendor \"Dornavex\", product \"\"\n",
               "bank 4: start 65536, size 983040, new revision \"RW04\", image usable\n",
               "bank 4 sha256: " + std::string(kSha256D) + "\n"}) {
    EXPECT_NE(probed.out.find(line), std::string::npos) << line;
  }
  ExpectJson(out, {{"/texts",
                    {{"banner", "MOVREL PACKAGE BLOCK"},
                     {"version", "v2.1.0"},
                     {"contact", "555-0100"},
                     {"title", "Flash Program for KTR-207M"},
                     {"date", "2004/02/16"},
                     {"note", "N/A"},
                     {"model", "Dornavex DVDRW KTR-207M"}}},
                   {"/title_set", true},
                   {"/firmware_written", true},
                   {"/options",
                    {{"N2OMESSAGE", 0},
                     {"CHKDISC", 1},
                     {"BOOTCODE", 0},
                     {"REBOOT", 0},
                     {"AUTOMODE", 0},
                     {"CLOSEAP", 0},
                     {"WARNING", 1},
                     {"ADMIN", 1},
                     {"NBWARNING", 0},
                     {"HOW_MANY_BIN", 4}}},
                   {"/banks_in_use", 4},
                   {"/banks/0/number", 1},
                   {"/banks/0/start", 0},
                   {"/banks/0/size", 32768},
                   {"/banks/0/new_revision", "RV0D"},
                   {"/banks/0/usable", true},
                   {"/banks/0/reason", nullptr},
                   {"/banks/0/sha256", kSha256A},
                   {"/banks/0/any_drive", false},
                   {"/banks/0/constraints/1",
                    {{"entry", 2},
                     {"placeholder", false},
                     {"minimum", "0V05"},
                     {"maximum", "0V05"},
                     {"vendor", "Dornavex"},
                     {"product", "DVDRW KTR-207M  "}}},
                   {"/banks/0/constraints/2/placeholder", true},
                   {"/banks/1/start", 32768},
                   {"/banks/1/sha256", kSha256B},
                   {"/banks/1/any_drive", true},
                   {"/banks/2/constraints/0/vendor", "Dornavex"},
                   {"/banks/3/number", 4},
                   {"/banks/3/sha256", kSha256D},
                   {"/banks/3/constraints/7/entry", 8},
                   {"/seal", "matching"}});

  // The reader over the written file sees the images byte for byte.
  std::vector<unsigned char> file = ReadBytes(out);
  const std::size_t start = pack::LocateBlock(file);
  const package::PackageView view(file.data() + start);
  for (int b = 0; b < 4; ++b) {
    const std::vector<unsigned char> image = ReadBytes(Path(std::string(1, 'a' + b) + ".bin"));
    ASSERT_TRUE(view.Image(b).usable) << b;
    EXPECT_EQ(std::vector<unsigned char>(view.Image(b).data, view.Image(b).data + image.size()),
              image)
        << b;
  }

  // Hand-edited bank values that are not ten digits: the image is refused, and show says why.
  const std::pair<std::size_t, std::string> edits[] = {
      {package::layout::BankStartDigitsOffset(1), "-000032768"},
      {package::layout::BankSizeDigitsOffset(3), " 000983040"},
      {package::layout::kNoteOffset, "\xE9"}};
  for (const auto& [offset, digits] : edits) {
    std::copy(digits.begin(), digits.end(), file.begin() + start + offset);
  }
  std::ofstream(out, std::ios::binary)
      .write(reinterpret_cast<char*>(file.data()), static_cast<std::streamsize>(file.size()));
  const Outcome edited = Pack({"show", out});
  EXPECT_EQ(Execute(out, {}).out, edited.out);
  for (const char* line : {"bank 2: start 0, size 16384, new revision \"RW02\", image not usable "
                           "(start is not ten decimal digits)\n",
                           "bank 2 sha256: none (image not usable)\n",
                           "bank 4: start 65536, size 0, new revision \"RW04\", image not usable "
                           "(size is not ten decimal digits)\n",
                           kDamaged.c_str()}) {
    EXPECT_NE(edited.out.find(line), std::string::npos) << line;
  }
  ExpectJson(out, {{"/banks/1/usable", false},
                   {"/banks/1/reason", "start is not ten decimal digits"},
                   {"/banks/1/sha256", nullptr},
                   {"/texts/note", "\uFFFD/A"},
                   {"/seal", "damaged"}});
}

TEST_F(PackTool, VerifySaysWhichBankDiffersAndWhy) {
  const std::string out = Path("probe"), a = Path("a.bin"), b = Path("b.bin"), c = Path("c.bin");
  ASSERT_EQ(Pack(Chosen({"pack", "--template", MOVREL_PROBE_PATH, "--output", out, "--bank",
                         "1=" + a, "--new-fw", "1=RV0D", "--any-drive", "1", "--bank", "2=" + b,
                         "--new-fw", "2=RW02", "--any-drive", "2"}))
                .status,
            0);
  // a.bin with its last byte changed, and the package with bank 2's start not ten digits.
  std::vector<unsigned char> bytes = ReadBytes(a);
  bytes.back() ^= 1;
  std::ofstream(Path("last.bin"), std::ios::binary)
      .write(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  bytes = ReadBytes(out);
  const std::string digits = "-000032768";
  std::copy(digits.begin(), digits.end(),
            bytes.begin() + pack::LocateBlock(bytes) + package::layout::BankStartDigitsOffset(1));
  std::ofstream(Path("edited"), std::ios::binary)
      .write(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));

  const std::string last = Path("last.bin"), edited = Path("edited");
  const struct {
    std::string exe;
    Strings banks;
    int status;
    std::string out;
  } rows[] = {
      {out,
       {"2=" + b, "1=" + a},
       0,
       "bank 2: holds '" + b + "'\nbank 1: holds '" + a + "'\n" + kSealed},
      {out,
       {"2=" + a},
       1,
       "bank 2: does not hold '" + a + "': the image is 16384 bytes, the file 32768\n" + kSealed},
      {out,
       {"2=" + c, "1=" + a},
       1,
       "bank 2: does not hold '" + c + "': content differs at byte 0\nbank 1: holds '" + a + "'\n" +
           kSealed},
      {out,
       {"1=" + last},
       1,
       "bank 1: does not hold '" + last + "': content differs at byte 32767\n" + kSealed},
      {out,
       {"3=" + c},
       1,
       "bank 3: does not hold '" + c + "': not in use (HOW_MANY_BIN 2)\n" + kSealed},
      {edited,
       {"2=" + b},
       1,
       "bank 2: does not hold '" + b + "': image not usable (start is not ten decimal digits)\n" +
           kDamaged},
      // Every bank given holds its file, but the package changed after it was sealed.
      {edited, {"1=" + a}, 1, "bank 1: holds '" + a + "'\n" + kDamaged},
  };
  for (const auto& row : rows) {
    Strings args = {"verify", row.exe};
    for (const std::string& bank : row.banks) args.insert(args.end(), {"--bank", bank});
    const Outcome run = Pack(args);
    EXPECT_EQ(run.status, row.status) << row.out;
    EXPECT_EQ(run.out, row.out);
  }
  EXPECT_EQ(Pack({"verify", out, "--bank", "1=" + Path("missing.bin")}).status, 1);
}

// "banks" holds the four banks whatever HOW_MANY_BIN says; "banks_in_use" is HOW_MANY_BIN, at most
// 4: a 2-bank package, and the same with the digit edited to 9.
TEST_F(PackTool, JsonHasFourBanksAndCountsTheBanksInUpToFour) {
  const std::string two = Path("two"), nine = Path("nine");
  ASSERT_EQ(Pack(Chosen({"pack", "--template", MOVREL_PROBE_PATH, "--output", two, "--bank",
                         "1=" + Path("a.bin"), "--new-fw", "1=RV0D", "--any-drive", "1", "--bank",
                         "2=" + Path("b.bin"), "--new-fw", "2=RW02", "--any-drive", "2"}))
                .status,
            0);
  std::vector<unsigned char> bytes = ReadBytes(two);
  const auto& howManyBin = package::layout::SlotOf(package::layout::Option::HowManyBin);
  bytes[pack::LocateBlock(bytes) + howManyBin.offset + howManyBin.key.size() + 1] = '9';
  std::ofstream(nine, std::ios::binary)
      .write(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  // Bank 3 is not in use in the first: it updates no drive, though its entries are free.
  for (const auto& [exe, digit, inUse, third] :
       {std::tuple{two, 2, 2, false}, std::tuple{nine, 9, 4, true}}) {
    ExpectJson(exe, {{"/options/HOW_MANY_BIN", digit},
                     {"/banks_in_use", inUse},
                     {"/banks/1/in_use", true},
                     {"/banks/1/any_drive", true},
                     {"/banks/1/sha256", kSha256B},
                     {"/banks/2/number", 3},
                     {"/banks/2/in_use", third},
                     {"/banks/2/usable", false},
                     {"/banks/2/any_drive", third},
                     {"/banks/3/number", 4},
                     {"/banks/4", nullptr}});
  }
}

TEST_F(PackTool, OnlyTheBlockAndTheSealChangeAndTheModeIsKept) {
  const std::string out = Path("probe");
  ASSERT_EQ(Pack(FullRequest(MOVREL_PROBE_PATH, out)).status, 0);
  const std::vector<unsigned char> before = ReadBytes(MOVREL_PROBE_PATH), after = ReadBytes(out);
  ASSERT_EQ(before.size(), after.size());
  const std::size_t start = pack::LocateBlock(before);
  const std::optional<std::size_t> seal = pack::LocateSeal(before, start);
  ASSERT_TRUE(seal);
  EXPECT_EQ(pack::LocateBlock(after), start);
  EXPECT_EQ(pack::LocateSeal(after, start), seal);
  std::vector<bool> changes(before.size(), false);
  std::fill_n(changes.begin() + start, package::layout::kBlockSize, true);
  std::fill_n(changes.begin() + *seal, package::layout::kSealSize, true);
  for (std::size_t i = 0; i < before.size(); ++i) {
    if (!changes[i]) {
      ASSERT_EQ(before[i], after[i]) << "byte " << i;
    }
  }
  EXPECT_EQ(fs::status(out).permissions(), fs::status(MOVREL_PROBE_PATH).permissions());

  // A template's set-user and set-group ID bits are not carried to what is packed from it.
  const std::string marked = Path("set-id-template");
  fs::copy_file(MOVREL_PROBE_PATH, marked);
  fs::permissions(marked, fs::perms::owner_all | fs::perms::group_read | fs::perms::set_uid |
                              fs::perms::set_gid);
  ASSERT_EQ(Pack(FullRequest(marked, out)).status, 0);
  EXPECT_EQ(fs::status(out).permissions(), fs::perms::owner_all | fs::perms::group_read);
}

// The template is not sealed; a package written from one without a seal block stays unsealed (the
// tool says so); one with two seal blocks is refused. A damaged seal fails verify.
TEST_F(PackTool, SealsWhatItWritesWhereTheTemplateHasASeal) {
  ExpectJson(MOVREL_PROBE_PATH, {{"/seal", "none"}});
  std::vector<unsigned char> file = ReadBytes(MOVREL_PROBE_PATH);
  const std::size_t seal = *pack::LocateSeal(file, pack::LocateBlock(file));
  const auto write = [this](const std::string& name, const std::vector<unsigned char>& bytes) {
    std::ofstream(Path(name), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    fs::permissions(Path(name), fs::perms::owner_all);
  };
  std::vector<unsigned char> twice = file;
  twice.insert(twice.end(), file.begin() + seal, file.begin() + seal + package::layout::kSealSize);
  write("two-seals", twice);
  // A byte after the template's "NOT SEALED" that is not zero: the seal is no longer the
  // template's, and not a digest either.
  std::vector<unsigned char> stray = file;
  stray[seal + package::layout::kSealSize - 1] = '0';
  write("stray", stray);
  ExpectJson(Path("stray"), {{"/seal", "damaged"}});
  file[seal + package::layout::kSealMarker.size()] =
      'S';  // no zero bytes after the marker: no seal
  write("no-seal", file);
  // A text of the block that reads as the seal's marker is not taken for a seal.
  const Strings request = {"--bank",  "1=" + Path("a.bin"), "--new-fw",
                           "1=RV0D",  "--any-drive",        "1",
                           "--title", "MOVREL PACKAGE SEAL"};
  const auto pack = [&](const std::string& from, const std::string& to) {
    Strings args = {"pack", "--template", from, "--output", Path(to)};
    args.insert(args.end(), request.begin(), request.end());
    return Pack(Chosen(args));
  };

  const Outcome unsealed = pack(Path("no-seal"), "unsealed");
  EXPECT_EQ(unsealed.status, 0);
  EXPECT_EQ(unsealed.err, "movrel-pack: the template has no seal; the output is not sealed\n");
  EXPECT_NE(Execute(Path("unsealed"), {}).out.find("seal: not sealed\n"), std::string::npos);
  ExpectJson(Path("unsealed"), {{"/seal", "none"}});
  const Outcome refused = pack(Path("two-seals"), "refused");
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, "movrel-pack: more than one seal found\n");
  EXPECT_FALSE(fs::exists(Path("refused")));

  // One digit of the recorded digest changed.
  ASSERT_EQ(pack(MOVREL_PROBE_PATH, "sealed").status, 0);
  std::vector<unsigned char> damaged = ReadBytes(Path("sealed"));
  damaged[*pack::LocateSeal(damaged, pack::LocateBlock(damaged)) +
          package::layout::kSealDigestOffset] ^= 1;
  write("damaged", damaged);
  EXPECT_NE(Execute(Path("damaged"), {}).out.find(kDamaged), std::string::npos);
  ExpectJson(Path("damaged"), {{"/seal", "damaged"}});
  const Outcome verified = Pack({"verify", Path("damaged"), "--bank", "1=" + Path("a.bin")});
  EXPECT_EQ(verified.status, 1);
  EXPECT_EQ(verified.out, "bank 1: holds '" + Path("a.bin") + "'\n" + kDamaged);
}

TEST_F(PackTool, RepacksAPackagedExecutable) {
  ASSERT_EQ(Pack(FullRequest(MOVREL_PROBE_PATH, Path("first"))).status, 0);
  const Outcome run =
      Pack(Chosen({"pack", "--template", Path("first"), "--output", Path("second"), "--bank",
                   "1=" + Path("b.bin"), "--new-fw", "1=RV0E", "--constraint", "1=,,,KTR"}));
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string probed = Execute(Path("second"), {}).out;
  EXPECT_NE(probed.find("title: \"Flash Program for KTR-207M\"\n"), std::string::npos);
  EXPECT_NE(probed.find("option ADMIN: 1\n"), std::string::npos);
  EXPECT_NE(probed.find("option HOW_MANY_BIN: 1\n"), std::string::npos);
  EXPECT_NE(probed.find(kSealed), std::string::npos);  // sealed anew
  EXPECT_NE(probed.find("bank 1 entry 1: minimum \"\", maximum \"\", vendor \"\", product "
                        "\"KTR             \"\n"),
            std::string::npos);
  EXPECT_NE(probed.find("bank 1 entry 2: minimum \"#FLS\""), std::string::npos);
  // A bank the flasher never offers is one line.
  EXPECT_NE(probed.find("bank 1 entry 8:"), std::string::npos);
  EXPECT_NE(probed.find("bank 2: not in use (HOW_MANY_BIN 1)\nbank 3: not in use"),
            std::string::npos);
  EXPECT_EQ(probed.find("bank 2 "), std::string::npos);
}

// Every command opens each file once and reads it only when it is a regular file that fits: a
// FIFO is refused at once (a blocking open would wait for a writer: timeout ends the run with
// 124), an oversized file is refused by its size, before it is read, and one that ends before
// its size is refused once its reads come to the end.
TEST_F(PackTool, ReadsOnlyRegularFilesThatFit) {
  ASSERT_EQ(Pack(FullRequest(MOVREL_PROBE_PATH, Path("packaged"))).status, 0);
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  fs::create_directory(Path("folder"));
  fs::create_symlink(Path("packaged"), Path("link"));
  fs::create_symlink(Path("fifo"), Path("link-to-fifo"));
  const std::uintmax_t limit = std::uintmax_t{64} << 20;
  for (const auto& [name, size] : {std::pair{"limit", limit}, std::pair{"over", limit + 1},
                                   std::pair{"huge", std::uintmax_t{1} << 40}}) {
    std::ofstream(Path(name)).close();
    fs::resize_file(Path(name), size);  // sparse: takes no room
  }
  const std::string a = "1=" + Path("a.bin");
  const struct {
    Strings args;
    int status;
    std::string text;
  } rows[] = {
      {{"show", Path("link")}, 0, "firmware written: yes\n"},
      {{"show", Path("fifo")}, 1, "'" + Path("fifo") + "' is a FIFO, not a regular file"},
      {{"show", Path("link-to-fifo")}, 1, "is a FIFO, not a regular file"},
      {{"show", "--json", Path("fifo")}, 1, "is a FIFO, not a regular file"},
      {{"show", Path("folder")}, 1, "is a directory, not a regular file"},
      {{"show", "/dev/null"}, 1, "'/dev/null' is a device, not a regular file"},
      // sysfs gives every attribute a size of 4096 bytes and holds a few: the read ends early.
      {{"show", "/sys/kernel/uevent_seqnum"}, 1, "cannot read '/sys/kernel/uevent_seqnum'"},
      {{"show", Path("missing")}, 1, "cannot open '" + Path("missing") + "'"},
      {{"show", Path("limit")}, 1, "no package block found"},
      {{"show", Path("over")}, 1, "of 67108865 bytes does not fit in 67108864 bytes"},
      {{"show", Path("huge")}, 1, "of 1099511627776 bytes does not fit"},
      {{"verify", Path("fifo"), "--bank", a}, 1, "is a FIFO"},
      {{"verify", Path("huge"), "--bank", a}, 1, "does not fit"},
      {{"verify", Path("packaged"), "--bank", "1=" + Path("fifo")}, 1, "is a FIFO"},
      {Chosen({"pack", "--template", Path("fifo"), "--output", Path("out"), "--bank", a, "--new-fw",
               "1=RV0D", "--any-drive", "1"}),
       1, "is a FIFO"},
      {Chosen({"pack", "--template", Path("huge"), "--output", Path("out"), "--bank", a, "--new-fw",
               "1=RV0D", "--any-drive", "1"}),
       1, "does not fit"},
      {Chosen({"pack", "--template", MOVREL_PROBE_PATH, "--output", Path("out"), "--bank",
               "1=" + Path("fifo"), "--new-fw", "1=RV0D", "--any-drive", "1"}),
       1, "is a FIFO"},
      {Chosen({"pack", "--template", MOVREL_PACK_PATH, "--output", Path("out"), "--bank", a,
               "--new-fw", "1=RV0D", "--any-drive", "1"}),
       1, "'" MOVREL_PACK_PATH "' is not a Movrel flasher template: no package block found"},
      {Chosen({"pack", "--template", MOVREL_PROBE_PATH, "--output", Path("no/out"), "--bank", a,
               "--new-fw", "1=RV0D", "--any-drive", "1"}),
       1, "cannot write '" + Path("no/out") + "': No such file or directory"},
      {{"repack", Path("fifo"), "--template", MOVREL_PROBE_PATH, "--output", Path("out")},
       1,
       "is a FIFO"},
      {{"repack", Path("packaged"), "--template", Path("huge"), "--output", Path("out")},
       1,
       "does not fit"},
  };
  for (const auto& row : rows) {
    Strings args = {"10", MOVREL_PACK_PATH};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const Outcome run = Execute("timeout", args);
    EXPECT_EQ(run.status, row.status) << row.text << run.err;
    EXPECT_THAT(run.status == 0 ? run.out : run.err, ::testing::HasSubstr(row.text));
  }
  EXPECT_FALSE(fs::exists(Path("out")));
}

// repack moves the block and its seal as they are into a copy of the template that --template
// names, or that the file's flasher mark names in --template-dir; nothing else of the file is
// kept.
TEST_F(PackTool, RepackMovesTheBlockIntoTheTemplateItsMarkNames) {
  ASSERT_EQ(Pack(FullRequest(MOVREL_PROBE_PATH, Path("packaged"))).status, 0);
  const std::vector<unsigned char> packaged = ReadBytes(Path("packaged"));
  const std::vector<unsigned char> probe = ReadBytes(MOVREL_PROBE_PATH);
  auto write = [&](const std::string& name, const std::vector<unsigned char>& bytes,
                   const std::string& tail) {
    std::ofstream out(Path(name), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.write(tail.data(), static_cast<std::streamsize>(tail.size()));
  };
  // A packaged window flasher (its mark twice, as a debug build has it), one that carries both
  // marks, and installed flashers: movrel a probe, movrel-console a file without a block.
  const std::string window{"MOVREL FLASHER=movrel\0", 22};
  const std::string console{"MOVREL FLASHER=movrel-console\0", 30};
  write("window", packaged, window + window);
  write("both", packaged, window + console);
  // A packaged window flasher whose seal marker was changed, so that its seal is not found.
  std::vector<unsigned char> unmarked = packaged;
  unmarked[*pack::LocateSeal(packaged, pack::LocateBlock(packaged))] ^= 1;
  write("unmarked", unmarked, window);
  fs::create_directory(Path("installed"));
  fs::copy_file(MOVREL_PROBE_PATH, Path("installed/movrel"));
  fs::copy_file(Path("a.bin"), Path("installed/movrel-console"));

  ExpectJson(Path("window"), {{"/flasher", "movrel"}});
  ExpectJson(Path("packaged"), {{"/flasher", nullptr}});
  const Outcome shown = Pack({"show", Path("packaged")});
  for (const Strings& from :
       {Strings{"--template", MOVREL_PROBE_PATH}, Strings{"--template-dir", Path("installed")}}) {
    std::filesystem::remove(Path("out"));
    Strings args = {"repack", Path("window"), "--output", Path("out")};
    args.insert(args.end(), from.begin(), from.end());
    const Outcome run = Pack(args);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<unsigned char> out = ReadBytes(Path("out"));
    ASSERT_EQ(out.size(), probe.size());
    // The template's bytes but for the block and the seal, which are the package's.
    const std::size_t start = pack::LocateBlock(probe), end = start + package::layout::kBlockSize;
    const std::size_t seal = *pack::LocateSeal(probe, start),
                      sealEnd = seal + package::layout::kSealSize;
    const std::size_t packagedSeal = *pack::LocateSeal(packaged, pack::LocateBlock(packaged));
    ASSERT_TRUE(seal > end || sealEnd < start);
    const std::size_t first = std::min(start, seal), second = std::max(start, seal);
    const std::size_t firstEnd = first == start ? end : sealEnd;
    const std::size_t secondEnd = second == start ? end : sealEnd;
    EXPECT_TRUE(std::equal(probe.begin(), probe.begin() + first, out.begin()));
    EXPECT_TRUE(
        std::equal(probe.begin() + firstEnd, probe.begin() + second, out.begin() + firstEnd));
    EXPECT_TRUE(std::equal(probe.begin() + secondEnd, probe.end(), out.begin() + secondEnd));
    EXPECT_TRUE(std::equal(packaged.begin() + packagedSeal,
                           packaged.begin() + packagedSeal + package::layout::kSealSize,
                           out.begin() + seal));
    EXPECT_EQ(Execute(Path("out"), {}).out, shown.out);
    EXPECT_EQ(fs::status(Path("out")).permissions(), fs::status(MOVREL_PROBE_PATH).permissions());
  }

  const std::string dir = Path("installed"), out = Path("refused");
  const struct {
    Strings args;
    std::string text;
  } refusals[] = {
      {{Path("packaged"), "--template-dir", dir}, "no mark of a Linux flasher found"},
      {{Path("both"), "--template-dir", dir}, "the marks of more than one flasher"},
      {{Path("unmarked"), "--template-dir", dir}, "has no seal that can be found"},
      {{MOVREL_PACK_PATH, "--template", MOVREL_PROBE_PATH}, "no package block found"},
      {{Path("packaged"), "--template", MOVREL_PACK_PATH}, "no package block found"},
      {{Path("window"), "--template", Path("installed/missing")}, "cannot open"},
  };
  const std::set<std::string> before = Listing();
  for (const auto& row : refusals) {
    Strings args = {"repack", row.args[0], "--output", out, row.args[1], row.args[2]};
    const Outcome run = Pack(args);
    EXPECT_EQ(run.status, 1) << row.text;
    EXPECT_THAT(run.err, ::testing::HasSubstr(row.text));
  }
  // An output that is the file or the template, by any name.
  fs::create_symlink(Path("window"), Path("to-window"));
  for (const std::string& to : {Path("window"), Path("to-window"), Path("installed/movrel")}) {
    const Outcome run = Pack({"repack", Path("window"), "--output", to, "--template-dir", dir});
    EXPECT_EQ(run.status, 1) << to;
    EXPECT_THAT(run.err, ::testing::HasSubstr("the output would overwrite")) << to;
  }
  fs::remove(Path("to-window"));
  EXPECT_EQ(Listing(), before);
  EXPECT_EQ(ReadBytes(Path("installed/movrel")), probe);
}

TEST_F(PackTool, WritesNoFileButItsOutput) {
  // Beside each output, a file named as its temporary file could be: a template, an image and a
  // link to another file. None of them is written through.
  fs::copy_file(MOVREL_PROBE_PATH, Path("t.partial"));
  fs::copy_file(Path("a.bin"), Path("i.partial"));
  WriteImage("victim", 100, 9);
  fs::create_symlink(Path("victim"), Path("s.partial"));
  const std::string a = "1=" + Path("a.bin");
  const Strings runs[] = {{Path("t"), Path("t.partial"), a},
                          {Path("i"), MOVREL_PROBE_PATH, "1=" + Path("i.partial")},
                          {Path("s"), MOVREL_PROBE_PATH, a}};
  for (const Strings& run : runs) {
    const Outcome packed = Pack(Chosen({"pack", "--output", run[0], "--template", run[1], "--bank",
                                        run[2], "--new-fw", "1=RV0D", "--any-drive", "1"}));
    EXPECT_EQ(packed.status, 0) << run[0] << packed.err;
  }
  EXPECT_EQ(ReadBytes(Path("t.partial")), ReadBytes(MOVREL_PROBE_PATH));
  EXPECT_EQ(ReadBytes(Path("i.partial")), ReadBytes(Path("a.bin")));
  EXPECT_EQ(ReadBytes(Path("victim")).size(), 100u);
  EXPECT_EQ(Listing(), (std::set<std::string>{"a.bin", "b.bin", "c.bin", "d.bin", "t.partial",
                                              "i.partial", "victim", "s.partial", "t", "i", "s"}));
}

TEST_F(PackTool, RefusesWithoutWritingAFile) {
  WriteImage("odd.bin", 16383, 1);
  WriteImage("empty.bin", 0, 1);
  WriteImage("full.bin", 1048576, 2);
  std::ofstream(Path("huge.bin")).close();
  fs::resize_file(Path("huge.bin"), std::uintmax_t{3} << 30);  // sparse: takes no room
  std::ofstream(Path("marker.bin"), std::ios::binary)
      << "BANK_START_FROM_HERE" << std::string(16384 - 20, '\0');
  std::vector<unsigned char> twice = ReadBytes(MOVREL_PROBE_PATH);
  const std::size_t start = pack::LocateBlock(twice);
  twice.insert(twice.end(), twice.begin() + start,
               twice.begin() + start + package::layout::kBlockSize);
  std::ofstream(Path("twice"), std::ios::binary)
      .write(reinterpret_cast<char*>(twice.data()), static_cast<std::streamsize>(twice.size()));
  const std::string a = "1=" + Path("a.bin");
  const std::vector<Strings> refusals = {
      {"--bank", "1=" + Path("odd.bin"), "--new-fw", "1=RV0D", "--any-drive", "1"},
      {"--bank", "1=" + Path("empty.bin"), "--new-fw", "1=RV0D", "--any-drive", "1"},
      {"--bank", "1=" + Path("full.bin"), "--new-fw", "1=RV0D", "--any-drive", "1", "--bank",
       "2=" + Path("b.bin"), "--new-fw", "2=RV0D", "--any-drive", "2"},
      {"--bank", "1=" + Path("marker.bin"), "--new-fw", "1=RV0D", "--any-drive", "1"},
      {"--bank", "1=" + Path("missing.bin"), "--new-fw", "1=RV0D", "--any-drive", "1"},
      {"--bank", a, "--new-fw", "1=RV0D", "--any-drive", "1", "--bank", "3=" + Path("b.bin"),
       "--new-fw", "3=RV0D", "--any-drive", "3"},
      {"--bank", a, "--new-fw", "1=RV0D", "--any-drive", "1", "--new-fw", "2=RV0D"},
      {"--bank", a, "--new-fw", "1=RV0"},
      {"--bank", a, "--new-fw", "1=RV0DX", "--any-drive", "1"},
      {"--bank", a, "--new-fw", "1=RV0D"},
      {"--bank", a, "--new-fw", "1=RV0D", "--any-drive", "1", "--constraint", "1=RV01,,,"},
      {"--bank", a, "--new-fw", "1=RV0D", "--constraint", "1=,,,"},
      {"--bank", a, "--new-fw", "1=RV0D", "--constraint", "1=#FLS,#,#,#"},
      {"--bank", a, "--new-fw", "1=RV0D", "--constraint", "1=RV1,,,"},
      {"--bank", a, "--new-fw", "1=RV0D", "--constraint", "1=,RV0DD,,"},
      {"--bank", a, "--new-fw", "1=RV0D", "--constraint", "1=,,Dornavex1,"},
      {"--bank", a, "--new-fw", "1=RV0D", "--constraint", "1=,,," + std::string(17, 'P')},
      {"--bank", a, "--new-fw", "1=RV0D", "--any-drive", "1", "--title", std::string(64, 'T')},
      {"--bank", a, "--new-fw", "1=RV0D", "--any-drive", "1", "--version", "v2.0.3-beta-1"},
      {"--bank", a, "--new-fw", "1=RV0D", "--any-drive", "1", "--model", std::string(65, 'M')},
      {"--bank", a, "--new-fw", "1=RV0D", "--any-drive", "1", "--date", "2004/02/16 Z"},
      {"--bank", a, "--new-fw", "1=RV0D", "--any-drive", "1", "--note", std::string(32, 'N')},
      {"--bank", a, "--new-fw", "1=RV0D", "--any-drive", "1", "--contact", std::string(15, '5')},
  };
  const std::string out = Path("out");
  auto expectRefused = [&](const Strings& args, const std::string& what) {
    const std::set<std::string> before = Listing();
    const Outcome run = Pack(Chosen(args));
    EXPECT_EQ(run.status, 1) << what;
    EXPECT_NE(run.err.find("movrel-pack: "), std::string::npos) << what;
    EXPECT_EQ(Listing(), before) << what;  // no output, no temporary file left behind
    return run.err;
  };
  for (const Strings& refusal : refusals) {
    Strings args = {"pack", "--template", MOVREL_PROBE_PATH, "--output", out};
    args.insert(args.end(), refusal.begin(), refusal.end());
    expectRefused(args, refusal[1] + " " + refusal.back());
  }
  // Templates without a block, with two blocks, or unreadable.
  for (const std::string& from : {std::string(MOVREL_PACK_PATH), Path("twice"), Path("none")}) {
    expectRefused({"pack", "--template", from, "--output", out, "--bank", a, "--new-fw", "1=RV0D",
                   "--any-drive", "1"},
                  from);
  }
  // The image's size is checked before it is read.
  EXPECT_NE(expectRefused({"pack", "--template", MOVREL_PROBE_PATH, "--output", out, "--bank",
                           "1=" + Path("huge.bin"), "--new-fw", "1=RV0D", "--any-drive", "1"},
                          "huge")
                .find("3221225472 bytes does not fit"),
            std::string::npos);
  // An output that is the template or a bank file, by any name; or one that cannot be replaced.
  fs::copy_file(MOVREL_PROBE_PATH, Path("self"));
  fs::create_symlink(Path("a.bin"), Path("to-a"));
  fs::create_hard_link(Path("b.bin"), Path("also-b"));
  fs::create_directory(Path("folder"));
  const std::vector<unsigned char> a0 = ReadBytes(Path("a.bin")), b0 = ReadBytes(Path("b.bin"));
  for (const std::string& to : {Path("self"), (dir / "." / "self").string(), Path("a.bin"),
                                Path("to-a"), Path("also-b"), Path("folder")}) {
    expectRefused({"pack", "--template", Path("self"), "--output", to, "--bank", a, "--new-fw",
                   "1=RV0D", "--any-drive", "1", "--bank", "2=" + Path("b.bin"), "--new-fw",
                   "2=RV0D", "--any-drive", "2"},
                  to);
  }
  EXPECT_EQ(ReadBytes(Path("self")), ReadBytes(MOVREL_PROBE_PATH));
  EXPECT_EQ(ReadBytes(Path("a.bin")), a0);
  EXPECT_EQ(ReadBytes(Path("b.bin")), b0);
  EXPECT_EQ(Pack({"show", MOVREL_PACK_PATH}).status, 1);
  EXPECT_EQ(Pack({"show", Path("twice")}).status, 1);
}

// pack leaves no choice that matters to the template: REBOOT, each bank's revision and the texts
// that name the drive and its maker must be given, and a constraint must be able to match.
TEST_F(PackTool, RefusesAPackageThatLeavesAChoiceToTheTemplate) {
  const std::string b = "2=" + Path("b.bin");
  const Strings any = {"--new-fw", "1=RV0D", "--any-drive", "1"};
  const Strings texts = {"--model",   "KTR-207M", "--title", "Flash KTR-207M",
                         "--contact", "Dornavex", "--date",  "2004/02/16"};
  const Strings reboot = {"--option", "REBOOT=1"}, allow = {"--allow-template-texts"};
  const struct {
    std::vector<Strings> args;
    int status;
    std::string text;
  } rows[] = {
      {{any, texts}, 2, "give --option REBOOT=0 (it keeps running) or --option REBOOT=1"},
      {{any, allow}, 2, "give --option REBOOT=0"},  // allows the texts only
      {{any, texts, reboot}, 0, ""},
      {{any, texts, {"--option=REBOOT=0"}}, 0, ""},
      {{{"--any-drive", "1"}, texts, reboot},
       2,
       "bank 1 has no revision to install; give --new-fw 1"},
      {{any, {"--bank", b, "--any-drive", "2"}, texts, reboot},
       2,
       "bank 2 has no revision to install; give --new-fw 2=REV"},
      {{any, reboot},
       2,
       "placeholder texts: --model (MODEL_HERE), --title (APP_TITLE_HERE), --contact "
       "(CONTACT_HERE), --date (YYYY/MM/DD); give them, or --allow-template-texts"},
      {{any, reboot, allow}, 0, ""},
      {{any, reboot, {"--model", "MODEL_HERE", "--title", "APP_TITLE_HERE 2", "--contact", "c"}},
       2,
       "placeholder texts: --model (MODEL_HERE), --title (APP_TITLE_HERE), --date"},
      {{{"--new-fw", "1=RV0D", "--constraint", "1=RV01,RV0D,,", "--constraint", "1=RV0D,RV01,,"},
        texts,
        reboot},
       2,
       "bank 1 constraint 2: minimum 'RV0D' is above maximum 'RV01', so it matches no drive"},
      // Revisions are ordered as the flasher orders them, by the locale's collation: in "C",
      // byte order, where 'a' comes after 'B' (no case folding, no numbers).
      {{{"--new-fw", "1=RV0D", "--constraint", "1=RV0a,RV0B,,"}, texts, reboot},
       2,
       "minimum 'RV0a' is above maximum 'RV0B'"},
      {{{"--new-fw", "1=RV0D", "--constraint", "1=RV0B,RV0a,,"}, texts, reboot}, 0, ""},
      {{{"--new-fw", "1=RV0D", "--constraint", "1=RV0D,,,"}, texts, reboot}, 0, ""},
  };
  for (const auto& row : rows) {
    Strings args = {"LC_ALL=C",        MOVREL_PACK_PATH, "pack",      "--template",
                    MOVREL_PROBE_PATH, "--output",       Path("out"), "--bank=1=" + Path("a.bin")};
    for (const Strings& part : row.args) args.insert(args.end(), part.begin(), part.end());
    const Outcome run = Execute("env", args);
    EXPECT_EQ(run.status, row.status) << row.text << run.err;
    EXPECT_THAT(run.err, ::testing::HasSubstr(row.text));
    EXPECT_EQ(fs::exists(Path("out")), row.status == 0) << row.text;
    fs::remove(Path("out"));
  }
}

TEST_F(PackTool, FlashProgramGeneratorWritesOnlyTheFileItIsGiven) {
  if (std::string(MOVREL_PYTHON_PATH).empty()) GTEST_SKIP() << "no Python interpreter";
  fs::copy_file(MOVREL_DATA_DIR "/make_flash_programs.py", Path("generate.py"));
  const std::set<std::string> before = Listing();
  const Outcome help = Execute(MOVREL_PYTHON_PATH, {Path("generate.py"), "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage:"), std::string::npos);
  EXPECT_EQ(Execute(MOVREL_PYTHON_PATH, {Path("generate.py")}).status, 2);
  EXPECT_EQ(Listing(), before);
  ASSERT_EQ(Execute(MOVREL_PYTHON_PATH, {Path("generate.py"), Path("programs.bin")}).status, 0);
  EXPECT_EQ(ReadBytes(Path("programs.bin")), ReadBytes(MOVREL_DATA_DIR "/flash_programs.bin"));
}

#ifdef MOVREL_CONSOLE_SIM_PATH
// rehearse: the simulated flasher beside movrel-pack says which drives of the bay built from the
// package's constraint rows it offers; a constraint changed in the package changes the table, and
// --expect-offered decides the exit status.
TEST_F(PackTool, RehearseTablesWhatTheFlasherOffers) {
  const std::string product = "DVDRW KTR-207M";
  const auto package = [&](const std::string& out, const Strings& banks) {
    Strings args = {"pack",        "--template", MOVREL_CONSOLE_SIM_PATH, "--output",
                    Path(out),     "--bank",     "1=" + Path("a.bin"),    "--option",
                    "N2OMESSAGE=1"};
    args.insert(args.end(), banks.begin(), banks.end());
    const Outcome packed = Pack(Chosen(args));
    ASSERT_EQ(packed.status, 0) << packed.err;
  };
  // Revisions are ordered in the C locale here: "RV00" is just below "RV01".
  const auto rehearse = [&](Strings args) {
    args.insert(args.begin(), {"LC_ALL=C", MOVREL_PACK_PATH, "rehearse"});
    return Execute("env", args);
  };
  // Images the simulated drives install: an identity record names the revision they report after.
  const auto image = [&](const std::string& name, std::string record) {
    record.resize(16384, '\0');
    std::ofstream(Path(name), std::ios::binary) << record;
  };
  image("a.bin", "MOVREL-SIM-IMAGEDornavexDVDRW KTR-207M  RV0D");
  image("b.bin", "MOVREL-SIM-IMAGEKestrel Product         KS20");
  const Strings first = {"--new-fw",     "1=RV0D",
                         "--constraint", "1=RV01,RV0D,Dornavex," + product,
                         "--constraint", "1=0V05,0V05,Dornavex," + product};
  package("one-bank", first);
  Strings changed = first;
  changed[3] = "1=RV01,RV0C,Dornavex," + product;
  package("changed", changed);
  package("two-banks",
          {"--new-fw", "1=RV0D", "--constraint", "1=RV01,RV0C,Dornavex," + product, "--bank",
           "2=" + Path("b.bin"), "--new-fw", "2=KS20", "--constraint", "2=,KS19,Kestrel,"});
  const std::string head =
      "VENDOR    PRODUCT         REV   FOR                OFFERED  BANK  UP TO DATE  FLASHER "
      "SAYS\n";
  const std::string notAllowed = "This drive is not allowed to be updated.\n";
  const std::string table =
      "Dornavex  DVDRW KTR-207M  RV01  1.1 minimum        yes      1     no          It will be "
      "updated from RV01 to RV0D\n"
      "Dornavex  DVDRW KTR-207M  RV00  1.1 below minimum  no       -     -           " +
      notAllowed +
      "Dornavex  DVDRW KTR-207M  RV0D  1.1 maximum        yes      1     yes         It will be "
      "updated from RV0D to RV0D\n"
      "Dornavex  DVDRW KTR-207M  RV0E  1.1 above maximum  no       -     -           " +
      notAllowed +
      "Kestrel   DVDRW KTR-207M  RV01  1.1 other vendor   no       -     -           " +
      notAllowed +
      "Dornavex  DVDRW KTR-207N  RV01  1.1 other product  no       -     -           " +
      notAllowed +
      "Dornavex  DVDRW KTR-207M  0V05  1.2 minimum        yes      1     no          It will be "
      "updated from 0V05 to RV0D\n"
      "Dornavex  DVDRW KTR-207M  0V04  1.2 below minimum  no       -     -           " +
      notAllowed +
      "Dornavex  DVDRW KTR-207M  0V06  1.2 above maximum  no       -     -           " +
      notAllowed +
      "Kestrel   DVDRW KTR-207M  0V05  1.2 other vendor   no       -     -           " +
      notAllowed +
      "Dornavex  DVDRW KTR-207N  0V05  1.2 other product  no       -     -           " + notAllowed;
  const Outcome one = rehearse({Path("one-bank")});
  EXPECT_EQ(one.status, 0) << one.err;
  EXPECT_EQ(one.out, head + table);

  // The maximum lowered to RV0C: RV0D is refused, RV0C offered and not up to date.
  const Outcome mutated = rehearse({Path("changed")});
  EXPECT_NE(mutated.out, one.out);
  EXPECT_THAT(mutated.out, ::testing::HasSubstr("RV0C  1.1 maximum        yes      1     no  "));
  EXPECT_THAT(mutated.out, ::testing::HasSubstr("RV0D  1.1 above maximum  no       -     -  "));

  // Every drive offered that --expect-offered names, and no other: 0; RV0D is not offered: 1.
  Strings expected = {Path("changed")};
  for (const char* revision : {"RV01", "0V05", "RV0C"}) {
    expected.insert(expected.end(), {"--expect-offered", "Dornavex," + product + "," + revision});
  }
  EXPECT_EQ(rehearse(expected).status, 0);
  expected.insert(expected.end(), {"--expect-offered", "Dornavex," + product + ",RV0D"});
  const Outcome unmet = rehearse(expected);
  EXPECT_EQ(unmet.status, 1);
  EXPECT_EQ(unmet.err,
            "movrel-pack: Dornavex DVDRW KTR-207M RV0D is not offered, expected to be\n");

  // Two banks, updated: each drive by vendor, product and revision, then offered, bank, program
  // and result; a drive given by hand with another flash part takes its own drive-side program.
  const Outcome two = rehearse(
      {Path("two-banks"), "--update", "--json", "--drive", "Kestrel,CD-RW KS-5216,KS10,C2370005"});
  ASSERT_EQ(two.status, 0) << two.err;
  std::vector<Strings> rows;
  const Json document = Json::parse(two.out);
  for (const Json& drive : document["drives"]) {
    const Json& update = drive["update"];
    rows.push_back({drive["vendor"], drive["product"], drive["revision"], drive["for"],
                    drive["offered"] ? "yes" : "no", drive["bank"].is_null() ? "-" : drive["bank"],
                    update.is_null() ? "-" : update["program"],
                    update.is_null() ? "-" : update["result"]});
  }
  const std::vector<Strings> updated = {
      {"Dornavex", product, "RV01", "1.1 minimum", "yes", "1", "row 19", "updated, now RV0D"},
      {"Dornavex", product, "RV00", "1.1 below minimum", "no", "-", "-", "-"},
      {"Dornavex", product, "RV0C", "1.1 maximum", "yes", "1", "row 19", "updated, now RV0D"},
      {"Dornavex", product, "RV0D", "1.1 above maximum", "no", "-", "-", "-"},
      {"Kestrel", product, "RV01", "1.1 other vendor", "no", "-", "-", "-"},
      {"Dornavex", "DVDRW KTR-207N", "RV01", "1.1 other product", "no", "-", "-", "-"},
      {"Kestrel", "Product", "KS19", "2.1 maximum", "yes", "2", "row 19", "updated, now KS20"},
      {"Kestrel", "Product", "KS1:", "2.1 above maximum", "no", "-", "-", "-"},
      {"Dornavex", "Product", "KS19", "2.1 other vendor", "no", "-", "-", "-"},
      {"Kestrel", "CD-RW KS-5216", "KS10", "given", "yes", "2", "row 21", "updated, now KS20"},
  };
  EXPECT_EQ(rows, updated);

  // A package in automatic mode updates at start-up, unasked: the rehearsal is that run. A damaged
  // package ends before any list, and the flasher's error is every drive's line.
  package("automatic", {"--new-fw", "1=RV0D", "--constraint", "1=RV01,RV01,Dornavex," + product,
                        "--option", "AUTOMODE=1"});
  std::string damaged = ReadText(Path("one-bank"));
  damaged[damaged.find("MOVREL-SIM-IMAGEDornavexDVDRW KTR-207M  RV0D") + 1000] ^= 1;
  std::ofstream(Path("damaged"), std::ios::binary) << damaged;
  fs::permissions(Path("damaged"), fs::perms::owner_all);
  const std::pair<std::string, std::vector<std::string>> runs[] = {
      {"automatic",
       {"RV01  1.1 minimum        yes",
        "row 19   updated, now RV0D  updated at start-up (AUTOMODE)", "RV00  1.1 below minimum  no",
        "not updated at start-up (AUTOMODE)"}},
      {"damaged",
       {"RV01  1.1 minimum        no       -     -           This flash program is damaged. Please "
        "obtain it again.\n"}},
  };
  for (const auto& [name, lines] : runs) {
    const Outcome run = rehearse({Path(name)});
    EXPECT_EQ(run.status, 0) << run.err;
    for (const std::string& line : lines) EXPECT_THAT(run.out, ::testing::HasSubstr(line)) << name;
  }
}
#endif

TEST_F(PackTool, UsageErrorsExitWithTwoAndHelpWithZero) {
  const std::string t = MOVREL_PROBE_PATH, o = Path("out"), a = "1=" + Path("a.bin");
  std::vector<Strings> usages = {
      {},
      {"frob"},
      {"show"},
      {"show", t, t},
      {"show", "--json"},
      {"show", "--json", t, "--json"},
      {"verify"},
      {"verify", t},
      {"verify", "--bank", a, t},
      {"verify", t, "--bank"},
      {"verify", t, "--bank", Path("a.bin")},
      {"verify", t, "--bank", a, "--bank", a},
      {"verify", t, "--bank", a, "--frob", a},
      {"pack", "--template", t, "--output", o, "--bank"},
      {"pack", "--template", t, "--output", o, "--bank", a, "--frob", "1"},
      {"pack", "--template", t, "--bank", a},
      {"pack", "--output", o, "--bank", a},
      {"pack", "--template", t, "--output", o},
      {"pack", "--template", t, "--output", o, "--bank", Path("a.bin")},
      {"pack", "--template", t, "--output", o, "--bank", a, "--option", "WARNING"},
      {"pack", "--template", t, "--output", o, "--bank", a, "--bank", "1=" + Path("b.bin")},
      {"pack", "--template", t, "--output", o, "--bank", a, "--new-fw", "1=RV0D", "--new-fw",
       "1=RV0D"},
      {"pack", "--template", t, "--output", o, "--bank", a, "--any-drive", "1", "--any-drive", "1"},
      {"pack", "--template", t, "--output", o, "--bank", a, "--option", "WARNING=1", "--option",
       "WARNING=0"},
      {"pack", "--template", t, "--output", o, "--bank", a, "--option", "HOW_MANY_BIN=2"},
      {"pack", "--template", t, "--output", o, "--bank", a, "--option", "WARNING=10"},
      {"pack", "--template", t, "--output", o, "--bank", a, "--constraint", "1=RV01,RV0D,Dornavex"},
      {"pack", "--template", t, "--output", o, "--bank=" + a, "--allow-template-texts=yes"},
      {"show", "--json=yes", t},
      {"repack"},
      {"repack", t},
      {"repack", "--output", o, "--template", t},
      {"repack", t, "--template", t},
      {"repack", t, "--output", o},
      {"repack", t, "--output", o, "--template", t, "--template-dir", o},
      {"repack", t, "--output", o, "--template", t, "--template", t},
      {"repack", t, "--output", o, "--template"},
      {"repack", t, "--output", o, "--frob", t},
      {"rehearse"},
      {"rehearse", "--json", t},
      {"rehearse", t, "--drive", "Dornavex,DVDRW KTR-207M"},
      {"rehearse", t, "--drive", "Dornavex,DVDRW KTR-207M,RV05,BFD800"},
      {"rehearse", t, "--expect-offered", "Dornavex,DVDRW KTR-207M,RV05,BFD80005"},
      {"rehearse", t, "--drive", "Dornavex9,DVDRW KTR-207M,RV05"},
      {"rehearse", t, "--update=yes"},
      {"rehearse", t, "--flasher", t, "--flasher", t},
  };
  // Every option that takes one value, given twice.
  for (const char* once : {"--template", "--output", "--title", "--version", "--model", "--date",
                           "--note", "--contact"}) {
    Strings twice = {"pack", "--template", t, "--output", o, "--bank", a};
    twice.insert(twice.end(), {once, "v", once, "v"});
    usages.push_back(twice);
  }
  Strings nine = {"pack", "--template", t, "--output", o, "--bank", a};
  for (int i = 0; i < 9; ++i) nine.insert(nine.end(), {"--constraint", "1=RV01,,,"});
  usages.push_back(nine);
  for (const Strings& usage : usages) {
    const Outcome run = Pack(usage);
    EXPECT_EQ(run.status, 2) << (usage.empty() ? "" : usage.back());
    EXPECT_NE(run.err.find("usage:"), std::string::npos);
    EXPECT_FALSE(fs::exists(o));
  }
  // The choices a usage error names: the option keys, the bank numbers, the command's options.
  const std::pair<Strings, std::string> named[] = {
      {{"--option", "REBOT=0"}, "the keys are N2OMESSAGE, CHKDISC, BOOTCODE, REBOOT, AUTOMODE"},
      {{"--bank", "0=" + Path("a.bin")}, "bank number '0' is not one of 1, 2, 3, 4"},
      {{"--bank=5=" + Path("a.bin")}, "bank number '5' is not one of 1, 2, 3, 4"},
      {{"--new-fw", "RV0D"}, "--new-fw expects N=..., with N one of 1, 2, 3, 4"},
      {{"--bnak", a}, "unknown argument '--bnak'; pack takes --template, --output, --bank"},
  };
  for (const auto& [args, text] : named) {
    Strings usage = {"pack", "--template", t, "--output", o};
    usage.insert(usage.end(), args.begin(), args.end());
    const Outcome run = Pack(usage);
    EXPECT_EQ(run.status, 2) << text;
    EXPECT_THAT(run.err, ::testing::HasSubstr(text));
  }
  const Outcome help = Pack({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* line : {"--any-drive N", "show [--json] EXE", "verify EXE --bank N=FILE",
                           "repack EXE --output OUT", "--template-dir DIR"}) {
    EXPECT_NE(help.out.find(line), std::string::npos) << line;
  }
  // A command's own help, on standard output; the version.
  const std::pair<Strings, std::string> helps[] = {
      {{"pack", "--help"}, "--allow-template-texts"},
      {{"pack", "--template", t, "-h"}, "--any-drive N"},
      {{"show", "--help"}, "--json"},
      {{"verify", "-h"}, "--bank N=FILE"},
      {{"repack", "--help"}, "--template-dir DIR"},
      {{"rehearse", "--help"}, "--expect-offered VENDOR,PRODUCT,REV"},
      {{"--version"}, "movrel-pack " MOVREL_VERSION "\n"},
  };
  for (const auto& [args, text] : helps) {
    const Outcome run = Pack(args);
    EXPECT_EQ(run.status, 0) << args[0];
    EXPECT_THAT(run.out, ::testing::HasSubstr(text));
    EXPECT_EQ(run.err, "");
  }
}

}  // namespace
}  // namespace movrel::test
