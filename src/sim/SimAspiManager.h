// The simulated ASPI manager library (WNASPI32): its two entry points, bound to this object, the
// host adapter, rescan, device type, execute and abort requests, and the count of the library's
// references.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>

#include "platform/Lock.h"
#include "platform/WinTypes.h"
#include "sim/Bay.h"

namespace movrel::sim {

class DriveBay;
class SimSystem;

class AspiManager {
 public:
  // The module handle LoadLibraryA gives for the manager.
  static constexpr platform::Module kModule = 0x7A5000;

  AspiManager(const BayConfig& bay, DriveBay& drives, SimSystem& system);

  // LoadLibraryA: the manager's module (one more reference), or 0 when none is installed.
  platform::Module Load();
  platform::ProcAddress Resolve(platform::Module module, const char* procName);
  bool Free(platform::Module module);

  int LoadCount() const;
  // Execute requests the manager still holds (left pending by a time-out, not yet aborted).
  std::size_t PendingRequests() const;

 private:
  static std::uint32_t SupportInfoThunk(void* context, void* argument);
  static std::uint32_t SendThunk(void* context, void* argument);
  std::uint32_t SupportInfo() const;
  std::uint32_t Send(void* request);
  std::uint8_t HostAdapterInquiry(platform::SrbHaInquiry& request) const;
  std::uint8_t DeviceType(platform::SrbGetDeviceBlock& request) const;
  std::uint8_t Execute(platform::SrbExecScsiCmd& request);
  std::uint8_t Abort(const platform::SrbAbort& request);
  bool AdapterExists(std::uint8_t adapter) const { return adapter < adapters; }
  void Complete(platform::SrbExecScsiCmd& request, std::uint8_t status);

  const bool installed;
  const std::uint8_t status;
  const int adapters;
  DriveBay& drives;
  SimSystem& system;
  mutable platform::Lock lock;
  int loadCount = 0;
  std::set<platform::SrbExecScsiCmd*> pending;
};

}  // namespace movrel::sim
