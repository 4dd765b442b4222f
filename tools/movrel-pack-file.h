// Whole-file reads and writes for movrel-pack.
#pragma once

#include <string>
#include <vector>

namespace pack {

// The bytes of the file at `path`; throws Refusal when it cannot be read.
std::vector<unsigned char> ReadWholeFile(const std::string& path);

// Writes `bytes` to `path` with the permissions of the file `modeOf`. The bytes go to a
// neighbouring temporary file first, which then replaces `path`, so that a failure leaves no
// partial output behind. Throws Refusal on failure.
void WriteWholeFile(const std::string& path, const std::vector<unsigned char>& bytes,
                    const std::string& modeOf);

// True when both paths name the same existing file.
bool SameFile(const std::string& a, const std::string& b);

}  // namespace pack
