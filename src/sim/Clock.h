// The simulated machine's clock. In virtual time, Sleep and every counter reading move the clock
// forward instead of waiting, so that waits of minutes cost microseconds; in real time it follows
// the host's monotonic clock and really sleeps.
#pragma once

#include <atomic>
#include <cstdint>

namespace movrel::sim {

class Clock {
 public:
  enum class Mode { Virtual, Real };

  // The counter runs at 10 MHz in both modes.
  static constexpr std::int64_t kFrequency = 10'000'000;

  explicit Clock(Mode mode = Mode::Virtual);

  // Nanoseconds since the machine started (virtual time starts at one second).
  std::int64_t NowNanoseconds() const;
  // One counter reading: in virtual time it costs `readCostNanoseconds`.
  std::int64_t ReadCounter();
  void Sleep(std::uint32_t milliseconds);
  // Moves virtual time forward (real time cannot be moved; it sleeps instead).
  void Advance(std::int64_t nanoseconds);

  void SetReadCost(std::int64_t nanoseconds) { readCostNanoseconds = nanoseconds; }
  // Counter readings so far: how busy a wait on the counter was.
  std::int64_t Reads() const { return reads; }

 private:
  Mode mode;
  std::atomic<std::int64_t> virtualNow{1'000'000'000};
  std::atomic<std::int64_t> readCostNanoseconds{100'000};
  std::atomic<std::int64_t> reads{0};
  std::int64_t realOrigin = 0;
};

}  // namespace movrel::sim
