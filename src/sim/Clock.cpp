#include "sim/Clock.h"

#include <chrono>
#include <thread>

namespace movrel::sim {

namespace {
std::int64_t HostNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
}  // namespace

Clock::Clock(Mode mode) : mode(mode), realOrigin(HostNanoseconds() - 1'000'000'000) {}

std::int64_t Clock::NowNanoseconds() const {
  if (mode == Mode::Real) return HostNanoseconds() - realOrigin;
  return virtualNow.load();
}

std::int64_t Clock::ReadCounter() {
  ++reads;
  if (mode == Mode::Virtual) virtualNow += readCostNanoseconds.load();
  return NowNanoseconds() / (1'000'000'000 / kFrequency);
}

void Clock::Sleep(std::uint32_t milliseconds) {
  Advance(std::int64_t{milliseconds} * 1'000'000);
}

void Clock::Advance(std::int64_t nanoseconds) {
  if (nanoseconds <= 0) return;
  if (mode == Mode::Virtual) {
    virtualNow += nanoseconds;
  } else {
    std::this_thread::sleep_for(std::chrono::nanoseconds(nanoseconds));
  }
}

}  // namespace movrel::sim
