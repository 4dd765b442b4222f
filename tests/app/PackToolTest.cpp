// movrel-pack and movrel-probe as built: a package written by the tool is what a packaged
// executable reads at run time.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/PackageBlock.h"
#include "app/PackageLayout.h"
#include "movrel-pack-locate.h"

namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

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

class PackTool : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = fs::temp_directory_path() /
          ("movrel-pack-" + std::string(test->name()) + "-" + std::to_string(getpid()));
    fs::create_directories(dir);
    WriteImage("a.bin", 32768, 0x5A);
    WriteImage("b.bin", 16384, 0xC3);
  }
  void TearDown() override { fs::remove_all(dir); }

  std::string Path(const std::string& name) const { return (dir / name).string(); }

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

  // A complete request: two banks, constraints, texts and options.
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
  for (const char* line :
       {"title: \"Flash Program for KTR-207M\"\n", "version: \"v2.1.0\"\n",
        "model: \"Dornavex DVDRW KTR-207M\"\n", "contact: \"555-0100\"\n", "title set: yes\n",
        "firmware written: yes\n", "option CHKDISC: 1\n", "option ADMIN: 1\n", "option REBOOT: 0\n",
        "option WARNING: 1\n", "option HOW_MANY_BIN: 2\n",
        "bank 1: start 0, size 32768, new revision \"RV0D\", image usable\n",
        "bank 1 entry 2: minimum \"0V05\", maximum \"0V05\", vendor \"Dornavex\", product "
        "\"DVDRW KTR-207M  \"\n",
        "bank 1 entry 3: minimum \"#FLS\", maximum \"#\", vendor \"#\", product \"#\"\n",
        "bank 2: start 32768, size 16384, new revision \"RW02\", image usable\n",
        "bank 2 entry 1: minimum \"#FLS\", maximum \"#\", vendor \"#\", product \"#\"\n",
        "bank 3: start 0, size 0, new revision \"N/A \", image not usable\n"}) {
    EXPECT_NE(probed.out.find(line), std::string::npos) << line;
  }

  // The reader over the written file sees the images byte for byte.
  const std::vector<unsigned char> file = ReadBytes(out);
  const app::PackageView view(file.data() + pack::LocateBlock(file));
  EXPECT_EQ(std::vector<unsigned char>(view.Image(1).data, view.Image(1).data + 16384),
            ReadBytes(Path("b.bin")));
  EXPECT_EQ(std::vector<unsigned char>(view.Image(0).data, view.Image(0).data + 32768),
            ReadBytes(Path("a.bin")));
}

TEST_F(PackTool, OnlyTheBlockChangesAndTheModeIsKept) {
  const std::string out = Path("probe");
  ASSERT_EQ(Pack(FullRequest(MOVREL_PROBE_PATH, out)).status, 0);
  const std::vector<unsigned char> before = ReadBytes(MOVREL_PROBE_PATH), after = ReadBytes(out);
  ASSERT_EQ(before.size(), after.size());
  const std::size_t start = pack::LocateBlock(before);
  EXPECT_EQ(pack::LocateBlock(after), start);
  EXPECT_TRUE(std::equal(before.begin(), before.begin() + start, after.begin()));
  const std::size_t end = start + app::layout::kBlockSize;
  EXPECT_TRUE(std::equal(before.begin() + end, before.end(), after.begin() + end));
  EXPECT_EQ(fs::status(out).permissions(), fs::status(MOVREL_PROBE_PATH).permissions());
}

