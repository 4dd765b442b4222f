// GoogleTest's Notification for the Windows build, where the C++ library has no std::mutex or
// std::condition_variable for GoogleTest's own: a manual-reset event. Only GoogleTest's thread
// helper (ThreadWithParam) uses it. Included ahead of every source of GoogleTest and of the
// tests, with GTEST_HAS_NOTIFICATION_ (cmake/CrossDependencies.cmake).
#pragma once

namespace testing::internal {

class Notification {
 public:
  Notification();
  ~Notification();
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;

  void Notify();               // lets every waiting thread go on, and every later one
  void WaitForNotification();  // returns once Notify was called

 private:
  void* event;
};

}  // namespace testing::internal
