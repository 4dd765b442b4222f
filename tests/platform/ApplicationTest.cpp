#include "platform/Application.h"

#include <gtest/gtest.h>

#include <thread>

#include "QuietApplication.h"

namespace {

using test_support::QuietApplication;

TEST(Application, MessageTitlesAreFixed) {
  EXPECT_STREQ(platform::MessageTitle(platform::MessageKind::Warning), "Warning");
  EXPECT_STREQ(platform::MessageTitle(platform::MessageKind::Error), "Error");
  EXPECT_STREQ(platform::MessageTitle(platform::MessageKind::Information), "Information");
}

TEST(Application, WorkPostedFromAnotherThreadRunsInTheWindowThread) {
  QuietApplication application;
  std::thread::id ranIn;
  std::thread worker([&] {
    application.Post([&] { ranIn = std::this_thread::get_id(); });
    application.ProcessMessages();  // not the window's thread: does nothing
  });
  worker.join();
  EXPECT_EQ(ranIn, std::thread::id());
  application.ProcessMessages();
  EXPECT_EQ(ranIn, std::this_thread::get_id());
}

TEST(Application, TagAndTerminate) {
  QuietApplication application;
  EXPECT_EQ(application.Tag(), 0);
  application.SetTag(32767);
  EXPECT_EQ(application.Tag(), 32767);
  EXPECT_FALSE(application.Terminated());
  application.Terminate();
  EXPECT_TRUE(application.Terminated());
}

}  // namespace
