// A worker thread in the manner of the toolkit's thread class: it is created suspended and runs
// its body once when resumed; when the body has ended, its termination handler runs in the
// window's thread (posted through the application), and a thread marked to free itself is
// destroyed right after that handler. A thread that does not free itself is destroyed by its
// owner, in the termination handler or later, never while its body runs; a thread that frees
// itself is never deleted by anyone else. Whether it frees itself is decided when its body ends.
#pragma once

#include <exception>
#include <functional>

#include "platform/JoinableThread.h"

namespace movrel::platform {

class Application;

class Thread {
 public:
  using TerminateHandler = std::function<void(Thread& sender)>;

  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts the body. A thread is resumed once; later calls do nothing. False when the system
  // could not start it: its termination handler then runs as for a body that threw, with that
  // failure as its fatal exception, and the body never runs.
  bool Resume();

  void SetFreeOnTerminate(bool value) { freeOnTerminate = value; }
  void SetOnTerminate(TerminateHandler handler) { onTerminate = std::move(handler); }

  // The exception that left the body, if one did; read it in the termination handler.
  std::exception_ptr FatalException() const { return fatalException; }

 protected:
  // Creates the thread suspended; `application` runs the termination handler.
  explicit Thread(Application& application);
  // Waits for the thread to end (it has, when the object frees itself).
  virtual ~Thread();

  // The thread body.
  virtual void Execute() = 0;

 private:
  void Run();
  void DoTerminate();

  Application& application;
  JoinableThread thread;
  bool resumed = false;
  bool freeOnTerminate = false;
  TerminateHandler onTerminate;
  std::exception_ptr fatalException;
};

}  // namespace movrel::platform
