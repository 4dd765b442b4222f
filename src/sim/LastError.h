// The last error of the simulated machine: as on a real system, every thread has its own, so a
// worker's failed command does not change what another thread reads after its own call.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <thread>

namespace sim {

class LastError {
 public:
  LastError& operator=(std::uint32_t value) {
    std::lock_guard<std::mutex> hold(lock);
    values[std::this_thread::get_id()] = value;
    return *this;
  }

  // 0 for a thread that has not set one.
  operator std::uint32_t() const {
    std::lock_guard<std::mutex> hold(lock);
    const auto found = values.find(std::this_thread::get_id());
    return found == values.end() ? 0 : found->second;
  }

 private:
  mutable std::mutex lock;
  std::map<std::thread::id, std::uint32_t> values;
};

}  // namespace sim
