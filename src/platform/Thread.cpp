#include "platform/Thread.h"

#include <utility>

#include "platform/Application.h"

namespace movrel::platform {

Thread::Thread(Application& application) : application(application) {}

Thread::~Thread() {
  thread.Join();
}

bool Thread::Resume() {
  if (!resumed) {
    resumed = true;
    try {
      thread.Start([this] { Run(); });
    } catch (...) {
      fatalException = std::current_exception();
      application.Post([this] { DoTerminate(); });
    }
  }
  return thread.Joinable();
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
  // The handler may delete a thread that does not free itself, so nothing of this object is
  // touched once it has been called: the handler and the decision to free are taken out first.
  const bool freeAfterHandler = freeOnTerminate;
  const TerminateHandler handler = std::move(onTerminate);
  if (handler) handler(*this);
  if (freeAfterHandler) delete this;
}

}  // namespace movrel::platform
