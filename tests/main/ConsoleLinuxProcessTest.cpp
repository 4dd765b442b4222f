// The terminal flasher on this machine's own drives, from the outside: packaged with movrel-pack
// and run as a process. On a machine without optical drives it lists none and ends.
#include <elf.h>
#include <glob.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace movrel::test {

namespace {

namespace fs = std::filesystem;

bool MachineHasOpticalDrives() {
  glob_t found{};
  const bool any = ::glob("/dev/sr*", 0, nullptr, &found) == 0;
  ::globfree(&found);
  return any;
}

int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// It runs as root from any rescue system: self-contained (no program interpreter, no library) and
// position-independent, so that the kernel loads it at a random address.
TEST(ConsoleLinuxProcess, IsAStaticPositionIndependentExecutable) {
  if (!CONSOLE_STATIC) GTEST_SKIP() << "the sanitizers' runtimes need the dynamic loader";
  std::ifstream file(CONSOLE_PATH, std::ios::binary);
  Elf64_Ehdr header{};
  ASSERT_TRUE(file.read(reinterpret_cast<char*>(&header), sizeof header));
  EXPECT_EQ(header.e_type, ET_DYN);
  for (int i = 0; i < header.e_phnum; ++i) {
    Elf64_Phdr program{};
    file.seekg(static_cast<std::streamoff>(header.e_phoff + i * header.e_phentsize));
    ASSERT_TRUE(file.read(reinterpret_cast<char*>(&program), sizeof program));
    EXPECT_NE(program.p_type, PT_INTERP) << "movrel-console names a program interpreter";
  }
}

TEST(ConsoleLinuxProcess, WithoutOpticalDrivesEndsWithTheNoMatchMessageAndAnEmptyList) {
  if (MachineHasOpticalDrives()) GTEST_SKIP() << "this machine has optical drives";
  const fs::path dir = fs::temp_directory_path() / ("movrel-console-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "image.bin", std::ios::binary) << std::string(1048576, 'Z');
  ASSERT_EQ(Shell(std::string(MOVREL_PACK_PATH) + " pack --template " + CONSOLE_PATH +
                  " --output " + (dir / "flasher").string() +
                  " --model 'Dornavex DVDRW KTR-207M' --bank 1=" + (dir / "image.bin").string() +
                  " --new-fw 1=RV0D --constraint '1=RV01,RV0D,Dornavex,DVDRW KTR-207M'"
                  " --option REBOOT=0 --allow-template-texts >/dev/null"),
            0);

  EXPECT_EQ(Shell((dir / "flasher").string() + " < /dev/null > " + (dir / "output.txt").string() +
                  " 2>&1"),
            2);
  std::ifstream in(dir / "output.txt", std::ios::binary);
  std::ostringstream output;
  output << in.rdbuf();
  EXPECT_EQ(output.str(),
            "[Error] No matched drive detected !\n"
            "This utility is only for Dornavex DVDRW KTR-207M drive.\n\n"
            "Detected drives :\n\n");
  fs::remove_all(dir);
}

}  // namespace
}  // namespace movrel::test