TEST_F(PackTool, RepacksAPackagedExecutable) {
  ASSERT_EQ(Pack(FullRequest(MOVREL_PROBE_PATH, Path("first"))).status, 0);
  const Outcome run =
      Pack({"pack", "--template", Path("first"), "--output", Path("second"), "--bank",
            "1=" + Path("b.bin"), "--new-fw", "1=RV0E", "--constraint", "1=,,,KTR"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string probed = Execute(Path("second"), {}).out;
  EXPECT_NE(probed.find("title: \"Flash Program for KTR-207M\"\n"), std::string::npos);
  EXPECT_NE(probed.find("option ADMIN: 1\n"), std::string::npos);
  EXPECT_NE(probed.find("option HOW_MANY_BIN: 1\n"), std::string::npos);
  EXPECT_NE(probed.find("bank 1 entry 1: minimum \"\", maximum \"\", vendor \"\", product "
                        "\"KTR             \"\n"),
            std::string::npos);
  EXPECT_NE(probed.find("bank 1 entry 2: minimum \"#FLS\""), std::string::npos);
  EXPECT_NE(probed.find("bank 2: start 0, size 0, new revision \"N/A \""), std::string::npos);
}

TEST_F(PackTool, RefusesWithoutWritingAFile) {
  WriteImage("odd.bin", 16383, 1);
  WriteImage("empty.bin", 0, 1);
  WriteImage("full.bin", 1048576, 2);
  std::ofstream(Path("marker.bin"), std::ios::binary)
      << "BANK_START_FROM_HERE" << std::string(16384 - 20, '\0');
  std::vector<unsigned char> twice = ReadBytes(MOVREL_PROBE_PATH);
  const std::size_t start = pack::LocateBlock(twice);
  twice.insert(twice.end(), twice.begin() + start, twice.begin() + start + app::layout::kBlockSize);
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
      {"--bank", a, "--new-fw", "1=RV0D", "--any-drive", "1", "--bank", "5=" + Path("b.bin")},
      {"--bank", a, "--new-fw", "1=RV0D", "--any-drive", "1", "--bank", "3=" + Path("b.bin"),
       "--new-fw", "3=RV0D", "--any-drive", "3"},
      {"--bank", a, "--new-fw", "1=RV0D", "--any-drive", "1", "--new-fw", "2=RV0D"},
      {"--bank", a, "--new-fw", "1=RV0"},
      {"--bank", a, "--new-fw", "1=RV0DX", "--any-drive", "1"},
      {"--bank", a, "--any-drive", "1"},
      {"--bank", a, "--new-fw", "1=RV0D"},
      {"--bank", a, "--new-fw", "1=RV0D", "--any-drive", "1", "--constraint", "1=RV01,,,"},
      {"--bank", a, "--new-fw", "1=RV0D", "--constraint", "1=,,,"},
      {"--bank", a, "--new-fw", "1=RV0D", "--constraint", "1=#FLS,#,#,#"},
      {"--bank", a, "--new-fw", "1=RV0D", "--constraint", "1=RV01,RV0D,Dornavex"},
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
      {"--bank", a, "--new-fw", "1=RV0D", "--any-drive", "1", "--option", "HOW_MANY_BIN=2"},
      {"--bank", a, "--new-fw", "1=RV0D", "--any-drive", "1", "--option", "WARNING=10"},
      {"--bank", a, "--new-fw", "1=RV0D", "--any-drive", "1", "--option", "SPEED=1"},
  };
  const std::string out = Path("out");
  auto expectRefused = [&](const Strings& args, const std::string& what) {
    const Outcome run = Pack(args);
    EXPECT_EQ(run.status, 1) << what;
    EXPECT_NE(run.err.find("movrel-pack: "), std::string::npos) << what;
    EXPECT_FALSE(fs::exists(out)) << what;
    EXPECT_FALSE(fs::exists(out + ".partial")) << what;
  };
  for (const Strings& refusal : refusals) {
    Strings args = {"pack", "--template", MOVREL_PROBE_PATH, "--output", out};
    args.insert(args.end(), refusal.begin(), refusal.end());
    expectRefused(args, refusal[1] + " " + refusal.back());
  }
  // Nine constraints for one bank.
  Strings nine = {"pack", "--template", MOVREL_PROBE_PATH, "--output", out, "--bank",
                  a,      "--new-fw",   "1=RV0D"};
  for (int i = 0; i < 9; ++i) nine.insert(nine.end(), {"--constraint", "1=RV01,,,"});
  expectRefused(nine, "nine constraints");
  // Templates without a block, with two blocks, or unreadable.
  for (const std::string& from : {std::string(MOVREL_PACK_PATH), Path("twice"), Path("none")}) {
    expectRefused({"pack", "--template", from, "--output", out, "--bank", a, "--new-fw", "1=RV0D",
                   "--any-drive", "1"},
                  from);
  }
  // The template itself as the output.
  fs::copy_file(MOVREL_PROBE_PATH, Path("self"));
  EXPECT_EQ(Pack({"pack", "--template", Path("self"), "--output", Path("self"), "--bank", a,
                  "--new-fw", "1=RV0D", "--any-drive", "1"})
                .status,
            1);
  EXPECT_EQ(ReadBytes(Path("self")), ReadBytes(MOVREL_PROBE_PATH));
  EXPECT_EQ(Pack({"show", MOVREL_PACK_PATH}).status, 1);
  EXPECT_EQ(Pack({"show", Path("twice")}).status, 1);
}

TEST_F(PackTool, UsageErrorsExitWithTwoAndHelpWithZero) {
  const std::string t = MOVREL_PROBE_PATH, o = Path("out"), a = "1=" + Path("a.bin");
  const std::vector<Strings> usages = {
      {},
      {"frob"},
      {"show"},
      {"show", t, t},
      {"pack", "--template", t, "--output", o, "--bank"},
      {"pack", "--template", t, "--output", o, "--bank", a, "--frob", "1"},
      {"pack", "--template", t, "--bank", a},
      {"pack", "--output", o, "--bank", a},
      {"pack", "--template", t, "--output", o},
      {"pack", "--template", t, "--output", o, "--bank", Path("a.bin")},
      {"pack", "--template", t, "--output", o, "--bank", a, "--option", "WARNING"},
  };
  for (const Strings& usage : usages) {
    const Outcome run = Pack(usage);
    EXPECT_EQ(run.status, 2) << (usage.empty() ? "" : usage.back());
    EXPECT_NE(run.err.find("usage:"), std::string::npos);
    EXPECT_FALSE(fs::exists(o));
  }
  const Outcome help = Pack({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--any-drive N"), std::string::npos);
}

}  // namespace
