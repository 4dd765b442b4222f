// The flasher on the simulated machine, from the outside: packaged with movrel-pack, run as a
// process with a bay file, answered on its standard input, judged by its output, exit status and
// the drives' trace.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace movrel::test {

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class ConsoleSimProcess : public ::testing::Test {
 protected:
  fs::path dir =
      fs::temp_directory_path() / ("movrel-console-sim-" + std::to_string(::getpid()) + "-" +
                                   ::testing::UnitTest::GetInstance()->current_test_info()->name());

  void SetUp() override {
    fs::create_directories(dir);
    std::string image(1048576, 'Z');
    const std::string record = "MOVREL-SIM-IMAGEDornavexDVDRW KTR-207M  RV0D";
    image.replace(0, 64, record + std::string(64 - record.size(), '\0'));
    std::ofstream(dir / "image.bin", std::ios::binary) << image;
  }
  void TearDown() override { fs::remove_all(dir); }

  int Shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  void Package(const std::string& options) {
    ASSERT_EQ(Shell(std::string(MOVREL_PACK_PATH) + " pack --template " + CONSOLE_SIM_PATH +
                    " --output " + (dir / "flasher").string() +
                    " --model 'Dornavex DVDRW KTR-207M' --bank 1=" + (dir / "image.bin").string() +
                    " --new-fw 1=RV0D --constraint '1=RV01,RV0D,Dornavex,DVDRW KTR-207M' " +
                    " --allow-template-texts " + options + " >/dev/null"),
              0);
  }

  int Run(const std::string& bay, const std::string& input) {
    std::ofstream(dir / "bay.json") << bay;
    std::ofstream(dir / "input.txt") << input;
    return Shell("MOVREL_SIM_BAY=" + (dir / "bay.json").string() + " MOVREL_SIM_TRACE=" +
                 (dir / "trace.txt").string() + " " + (dir / "flasher").string() + " < " +
                 (dir / "input.txt").string() + " > " + (dir / "output.txt").string() + " 2>&1");
  }
};

const char kOneDrive[] = R"({"drives": [{"name": "D", "root": "D:\\", "address": [0, 0, 0, 0],
  "vendor": "Dornavex", "product": "DVDRW KTR-207M", "revision": "RV05",
  "flash_id": "BF D8 00 05"}]})";

TEST_F(ConsoleSimProcess, UpdatesTheDriveAndTracesTheWholeConversation) {
  Package("--option REBOOT=0");
  EXPECT_EQ(Run(kOneDrive, "y\nu\nq\n"), 0);
  const std::string output = Read(dir / "output.txt");
  EXPECT_THAT(output, HasSubstr("[Information] Firmware has been updated successfully !\n"));
  EXPECT_THAT(output, HasSubstr("> 1)  0-0-0-0 D:DornavexDVDRW KTR-207M   RV0D\n"));

  const std::string trace = Read(dir / "trace.txt");
  EXPECT_THAT(trace, HasSubstr("D program row 19 match\n"));
  EXPECT_THAT(trace, HasSubstr("D 3B 05 01 0F C0 00 00 40 00 00 00 00 out 16384 good\n"));
  EXPECT_THAT(trace, HasSubstr("D 3B 05 01 00 00 00 00 00 00 80 00 00 none 0 good\n"));
}

// A refused programming command; and a chunk after the drive-side program that times out, fails
// without sense data, or finds the drive reset, after which no programming command is sent.
TEST_F(ConsoleSimProcess, FailedFlashEndsWithStatusOne) {
  Package("--option REBOOT=0");
  const std::string programming = R"("control": "80", "kind": "sense", "sense": "03 0C 00")";
  const std::string fourthChunk = R"("control": "00", "occurrence": 4, "kind": )";
  for (const std::string& fault :
       {programming, fourthChunk + R"("timeout")", fourthChunk + R"("fail")",
        fourthChunk + R"("sense", "sense": "06 29 00")"}) {
    SCOPED_TRACE(fault);
    const std::string bay = R"({"drives": [{"name": "D", "root": "D:\\", "vendor": "Dornavex",
      "product": "DVDRW KTR-207M", "revision": "RV05", "flash_id": "BF D8 00 05",
      "faults": [{"command": "3B", )" +
                            fault + "}]}]}";
    EXPECT_EQ(Run(bay, "y\nu\n"), 1);
    EXPECT_THAT(Read(dir / "output.txt"),
                HasSubstr("[Error] Unable to flash firmware. Please contact with your vendor !\n"));
    const std::string programmed = "D 3B 05 01 00 00 00 00 00 00 80 00 00 none 0 ";
    EXPECT_EQ(Read(dir / "trace.txt").find(programmed) != std::string::npos, fault == programming);
  }
}

// A flasher damaged after packaging, by one byte of its image, says so and sends no command.
TEST_F(ConsoleSimProcess, DamagedFlasherSendsNoCommand) {
  Package("--option REBOOT=0");
  std::string file = Read(dir / "flasher");
  file[file.find(std::string(4096, 'Z')) + 100000] ^= 1;
  std::ofstream(dir / "flasher", std::ios::binary | std::ios::trunc) << file;
  EXPECT_EQ(Run(kOneDrive, "y\nu\nq\n"), 2);
  EXPECT_EQ(Read(dir / "output.txt"),
            "[Error] This flash program is damaged. Please obtain it again.\n");
  EXPECT_EQ(Read(dir / "trace.txt"), "");
}

// What the platform itself shows and asks for reaches the user and the trace.
TEST_F(ConsoleSimProcess, PlatformBoxesAreShownAndTheRestartIsTraced) {
  Package("--option REBOOT=1");
  EXPECT_EQ(Run(R"({"family": "consumer", "aspi": false, "drives": []})", ""), 2);
  EXPECT_THAT(Read(dir / "output.txt"),
              HasSubstr("[Error FS 002] LoadLibrary:\nWNASPI32.DLL not found.\n"));

  EXPECT_EQ(Run(kOneDrive, "y\nu\n"), 0);
  const std::string trace = Read(dir / "trace.txt");
  EXPECT_THAT(trace, HasSubstr("D 3B 05 01 00 00 00 00 00 00 80 00 00 none 0 good\n"));
  EXPECT_THAT(trace, ::testing::EndsWith("- restart 6\n"));
}

TEST_F(ConsoleSimProcess, BadBayIsRefusedNamingTheField) {
  Package("--option REBOOT=0");
  EXPECT_EQ(Run(R"({"drives": [{"flash_id": "BF D8"}]})", ""), 3);
  EXPECT_THAT(Read(dir / "output.txt"), HasSubstr("drives[0].flash_id"));
}

}  // namespace
}  // namespace movrel::test
