#include "platform/ShownText.h"

namespace movrel::platform {

std::string ShownText(std::string_view bytes, LineFeeds lineFeeds) {
  std::string shown(bytes);
  for (char& c : shown) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '\n' && lineFeeds == LineFeeds::Keep) continue;
    if (byte < 0x20 || byte > 0x7E) c = '?';
  }
  return shown;
}

}  // namespace movrel::platform
