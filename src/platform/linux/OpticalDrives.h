// The optical drives as the kernel names them: the block device srN, its node /dev/srN, the root
// whose letter is N places after D, and the SCSI address sysfs gives it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace movrel::platform {

class LinuxKernel;

namespace optical {

inline constexpr std::string_view kNodePath = "/dev/sr";
inline constexpr char kFirstLetter = 'D';
inline constexpr unsigned kLastLettered = 'Z' - kFirstLetter;  // the highest N with a letter

// A decimal number of one to three digits, no greater than `largest`, that makes up all of
// `text`.
std::optional<unsigned> Decimal(std::string_view text, unsigned largest);
// N of "/dev/srN", up to `largest`.
std::optional<unsigned> NodeNumber(std::string_view path, unsigned largest = kLastLettered);
std::string NodeOf(unsigned number);
// N of a root's letter, either case ('E' and 'e' are 1); none outside D to Z.
std::optional<unsigned> LetterNumber(char letter);
char LetterOf(unsigned number);

// The SCSI address of block device srN (host, channel, id, lun): the link
// /sys/class/block/srN/device leads to the SCSI device, whose name is
// "<host>:<channel>:<id>:<lun>", each up to 255. None without the link or with another name.
std::optional<std::array<std::uint8_t, 4>> ReadAddress(LinuxKernel& kernel, unsigned number);

}  // namespace optical
}  // namespace movrel::platform
