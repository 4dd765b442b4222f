#include "movrel-pack/Mark.h"

#include <algorithm>
#include <functional>
#include <optional>

#include "movrel-pack/Error.h"
#include "package/FlasherMark.h"

namespace movrel::pack {

std::optional<std::string_view> FindFlasherName(std::span<const unsigned char> file) {
  const std::string_view key = package::kFlasherMarkKey;
  const std::boyer_moore_horspool_searcher searcher(key.begin(), key.end());
  std::optional<std::string_view> found;
  for (auto at = file.begin(); (at = std::search(at, file.end(), searcher)) != file.end(); ++at) {
    const std::span<const unsigned char> rest(at + key.size(), file.end());
    for (std::string_view name : package::kFlasherNames) {
      if (rest.size() <= name.size() || rest[name.size()] != 0 ||
          !std::equal(name.begin(), name.end(), rest.begin())) {
        continue;
      }
      if (found && *found != name) {
        throw Refusal("the file carries the marks of more than one flasher");
      }
      found = name;
    }
  }
  return found;
}

std::string_view FlasherName(std::span<const unsigned char> file) {
  const std::optional<std::string_view> found = FindFlasherName(file);
  if (!found) {
    throw Refusal("no mark of a Linux flasher found (\"" + std::string(package::kFlasherMarkKey) +
                  "\")");
  }
  return *found;
}

}  // namespace movrel::pack
