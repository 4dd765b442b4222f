#include "movrel-pack/Args.h"

#include <set>
#include <string_view>
#include <utility>

#include "movrel-pack/Error.h"

namespace movrel::pack {

namespace {

using package::layout::Option;

std::optional<std::string> PackRequest::*TextMember(std::string_view flag) {
  for (const TextField& field : kTextFields) {
    if (flag.substr(0, 2) == "--" && flag.substr(2) == field.name) return field.member;
  }
  return nullptr;
}

// "1".."4" as the bank index 0..3.
int BankIndex(std::string_view number) {
  if (number.size() != 1 || number[0] < '1' || number[0] > '0' + package::layout::kBankCount) {
    throw Refusal("bank number '" + std::string(number) + "' is not one of 1 to 4");
  }
  return number[0] - '1';
}

// "N=REST" as the bank index of N and REST.
std::pair<int, std::string> BankAndValue(std::string_view flag, const std::string& value) {
  std::size_t equals = value.find('=');
  if (equals == std::string::npos) {
    throw UsageError(std::string(flag) + " expects N=..., got '" + value + "'");
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
    throw Refusal("a constraint has four fields MIN,MAX,VENDOR,PRODUCT, got '" + fields + "'");
  }
  return {parts[0], parts[1], parts[2], parts[3]};
}

// Every option but --constraint takes one value (per bank, per option key): `given` holds the
// options seen so far, and a second one is a usage error.
void Once(std::set<std::string>& given, const std::string& option) {
  if (!given.insert(option).second) throw UsageError(option + " is given more than once");
}

void SetOption(PackRequest& request, std::set<std::string>& given, const std::string& setting) {
  std::size_t equals = setting.find('=');
  if (equals == std::string::npos) {
    throw UsageError("--option expects KEY=VALUE, got '" + setting + "'");
  }
  std::string_view key = std::string_view(setting).substr(0, equals);
  std::string_view value = std::string_view(setting).substr(equals + 1);
  if (key == package::layout::SlotOf(Option::HowManyBin).key) {
    throw Refusal("HOW_MANY_BIN is not an option: it is the number of banks given");
  }
  for (std::size_t i = 0; i < package::layout::kOptionSlots.size(); ++i) {
    if (package::layout::kOptionSlots[i].key != key) continue;
    if (value.size() != 1 || value[0] < '0' || value[0] > '9') {
      throw Refusal("option " + std::string(key) + " takes one digit, got '" + std::string(value) +
                    "'");
    }
    Once(given, "--option " + std::string(key));
    request.options[i] = value[0];
    return;
  }
  throw Refusal("unknown option key '" + std::string(key) + "'");
}

}  // namespace

ShowRequest ParseShowArguments(const std::vector<std::string>& args) {
  ShowRequest request;
  std::set<std::string> given;
  for (const std::string& arg : args) {
    if (arg == "--json") {
      Once(given, arg);
      request.json = true;
    } else if (arg.starts_with("-")) {
      throw UsageError("unknown argument '" + arg + "'");
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
  if (args.empty() || args[0].starts_with("-")) {
    throw UsageError("verify takes the executable first");
  }
  VerifyRequest request{args[0], {}};
  std::set<std::string> given;
  for (std::size_t i = 1; i < args.size(); i += 2) {
    const std::string& flag = args[i];
    if (flag != "--bank") throw UsageError("unknown argument '" + flag + "'");
    if (i + 1 == args.size()) throw UsageError(flag + " needs a value");
    auto [bank, path] = BankAndValue(flag, args[i + 1]);
    Once(given, flag + " " + std::to_string(bank + 1));
    request.banks.push_back({bank, path});
  }
  if (request.banks.empty()) throw UsageError("verify needs at least one --bank N=FILE");
  return request;
}

RepackRequest ParseRepackArguments(const std::vector<std::string>& args) {
  if (args.empty() || args[0].starts_with("-")) {
    throw UsageError("repack takes the executable first");
  }
  RepackRequest request{args[0], {}, {}, {}};
  std::set<std::string> given;
  for (std::size_t i = 1; i < args.size(); i += 2) {
    const std::string& flag = args[i];
    std::string* value = flag == "--output"         ? &request.outputPath
                         : flag == "--template"     ? &request.templatePath
                         : flag == "--template-dir" ? &request.templateDirectory
                                                    : nullptr;
    if (!value) throw UsageError("unknown argument '" + flag + "'");
    if (i + 1 == args.size()) throw UsageError(flag + " needs a value");
    Once(given, flag);
    *value = args[i + 1];
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
  for (std::size_t i = 0; i < args.size(); i += 2) {
    const std::string& flag = args[i];
    if (i + 1 == args.size()) throw UsageError(flag + " needs a value");
    const std::string& value = args[i + 1];
    if (auto member = TextMember(flag)) {
      Once(given, flag);
      request.*member = value;
    } else if (flag == "--template") {
      Once(given, flag);
      request.templatePath = value;
    } else if (flag == "--output") {
      Once(given, flag);
      request.outputPath = value;
    } else if (flag == "--bank") {
      auto [bank, path] = BankAndValue(flag, value);
      Once(given, flag + " " + std::to_string(bank + 1));
      request.banks[bank].imagePath = path;
    } else if (flag == "--new-fw") {
      auto [bank, revision] = BankAndValue(flag, value);
      Once(given, flag + " " + std::to_string(bank + 1));
      request.banks[bank].newRevision = revision;
    } else if (flag == "--constraint") {
      auto [bank, fields] = BankAndValue(flag, value);
      auto& constraints = request.banks[bank].constraints;
      if (constraints.size() == package::layout::kEntriesPerBank) {
        throw Refusal("bank " + std::to_string(bank + 1) + " has room for 8 constraints");
      }
      constraints.push_back(SplitConstraint(fields));
    } else if (flag == "--any-drive") {
      const int bank = BankIndex(value);
      Once(given, flag + " " + std::to_string(bank + 1));
      request.banks[bank].anyDrive = true;
    } else if (flag == "--option") {
      SetOption(request, given, value);
    } else {
      throw UsageError("unknown argument '" + flag + "'");
    }
  }
  if (request.templatePath.empty()) throw UsageError("--template is required");
  if (request.outputPath.empty()) throw UsageError("--output is required");
  if (!request.banks[0].imagePath) throw UsageError("at least --bank 1=FILE is required");
  return request;
}

}  // namespace movrel::pack
