#include "flash/Parser.h"

#include <utility>

#include "device/AtapiDevice.h"
#include "flash/ErrCodeException.h"
#include "flash/TransferLimits.h"

namespace movrel::flash {

Parser::Parser(platform::Application& application, const FlashRequest& flashRequest,
               TerminateHandler onTerminate)
    : Thread(application), request(flashRequest), device(flashRequest.device) {
  SetFreeOnTerminate(true);
  SetOnTerminate(std::move(onTerminate));
  // A worker the system cannot start fails its drive's run; its termination handler still runs.
  if (!Resume()) device->SetFlashStatus(kFlashFailed);
}

void Parser::Execute() {
  device->SetFlashStatus(0);
  // Before the flash procedure the drive becomes the device's own, as far as the system lets it;
  // not for a request that the procedure refuses before it touches the drive. A drive the system
  // keeps in use is sent nothing.
  if (request.image != nullptr && ImageLengthUsable(request.imageLength) &&
      !device->TakeExclusiveAccess()) {
    device->SetFlashStatus(kFlashFailed);
    return;
  }
  bool result = false;
  try {
    result = RunFlash();
  } catch (const ErrCodeException&) {
    // The procedure failed in strict mode: result stays false.
  } catch (...) {
    // Anything else that ends the run early is a failure too, never a success.
  }
  if (!result) device->SetFlashStatus(kFlashFailed);
}

bool Parser::RunFlash() {
  if (device->FlashFirmware(request.image, request.imageLength, request.bootCode)) return true;
  if (device->ThrowOnFailure()) throw ErrCodeException(kFlashFailed);
  return false;
}

}  // namespace movrel::flash
