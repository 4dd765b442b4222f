// The last error of the simulated machine: as on a real system, every thread has its own, so a
// worker's failed command does not change what another thread reads after its own call.
#pragma once

#include <cstdint>
#include <map>

#include "platform/Lock.h"
#include "platform/ThreadId.h"

namespace movrel::sim {

class LastError {
 public:
  LastError& operator=(std::uint32_t value) {
    platform::Hold hold(lock);
    values[platform::CurrentThreadId()] = value;
    return *this;
  }

  // 0 for a thread that has not set one.
  operator std::uint32_t() const {
    platform::Hold hold(lock);
    const auto found = values.find(platform::CurrentThreadId());
    return found == values.end() ? 0 : found->second;
  }

 private:
  mutable platform::Lock lock;
  std::map<platform::ThreadId, std::uint32_t> values;
};

}  // namespace movrel::sim
