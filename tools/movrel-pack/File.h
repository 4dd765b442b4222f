// Whole-file reads and writes for movrel-pack.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace movrel::pack {

// The most an executable may hold to be read: far more than any flasher (the package block
// alone is a little over 1 MiB), and little enough to hold in memory.
inline constexpr std::size_t kExecutableLimit = std::size_t{64} << 20;

// The bytes of the regular file at `path`, of at most `limit` bytes. The path is looked up once,
// opened as a path only (O_PATH, which opens no FIFO and runs no device driver's open), and
// everything else goes through that descriptor: fstat says what the file is and how large, and
// only a regular file is then opened for reading through it (/proc/self/fd, O_RDONLY |
// O_NONBLOCK | O_CLOEXEC) and read. A symbolic link is followed to what it names. Throws Refusal,
// before reading anything, for a file that cannot be opened, that is not a regular file (a FIFO,
// a directory, a device) or that holds more than `limit` bytes; and when fewer bytes can be read
// than fstat gave (the file shrank). With `permissions`, sets it to the file's read, write and
// execute bits as that fstat gave them.
std::vector<unsigned char> ReadWholeFile(const std::string& path, std::size_t limit,
                                         unsigned* permissions = nullptr);

// Writes `bytes` to `path` with the read, write and execute bits of `permissions` (never set-user
// or set-group ID, nor the sticky bit). The bytes go to a new temporary file of a fresh name in the
// same directory, created for this write alone, which then replaces `path`; a failure removes it
// and leaves `path` as it was. Throws Refusal on failure.
void WriteWholeFile(const std::string& path, const std::vector<unsigned char>& bytes,
                    unsigned permissions);

// True when both paths name the same existing file (same device and inode, whatever the
// spelling, links followed).
bool SameFile(const std::string& a, const std::string& b);

}  // namespace movrel::pack
