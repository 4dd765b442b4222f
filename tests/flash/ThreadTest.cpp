// The worker thread facility: suspended until resumed, termination handler in the window's
// thread, self-destruction after the handler, and an escaping exception kept for the handler.
#include "platform/Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

#include "QuietApplication.h"
#include "platform/ThreadId.h"

namespace movrel::test {
namespace {

struct Record {
  std::atomic<int> bodyRuns{0};
  platform::ThreadId bodyThread{};
  platform::ThreadId handlerThread{};
  int handlerRuns = 0;
  bool destroyedBeforeHandler = false;
  bool destroyed = false;
};

class RecordingThread : public platform::Thread {
 public:
  RecordingThread(platform::Application& application, Record& record, bool fail)
      : Thread(application), record(record), fail(fail) {}
  ~RecordingThread() override { record.destroyed = true; }

 protected:
  void Execute() override {
    record.bodyThread = platform::CurrentThreadId();
    ++record.bodyRuns;
    if (fail) throw std::runtime_error("body failed");
  }

 private:
  Record& record;
  bool fail;
};

void WatchTermination(platform::Thread& thread, Record& record) {
  thread.SetOnTerminate([&record](platform::Thread&) {
    record.handlerThread = platform::CurrentThreadId();
    record.destroyedBeforeHandler = record.destroyed;
    ++record.handlerRuns;
  });
}

TEST(Thread, BodyWaitsForResumeAndRunsOnceInItsOwnThread) {
  QuietApplication application;
  Record record;
  auto* thread = new RecordingThread(application, record, false);
  thread->SetFreeOnTerminate(true);
  WatchTermination(*thread, record);
  application.ProcessMessages();
  EXPECT_EQ(record.bodyRuns, 0);

  thread->Resume();
  thread->Resume();  // a second resume starts nothing
  ASSERT_TRUE(PumpUntil(application, [&] { return record.destroyed; }));
  EXPECT_EQ(record.bodyRuns, 1);
  EXPECT_NE(record.bodyThread, platform::CurrentThreadId());
}

TEST(Thread, HandlerRunsInTheWindowThreadThenTheThreadFreesItself) {
  QuietApplication application;
  Record record;
  auto* thread = new RecordingThread(application, record, false);
  thread->SetFreeOnTerminate(true);
  WatchTermination(*thread, record);
  thread->Resume();
  ASSERT_TRUE(PumpUntil(application, [&] { return record.destroyed; }));
  EXPECT_EQ(record.handlerRuns, 1);
  EXPECT_EQ(record.handlerThread, platform::CurrentThreadId());
  EXPECT_FALSE(record.destroyedBeforeHandler);
}

TEST(Thread, ExceptionFromTheBodyIsKeptForTheHandler) {
  QuietApplication application;
  Record record;
  auto* thread = new RecordingThread(application, record, true);
  thread->SetFreeOnTerminate(true);
  bool kept = false;
  thread->SetOnTerminate([&](platform::Thread& sender) {
    kept = sender.FatalException() != nullptr;
    ++record.handlerRuns;
  });
  thread->Resume();
  ASSERT_TRUE(PumpUntil(application, [&] { return record.destroyed; }));
  EXPECT_EQ(record.handlerRuns, 1);
  EXPECT_TRUE(kept);
}

TEST(Thread, ThreadThatDoesNotFreeItselfIsLeftToItsOwner) {
  QuietApplication application;
  Record record;
  auto* thread = new RecordingThread(application, record, false);
  WatchTermination(*thread, record);
  thread->Resume();
  ASSERT_TRUE(PumpUntil(application, [&] { return record.handlerRuns == 1; }));
  EXPECT_FALSE(record.destroyed);
  delete thread;
  EXPECT_TRUE(record.destroyed);
}

TEST(Thread, OwnerMayDeleteAThreadThatDoesNotFreeItselfInsideTheHandler) {
  QuietApplication application;
  Record record;
  auto* thread = new RecordingThread(application, record, false);
  thread->SetOnTerminate([&record, thread](platform::Thread& sender) {
    EXPECT_EQ(&sender, thread);
    ++record.handlerRuns;
    delete thread;
  });
  thread->Resume();
  ASSERT_TRUE(PumpUntil(application, [&] { return record.destroyed; }));
  EXPECT_EQ(record.handlerRuns, 1);
}

}  // namespace
}  // namespace movrel::test
