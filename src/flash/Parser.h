// The worker that updates one drive: it runs the flash procedure on the request's device and
// leaves the verdict in that device's flash status (0 success, 42 failure). It starts itself when
// constructed and frees itself after its termination handler has run in the window's thread.
#pragma once

#include <cstdint>

#include "flash/FlashRequest.h"
#include "platform/Thread.h"

namespace movrel::device {
class AtapiDevice;
}  // namespace movrel::device

namespace movrel::flash {

inline constexpr std::uint8_t kFlashFailed = 42;

class Parser : public platform::Thread {
 public:
  Parser(platform::Application& application, const FlashRequest& flashRequest,
         TerminateHandler onTerminate);

  // One run of the flash procedure; throws ErrCodeException 42 when it fails in strict mode.
  bool RunFlash();

  FlashRequest request;
  device::AtapiDevice* device;

 protected:
  void Execute() override;
};

}  // namespace movrel::flash
