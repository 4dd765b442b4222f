#include "movrel-pack/Args.h"

#include <set>
#include <string_view>
#include <utility>

#include "movrel-pack/Error.h"

namespace movrel::pack {

namespace {

using package::layout::Option;

// The arguments of a command from `next` on, one option at a time: "--name VALUE" or, as GNU
// getopt_long takes it, "--name=VALUE".
class OptionReader {
 public:
  OptionReader(const std::vector<std::string>& args, std::size_t first) : args(args), next(first) {}

  bool Done() const { return next == args.size(); }

  // The next option's name. Throws HelpRequested for --help and -h.
  std::string Flag() {
    const std::string& arg = args[next++];
    attached.reset();
    if (arg == "--help" || arg == "-h") throw HelpRequested();
    const std::size_t equals = arg.find('=');
    if (!arg.starts_with("--") || equals == std::string::npos) return arg;
    attached = arg.substr(equals + 1);
    return arg.substr(0, equals);
  }

  // The value of the option `flag` just read.
  std::string Value(const std::string& flag) {
    if (attached) return *std::exchange(attached, std::nullopt);
    if (Done()) throw UsageError(flag + " needs a value");
    return args[next++];
  }

  // The option `flag` just read takes no value.
  void NoValue(const std::string& flag) const {
    if (attached) throw UsageError(flag + " takes no value");
  }

