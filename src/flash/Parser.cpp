#include "flash/Parser.h"

#include <utility>

#include "device/AtapiDevice.h"
#include "flash/ErrCodeException.h"

namespace movrel {

Parser::Parser(platform::Application& application, const FlashRequest& flashRequest,
               TerminateHandler onTerminate)
    : Thread(application), request(flashRequest), device(flashRequest.device) {
  SetFreeOnTerminate(true);
  SetOnTerminate(std::move(onTerminate));
  Resume();
}

void Parser::Execute() {
  device->SetFlashStatus(0);
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

}  // namespace movrel
