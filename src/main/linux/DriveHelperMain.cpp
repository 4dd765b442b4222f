// movrel-drive-helper: run as root by the flasher, its requests on standard input and its
// replies on standard output (one socket of a pair). It ends when the flasher closes its end, or
// at a malformed request (status 1); its drives and their locks close with it.
#include <unistd.h>

#include <iostream>

#include "platform/linux/DriveHelper.h"
#include "platform/linux/LinuxKernel.h"

int main() {
  const auto kernel = movrel::platform::HostKernel();
  movrel::platform::DriveHelper helper(*kernel, std::cerr);
  return helper.Serve(STDIN_FILENO, STDOUT_FILENO) ? 0 : 1;
}
