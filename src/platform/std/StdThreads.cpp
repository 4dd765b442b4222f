// The thread start and identity over the C++ library's threads.
#include <utility>

#include "platform/JoinableThread.h"
#include "platform/ThreadId.h"

namespace movrel::platform {

ThreadId CurrentThreadId() {
  return std::this_thread::get_id();
}

JoinableThread::~JoinableThread() {
  Join();
}

void JoinableThread::Start(std::function<void()> body) {
  thread = std::thread(std::move(body));
}

bool JoinableThread::Joinable() const {
  return thread.joinable();
}

void JoinableThread::Join() {
  if (thread.joinable()) thread.join();
}

}  // namespace movrel::platform