 private:
  const std::vector<std::string>& args;
  std::size_t next;
  std::optional<std::string> attached;
};

UsageError UnknownArgument(const std::string& arg, const char* command, const char* options) {
  return UsageError("unknown argument '" + arg + "'; " + command + " takes " + options);
}

// The command's first argument, the executable, unless it asks for help.
const std::string& Executable(const std::vector<std::string>& args, const char* command) {
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) throw HelpRequested();
  if (args.empty() || args[0].starts_with("-")) {
    throw UsageError(std::string(command) + " takes the executable first");
  }
  return args[0];
}

std::optional<std::string> PackRequest::*TextMember(std::string_view flag) {
  for (const TextField& field : kTextFields) {
    if (flag.substr(0, 2) == "--" && flag.substr(2) == field.name) return field.member;
  }
  return nullptr;
}

// "1".."4" as the bank index 0..3.
int BankIndex(std::string_view number) {
  if (number.size() != 1 || number[0] < '1' || number[0] > '0' + package::layout::kBankCount) {
    throw UsageError("bank number '" + std::string(number) + "' is not one of 1, 2, 3, 4");
  }
  return number[0] - '1';
}

// "N=REST" as the bank index of N and REST.
std::pair<int, std::string> BankAndValue(std::string_view flag, const std::string& value) {
  std::size_t equals = value.find('=');
  if (equals == std::string::npos) {
    throw UsageError(std::string(flag) + " expects N=..., with N one of 1, 2, 3, 4, got '" + value +
                     "'");
  }
  return {BankIndex(std::string_view(value).substr(0, equals)), value.substr(equals + 1)};
}

ConstraintArg SplitConstraint(const std::string& fields) {
  std::vector<std::string> parts(1);
  for (char c : fields) {
    if (c == ',') {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  if (parts.size() != 4) {
    throw UsageError("a constraint has four fields MIN,MAX,VENDOR,PRODUCT, got '" + fields + "'");
  }
  return {parts[0], parts[1], parts[2], parts[3]};
}

// Every option but --constraint takes one value (per bank, per option key): `given` holds the
// options seen so far, and a second one is a usage error.
void Once(std::set<std::string>& given, const std::string& option) {
  if (!given.insert(option).second) throw UsageError(option + " is given more than once");
}

// The keys --option sets, for a message: "N2OMESSAGE, CHKDISC, ..., NBWARNING".
std::string OptionKeys() {
  std::string keys;
  for (const package::layout::OptionSlot& slot : package::layout::kOptionSlots) {
    if (slot.key == package::layout::SlotOf(Option::HowManyBin).key) continue;
    keys += (keys.empty() ? "" : ", ") + std::string(slot.key);
  }
  return keys;
}

void SetOption(PackRequest& request, std::set<std::string>& given, const std::string& setting) {
  std::size_t equals = setting.find('=');
  if (equals == std::string::npos) {
    throw UsageError("--option expects KEY=DIGIT, with KEY one of " + OptionKeys() + ", got '" +
                     setting + "'");
  }
  std::string_view key = std::string_view(setting).substr(0, equals);
  std::string_view value = std::string_view(setting).substr(equals + 1);
  if (key == package::layout::SlotOf(Option::HowManyBin).key) {
    throw UsageError("HOW_MANY_BIN is not an option: it is the number of banks given");
  }
  for (std::size_t i = 0; i < package::layout::kOptionSlots.size(); ++i) {
    if (package::layout::kOptionSlots[i].key != key) continue;
    if (value.size() != 1 || value[0] < '0' || value[0] > '9') {
      throw UsageError("option " + std::string(key) + " takes one digit (0 off, 1 on), got '" +
                       std::string(value) + "'");
    }
    Once(given, "--option " + std::string(key));
    request.options[i] = value[0];
    return;
  }
  throw UsageError("unknown option key '" + std::string(key) + "'; the keys are " + OptionKeys());
}

// "VENDOR,PRODUCT,REV" or, where `flashId` is allowed, "VENDOR,PRODUCT,REV,FLASHID".
DriveArg SplitDrive(const std::string& flag, const std::string& fields, bool flashId) {
  std::vector<std::string> parts(1);
  for (char c : fields) {
    if (c == ',') {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  const char* form = flashId ? "VENDOR,PRODUCT,REV[,FLASHID]" : "VENDOR,PRODUCT,REV";
  if (parts.size() != 3 && !(flashId && parts.size() == 4)) {
    throw UsageError(flag + " expects " + form + ", got '" + fields + "'");
  }
  const std::pair<const char*, std::size_t> limits[] = {
      {"vendor", 8}, {"product", 16}, {"revision", 4}};
  for (std::size_t i = 0; i < 3; ++i) {
    if (parts[i].size() > limits[i].second) {
      throw UsageError(flag + ": the " + limits[i].first + " '" + parts[i] + "' is longer than " +
                       std::to_string(limits[i].second) + " characters");
    }
  }
  DriveArg drive{parts[0], parts[1], parts[2], std::nullopt};
  if (parts.size() == 4) {
    const std::string& hex = parts[3];
    const bool valid =
        hex.size() == 8 && hex.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
    if (!valid) {
      throw UsageError(flag + ": the flash identity is 8 hex digits (BFD80005), got '" + hex + "'");
    }
    std::array<unsigned char, 4> id{};
    for (std::size_t i = 0; i < 4; ++i) {
      id[i] = static_cast<unsigned char>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
    }
    drive.flashId = id;
  }
  return drive;
}

}  // namespace

RehearseRequest ParseRehearseArguments(const std::vector<std::string>& args) {
  RehearseRequest request{Executable(args, "rehearse"), {}, {}, {}, false, false};
  std::set<std::string> given;
  for (OptionReader reader(args, 1); !reader.Done();) {
    const std::string flag = reader.Flag();
    if (flag == "--drive") {
      request.drives.push_back(SplitDrive(flag, reader.Value(flag), true));
    } else if (flag == "--expect-offered") {
      request.expectOffered.push_back(SplitDrive(flag, reader.Value(flag), false));
    } else if (flag == "--flasher") {
      Once(given, flag);
      request.flasherPath = reader.Value(flag);
    } else if (flag == "--update" || flag == "--json") {
      reader.NoValue(flag);
      Once(given, flag);
      (flag == "--update" ? request.update : request.json) = true;
    } else {
      throw UnknownArgument(flag, "rehearse",
                            "--drive, --expect-offered, --flasher, --update, --json");
    }
  }
  return request;
}

ShowRequest ParseShowArguments(const std::vector<std::string>& args) {
  ShowRequest request;
  std::set<std::string> given;
  for (OptionReader reader(args, 0); !reader.Done();) {
    const std::string arg = reader.Flag();
    if (arg == "--json") {
      reader.NoValue(arg);
      Once(given, arg);
      request.json = true;
    } else if (arg.starts_with("-")) {
      throw UnknownArgument(arg, "show", "--json");
    } else if (!request.executablePath.empty()) {
      throw UsageError("show takes one executable");
    } else {
      request.executablePath = arg;
    }
  }
  if (request.executablePath.empty()) throw UsageError("show takes one executable");
  return request;
}

VerifyRequest ParseVerifyArguments(const std::vector<std::string>& args) {
  VerifyRequest request{Executable(args, "verify"), {}};
  std::set<std::string> given;
  for (OptionReader reader(args, 1); !reader.Done();) {
    const std::string flag = reader.Flag();
    if (flag != "--bank") throw UnknownArgument(flag, "verify", "--bank");
    auto [bank, path] = BankAndValue(flag, reader.Value(flag));
    Once(given, flag + " " + std::to_string(bank + 1));
    request.banks.push_back({bank, path});
  }
  if (request.banks.empty()) throw UsageError("verify needs at least one --bank N=FILE");
  return request;
}

RepackRequest ParseRepackArguments(const std::vector<std::string>& args) {
  RepackRequest request{Executable(args, "repack"), {}, {}, {}};
  std::set<std::string> given;
  for (OptionReader reader(args, 1); !reader.Done();) {
    const std::string flag = reader.Flag();
    std::string* value = flag == "--output"         ? &request.outputPath
                         : flag == "--template"     ? &request.templatePath
                         : flag == "--template-dir" ? &request.templateDirectory
                                                    : nullptr;
    if (!value) throw UnknownArgument(flag, "repack", "--output, --template, --template-dir");
    *value = reader.Value(flag);
    Once(given, flag);
  }
  if (request.outputPath.empty()) throw UsageError("--output is required");
  if (request.templatePath.empty() == request.templateDirectory.empty()) {
    throw UsageError("repack takes one of --template and --template-dir");
  }
  return request;
}

PackRequest ParsePackArguments(const std::vector<std::string>& args) {
  PackRequest request;
  std::set<std::string> given;
  for (OptionReader reader(args, 0); !reader.Done();) {
    const std::string flag = reader.Flag();
    if (flag == "--allow-template-texts") {
      reader.NoValue(flag);
      Once(given, flag);
      request.allowTemplateTexts = true;
    } else if (auto member = TextMember(flag)) {
      Once(given, flag);
      request.*member = reader.Value(flag);
    } else if (flag == "--template") {
      Once(given, flag);
      request.templatePath = reader.Value(flag);
    } else if (flag == "--output") {
      Once(given, flag);
      request.outputPath = reader.Value(flag);
    } else if (flag == "--bank") {
      auto [bank, path] = BankAndValue(flag, reader.Value(flag));
      Once(given, flag + " " + std::to_string(bank + 1));
      request.banks[bank].imagePath = path;
    } else if (flag == "--new-fw") {
      auto [bank, revision] = BankAndValue(flag, reader.Value(flag));
      Once(given, flag + " " + std::to_string(bank + 1));
      request.banks[bank].newRevision = revision;
    } else if (flag == "--constraint") {
      auto [bank, fields] = BankAndValue(flag, reader.Value(flag));
      auto& constraints = request.banks[bank].constraints;
      if (constraints.size() == package::layout::kEntriesPerBank) {
        throw UsageError("bank " + std::to_string(bank + 1) + " has room for 8 constraints");
      }
      constraints.push_back(SplitConstraint(fields));
    } else if (flag == "--any-drive") {
      const int bank = BankIndex(reader.Value(flag));
      Once(given, flag + " " + std::to_string(bank + 1));
      request.banks[bank].anyDrive = true;
    } else if (flag == "--option") {
      SetOption(request, given, reader.Value(flag));
    } else {
      throw UnknownArgument(flag, "pack",
                            "--template, --output, --bank, --new-fw, --constraint, --any-drive, "
                            "--option, --title, --version, --model, --date, --note, --contact, "
                            "--allow-template-texts");
    }
  }
  if (request.templatePath.empty()) throw UsageError("--template is required");
  if (request.outputPath.empty()) throw UsageError("--output is required");
  if (!request.banks[0].imagePath) throw UsageError("at least --bank 1=FILE is required");
  return request;
}

}  // namespace movrel::pack
