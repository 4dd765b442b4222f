// movrel-pack: shows the package block of a Movrel executable, checks its bank images against
// files, writes a package into a copy of a template executable, or moves the package of one
// executable into a copy of another.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "movrel-pack/Args.h"
#include "movrel-pack/Error.h"
#include "movrel-pack/File.h"
#include "movrel-pack/Json.h"
#include "movrel-pack/Locate.h"
#include "movrel-pack/Mark.h"
#include "movrel-pack/Print.h"
#include "movrel-pack/Verify.h"
#include "movrel-pack/Write.h"
#include "package/PackageBlock.h"
#include "package/PackageLayout.h"
#include "package/Seal.h"

namespace {

constexpr const char* kUsage =
    "usage: movrel-pack show [--json] EXE\n"
    "       movrel-pack verify EXE --bank N=FILE ...\n"
    "       movrel-pack pack --template EXE --output OUT --bank 1=FILE --new-fw 1=REV\n"
    "                        (--constraint 1=MIN,MAX,VENDOR,PRODUCT ... | --any-drive 1) ...\n"
    "       movrel-pack repack EXE --output OUT (--template EXE | --template-dir DIR)\n"
    "       movrel-pack --help\n";

constexpr const char* kHelp =
    "\n"
    "show EXE       prints every field of the package block in EXE: texts, options, each\n"
    "               bank's start, size, new revision, SHA-256 and constraints, whether\n"
    "               the template markers are still present, and the state of the seal.\n"
    "  --json                       the same as one JSON document (see movrel-pack(1))\n"
    "\n"
    "verify EXE     checks that each bank N given holds exactly the bytes of FILE: a line per\n"
    "               bank says whether it does, or why not, a last line the seal's state.\n"
    "               Exit status 0 only when all do and the seal is not damaged.\n"
    "  --bank N=FILE                a bank (1..4) and the file it should hold\n"
    "\n"
    "pack           writes a package into a copy of the template EXE, as OUT with the same\n"
    "               file mode, and seals it: records the block's SHA-256 in the seal, which\n"
    "               the flasher checks before it touches a drive. Only the block and the\n"
    "               seal change; EXE may already hold a package.\n"
    "  --template EXE               the executable to start from\n"
    "  --output OUT                 the file to write\n"
    "  --title, --version, --model, --date, --note, --contact TEXT\n"
    "                               descriptive texts (left out: kept as in EXE)\n"
    "  --bank N=FILE                firmware image of bank N (1..4), a positive multiple of\n"
    "                               16384 bytes; banks are numbered from 1 without gaps and\n"
    "                               laid out back to back; HOW_MANY_BIN is their number\n"
    "  --new-fw N=REV               the 4-character revision bank N installs (required)\n"
    "  --constraint N=MIN,MAX,VENDOR,PRODUCT\n"
    "                               a drive bank N may update, up to 8 per bank, in order;\n"
    "                               revisions are 4 characters, vendor and product are\n"
    "                               padded with spaces to 8 and 16; an empty field places\n"
    "                               no condition\n"
    "  --any-drive N                bank N accepts every drive (instead of constraints)\n"
    "  --option KEY=DIGIT           N2OMESSAGE, CHKDISC, BOOTCODE, REBOOT, AUTOMODE, CLOSEAP,\n"
    "                               WARNING, ADMIN, NBWARNING (left out: kept as in EXE)\n"
    "\n"
    "repack EXE     writes the package block of EXE, as it is, into a copy of a template, as\n"
    "               OUT with the template's file mode: the package runs in that build of the\n"
    "               flasher. Nothing else of EXE is used; EXE is read once.\n"
    "  --output OUT                 the file to write\n"
    "  --template EXE               the executable to start from\n"
    "  --template-dir DIR           the Linux flasher in DIR that EXE was made from: DIR/movrel\n"
    "                               or DIR/movrel-console, as the mark that EXE carries names\n"
    "                               it\n"
    "\n"
    "Every file is opened once and read only when it is a regular file (a FIFO, a directory\n"
    "or a device is refused); an executable may hold up to 64 MiB.\n"
    "\n"
    "exit status: 0 done; 1 refused or failed (pack writes no file), or a bank differs or\n"
    "the seal is damaged (verify); 2 usage error\n";

void Show(const movrel::pack::ShowRequest& request) {
  const std::vector<unsigned char> file =
      movrel::pack::ReadWholeFile(request.executablePath, movrel::pack::kExecutableLimit);
  const movrel::package::PackageView package = movrel::pack::LocatePackage(file);
  const std::string text =
      request.json ? movrel::pack::FormatPackageJson(package, movrel::pack::FindFlasherName(file))
                   : movrel::pack::FormatPackage(package);
  std::fputs(text.c_str(), stdout);
}

// 0 when every bank holds its file and the seal is not damaged, 1 otherwise.
int Verify(const movrel::pack::VerifyRequest& request) {
  std::vector<movrel::pack::Bytes> files;
  for (const movrel::pack::BankFile& bank : request.banks) {
    files.push_back(movrel::pack::ReadWholeFile(bank.path, movrel::package::layout::kBankAreaSize));
  }
  const std::vector<unsigned char> file =
      movrel::pack::ReadWholeFile(request.executablePath, movrel::pack::kExecutableLimit);
  const movrel::package::PackageView package = movrel::pack::LocatePackage(file);
  int status = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const movrel::pack::BankFile& bank = request.banks[i];
    const std::optional<std::string> difference =
        movrel::pack::BankDifference(package, bank.bank, files[i]);
    std::string line = "bank " + std::to_string(bank.bank + 1) + ": " +
                       (difference ? "does not hold '" : "holds '") + bank.path + "'";
    if (difference) {
      line += ": " + *difference;
      status = 1;
    }
    std::puts(line.c_str());
  }
  const movrel::package::SealState seal = movrel::package::CheckSeal(package);
  std::printf("seal: %s\n", std::string(movrel::pack::SealText(seal)).c_str());
  return seal == movrel::package::SealState::Damaged ? 1 : status;
}

