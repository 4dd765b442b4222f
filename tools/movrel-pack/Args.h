// The command line of "movrel-pack pack", as a request.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "package/PackageLayout.h"

namespace movrel::pack {

struct ConstraintArg {
  std::string minimum, maximum, vendor, product;
};

struct BankArgs {
  std::optional<std::string> imagePath;
  std::optional<std::string> newRevision;
  std::vector<ConstraintArg> constraints;  // in the order given
  bool anyDrive = false;
};

struct PackRequest {
  std::string templatePath;
  std::string outputPath;
  std::optional<std::string> title, version, model, date, note, contact;
  std::array<BankArgs, package::layout::kBankCount> banks;  // index 0 is bank 1
  // Indexed by app::layout::Option; HOW_MANY_BIN always follows the banks given.
  std::array<std::optional<char>, package::layout::kOptionSlots.size()> options;
  // The template's placeholder texts (MODEL_HERE, ...) may stay in the package.
  bool allowTemplateTexts = false;
};

// The descriptive texts that --title, --version, ... set, with their fields in the block.
struct TextField {
  const char* name;
  std::optional<std::string> PackRequest::*member;
  std::size_t offset;
  std::size_t size;
};

inline constexpr TextField kTextFields[] = {
    {"title", &PackRequest::title, package::layout::kTitleOffset, package::layout::kTitleSize},
    {"version", &PackRequest::version, package::layout::kVersionOffset,
     package::layout::kVersionSize},
    {"model", &PackRequest::model, package::layout::kModelOffset, package::layout::kModelSize},
    {"date", &PackRequest::date, package::layout::kDateOffset, package::layout::kDateSize},
    {"note", &PackRequest::note, package::layout::kNoteOffset, package::layout::kNoteSize},
    {"contact", &PackRequest::contact, package::layout::kContactOffset,
     package::layout::kContactSize},
};

// "movrel-pack show": the executable, and whether to print JSON.
struct ShowRequest {
  std::string executablePath;
  bool json = false;
};

// "movrel-pack verify": the executable and the files its banks should hold, in the order given.
struct BankFile {
  int bank;  // 0..3
  std::string path;
};

struct VerifyRequest {
  std::string executablePath;
  std::vector<BankFile> banks;
};

// "movrel-pack repack": the executable whose package block moves, and the template it moves into:
// a file, or the directory of the installed flashers (then the one EXE's mark names).
struct RepackRequest {
  std::string executablePath;
  std::string outputPath;
  std::string templatePath;       // empty when a directory is given
  std::string templateDirectory;  // empty when a template is given
};

// A drive as "rehearse" names it: its INQUIRY vendor, product and revision (at most 8, 16 and 4
// characters) and, for one given by hand, its flash identity (4 bytes; none: the bay's default).
struct DriveArg {
  std::string vendor, product, revision;
  std::optional<std::array<unsigned char, 4>> flashId;
};

// "movrel-pack rehearse": the packaged flasher, the drives given by hand and those expected to be
// offered (in the order given), the simulated flasher to run it in (empty: the one beside
// movrel-pack), whether to run the updates too, and whether to print JSON.
struct RehearseRequest {
  std::string executablePath;
  std::string flasherPath;
  std::vector<DriveArg> drives;
  std::vector<DriveArg> expectOffered;
  bool update = false;
  bool json = false;
};

// Each parser takes options as "--name VALUE" or "--name=VALUE", and throws HelpRequested for
// --help or -h where an option may stand.

// The arguments after "show": one executable and --json at most once, in any order. Throws
// UsageError otherwise.
ShowRequest ParseShowArguments(const std::vector<std::string>& args);

// The arguments after "verify": the executable, then one or more --bank N=FILE, at most one per
// bank. Throws UsageError for anything else.
VerifyRequest ParseVerifyArguments(const std::vector<std::string>& args);

// The arguments after "repack": the executable, then --output and one of --template and
// --template-dir, each once. Throws UsageError otherwise.
RepackRequest ParseRepackArguments(const std::vector<std::string>& args);

// The arguments after "rehearse": the executable, then --drive and --expect-offered (each
// VENDOR,PRODUCT,REV, --drive with ,FLASHID: 8 hex digits), any number of times, and --flasher,
// --update and --json at most once. Throws UsageError otherwise, and for a text too long for its
// INQUIRY field.
RehearseRequest ParseRehearseArguments(const std::vector<std::string>& args);

// The arguments after "pack". Throws UsageError for an unknown or incomplete option or one given
// twice (every option but --constraint takes one value, per bank or per key), a bank number, an
// option key or digit that does not exist, a constraint without its four fields and a ninth
// constraint of a bank. What the values say is checked later (CheckChoices, FillBlock).
PackRequest ParsePackArguments(const std::vector<std::string>& args);

}  // namespace movrel::pack
