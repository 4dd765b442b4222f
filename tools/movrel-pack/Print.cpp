#include "movrel-pack/Print.h"

#include <cstdio>
#include <optional>

#include "movrel-pack/Fields.h"
#include "movrel-pack/Hash.h"
#include "package/PackageLayout.h"

namespace movrel::pack {

namespace {

namespace layout = movrel::package::layout;

// The text in double quotes; quotes, backslashes and unprintable bytes escaped.
std::string Quoted(std::string_view text) {
  std::string quoted = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += static_cast<char>(c);
    } else if (c < 0x20 || c > 0x7E) {
      char escape[5];
      std::snprintf(escape, sizeof escape, "\\x%02X", c);
      quoted += escape;
    } else {
      quoted += static_cast<char>(c);
    }
  }
  return quoted + "\"";
}

const char* YesNo(bool value) {
  return value ? "yes" : "no";
}

}  // namespace

std::string_view SealText(package::SealState state) {
  switch (state) {
    case package::SealState::Matching:
      return "sealed, matches the package";
    case package::SealState::Damaged:
      return "sealed, does not match the package (damaged)";
    case package::SealState::NotSealed:
      break;
  }
  return "not sealed";
}

std::string FormatPackage(const package::PackageView& package) {
  std::string out;
  for (const auto& [name, text] : Texts(package)) {
    out += std::string(name) + ": " + Quoted(text) + "\n";
  }
  out += std::string("title set: ") + YesNo(!package.TitleNotSet()) + "\n";
  out += std::string("firmware written: ") + YesNo(!package.NoFirmware()) + "\n";
  out += "seal: " + std::string(SealText(package::CheckSeal(package))) + "\n";

  for (const auto& [key, value] : OptionValues(package)) {
    out += "option " + std::string(key) + ": " + std::to_string(value) + "\n";
  }
  out += "banks in use: " + std::to_string(package.BankCount()) + "\n";

  for (int b = 0; b < layout::kBankCount; ++b) {
    const std::string bank = "bank " + std::to_string(b + 1);
    // The flasher never offers a bank beyond HOW_MANY_BIN, whatever its fields hold.
    if (b >= package.BankCount()) {
      out += bank + ": not in use (HOW_MANY_BIN " + std::to_string(package.Options().howManyBin) +
             ")\n";
      continue;
    }
    const package::BankImage image = package.Image(b);
    out += bank + ": start " + std::to_string(package.BankStart(b)) + ", size " +
           std::to_string(package.BankSize(b)) + ", new revision " +
           Quoted(package.NewRevision(b)) + ", image " +
           (image.usable ? "usable" : "not usable (" + std::string(image.reason) + ")") + "\n";
    const std::optional<std::string> sha256 = ImageSha256(image);
    out += bank + " sha256: " + sha256.value_or("none (image not usable)") + "\n";
    for (int e = 0; e < layout::kEntriesPerBank; ++e) {
      const package::ConstraintEntry entry = package.Constraint(b, e);
      out += bank + " entry " + std::to_string(e + 1) + ": minimum " + Quoted(entry.Minimum()) +
             ", maximum " + Quoted(entry.Maximum()) + ", vendor " + Quoted(entry.Vendor()) +
             ", product " + Quoted(entry.Product()) + "\n";
    }
  }
  return out;
}

}  // namespace movrel::pack
