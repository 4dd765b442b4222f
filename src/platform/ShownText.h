// Bytes that come from outside the program (a drive's identity and revision, the package's
// texts) as they may be put on a screen: a drive or a USB bridge can answer INQUIRY with
// terminal escape sequences, and a terminal obeys them. Matching keeps the bytes as they came;
// only what is shown goes through here (the views, and the message of an update record).
#pragma once

#include <string>
#include <string_view>

namespace movrel::platform {

// Every byte below 0x20, 0x7F and every byte above 0x7E becomes '?'; a line feed stays one where
// the text is a message of several lines.
enum class LineFeeds { Replace, Keep };
std::string ShownText(std::string_view bytes, LineFeeds lineFeeds = LineFeeds::Replace);

}  // namespace movrel::platform
