#include "platform/HiTimer.h"

#include <gtest/gtest.h>

#include "platform/TickCarry.h"
#include "sim/SimSystem.h"

namespace movrel::test {

namespace {

// On the virtual clock every counter reading costs 100 microseconds: 1000 ticks at 10 MHz.
constexpr std::int64_t kReadTicks = 1000;
constexpr double kTick = 1.0 / sim::Clock::kFrequency;

TEST(HiTimer, CalibratesTheCostOfOneReadAndStop) {
  sim::SimSystem system;
  platform::HiTimer timer(system);
  EXPECT_FALSE(timer.NoCounter());
  EXPECT_FALSE(timer.Running());
  EXPECT_EQ(timer.Overhead(), kReadTicks);
  EXPECT_EQ(timer.ElapsedSeconds(), 0.0);
}

TEST(HiTimer, ElapsedIsTheStoppedRunLessTheOverhead) {
  sim::SimSystem system;
  platform::HiTimer timer(system);
  timer.Start();
  EXPECT_TRUE(timer.Running());
  system.Sleep(2500);
  timer.Stop();
  EXPECT_FALSE(timer.Running());
  // The Stop reading itself costs one read, which the overhead takes back out.
  EXPECT_NEAR(timer.ElapsedSeconds(), 2.5, kTick / 2);
}

TEST(HiTimer, LapMeasuresTheCurrentRunAndKeepsRunning) {
  sim::SimSystem system;
  platform::HiTimer timer(system);
  timer.Start();
  system.Sleep(1000);
  EXPECT_NEAR(timer.LapSeconds(), 1.0, kTick / 2);
  system.Sleep(1000);
  EXPECT_NEAR(timer.LapSeconds(), 2.0 + kReadTicks * kTick, kTick / 2);
  EXPECT_TRUE(timer.Running());
}

TEST(HiTimer, LapOnAStoppedTimerIsZeroAndReadsNothing) {
  sim::SimSystem system;
  platform::HiTimer timer(system);
  const auto before = system.GetClock().NowNanoseconds();
  EXPECT_EQ(timer.LapSeconds(), 0.0);
  EXPECT_EQ(system.GetClock().NowNanoseconds(), before);
}

TEST(HiTimer, StartOnARunningTimerBeginsAgainFromZero) {
  sim::SimSystem system;
  platform::HiTimer timer(system);
  timer.Start();
  system.Sleep(5000);
  timer.Start();
  system.Sleep(1000);
  timer.Stop();
  EXPECT_NEAR(timer.ElapsedSeconds(), 1.0, kTick / 2);
}

TEST(HiTimer, ARunShorterThanTheOverheadIsNegativeAndNotClamped) {
  sim::SimSystem system;
  system.GetClock().SetReadCost(50'000);  // calibrate with 50 us per reading
  platform::HiTimer timer(system);
  system.GetClock().SetReadCost(0);  // then readings become free
  timer.Start();
  timer.Stop();
  EXPECT_LT(timer.ElapsedSeconds(), 0.0);
  EXPECT_NEAR(timer.ElapsedSeconds(), -500 * kTick, kTick / 2);
}

TEST(HiTimer, WithoutACounterFallsBackToTheMillisecondClock) {
  sim::SimSystem system;
  system.SetHighResolutionCounter(false);
  platform::HiTimer timer(system);
  EXPECT_TRUE(timer.NoCounter());
  timer.Start();
  system.Sleep(30'000);
  EXPECT_NEAR(timer.LapSeconds(), 30.0, 0.002);
  timer.Stop();
  EXPECT_NEAR(timer.ElapsedSeconds(), 30.0, 0.002);
}

// The 32-bit tick count carried into 64 bits: an equal count is no wrap, a smaller one is one.
TEST(TickCarry, CountsEachWrapOnceAndEqualCountsNone) {
  platform::TickCarry carry;
  constexpr std::uint64_t kWrap = std::uint64_t{1} << 32;
  const struct {
    std::uint32_t now;
    std::uint64_t extended;
  } steps[] = {
      {0, 0},
      {5, 5},
      {5, 5},
      {0xFFFFFFFF, 0xFFFFFFFF},
      {0xFFFFFFFF, 0xFFFFFFFF},
      {0, kWrap},
      {10, kWrap + 10},
      {9, 2 * kWrap + 9},
  };
  for (const auto& step : steps) EXPECT_EQ(carry.Extend(step.now), step.extended) << step.now;
}

}  // namespace
}  // namespace movrel::test
