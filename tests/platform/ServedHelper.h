// The drive helper served on a thread of its own over a socket pair, on a made-up kernel, and a
// flasher's kernel connected to it: the flasher's side and the helper's as they run for real, the
// process boundary and pkexec aside.
#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <sstream>
#include <thread>

#include "FakeKernel.h"
#include "platform/linux/DriveHelper.h"
#include "platform/linux/HelperKernel.h"

namespace movrel::test {

struct ServedHelper {
  FakeKernel kernel;  // the helper's: set up its drives before Connect
  std::ostringstream notices;
  platform::DriveHelper helper{kernel, notices};
  std::thread thread;

  // A flasher's kernel whose drive calls the helper serves and whose other calls `host` answers;
  // the helper ends once that kernel has gone.
  static std::unique_ptr<platform::HelperKernel> Connect(
      std::shared_ptr<ServedHelper> served, std::unique_ptr<platform::LinuxKernel> host) {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return nullptr;
    served->thread = std::thread([served = served.get(), end = ends[1]] {
      served->helper.Serve(end, end);
      ::close(end);
    });
    return std::make_unique<platform::HelperKernel>(std::move(host), ends[0],
                                                    [served] { served->thread.join(); });
  }
};

}  // namespace movrel::test
