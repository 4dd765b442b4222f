#include "platform/Application.h"

#include <gtest/gtest.h>

#include "QuietApplication.h"
#include "platform/JoinableThread.h"
#include "platform/ThreadId.h"

namespace movrel::test {

namespace {

TEST(Application, MessageTitlesAreFixed) {
  EXPECT_STREQ(platform::MessageTitle(platform::MessageKind::Warning), "Warning");
  EXPECT_STREQ(platform::MessageTitle(platform::MessageKind::Error), "Error");
  EXPECT_STREQ(platform::MessageTitle(platform::MessageKind::Information), "Information");
}

TEST(Application, WorkPostedFromAnotherThreadRunsInTheWindowThread) {
  QuietApplication application;
  platform::ThreadId ranIn{};
  platform::JoinableThread worker;
  worker.Start([&] {
    application.Post([&] { ranIn = platform::CurrentThreadId(); });
    application.ProcessMessages();  // not the window's thread: does nothing
  });
  worker.Join();
  EXPECT_EQ(ranIn, platform::ThreadId{});
  application.ProcessMessages();
  EXPECT_EQ(ranIn, platform::CurrentThreadId());
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
}  // namespace movrel::test
