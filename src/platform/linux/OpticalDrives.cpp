#include "platform/linux/OpticalDrives.h"

#include <algorithm>
#include <cctype>

#include "platform/linux/LinuxKernel.h"

namespace movrel::platform::optical {

std::optional<unsigned> Decimal(std::string_view text, unsigned largest) {
  if (text.empty() || text.size() > 3) return std::nullopt;
  unsigned number = 0;
  for (const char digit : text) {
    if (digit < '0' || digit > '9') return std::nullopt;
    number = number * 10 + static_cast<unsigned>(digit - '0');
  }
  if (number > largest) return std::nullopt;
  return number;
}

std::optional<unsigned> NodeNumber(std::string_view path, unsigned largest) {
  if (path.substr(0, kNodePath.size()) != kNodePath) return std::nullopt;
  return Decimal(path.substr(kNodePath.size()), largest);
}

std::string NodeOf(unsigned number) {
  return std::string(kNodePath) + std::to_string(number);
}

std::optional<unsigned> LetterNumber(char letter) {
  const int upper = std::toupper(static_cast<unsigned char>(letter));
  if (upper < kFirstLetter || upper > 'Z') return std::nullopt;
  return static_cast<unsigned>(upper - kFirstLetter);
}

char LetterOf(unsigned number) {
  return static_cast<char>(kFirstLetter + number);
}

std::optional<std::array<std::uint8_t, 4>> ReadAddress(LinuxKernel& kernel, unsigned number) {
  std::string target;
  if (kernel.ReadLink("/sys/class/block/sr" + std::to_string(number) + "/device", target) != 0) {
    return std::nullopt;
  }
  std::string_view name(target);
  name.remove_prefix(name.rfind('/') + 1);  // npos + 1: the whole text
  std::array<std::uint8_t, 4> address{};
  for (std::size_t i = 0; i < address.size(); ++i) {
    const std::size_t end = i + 1 < address.size() ? name.find(':') : name.size();
    if (end == std::string_view::npos) return std::nullopt;
    const auto part = Decimal(name.substr(0, end), 255);
    if (!part) return std::nullopt;
    address[i] = static_cast<std::uint8_t>(*part);
    name.remove_prefix(std::min(name.size(), end + 1));
  }
  return address;
}

}  // namespace movrel::platform::optical
