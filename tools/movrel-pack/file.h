// Whole-file reads and writes for movrel-pack.
#pragma once

#include <cstddef>
#include <limits>
#include <string>
#include <vector>

namespace pack {

// The bytes of the regular file at `path`. Throws Refusal when it cannot be read, or when it
// holds more than `limit` bytes (found before anything is read).
std::vector<unsigned char> ReadWholeFile(
    const std::string& path, std::size_t limit = std::numeric_limits<std::size_t>::max());

// Writes `bytes` to `path` with the permissions of the file `modeOf`. The bytes go to a new
// temporary file of a fresh name in the same directory, created for this write alone, which then
// replaces `path`; a failure removes it and leaves `path` as it was. Throws Refusal on failure.
void WriteWholeFile(const std::string& path, const std::vector<unsigned char>& bytes,
                    const std::string& modeOf);

// True when both paths name the same existing file (same device and inode, whatever the
// spelling, links followed).
bool SameFile(const std::string& a, const std::string& b);

}  // namespace pack
