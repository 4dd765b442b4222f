// The object itself: construction, initial state, the buffers, destruction and the drive table's
// accessors.
#include "device/AtapiDevice.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "platform/Application.h"
#include "platform/System.h"

namespace movrel::device {

namespace {
// The first byte of `storage` (kBufferAllocation bytes) that starts a page; null for null.
std::uint8_t* PageAligned(std::uint8_t* storage) {
  if (storage == nullptr) return nullptr;
  const auto address = reinterpret_cast<std::uintptr_t>(storage);
  const std::uintptr_t alignment = AtapiDevice::kBufferAlignment;
  return storage + (alignment - address % alignment) % alignment;
}
}  // namespace

namespace {
// The application's Tag value by which the window asks for the ASPI manager.
constexpr int kPreferAspiTag = 32767;
}  // namespace

AtapiDevice::AtapiDevice(platform::System& system, platform::Application& application)
    : AtapiDevice(system, application, true) {}

AtapiDevice::AtapiDevice(platform::System& system, platform::Application& application,
                         bool discover)
    : system(system),
      application(application),
      waitTimer(system),
      commandTimer(system),
      osInfo(system) {
  Initialize();
  // An object without its buffers counts as not constructed: it discovers nothing.
  if (discover && BuffersAllocated()) DiscoverDrives();
}

AtapiDevice::~AtapiDevice() {
  // A request that the manager still holds keeps writing into the buffers: give it its time, and
  // if it never lets go, leave the buffers and the manager in place rather than free them under it.
  if (AspiRequestReleased(kAspiReleaseMilliseconds)) {
    FreeBuffers();
    UnloadAspi();
  }
  CloseDrive();
}

void AtapiDevice::Initialize() {
  portNumber = targetId = lun = pathId = -1;
  currentIndex = kNoTarget;
  aspiLibrary = 0;
  getAspiSupportInfo = {};
  sendAspiCommand = {};
  commandTimeout = kBoundedCommandTimeout;
  deviceHandle = platform::InvalidHandleValue;
  throwOnFailure = false;
  std::memset(vendor, 0, sizeof vendor);
  std::memset(product, 0, sizeof product);
  std::memset(revision, 0, sizeof revision);

  inStorage = new (std::nothrow) std::uint8_t[kBufferAllocation]();
  outStorage = new (std::nothrow) std::uint8_t[kBufferAllocation]();
  inBuffer = PageAligned(inStorage);
  outBuffer = PageAligned(outStorage);

  lastResult = senseKey = asc = 0;
  lastDuration = 0.0;
  lastTimedOut = false;
  flashStatus = 0;

  useAspi = application.Tag() == kPreferAspiTag;
  aspiPresent = AspiAvailable();
  useAspi = useAspi && aspiPresent;
  if (!osInfo.IsNT()) useAspi = true;
  UnloadAspi();
  if (useAspi) LoadAspi();
}

void AtapiDevice::FreeBuffers() {
  delete[] inStorage;
  delete[] outStorage;
  inStorage = outStorage = inBuffer = outBuffer = nullptr;
}

void AtapiDevice::SetAddress(platform::Handle handle, std::int16_t port, std::int16_t path,
                             std::int16_t target, std::int16_t unit) {
  deviceHandle = handle;
  portNumber = port;
  pathId = path;
  targetId = target;
  lun = unit;
}

bool AtapiDevice::IsEntryValid(std::int16_t index) const {
  return index >= 0 && index < kMaxDrives && drives[index].valid != 0;
}

DriveEntry* AtapiDevice::EntryAt(std::uint32_t index) {
  if (index >= driveCount || index >= static_cast<std::uint32_t>(kMaxDrives)) return nullptr;
  return drives[index].valid != 0 ? &drives[index] : nullptr;
}

}  // namespace movrel::device
