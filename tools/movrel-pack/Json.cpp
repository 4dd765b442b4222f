#include "movrel-pack/Json.h"

#include <nlohmann/json.hpp>
#include <optional>

#include "movrel-pack/Fields.h"
#include "movrel-pack/Hash.h"
#include "package/PackageLayout.h"
#include "package/Seal.h"

namespace movrel::pack {

namespace {

namespace layout = movrel::package::layout;
using Json = nlohmann::ordered_json;

Json Constraint(const package::ConstraintEntry& entry, int number) {
  return {{"entry", number},
          {"placeholder", entry.IsPlaceholder()},
          {"minimum", entry.Minimum()},
          {"maximum", entry.Maximum()},
          {"vendor", entry.Vendor()},
          {"product", entry.Product()}};
}

const char* SealName(package::SealState state) {
  switch (state) {
    case package::SealState::Matching:
      return "matching";
    case package::SealState::Damaged:
      return "damaged";
    case package::SealState::NotSealed:
      break;
  }
  return "none";
}

Json Bank(const package::PackageView& package, int bank) {
  const package::BankImage image = package.Image(bank);
  const bool inUse = bank < package.BankCount();
  Json json = {{"number", bank + 1},
               {"start", package.BankStart(bank)},
               {"size", package.BankSize(bank)},
               {"new_revision", package.NewRevision(bank)},
               {"usable", image.usable}};
  if (const std::optional<std::string> sha256 = ImageSha256(image)) {
    json["sha256"] = *sha256;
  } else {
    json["reason"] = image.reason;
  }
  // A free first entry lets a bank in use update every drive; one not in use updates none.
  json["any_drive"] = inUse && package.Constraint(bank, 0).IsPlaceholder();
  json["constraints"] = Json::array();
  for (int e = 0; e < layout::kEntriesPerBank; ++e) {
    json["constraints"].push_back(Constraint(package.Constraint(bank, e), e + 1));
  }
  json["in_use"] = inUse;  // last: members are only ever added after the others
  return json;
}

}  // namespace

std::string FormatPackageJson(const package::PackageView& package,
                              std::optional<std::string_view> flasher) {
  Json json;
  json["texts"] = Json::object();
  for (const auto& [name, text] : Texts(package)) json["texts"][name] = text;
  json["title_set"] = !package.TitleNotSet();
  json["firmware_written"] = !package.NoFirmware();
  json["options"] = Json::object();
  for (const auto& [key, value] : OptionValues(package)) json["options"][std::string(key)] = value;
  json["banks_in_use"] = package.BankCount();
  json["banks"] = Json::array();
  for (int b = 0; b < layout::kBankCount; ++b) json["banks"].push_back(Bank(package, b));
  json["seal"] = SealName(package::CheckSeal(package));
  json["flasher"] = flasher ? Json(*flasher) : Json();
  // ASCII only, every other character as \uXXXX: the document reads the same in any locale, and a
  // text of the package cannot pass for a control of the terminal or program that reads it.
  return json.dump(2, ' ', true, Json::error_handler_t::replace) + "\n";
}

}  // namespace movrel::pack
