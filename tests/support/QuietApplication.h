// An application whose window shows nothing (every box is answered OK), for tests and
// benchmarks, and a pump that runs the work posted to the window's thread until a condition holds.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "platform/Application.h"

namespace movrel::test {

class QuietApplication : public platform::Application {
 public:
  platform::MessageAnswer ShowMessage(platform::MessageKind, platform::MessageButtons,
                                      const std::string&) override {
    return platform::MessageAnswer::Ok;
  }
  void ShowPlainError(const std::string&, const std::string&) override {}
};

// Processes the window thread's messages until `done` holds; false if it does not within a
// generous bound (a hung worker fails the test instead of hanging it).
inline bool PumpUntil(platform::Application& application, const std::function<bool()>& done) {
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!done()) {
    if (std::chrono::steady_clock::now() > giveUp) return false;
    application.ProcessMessages();
    std::this_thread::yield();
  }
  return true;
}

}  // namespace movrel::test
