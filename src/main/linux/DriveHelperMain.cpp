// movrel-drive-helper: run as root by the flasher, its requests on standard input and its
// replies on standard output (one socket of a pair). It ends when the flasher closes its end, or
// at a malformed request (status 1); its drives and their locks close with it.
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <iostream>
#include <span>
#include <vector>

#include "platform/linux/DriveHelper.h"
#include "platform/linux/LinuxKernel.h"

namespace {

bool WriteAll(const std::vector<std::uint8_t>& bytes) {
  for (std::size_t at = 0; at < bytes.size();) {
    const ssize_t written = ::write(STDOUT_FILENO, bytes.data() + at, bytes.size() - at);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    at += static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace

int main() {
  const auto kernel = platform::HostKernel();
  platform::DriveHelper helper(*kernel, std::cerr);
  std::vector<std::uint8_t> bytes(64 * 1024), replies;
  for (;;) {
    const ssize_t length = ::read(STDIN_FILENO, bytes.data(), bytes.size());
    if (length < 0 && errno == EINTR) continue;
    if (length <= 0) return 0;
    replies.clear();
    if (!helper.Take(std::span(bytes.data(), static_cast<std::size_t>(length)), replies)) return 1;
    if (!WriteAll(replies)) return 0;
  }
}
