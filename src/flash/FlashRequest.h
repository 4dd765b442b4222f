// What the window hands a flash worker: the device to drive (its current target is the drive to
// update), the firmware image, and whether the boot code is programmed too.
#pragma once

#include <cstdint>

namespace movrel::device {
class AtapiDevice;
}  // namespace movrel::device

namespace movrel::flash {

struct FlashRequest {
  device::AtapiDevice* device;
  const std::uint8_t* image;  // shared with the other workers, only read
  std::int32_t imageLength;
  std::uint8_t bootCode;  // 1: program the boot code as well
  void* owner;            // the window that started the worker; carried, never read
};

}  // namespace movrel::flash
