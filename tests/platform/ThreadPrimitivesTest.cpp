// The lock and the thread start that the flasher's threads use instead of the C++ library's: a
// lock keeps a read-and-write apart from every other thread's, and a join returns once the body
// has ended.
#include <gtest/gtest.h>

#include <atomic>

#include "platform/JoinableThread.h"
#include "platform/Lock.h"

namespace movrel::test {

namespace {

void Pause(int steps) {
  for (int step = 0; step < steps; ++step) std::atomic_signal_fence(std::memory_order_seq_cst);
}

TEST(ThreadPrimitives, LockKeepsEachUpdateWhole) {
  platform::Lock lock;
  int count = 0;
  std::atomic<bool> go{false};
  constexpr int kThreads = 4;
  constexpr int kUpdates = 20000;
  platform::JoinableThread threads[kThreads];
  for (auto& thread : threads) {
    thread.Start([&] {
      while (!go.load()) {
      }
      for (int i = 0; i < kUpdates; ++i) {
        platform::Hold hold(lock);
        const int seen = count;
        Pause(100);  // widens the window between the read and the write
        count = seen + 1;
      }
    });
  }
  go = true;  // all at once
  for (auto& thread : threads) thread.Join();
  EXPECT_EQ(count, kThreads * kUpdates);
}

TEST(ThreadPrimitives, JoinReturnsOnceTheBodyHasEnded) {
  std::atomic<bool> go{false};
  std::atomic<bool> ended{false};
  platform::JoinableThread thread;
  EXPECT_FALSE(thread.Joinable());
  thread.Start([&] {
    while (!go.load()) {
    }
    Pause(100000);
    ended = true;
  });
  EXPECT_TRUE(thread.Joinable());
  go = true;
  thread.Join();
  EXPECT_TRUE(ended.load());
  EXPECT_FALSE(thread.Joinable());
  thread.Join();  // a second join does nothing
}

}  // namespace
}  // namespace movrel::test