void Pack(const movrel::pack::PackRequest& request) {
  const int bankCount = movrel::pack::BankCountOf(request);
  if (movrel::pack::SameFile(request.templatePath, request.outputPath)) {
    throw movrel::pack::Refusal("the output would overwrite the template");
  }
  for (int b = 0; b < bankCount; ++b) {
    if (movrel::pack::SameFile(*request.banks[b].imagePath, request.outputPath)) {
      throw movrel::pack::Refusal("the output would overwrite the bank " + std::to_string(b + 1) +
                                  " image");
    }
  }
  std::vector<movrel::pack::Bytes> images;
  for (int b = 0; b < bankCount; ++b) {
    images.push_back(movrel::pack::ReadWholeFile(*request.banks[b].imagePath,
                                                 movrel::package::layout::kBankAreaSize));
  }
  unsigned permissions = 0;
  movrel::pack::Bytes file = movrel::pack::ReadWholeFile(
      request.templatePath, movrel::pack::kExecutableLimit, &permissions);
  const std::size_t start = movrel::pack::LocateBlock(file);
  const std::optional<std::size_t> seal = movrel::pack::LocateSeal(file, start);
  movrel::pack::FillBlock(file.data() + start, request, images);
  if (seal) movrel::pack::WriteSeal(file.data() + *seal, file.data() + start);
  movrel::pack::WriteWholeFile(request.outputPath, file, permissions);
  if (!seal)
    std::fputs("movrel-pack: the template has no seal; the output is not sealed\n", stderr);
}

void Repack(const movrel::pack::RepackRequest& request) {
  const movrel::pack::Bytes source =
      movrel::pack::ReadWholeFile(request.executablePath, movrel::pack::kExecutableLimit);
  const std::size_t from = movrel::pack::LocateBlock(source);
  const std::string templatePath =
      request.templateDirectory.empty()
          ? request.templatePath
          : request.templateDirectory + "/" + std::string(movrel::pack::FlasherName(source));
  for (const std::string& input : {templatePath, request.executablePath}) {
    if (movrel::pack::SameFile(input, request.outputPath)) {
      throw movrel::pack::Refusal("the output would overwrite '" + input + "'");
    }
  }
  unsigned permissions = 0;
  movrel::pack::Bytes file =
      movrel::pack::ReadWholeFile(templatePath, movrel::pack::kExecutableLimit, &permissions);
  const std::size_t to = movrel::pack::LocateBlock(file);
  std::copy_n(source.begin() + static_cast<std::ptrdiff_t>(from),
              movrel::package::layout::kBlockSize, file.begin() + static_cast<std::ptrdiff_t>(to));
  // The seal goes with the block, as it is: a damaged package stays damaged in the copy, and the
  // copy refuses it at start-up. A source whose seal cannot be found, where the template has one,
  // may have lost it on purpose (its marker changed), so it is refused rather than run unsealed.
  const std::optional<std::size_t> sourceSeal = movrel::pack::LocateSeal(source, from);
  const std::optional<std::size_t> seal = movrel::pack::LocateSeal(file, to);
  if (sourceSeal && !seal) {
    throw movrel::pack::Refusal("'" + templatePath + "' has no seal to carry the package's");
  }
  if (!sourceSeal && seal) {
    throw movrel::pack::Refusal(
        "'" + request.executablePath +
        "' has no seal that can be found, where its template has one; please "
        "obtain the flasher again");
  }
  if (sourceSeal) {
    std::copy_n(source.begin() + static_cast<std::ptrdiff_t>(*sourceSeal),
                movrel::package::layout::kSealSize,
                file.begin() + static_cast<std::ptrdiff_t>(*seal));
  }
  movrel::pack::WriteWholeFile(request.outputPath, file, permissions);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  try {
    if (args.empty()) throw movrel::pack::UsageError("no command given");
    const std::string& command = args[0];
    if (command == "--help" || command == "-h") {
      std::fputs(kUsage, stdout);
      std::fputs(kHelp, stdout);
    } else if (command == "show") {
      Show(movrel::pack::ParseShowArguments({args.begin() + 1, args.end()}));
    } else if (command == "verify") {
      return Verify(movrel::pack::ParseVerifyArguments({args.begin() + 1, args.end()}));
    } else if (command == "pack") {
      Pack(movrel::pack::ParsePackArguments({args.begin() + 1, args.end()}));
    } else if (command == "repack") {
      Repack(movrel::pack::ParseRepackArguments({args.begin() + 1, args.end()}));
    } else {
      throw movrel::pack::UsageError("unknown command '" + command + "'");
    }
    return 0;
  } catch (const movrel::pack::UsageError& error) {
    std::fprintf(stderr, "movrel-pack: %s\n%s", error.what(), kUsage);
    return 2;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "movrel-pack: %s\n", error.what());
    return 1;
  }
}
