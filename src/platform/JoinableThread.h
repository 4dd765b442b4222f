// A thread of the process that runs one body and is joined by its owner: std::thread on the
// systems whose C++ library has threads, CreateThread on Windows (see Lock.h for why).
//
// Windows:
// - CreateThread returns the new thread's handle, or null with the last error set. The consumer
//   family (95, 98, ME) fails the call when it is given no place to write the new thread's
//   identifier; the NT family takes none. One is always given.
// - The C runtime is msvcrt.dll, which sets up a thread's own data (errno, ...) when the thread
//   first needs it and frees it when the thread ends; Microsoft asks for _beginthreadex instead
//   of CreateThread only with the static runtime (LIBCMT).
// - WaitForSingleObject on a thread's handle returns once the thread has ended; CloseHandle then
//   lets the handle go (the thread's exit code is not read).
#pragma once

#include <functional>

#ifndef _WIN32
#include <thread>
#endif

namespace movrel::platform {

class JoinableThread {
 public:
  JoinableThread() = default;
  // Joins a thread that was started and not joined yet.
  ~JoinableThread();
  JoinableThread(const JoinableThread&) = delete;
  JoinableThread& operator=(const JoinableThread&) = delete;

  // Runs `body` on a new thread; called once. Throws std::system_error when the system creates
  // no thread.
  void Start(std::function<void()> body);
  // Whether a thread was started and not joined yet.
  bool Joinable() const;
  // Waits for the body to end; then the thread is joined.
  void Join();

 private:
#ifdef _WIN32
  std::function<void()> body;  // run by the thread: it stays here while the thread runs
  void* handle = nullptr;      // the thread's handle, closed when joined
#else
  std::thread thread;
#endif
};

}  // namespace movrel::platform
