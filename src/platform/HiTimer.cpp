#include "platform/HiTimer.h"

#include "platform/System.h"

namespace movrel::platform {

namespace {
constexpr std::int64_t kTickCountFrequency = 1000;  // the fallback counts milliseconds
}

HiTimer::HiTimer(System& system) : system(&system) {
  if (!system.QueryPerformanceFrequency(frequency) || frequency <= 0) {
    noCounter = true;
    frequency = kTickCountFrequency;
  }
  // Calibration: one counter reading and one Stop, with the overhead still 0.
  startCount = ReadCounter();
  if (startCount == 0) startCount = 1;  // a run needs a non-zero start to count as running
  Stop();
  overhead = accumulated;
  startCount = 0;
  lastCount = 0;
  accumulated = 0;
}

HiTimer::~HiTimer() {
  if (Running()) Stop();
}

std::int64_t HiTimer::ReadCounter() {
  if (noCounter) return static_cast<std::int64_t>(system->GetTickCount64());
  std::int64_t count = 0;
  system->QueryPerformanceCounter(count);
  return count;
}

void HiTimer::Start() {
  Reset();
  startCount = ReadCounter();
  if (startCount == 0) startCount = 1;
}

void HiTimer::Reset() {
  if (Running()) Stop();
  accumulated = 0;
}

void HiTimer::Stop() {
  lastCount = ReadCounter();
  accumulated += lastCount - startCount - overhead;
  startCount = 0;
}

double HiTimer::LapSeconds() {
  if (!Running()) return 0.0;
  lastCount = ReadCounter();
  return static_cast<double>(lastCount - startCount - overhead) / static_cast<double>(frequency);
}

double HiTimer::ElapsedSeconds() const {
  return static_cast<double>(accumulated) / static_cast<double>(frequency);
}

}  // namespace movrel::platform
