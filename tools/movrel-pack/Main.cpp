// movrel-pack: shows the package block of a Movrel executable, checks its bank images against
// files, writes a package into a copy of a template executable, or moves the package of one
// executable into a copy of another.
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "movrel-pack/Args.h"
#include "movrel-pack/Choices.h"
#include "movrel-pack/Error.h"
#include "movrel-pack/File.h"
#include "movrel-pack/Json.h"
#include "movrel-pack/Locate.h"
#include "movrel-pack/Mark.h"
#include "movrel-pack/Print.h"
#include "movrel-pack/Rehearse.h"
#include "movrel-pack/Verify.h"
#include "movrel-pack/Write.h"
#include "package/PackageBlock.h"
#include "package/PackageLayout.h"
#include "package/Seal.h"

namespace {

// Each command's usage and its help, as "movrel-pack COMMAND --help" prints them.
struct Command {
  const char* name;
  const char* usage;
  const char* help;
};

constexpr Command kCommands[] = {
    {"show", "show [--json] EXE\n",
     "\n"
     "show EXE       prints every field of the package block in EXE: texts, options, each\n"
     "               bank in use with its start, size, new revision, SHA-256 and constraints,\n"
     "               whether the template markers are still present, and the state of the seal.\n"
     "  --json                       the same as one JSON document (see movrel-pack(1))\n"},
    {"verify", "verify EXE --bank N=FILE ...\n",
     "\n"
     "verify EXE     checks that each bank N given holds exactly the bytes of FILE: a line per\n"
     "               bank says whether it does, or why not, a last line the seal's state.\n"
     "               Exit status 0 only when all do and the seal is not damaged.\n"
     "  --bank N=FILE                a bank (1..4) and the file it should hold\n"},
    {"pack",
     "pack --template EXE --output OUT --bank 1=FILE --new-fw 1=REV\n"
     "                        (--constraint 1=MIN,MAX,VENDOR,PRODUCT ... | --any-drive 1)\n"
     "                        --option REBOOT=0|1 --model TEXT --title TEXT --contact TEXT\n"
     "                        --date TEXT [OPTION ...]\n",
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
     "                               revisions are 4 characters, MIN not above MAX, vendor\n"
     "                               and product are padded with spaces to 8 and 16; an\n"
     "                               empty field places no condition\n"
     "  --any-drive N                bank N accepts every drive (instead of constraints)\n"
     "  --option KEY=DIGIT           N2OMESSAGE, CHKDISC, BOOTCODE, REBOOT, AUTOMODE, CLOSEAP,\n"
     "                               WARNING, ADMIN, NBWARNING: 0 off, 1 on (left out: kept\n"
     "                               as in EXE; REBOOT must be given)\n"
     "  --allow-template-texts       lets the template's placeholder model, title, contact\n"
     "                               and date (MODEL_HERE, ...) stay in the package\n"},
    {"repack", "repack EXE --output OUT (--template EXE | --template-dir DIR)\n",
     "\n"
     "repack EXE     writes the package block of EXE, as it is, into a copy of a template, as\n"
     "               OUT with the template's file mode: the package runs in that build of the\n"
     "               flasher. Nothing else of EXE is used; EXE is read once.\n"
     "  --output OUT                 the file to write\n"
     "  --template EXE               the executable to start from\n"
     "  --template-dir DIR           the Linux flasher in DIR that EXE was made from: DIR/movrel\n"
     "                               or DIR/movrel-console, as the mark that EXE carries names\n"
     "                               it\n"},
    {"rehearse",
     "rehearse EXE [--drive VENDOR,PRODUCT,REV[,FLASHID] ...]\n"
     "                        [--expect-offered VENDOR,PRODUCT,REV ...] [--update] [--json]\n"
     "                        [--flasher PATH]\n",
     "\n"
     "rehearse EXE   runs the package of EXE in a copy of the simulated terminal flasher on a\n"
     "               bay of simulated drives, and prints which drives it offers to update,\n"
     "               with which bank, and what it says of each. For each constraint entry the\n"
     "               bay holds a drive at its minimum and at its maximum, one just below the\n"
     "               minimum and one just above the maximum (in the flasher's order of\n"
     "               revisions), one of another vendor and one of another product. Nothing\n"
     "               reaches a real drive.\n"
     "  --drive VENDOR,PRODUCT,REV[,FLASHID]\n"
     "                               one more drive; FLASHID is its flash identity, 8 hex\n"
     "                               digits (BFD80005 when left out)\n"
     "  --expect-offered VENDOR,PRODUCT,REV\n"
     "                               a drive the flasher should offer (added to the bay if\n"
     "                               need be); every other drive should not be offered\n"
     "  --update                     also runs the update of each offered drive, with its\n"
     "                               command count, drive-side program and result\n"
     "  --json                       the same table as one JSON document\n"
     "  --flasher PATH               the simulated flasher (movrel-console-sim) to run in;\n"
     "                               by default the one beside movrel-pack\n"},
};

constexpr const char* kNotes =
    "\n"
    "Options take their value as --name VALUE or --name=VALUE.\n"
    "Every file is opened once and read only when it is a regular file (a FIFO, a directory\n"
    "or a device is refused); an executable may hold up to 64 MiB.\n"
    "\n"
    "exit status: 0 done; 1 refused or failed (pack writes no file), or a bank differs or\n"
    "the seal is damaged (verify), or a drive is offered or not against --expect-offered\n"
    "(rehearse); 2 usage error, or a choice pack leaves to the template\n";

void PrintUsage(std::FILE* to) {
  const char* prefix = "usage: ";
  for (const Command& command : kCommands) {
    std::fprintf(to, "%smovrel-pack %s", prefix, command.usage);
    prefix = "       ";
  }
  std::fprintf(to, "%smovrel-pack --help | --version\n", prefix);
}

// The package block of `file`, read from `path`: a file without one is not a Movrel flasher (or
// template), whatever else it is.
std::size_t LocateBlockIn(const movrel::pack::Bytes& file, const std::string& path,
                          const char* what) {
  try {
    return movrel::pack::LocateBlock(file);
  } catch (const movrel::pack::Refusal& error) {
    throw movrel::pack::Refusal("'" + path + "' is not " + what + ": " + error.what());
  }
}

constexpr const char* kFlasher = "a Movrel flasher";
constexpr const char* kTemplate = "a Movrel flasher template";

movrel::package::PackageView LocatePackageIn(const movrel::pack::Bytes& file,
                                             const std::string& path) {
  const std::size_t block = LocateBlockIn(file, path, kFlasher);
  const std::optional<std::size_t> seal = movrel::pack::LocateSeal(file, block);
  return movrel::package::PackageView(file.data() + block, seal ? file.data() + *seal : nullptr);
}

void Show(const movrel::pack::ShowRequest& request) {
  const std::vector<unsigned char> file =
      movrel::pack::ReadWholeFile(request.executablePath, movrel::pack::kExecutableLimit);
  const movrel::package::PackageView package = LocatePackageIn(file, request.executablePath);
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
  const movrel::package::PackageView package = LocatePackageIn(file, request.executablePath);
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
  movrel::pack::CheckChoices(request);
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
  const std::size_t start = LocateBlockIn(file, request.templatePath, kTemplate);
  const std::optional<std::size_t> seal = movrel::pack::LocateSeal(file, start);
  movrel::pack::CheckTemplateTexts(request, movrel::package::PackageView(file.data() + start));
  movrel::pack::FillBlock(file.data() + start, request, images);
  if (seal) movrel::pack::WriteSeal(file.data() + *seal, file.data() + start);
  movrel::pack::WriteWholeFile(request.outputPath, file, permissions);
  if (!seal)
    std::fputs("movrel-pack: the template has no seal; the output is not sealed\n", stderr);
}

void Repack(const movrel::pack::RepackRequest& request) {
  const movrel::pack::Bytes source =
      movrel::pack::ReadWholeFile(request.executablePath, movrel::pack::kExecutableLimit);
  const std::size_t from = LocateBlockIn(source, request.executablePath, kFlasher);
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
  const std::size_t to = LocateBlockIn(file, templatePath, kTemplate);
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

// The command `name`, or null.
const Command* FindCommand(const std::string& name) {
  for (const Command& command : kCommands) {
    if (command.name == name) return &command;
  }
  return nullptr;
}

int Run(const Command& command, const std::vector<std::string>& args) {
  const std::string name = command.name;
  if (name == "show") {
    Show(movrel::pack::ParseShowArguments(args));
  } else if (name == "verify") {
    return Verify(movrel::pack::ParseVerifyArguments(args));
  } else if (name == "pack") {
    Pack(movrel::pack::ParsePackArguments(args));
  } else if (name == "rehearse") {
    return movrel::pack::Rehearse(
        movrel::pack::ParseRehearseArguments(args),
        [](const std::string& executable, const std::string& flasher, const std::string& output) {
          Repack({executable, output, flasher, ""});
        });
  } else {
    Repack(movrel::pack::ParseRepackArguments(args));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Revisions are ordered as the flasher orders them: in the collation of the user's locale.
  std::setlocale(LC_COLLATE, "");
  const std::vector<std::string> args(argv + 1, argv + argc);
  const Command* command = args.empty() ? nullptr : FindCommand(args[0]);
  try {
    if (args.empty()) throw movrel::pack::UsageError("no command given");
    if (args[0] == "--help" || args[0] == "-h") {
      PrintUsage(stdout);
      for (const Command& each : kCommands) std::fputs(each.help, stdout);
      std::fputs(kNotes, stdout);
      return 0;
    }
    if (args[0] == "--version") {
      std::puts("movrel-pack " MOVREL_VERSION);
      return 0;
    }
    if (!command) throw movrel::pack::UsageError("unknown command '" + args[0] + "'");
    return Run(*command, {args.begin() + 1, args.end()});
  } catch (const movrel::pack::HelpRequested&) {
    std::printf("usage: movrel-pack %s", command->usage);
    std::fputs(command->help, stdout);
    std::fputs(kNotes, stdout);
    return 0;
  } catch (const movrel::pack::UsageError& error) {
    std::fprintf(stderr, "movrel-pack: %s\n", error.what());
    if (command) {
      std::fprintf(stderr, "usage: movrel-pack %s(movrel-pack %s --help lists every option)\n",
                   command->usage, command->name);
    } else {
      PrintUsage(stderr);
    }
    return 2;
  } catch (const movrel::pack::ChoiceError& error) {
    std::fprintf(stderr, "movrel-pack: %s\n", error.what());
    return 2;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "movrel-pack: %s\n", error.what());
    return 1;
  }
}
