// Measures short intervals in seconds with the machine's high-resolution counter, less the
// calibrated cost of one start and stop. On a machine without such a counter it falls back to
// the system's monotonic millisecond count, so that every bounded wait still ends.
#pragma once

#include <cstdint>

namespace movrel::platform {

class System;

class HiTimer {
 public:
  explicit HiTimer(System& system);
  ~HiTimer();
  HiTimer(const HiTimer&) = delete;
  HiTimer& operator=(const HiTimer&) = delete;

  void Start();                   // clears the accumulated time and starts a new run
  void Reset();                   // stops a running run and clears the accumulated time
  void Stop();                    // ends the current run and adds it to the accumulated time
  double LapSeconds();            // the current run alone; 0 when stopped
  double ElapsedSeconds() const;  // the completed runs since the last reset

  bool Running() const { return startCount != 0; }
  bool NoCounter() const { return noCounter; }
  std::int64_t Overhead() const { return overhead; }

 private:
  std::int64_t ReadCounter();

  System* system;
  std::int64_t frequency = 0;
  std::int64_t startCount = 0;
  std::int64_t lastCount = 0;
  std::int64_t accumulated = 0;
  std::int64_t overhead = 0;
  bool noCounter = false;
};

}  // namespace movrel::platform
