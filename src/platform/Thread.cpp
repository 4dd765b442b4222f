#include "platform/Thread.h"

#include "platform/Application.h"

namespace platform {

Thread::Thread(Application& application) : application(application) {}

Thread::~Thread() {
  if (thread.joinable()) thread.join();
}

void Thread::Resume() {
  if (thread.joinable()) return;
  thread = std::thread(&Thread::Run, this);
}

void Thread::Run() {
  try {
    Execute();
  } catch (...) {
    fatalException = std::current_exception();
  }
  // The last use of this object in the worker: from here on it belongs to the window's thread.
  application.Post([this] { DoTerminate(); });
}

void Thread::DoTerminate() {
  if (onTerminate) onTerminate(*this);
  if (freeOnTerminate) delete this;
}

}  // namespace platform
